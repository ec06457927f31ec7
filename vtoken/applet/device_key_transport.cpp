#include "vtoken/applet/device_key_transport.h"

#include <memory>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include "device/token_identity.h"
#include "vtoken/applet/pin_block.h"

namespace vtoken {
namespace {

namespace identity = keycore::token_identity;

constexpr size_t kCoordinate = 32;
constexpr size_t kHash = 32;

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_clear_free>>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM, OSSL_PARAM_free>>;

PkeyPtr TokenKeyPair() {
    BnPtr priv(BN_bin2bn(identity::kDeviceKeyTransportPrivate, sizeof identity::kDeviceKeyTransportPrivate, nullptr));
    uint8_t pub[1 + 2 * kCoordinate];
    pub[0] = 0x04;
    std::copy(identity::kDeviceKeyTransportPublicX, identity::kDeviceKeyTransportPublicX + kCoordinate, pub + 1);
    std::copy(identity::kDeviceKeyTransportPublicY, identity::kDeviceKeyTransportPublicY + kCoordinate,
              pub + 1 + kCoordinate);
    ParamBldPtr bld(OSSL_PARAM_BLD_new());
    if (!priv || !bld || !OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, priv.get()) ||
        !OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, pub, sizeof pub))
        return nullptr;
    ParamsPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_KEYPAIR, params.get()) != 1)
        return nullptr;
    return PkeyPtr(key);
}

void PutDerLength(std::vector<uint8_t>& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
    } else if (length <= 0xFF) {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(length));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.push_back(static_cast<uint8_t>(length));
    }
}

void PutDerInteger(std::vector<uint8_t>& out, const uint8_t* value, size_t size) {
    while (size > 1 && value[0] == 0) {
        ++value;
        --size;
    }
    bool pad = (value[0] & 0x80) != 0;
    out.push_back(0x02);
    PutDerLength(out, size + (pad ? 1 : 0));
    if (pad)
        out.push_back(0);
    out.insert(out.end(), value, value + size);
}

void PutDerOctets(std::vector<uint8_t>& out, const uint8_t* value, size_t size) {
    out.push_back(0x04);
    PutDerLength(out, size);
    out.insert(out.end(), value, value + size);
}

// OpenSSL reads SM2 ciphertext as SEQUENCE { x INTEGER, y INTEGER, C3 OCTET STRING, C2 OCTET STRING }.
std::vector<uint8_t> ToDer(const std::vector<uint8_t>& cipher) {
    const uint8_t* p = cipher.data();
    std::vector<uint8_t> body;
    PutDerInteger(body, p, kCoordinate);
    PutDerInteger(body, p + kCoordinate, kCoordinate);
    PutDerOctets(body, p + 2 * kCoordinate, kHash);
    PutDerOctets(body, p + 2 * kCoordinate + kHash, cipher.size() - 2 * kCoordinate - kHash);
    std::vector<uint8_t> der = {0x30};
    PutDerLength(der, body.size());
    der.insert(der.end(), body.begin(), body.end());
    return der;
}

} // namespace

std::optional<std::vector<uint8_t>> OpenWithTokenSm2Key(const std::vector<uint8_t>& cipher) {
    if (cipher.size() <= 2 * kCoordinate + kHash)
        return std::nullopt;
    PkeyPtr key = TokenKeyPair();
    if (!key)
        return std::nullopt;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    std::vector<uint8_t> der = ToDer(cipher);
    size_t plainSize = 0;
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_decrypt(ctx.get(), nullptr, &plainSize, der.data(), der.size()) != 1)
        return std::nullopt;
    std::vector<uint8_t> plain(plainSize);
    if (EVP_PKEY_decrypt(ctx.get(), plain.data(), &plainSize, der.data(), der.size()) != 1) {
        Wipe(plain);
        return std::nullopt;
    }
    plain.resize(plainSize);
    return plain;
}

} // namespace vtoken
