// SM2 blob conversions and the readers of the token's SM2 answers.

#include "skf/skf_ecc_blob.h"

#include <cstddef>
#include <cstring>

namespace keycore {

namespace {

constexpr size_t kValueOffset = kEccFieldLen - kEccValueLen;
constexpr size_t kRsaHeadLen = 4;
constexpr size_t kRsaExponentLen = 4;

void PutValue(BYTE* field, const uint8_t* value) {
    std::memcpy(field + kValueOffset, value, kEccValueLen);
}

} // namespace

uint32_t ReadBigEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

uint16_t ReadBigEndian16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void FillEccPublicKeyBlob(const uint8_t* x, const uint8_t* y, ECCPUBLICKEYBLOB* blob) {
    std::memset(blob, 0, sizeof *blob);
    blob->BitLen = kEccBits;
    PutValue(blob->XCoordinate, x);
    PutValue(blob->YCoordinate, y);
}

void FillEccSignatureBlob(const uint8_t* r, const uint8_t* s, ECCSIGNATUREBLOB* blob) {
    std::memset(blob, 0, sizeof *blob);
    PutValue(blob->r, r);
    PutValue(blob->s, s);
}

bool ReadSm2CipherForm(const uint8_t* answer, size_t len, Sm2CipherView* view, size_t* pFormLen) {
    if (answer == nullptr || len < kSm2CipherHeadLen)
        return false;
    const uint32_t c2Len = ReadBigEndian32(answer + 4 + 3 * kEccValueLen);
    if (c2Len > len - kSm2CipherHeadLen)
        return false;
    view->c1x = answer + 4;
    view->c1y = answer + 4 + kEccValueLen;
    view->c3 = answer + 4 + 2 * kEccValueLen;
    view->c2 = answer + kSm2CipherHeadLen;
    view->c2Len = c2Len;
    *pFormLen = kSm2CipherHeadLen + c2Len;
    return true;
}

void FillEccCipherBlob(const Sm2CipherView& view, ECCCIPHERBLOB* blob) {
    std::memset(blob, 0, sizeof *blob);
    PutValue(blob->XCoordinate, view.c1x);
    PutValue(blob->YCoordinate, view.c1y);
    std::memcpy(blob->HASH, view.c3, kEccValueLen);
    blob->CipherLen = view.c2Len;
    // Cipher is declared with one byte; the caller's allocation holds all of them.
    std::memcpy(reinterpret_cast<BYTE*>(blob) + offsetof(ECCCIPHERBLOB, Cipher), view.c2, view.c2Len);
}

bool ReadExportedPublicKey(const uint8_t* answer, size_t len, ExportedPublicKey* key) {
    if (answer == nullptr)
        return false;
    *key = ExportedPublicKey();
    if (len == kSm2PublicKeyAnswerLen) {
        key->sm2 = true;
        key->x = answer + 4;
        key->y = answer + 4 + kEccValueLen;
        return true;
    }
    if (len < kRsaHeadLen + kRsaExponentLen)
        return false;
    const uint32_t bits = ReadBigEndian32(answer);
    const size_t modulusLen = bits / 8;
    if (bits == 0 || bits % 8 != 0 || modulusLen > sizeof(RSAPUBLICKEYBLOB::Modulus) ||
        len != kRsaHeadLen + modulusLen + kRsaExponentLen)
        return false;
    key->bits = bits;
    key->modulus = answer + kRsaHeadLen;
    key->modulusLen = modulusLen;
    key->exponent = answer + kRsaHeadLen + modulusLen;
    return true;
}

size_t PublicKeyBlobSize(const ExportedPublicKey& key) {
    return key.sm2 ? sizeof(ECCPUBLICKEYBLOB) : sizeof(RSAPUBLICKEYBLOB);
}

void FillPublicKeyBlob(const ExportedPublicKey& key, BYTE* out) {
    if (key.sm2) {
        ECCPUBLICKEYBLOB blob;
        FillEccPublicKeyBlob(key.x, key.y, &blob);
        std::memcpy(out, &blob, sizeof blob);
        return;
    }
    RSAPUBLICKEYBLOB blob;
    std::memset(&blob, 0, sizeof blob);
    blob.AlgID = SGD_RSA;
    blob.BitLen = key.bits;
    std::memcpy(blob.Modulus + sizeof blob.Modulus - key.modulusLen, key.modulus, key.modulusLen);
    std::memcpy(blob.PublicExponent, key.exponent, kRsaExponentLen);
    std::memcpy(out, &blob, sizeof blob);
}

bool ReadAgreementData(const uint8_t* answer, size_t len, const uint8_t** x, const uint8_t** y, uint32_t* agreementId) {
    if (answer == nullptr || len != kAgreementDataAnswerLen)
        return false;
    *x = answer + 4;
    *y = answer + 4 + kEccValueLen;
    *agreementId = ReadBigEndian32(answer + 4 + 2 * kEccValueLen);
    return true;
}

bool ReadAgreementKey(const uint8_t* answer, size_t len, const uint8_t** x, const uint8_t** y, uint16_t* keyIndex) {
    if (answer == nullptr || len < 4 + 2 * kEccValueLen + 2)
        return false;
    *x = answer + 4;
    *y = answer + 4 + kEccValueLen;
    *keyIndex = ReadBigEndian16(answer + len - 2);
    return true;
}

} // namespace keycore
