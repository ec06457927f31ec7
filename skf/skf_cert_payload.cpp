#include "skf/skf_cert_payload.h"

namespace keycore {

namespace {

constexpr size_t kEccKeyPairLen = 97;

// Reads a DER length whose first byte is at p[*pos]: the short form, or the long form with one or two
// length bytes (more set *tooLong). False when the bytes run out or the form is not accepted.
bool ReadModulusLength(const unsigned char* p, size_t len, size_t* pos, size_t* out, bool* tooLong) {
    if (*pos >= len)
        return false;
    const unsigned char first = p[(*pos)++];
    if (first < 0x80) {
        *out = first;
        return true;
    }
    const size_t count = first & 0x7F;
    if (count > 2) {
        *tooLong = true;
        return false;
    }
    if (count == 0 || *pos + count > len)
        return false;
    size_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = value << 8 | p[(*pos)++];
    *out = value;
    return true;
}

} // namespace

CertPayload ClassifyCertPayload(const unsigned char* p, size_t len, uint32_t* pModulusBits) {
    if (len == kEccKeyPairLen && p[0] == 0x04)
        return CertPayload::EccKeyPair;
    if (len < 2)
        return CertPayload::Certificate;
    // The outer SEQUENCE: only its count of length bytes matters here.
    const size_t outerCount = p[1] & 0x0F;
    if (outerCount > 2)
        return CertPayload::Certificate;
    size_t pos = 2 + outerCount;
    // The version INTEGER, skipped by its one-byte length.
    if (pos + 2 > len || p[pos] != 0x02)
        return CertPayload::Certificate;
    pos += 2 + p[pos + 1];
    // The modulus INTEGER.
    if (pos >= len || p[pos] != 0x02)
        return CertPayload::Certificate;
    ++pos;
    size_t modulusLen = 0;
    bool tooLong = false;
    if (!ReadModulusLength(p, len, &pos, &modulusLen, &tooLong))
        return tooLong ? CertPayload::BadRsaKey : CertPayload::Certificate;
    if (modulusLen == 0 || pos + modulusLen > len)
        return CertPayload::Certificate;
    if (modulusLen % 2 == 1 && p[pos] == 0x00)
        --modulusLen;
    if (modulusLen == 0)
        return CertPayload::Certificate;
    *pModulusBits = static_cast<uint32_t>(modulusLen * 8);
    return CertPayload::RsaKeyPair;
}

} // namespace keycore
