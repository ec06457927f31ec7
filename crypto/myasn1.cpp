#include "crypto/myasn1.h"

#include <cstdint>

namespace {

constexpr unsigned char kHighTagNumber = 0x1F;
constexpr unsigned char kLongLengthForm = 0x80;
constexpr long kMaxLengthBytes = 4;

} // namespace

long myasn1_get_object(const unsigned char* der, long derLen, int* pClass, int* pConstructed, int* pTag,
                       const unsigned char** ppContent, long* pContentLen) {
    if (der == nullptr || derLen < 2)
        return -1;

    const unsigned char tag = der[0];
    if ((tag & kHighTagNumber) == kHighTagNumber)
        return -1;

    long headerLen = 2;
    uint64_t contentLen = der[1];
    if (der[1] & kLongLengthForm) {
        const long lengthBytes = der[1] & 0x7F;
        // 0x80 alone is the indefinite form, which DER forbids.
        if (lengthBytes == 0 || lengthBytes > kMaxLengthBytes)
            return -1;
        headerLen += lengthBytes;
        if (headerLen > derLen)
            return -1;
        contentLen = 0;
        for (long i = 0; i < lengthBytes; ++i)
            contentLen = (contentLen << 8) | der[2 + i];
        // Four length bytes are read as a signed 32-bit value; a negative one is no length.
        if (contentLen > 0x7fffffffu)
            return -1;
    }
    if (contentLen > static_cast<uint64_t>(derLen - headerLen))
        return -1;

    if (pClass != nullptr)
        *pClass = tag & 0xC0;
    if (pConstructed != nullptr)
        *pConstructed = tag & 0x20;
    if (pTag != nullptr)
        *pTag = tag & kHighTagNumber;
    if (ppContent != nullptr)
        *ppContent = der + headerLen;
    if (pContentLen != nullptr)
        *pContentLen = static_cast<long>(contentLen);
    return static_cast<long>(contentLen);
}
