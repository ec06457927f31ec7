#pragma once
// DER of an RSA private key (PKCS #1 RSAPrivateKey) for the key import.

#include <cstddef>
#include <cstdint>

namespace keycore {

// Largest INTEGER content the encoder writes (length form 0x82 hh ll).
constexpr size_t kDerMaxIntegerContent = 0xFFFE;

// INTEGER (tag 0x02) of a big-endian magnitude: one 0x00 byte in front when the top bit of the first
// byte is set; length as one byte below 128, 0x81 nn below 256, 0x82 hh ll up to 0xFFFE. With output
// null only the length is stored. Returns false, storing nothing, when the value is missing or empty
// or the content would be longer than kDerMaxIntegerContent.
bool DerEncodeInteger(const uint8_t* value, size_t valueLen, uint8_t* output, size_t* outputLen);

struct RsaKeyComponents {
    const uint8_t* modulus;
    size_t modulusLen;
    const uint8_t* publicExponent;
    size_t publicExponentLen;
    const uint8_t* privateExponent;
    size_t privateExponentLen;
    const uint8_t* prime1;
    size_t prime1Len;
    const uint8_t* prime2;
    size_t prime2Len;
    const uint8_t* exponent1;
    size_t exponent1Len;
    const uint8_t* exponent2;
    size_t exponent2Len;
    const uint8_t* coefficient;
    size_t coefficientLen;
};

// 30 82 hh ll, INTEGER version, then the eight INTEGERs in PKCS #1 order. The sequence length always
// takes the two-byte form (total length - 4). With output null only the length is stored; otherwise
// *outputLen is the capacity on entry. False when a component is missing, an INTEGER cannot be
// encoded, the sequence would exceed 0xFFFF bytes, or the capacity is too small.
bool DerEncodeRsaPrivateKey(uint8_t version, const RsaKeyComponents& key, uint8_t* output, size_t* outputLen);

} // namespace keycore
