#include "device/der_encode.h"

#include <cstring>

namespace keycore {

namespace {

size_t IntegerLength(const uint8_t* value, size_t valueLen) {
    const size_t content = valueLen + ((value[0] & 0x80) != 0 ? 1 : 0);
    const size_t lengthBytes = content < 128 ? 1 : content < 256 ? 2 : 3;
    return 1 + lengthBytes + content;
}

} // namespace

bool DerEncodeInteger(const uint8_t* value, size_t valueLen, uint8_t* output, size_t* outputLen) {
    if (value == nullptr || valueLen == 0 || outputLen == nullptr)
        return false;
    const bool leadingZero = (value[0] & 0x80) != 0;
    const size_t content = valueLen + (leadingZero ? 1 : 0);
    if (content > kDerMaxIntegerContent)
        return false;
    const size_t total = IntegerLength(value, valueLen);
    if (output != nullptr) {
        uint8_t* p = output;
        *p++ = 0x02;
        if (content < 128) {
            *p++ = static_cast<uint8_t>(content);
        } else if (content < 256) {
            *p++ = 0x81;
            *p++ = static_cast<uint8_t>(content);
        } else {
            *p++ = 0x82;
            *p++ = static_cast<uint8_t>(content >> 8);
            *p++ = static_cast<uint8_t>(content);
        }
        if (leadingZero)
            *p++ = 0x00;
        std::memcpy(p, value, valueLen);
    }
    *outputLen = total;
    return true;
}

bool DerEncodeRsaPrivateKey(uint8_t version, const RsaKeyComponents& key, uint8_t* output, size_t* outputLen) {
    if (outputLen == nullptr)
        return false;
    const struct {
        const uint8_t* value;
        size_t len;
    } parts[8] = {{key.modulus, key.modulusLen},
                  {key.publicExponent, key.publicExponentLen},
                  {key.privateExponent, key.privateExponentLen},
                  {key.prime1, key.prime1Len},
                  {key.prime2, key.prime2Len},
                  {key.exponent1, key.exponent1Len},
                  {key.exponent2, key.exponent2Len},
                  {key.coefficient, key.coefficientLen}};
    size_t body = 3; // INTEGER version
    for (const auto& part : parts) {
        size_t len = 0;
        if (!DerEncodeInteger(part.value, part.len, nullptr, &len))
            return false;
        body += len;
    }
    if (body > 0xFFFF)
        return false;
    const size_t total = 4 + body;
    if (output == nullptr) {
        *outputLen = total;
        return true;
    }
    if (*outputLen < total)
        return false;
    uint8_t* p = output;
    *p++ = 0x30;
    *p++ = 0x82;
    *p++ = static_cast<uint8_t>(body >> 8);
    *p++ = static_cast<uint8_t>(body);
    *p++ = 0x02;
    *p++ = 0x01;
    *p++ = version;
    for (const auto& part : parts) {
        size_t len = 0;
        DerEncodeInteger(part.value, part.len, p, &len);
        p += len;
    }
    *outputLen = total;
    return true;
}

} // namespace keycore
