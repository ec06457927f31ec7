#pragma once
// What the certificate import was handed: a certificate, or one of the two key-pair encodings it also
// accepts. The bytes come from the caller and are read only within their length.

#include <cstddef>
#include <cstdint>

namespace keycore {

enum class CertPayload {
    Certificate,
    // 0x04, X, Y, d: 97 bytes.
    EccKeyPair,
    // PKCS #1 RSAPrivateKey in DER.
    RsaKeyPair,
    // An RSA key whose modulus length takes more than two length bytes.
    BadRsaKey,
};

// For an RSA key *pModulusBits receives its size (modulus bytes without a leading zero, times 8).
CertPayload ClassifyCertPayload(const unsigned char* p, size_t len, uint32_t* pModulusBits);

} // namespace keycore
