#pragma once
// RSA as the token does it, over OpenSSL: key generation, raw public and private operations on
// k-byte blocks, PKCS#1 v1.5 wrapping of session keys, and keys from the packed forms the
// commands carry.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vtoken/applet/crypto_openssl.h"

namespace vtoken::crypto::rsa {

inline constexpr uint32_t kDefaultExponent = 65537;

// The numbers of a private key, each a big-endian magnitude (private parts are wiped on destruction).
struct PrivateParts {
    std::vector<uint8_t> n, e;
    SecretBytes d, p, q, dp, dq, qinv;
};

PkeyPtr Generate(unsigned bits);
PkeyPtr FromPublic(const uint8_t* n, size_t nSize, const uint8_t* e, size_t eSize);
PkeyPtr FromParts(const PrivateParts& parts);
// A PKCS#1 RSAPrivateKey in DER; trailing bytes after the structure are ignored.
PkeyPtr FromPkcs1Der(const uint8_t* der, size_t size);

size_t ModulusBytes(EVP_PKEY* key);
unsigned ModulusBits(EVP_PKEY* key);
// Modulus as exactly ModulusBytes bytes, exponent as exactly 4 bytes; empty on failure.
std::vector<uint8_t> Modulus(EVP_PKEY* key);
std::vector<uint8_t> Exponent4(EVP_PKEY* key);
// Every number of a private key: n and d at k bytes, p, q, dp, dq, qinv at k/2 bytes, e at 4.
bool ExportParts(EVP_PKEY* key, PrivateParts* parts);

// Raw m^e mod n and m^d mod n on a block of exactly ModulusBytes bytes (the value must be below n).
bool RawPublic(EVP_PKEY* key, const uint8_t* in, size_t size, std::vector<uint8_t>* out);
bool RawPrivate(EVP_PKEY* key, const uint8_t* in, size_t size, std::vector<uint8_t>* out);

// PKCS#1 v1.5 encryption (block type 2) and its opening.
std::vector<uint8_t> EncryptPkcs1(EVP_PKEY* key, const uint8_t* in, size_t size);
bool DecryptPkcs1(EVP_PKEY* key, const uint8_t* in, size_t size, SecretBytes* out);

// A PKCS#1 v1.5 type 1 block of k bytes around `data`; empty when it does not fit with 8 bytes of 0xFF.
std::vector<uint8_t> SignatureBlock(const std::vector<uint8_t>& data, size_t k);

// DigestInfo prefixes of PKCS#1 for the digests the token signs by itself.
std::vector<uint8_t> DigestInfo(const char* digest, const uint8_t* hash, size_t size);

} // namespace vtoken::crypto::rsa
