#pragma once
// SM2 values between the SKF blobs and the token's packed forms. A blob keeps every 256-bit value in
// the last 32 bytes of a 64-byte field; the token sends and takes the bare 32 bytes. The readers of
// token answers check every length against the bytes actually received, so a corrupted answer is
// refused instead of read past its end.

#include "keycore/skf.h"

#include <cstddef>
#include <cstdint>

namespace keycore {

constexpr size_t kEccValueLen = 32;
constexpr size_t kEccFieldLen = 64;
constexpr ULONG kEccBits = 256;

// The SM2 cipher form: 4 bytes of key size, C1.x, C1.y, C3, the big-endian length n of C2, then C2.
constexpr size_t kSm2CipherHeadLen = 4 + 3 * kEccValueLen + 4;
// The most C2 bytes one command carries (a two-byte data length).
constexpr size_t kMaxEccCommandData = 0xFFFF - 512;

// The 32 value bytes of a 64-byte blob field.
inline const BYTE* EccValue(const BYTE* field) {
    return field + (kEccFieldLen - kEccValueLen);
}

// A public key blob of the point (x, y): the blob is zeroed first and BitLen set to 256.
void FillEccPublicKeyBlob(const uint8_t* x, const uint8_t* y, ECCPUBLICKEYBLOB* blob);
// A signature blob of (r, s), zeroed first.
void FillEccSignatureBlob(const uint8_t* r, const uint8_t* s, ECCSIGNATUREBLOB* blob);

// The parts of an SM2 cipher form, pointing into the answer they were read from.
struct Sm2CipherView {
    const uint8_t* c1x = nullptr;
    const uint8_t* c1y = nullptr;
    const uint8_t* c3 = nullptr;
    const uint8_t* c2 = nullptr;
    uint32_t c2Len = 0;
};

// Reads the cipher form at the start of an answer of len bytes. False when the answer is shorter
// than the head or than the C2 length it announces. *pFormLen receives the bytes the form takes.
bool ReadSm2CipherForm(const uint8_t* answer, size_t len, Sm2CipherView* view, size_t* pFormLen);
// Writes the cipher blob: the 165-byte structure zeroed, then C1, C3, CipherLen = n and the n C2
// bytes (the caller's blob must have room for 164 + n bytes).
void FillEccCipherBlob(const Sm2CipherView& view, ECCCIPHERBLOB* blob);

// A container's public key as the token exports it: 68 bytes are an SM2 key (4 unused, X, Y); any
// other length an RSA key (4-byte big-endian bit length B, the B/8-byte modulus, the 4-byte exponent).
struct ExportedPublicKey {
    bool sm2 = false;
    const uint8_t* x = nullptr;
    const uint8_t* y = nullptr;
    uint32_t bits = 0;
    const uint8_t* modulus = nullptr;
    size_t modulusLen = 0;
    const uint8_t* exponent = nullptr;
};

constexpr size_t kSm2PublicKeyAnswerLen = 4 + 2 * kEccValueLen;

// False for an RSA answer whose bit length is not a whole number of bytes, is zero, exceeds the
// blob's 2048 bits, or does not match the answer's length.
bool ReadExportedPublicKey(const uint8_t* answer, size_t len, ExportedPublicKey* key);
// The blob size of the key: 132 (ECCPUBLICKEYBLOB) or 268 (RSAPUBLICKEYBLOB).
size_t PublicKeyBlobSize(const ExportedPublicKey& key);
// Writes the blob into out (PublicKeyBlobSize bytes, already zeroed by the caller).
void FillPublicKeyBlob(const ExportedPublicKey& key, BYTE* out);

// The answer of the agreement-data command: 4 unused bytes, X, Y of the temporary key, and the
// big-endian agreement identifier.
constexpr size_t kAgreementDataAnswerLen = 4 + 2 * kEccValueLen + 4;
bool ReadAgreementData(const uint8_t* answer, size_t len, const uint8_t** x, const uint8_t** y, uint32_t* agreementId);
// The answer of the responder's agreement command: 4 unused bytes, X, Y of the temporary key, and
// the big-endian session-key index in the last two bytes.
bool ReadAgreementKey(const uint8_t* answer, size_t len, const uint8_t** x, const uint8_t** y, uint16_t* keyIndex);

uint32_t ReadBigEndian32(const uint8_t* p);
uint16_t ReadBigEndian16(const uint8_t* p);

} // namespace keycore
