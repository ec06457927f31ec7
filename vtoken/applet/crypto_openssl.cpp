#include "vtoken/applet/crypto_openssl.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

namespace vtoken::crypto {

void Wipe(std::vector<uint8_t>& bytes) {
    if (!bytes.empty())
        OPENSSL_cleanse(bytes.data(), bytes.size());
    bytes.clear();
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
        Wipe(m_bytes);
        m_bytes = std::move(other.m_bytes);
    }
    return *this;
}

SecretBytes::~SecretBytes() {
    Wipe(m_bytes);
}

std::vector<uint8_t> RandomBytes(size_t count) {
    std::vector<uint8_t> out(count);
    if (count > 0 && RAND_bytes(out.data(), static_cast<int>(count)) != 1)
        return {};
    return out;
}

std::vector<uint8_t> BnToFixed(const BIGNUM* bn, size_t width) {
    std::vector<uint8_t> out(width);
    if (bn == nullptr || BN_bn2binpad(bn, out.data(), static_cast<int>(width)) < 0)
        return {};
    return out;
}

BnPtr BnFromBytes(const uint8_t* data, size_t size) {
    return BnPtr(BN_bin2bn(data, static_cast<int>(size), nullptr));
}

std::vector<uint8_t> Digest(const char* name, const uint8_t* data, size_t size) {
    const EVP_MD* md = EVP_get_digestbyname(name);
    if (md == nullptr)
        return {};
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_Digest(data, size, out.data(), &length, md, nullptr) != 1)
        return {};
    out.resize(length);
    return out;
}

std::vector<uint8_t> PrivateKeyToPkcs8(EVP_PKEY* key) {
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, OpenSslDeleter<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>> info(
        EVP_PKEY2PKCS8(key));
    if (!info)
        return {};
    int length = i2d_PKCS8_PRIV_KEY_INFO(info.get(), nullptr);
    if (length <= 0)
        return {};
    std::vector<uint8_t> der(static_cast<size_t>(length));
    unsigned char* p = der.data();
    if (i2d_PKCS8_PRIV_KEY_INFO(info.get(), &p) != length)
        return {};
    return der;
}

PkeyPtr PrivateKeyFromPkcs8(const std::vector<uint8_t>& der) {
    const unsigned char* p = der.data();
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, OpenSslDeleter<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>> info(
        d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size())));
    if (!info)
        return nullptr;
    return PkeyPtr(EVP_PKCS82PKEY(info.get()));
}

} // namespace vtoken::crypto
