#pragma once
// SM2 (GM/T 0003) on the standard curve, the way the token uses it: 32-byte coordinates and scalars,
// signatures as r ‖ s, cipher texts as C1.x ‖ C1.y ‖ C3 ‖ C2. OpenSSL does the signing, verification,
// encryption and decryption; the key exchange and ZA are computed here from OpenSSL's curve
// arithmetic and SM3, because OpenSSL offers neither.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vtoken/applet/crypto_openssl.h"

namespace vtoken::crypto::sm2 {

inline constexpr size_t kFieldBytes = 32;
inline constexpr size_t kPointBytes = 64;     // X ‖ Y
inline constexpr size_t kCipherOverhead = 96; // C1.x ‖ C1.y ‖ C3 in front of C2
inline constexpr char kDefaultId[] = "1234567812345678";

const EC_GROUP* Group();

PkeyPtr Generate();
// A key pair from a private scalar (the public point is derived); null when d is not in [1, n-2].
PkeyPtr FromPrivate(const uint8_t* d);
// A public key from X and Y; null when the point is not on the curve.
PkeyPtr FromPublic(const uint8_t* xy);

// X ‖ Y of a key's public point; empty on failure.
std::vector<uint8_t> PublicPoint(EVP_PKEY* key);
// The private scalar, 32 bytes; empty on failure.
SecretBytes PrivateScalar(EVP_PKEY* key);

// Signs a 32-byte digest e (ZA already included by whoever hashed): r ‖ s, or empty on failure.
std::vector<uint8_t> SignDigest(EVP_PKEY* key, const uint8_t* e);
bool VerifyDigest(EVP_PKEY* key, const uint8_t* e, const uint8_t* rs);

// C1.x ‖ C1.y ‖ C3 ‖ C2; empty on failure (also for an empty message).
std::vector<uint8_t> Encrypt(EVP_PKEY* key, const uint8_t* message, size_t size);
// Opens C1.x ‖ C1.y ‖ C3 and C2 of `c2Size` bytes; false when the hash does not match.
bool Decrypt(EVP_PKEY* key, const uint8_t* c1c3, const uint8_t* c2, size_t c2Size, SecretBytes* message);

// ZA = SM3(ENTL ‖ ID ‖ a ‖ b ‖ Gx ‖ Gy ‖ xA ‖ yA) for the public point X ‖ Y.
std::vector<uint8_t> Za(const uint8_t* xy, const uint8_t* id, size_t idSize);
// The GM/T 0003 key derivation with SM3: SM3(Z ‖ ct) for ct = 1, 2, ..., cut to `size` bytes.
SecretBytes Kdf(const uint8_t* z, size_t zSize, size_t size);

// One side of the GM/T 0003 key exchange (without the optional confirmation hashes).
struct ExchangeSide {
    const uint8_t* staticPrivate; // d, 32 bytes
    const uint8_t* tempPrivate;   // r, 32 bytes
    const uint8_t* tempPublic;    // R = [r]G, X ‖ Y
};
// Computes K = KDF(x ‖ y ‖ Zinitiator ‖ Zresponder, size) with the point [t](P + [x̄p]Rp).
bool ExchangeKey(const ExchangeSide& own, const uint8_t* peerPublic, const uint8_t* peerTempPublic,
                 const std::vector<uint8_t>& zInitiator, const std::vector<uint8_t>& zResponder, size_t size,
                 SecretBytes* key);

} // namespace vtoken::crypto::sm2
