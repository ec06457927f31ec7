#pragma once
// Small owners for OpenSSL objects and the byte-level helpers the token's cryptography shares.
// Everything here is OpenSSL 3 only: the virtual token never uses the library's own code, so that
// each side checks the other.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

namespace vtoken::crypto {

template <typename T, void (*Free)(T*)> struct OpenSslDeleter {
    void operator()(T* p) const { Free(p); }
};

using PkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslDeleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OpenSslDeleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;
using BnPtr = std::unique_ptr<BIGNUM, OpenSslDeleter<BIGNUM, BN_clear_free>>;
using BnCtxPtr = std::unique_ptr<BN_CTX, OpenSslDeleter<BN_CTX, BN_CTX_free>>;
using EcGroupPtr = std::unique_ptr<EC_GROUP, OpenSslDeleter<EC_GROUP, EC_GROUP_free>>;
using EcPointPtr = std::unique_ptr<EC_POINT, OpenSslDeleter<EC_POINT, EC_POINT_clear_free>>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, OpenSslDeleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, OpenSslDeleter<OSSL_PARAM, OSSL_PARAM_free>>;

// A byte buffer that is wiped when it goes away: session keys, private scalars, decrypted blobs.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    SecretBytes(const uint8_t* data, size_t size) : m_bytes(data, data + size) {}
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    SecretBytes(SecretBytes&& other) noexcept : m_bytes(std::move(other.m_bytes)) {}
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    ~SecretBytes();

    std::vector<uint8_t>& bytes() { return m_bytes; }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }
    const uint8_t* data() const { return m_bytes.data(); }
    size_t size() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }

private:
    std::vector<uint8_t> m_bytes;
};

void Wipe(std::vector<uint8_t>& bytes);

// Fresh random bytes from OpenSSL's generator; empty on failure.
std::vector<uint8_t> RandomBytes(size_t count);

// Big-endian magnitude of `bn`, left-padded with zeros to `width` bytes; empty when it does not fit.
std::vector<uint8_t> BnToFixed(const BIGNUM* bn, size_t width);
BnPtr BnFromBytes(const uint8_t* data, size_t size);
inline BnPtr BnFromBytes(const std::vector<uint8_t>& v) {
    return BnFromBytes(v.data(), v.size());
}

// Message digests by name ("SM3", "SHA1", "SHA256"); empty on failure.
std::vector<uint8_t> Digest(const char* name, const uint8_t* data, size_t size);

// PKCS#8 DER as the token image keeps private keys, and back.
std::vector<uint8_t> PrivateKeyToPkcs8(EVP_PKEY* key);
PkeyPtr PrivateKeyFromPkcs8(const std::vector<uint8_t>& der);

} // namespace vtoken::crypto
