#include "skf/skf_rsa_blob.h"

#include "runtime/secure_wipe.h"

#include <cstring>

namespace keycore::rsa_blob {

namespace {

constexpr size_t kModulusField = MAX_RSA_MODULUS_LEN;
constexpr size_t kHalfField = MAX_RSA_MODULUS_LEN / 2;
constexpr ULONG kMaxBlobBits = kModulusField * 8;

// Copies a packed number of len bytes to the right end of its field and zeroes what lies in front.
void PlaceRightAligned(BYTE* field, size_t fieldLen, const uint8_t* number, size_t len) {
    std::memset(field, 0, fieldLen - len);
    std::memcpy(field + fieldLen - len, number, len);
}

} // namespace

bool BitsFitBlob(ULONG bits) {
    return bits != 0 && bits % 16 == 0 && bits <= kMaxBlobBits;
}

const BYTE* ModulusOf(const RSAPUBLICKEYBLOB& blob) {
    return blob.Modulus + kModulusField - blob.BitLen / 8;
}

PrivateKeyNumbers NumbersOf(const RSAPRIVATEKEYBLOB& blob) {
    const size_t full = kModulusField - blob.BitLen / 8;
    const size_t half = kHalfField - blob.BitLen / 16;
    return {blob.Modulus + full, blob.PublicExponent,        blob.PrivateExponent + full, blob.Prime1 + half,
            blob.Prime2 + half,  blob.Prime1Exponent + half, blob.Prime2Exponent + half,  blob.Coefficient + half};
}

bool PublicBlobFromAnswer(const uint8_t* answer, size_t answerLen, ULONG bits, RSAPUBLICKEYBLOB* blob) {
    if (!BitsFitBlob(bits) || answer == nullptr)
        return false;
    const size_t k = bits / 8;
    if (answerLen < k + kExponentSize || answerLen > kPublicKeyAnswerMax)
        return false;
    RSAPUBLICKEYBLOB filled;
    filled.AlgID = SGD_RSA;
    filled.BitLen = bits;
    PlaceRightAligned(filled.Modulus, sizeof filled.Modulus, answer, k);
    std::memcpy(filled.PublicExponent, answer + answerLen - kExponentSize, kExponentSize);
    std::memcpy(blob, &filled, sizeof filled);
    return true;
}

bool PrivateBlobFromAnswer(const uint8_t* answer, size_t answerLen, ULONG bits, RSAPRIVATEKEYBLOB* blob) {
    if (!BitsFitBlob(bits) || answer == nullptr)
        return false;
    const size_t k = bits / 8;
    const size_t h = bits / 16;
    if (answerLen != 2 * k + kExponentSize + 5 * h)
        return false;
    RSAPRIVATEKEYBLOB filled;
    filled.AlgID = SGD_RSA;
    filled.BitLen = bits;
    const uint8_t* next = answer;
    const auto take = [&next](BYTE* field, size_t fieldLen, size_t len) {
        PlaceRightAligned(field, fieldLen, next, len);
        next += len;
    };
    take(filled.Modulus, sizeof filled.Modulus, k);
    take(filled.PublicExponent, sizeof filled.PublicExponent, kExponentSize);
    take(filled.PrivateExponent, sizeof filled.PrivateExponent, k);
    take(filled.Prime1, sizeof filled.Prime1, h);
    take(filled.Prime2, sizeof filled.Prime2, h);
    take(filled.Prime1Exponent, sizeof filled.Prime1Exponent, h);
    take(filled.Prime2Exponent, sizeof filled.Prime2Exponent, h);
    take(filled.Coefficient, sizeof filled.Coefficient, h);
    std::memcpy(blob, &filled, sizeof filled);
    SecureWipe(&filled, sizeof filled);
    return true;
}

bool SplitSessionKeyAnswer(const uint8_t* answer, size_t answerLen, size_t wrappedLen, uint16_t* keyIndex) {
    if (answer == nullptr || wrappedLen == 0 || answerLen != wrappedLen + 2)
        return false;
    *keyIndex = static_cast<uint16_t>(answer[wrappedLen] << 8 | answer[wrappedLen + 1]);
    return true;
}

} // namespace keycore::rsa_blob
