#pragma once
// The RSA key blobs of the SKF interface and the token's packed forms of the same numbers. In a blob
// every number is right-aligned in its field (zero bytes in front); the token takes and gives the
// numbers packed, each exactly as long as the key size makes it.

#include "keycore/skf.h"

#include <cstddef>
#include <cstdint>

namespace keycore::rsa_blob {

inline constexpr size_t kExponentSize = MAX_RSA_EXPONENT_LEN;
// The longest public-key answer of the in-container generation.
inline constexpr size_t kPublicKeyAnswerMax = 512;
// The longest key-pair answer of the generation for the caller.
inline constexpr size_t kKeyPairAnswerMax = 4096;

// True when the numbers of a key of that size fit the blob fields: a non-zero multiple of 16 bits (the
// private halves are whole bytes) up to the 2048 bits of the modulus field.
bool BitsFitBlob(ULONG bits);

// Where the right-aligned numbers of a blob whose BitLen fits begin.
const BYTE* ModulusOf(const RSAPUBLICKEYBLOB& blob);

struct PrivateKeyNumbers {
    const BYTE* modulus;
    const BYTE* publicExponent;
    const BYTE* privateExponent;
    const BYTE* prime1;
    const BYTE* prime2;
    const BYTE* prime1Exponent;
    const BYTE* prime2Exponent;
    const BYTE* coefficient;
};
PrivateKeyNumbers NumbersOf(const RSAPRIVATEKEYBLOB& blob);

// The public key of the in-container generation's answer (modulus first, the exponent in the last
// four bytes) as a blob: AlgID SGD_RSA, BitLen, the modulus right-aligned behind zero bytes. False, the
// blob untouched, when the answer is too short for the key size or longer than any such answer.
bool PublicBlobFromAnswer(const uint8_t* answer, size_t answerLen, ULONG bits, RSAPUBLICKEYBLOB* blob);

// The key pair of the generation for the caller (N, e, d, p, q, dp, dq, qinv packed) as a blob with
// every field zero-filled in front. False, the blob untouched, unless the answer is exactly that long.
bool PrivateBlobFromAnswer(const uint8_t* answer, size_t answerLen, ULONG bits, RSAPRIVATEKEYBLOB* blob);

// The session-key export's answer: the wrapped key (wrappedLen bytes, one RSA block) and the key's
// 2-byte index. False unless the answer is exactly that long.
bool SplitSessionKeyAnswer(const uint8_t* answer, size_t answerLen, size_t wrappedLen, uint16_t* keyIndex);

} // namespace keycore::rsa_blob
