#include "vtoken/applet/crypto_rsa.h"

#include <cstring>
#include <string>

#include <openssl/core_names.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

namespace vtoken::crypto::rsa {

namespace {

std::vector<uint8_t> NumberParam(EVP_PKEY* key, const char* name, size_t width) {
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &raw) != 1)
        return {};
    BnPtr value(raw);
    return BnToFixed(value.get(), width);
}

bool PushNumber(OSSL_PARAM_BLD* bld, const char* name, const uint8_t* data, size_t size, std::vector<BnPtr>& keep) {
    BnPtr value = BnFromBytes(data, size);
    if (!value || OSSL_PARAM_BLD_push_BN(bld, name, value.get()) != 1)
        return false;
    keep.push_back(std::move(value));
    return true;
}

PkeyPtr FromBuilder(OSSL_PARAM_BLD* bld, int selection) {
    ParamsPtr params(OSSL_PARAM_BLD_to_param(bld));
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) != 1)
        return nullptr;
    return PkeyPtr(key);
}

bool RawOperation(EVP_PKEY* key, bool isPrivate, const uint8_t* in, size_t size, std::vector<uint8_t>* out) {
    size_t k = ModulusBytes(key);
    if (k == 0 || size != k)
        return false;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx)
        return false;
    int ok = isPrivate ? EVP_PKEY_decrypt_init(ctx.get()) : EVP_PKEY_encrypt_init(ctx.get());
    if (ok != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1)
        return false;
    std::vector<uint8_t> result(k);
    size_t length = k;
    ok = isPrivate ? EVP_PKEY_decrypt(ctx.get(), result.data(), &length, in, size)
                   : EVP_PKEY_encrypt(ctx.get(), result.data(), &length, in, size);
    if (ok != 1 || length != k) {
        Wipe(result);
        return false;
    }
    *out = std::move(result);
    return true;
}

} // namespace

PkeyPtr Generate(unsigned bits) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) != 1 ||
        EVP_PKEY_keygen(ctx.get(), &key) != 1)
        return nullptr;
    return PkeyPtr(key);
}

PkeyPtr FromPublic(const uint8_t* n, size_t nSize, const uint8_t* e, size_t eSize) {
    ParamBldPtr bld(OSSL_PARAM_BLD_new());
    std::vector<BnPtr> keep;
    if (!bld || !PushNumber(bld.get(), OSSL_PKEY_PARAM_RSA_N, n, nSize, keep) ||
        !PushNumber(bld.get(), OSSL_PKEY_PARAM_RSA_E, e, eSize, keep))
        return nullptr;
    // A modulus of zero or an even exponent of zero is no key.
    if (BN_is_zero(keep[0].get()) || BN_is_zero(keep[1].get()))
        return nullptr;
    return FromBuilder(bld.get(), EVP_PKEY_PUBLIC_KEY);
}

PkeyPtr FromParts(const PrivateParts& parts) {
    ParamBldPtr bld(OSSL_PARAM_BLD_new());
    std::vector<BnPtr> keep;
    struct Field {
        const char* name;
        const uint8_t* data;
        size_t size;
    } fields[] = {
        {OSSL_PKEY_PARAM_RSA_N, parts.n.data(), parts.n.size()},
        {OSSL_PKEY_PARAM_RSA_E, parts.e.data(), parts.e.size()},
        {OSSL_PKEY_PARAM_RSA_D, parts.d.data(), parts.d.size()},
        {OSSL_PKEY_PARAM_RSA_FACTOR1, parts.p.data(), parts.p.size()},
        {OSSL_PKEY_PARAM_RSA_FACTOR2, parts.q.data(), parts.q.size()},
        {OSSL_PKEY_PARAM_RSA_EXPONENT1, parts.dp.data(), parts.dp.size()},
        {OSSL_PKEY_PARAM_RSA_EXPONENT2, parts.dq.data(), parts.dq.size()},
        {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, parts.qinv.data(), parts.qinv.size()},
    };
    if (!bld)
        return nullptr;
    for (const Field& f : fields) {
        if (!PushNumber(bld.get(), f.name, f.data, f.size, keep))
            return nullptr;
    }
    for (const BnPtr& v : keep) {
        if (BN_is_zero(v.get()))
            return nullptr;
    }
    return FromBuilder(bld.get(), EVP_PKEY_KEYPAIR);
}

PkeyPtr FromPkcs1Der(const uint8_t* der, size_t size) {
    const unsigned char* p = der;
    return PkeyPtr(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(size)));
}

size_t ModulusBytes(EVP_PKEY* key) {
    int bytes = EVP_PKEY_get_size(key);
    return bytes > 0 ? static_cast<size_t>(bytes) : 0;
}

unsigned ModulusBits(EVP_PKEY* key) {
    int bits = EVP_PKEY_get_bits(key);
    return bits > 0 ? static_cast<unsigned>(bits) : 0;
}

std::vector<uint8_t> Modulus(EVP_PKEY* key) {
    return NumberParam(key, OSSL_PKEY_PARAM_RSA_N, ModulusBytes(key));
}

std::vector<uint8_t> Exponent4(EVP_PKEY* key) {
    return NumberParam(key, OSSL_PKEY_PARAM_RSA_E, 4);
}

bool ExportParts(EVP_PKEY* key, PrivateParts* parts) {
    size_t k = ModulusBytes(key);
    if (k == 0 || k % 2 != 0)
        return false;
    parts->n = Modulus(key);
    parts->e = Exponent4(key);
    parts->d = SecretBytes(NumberParam(key, OSSL_PKEY_PARAM_RSA_D, k));
    parts->p = SecretBytes(NumberParam(key, OSSL_PKEY_PARAM_RSA_FACTOR1, k / 2));
    parts->q = SecretBytes(NumberParam(key, OSSL_PKEY_PARAM_RSA_FACTOR2, k / 2));
    parts->dp = SecretBytes(NumberParam(key, OSSL_PKEY_PARAM_RSA_EXPONENT1, k / 2));
    parts->dq = SecretBytes(NumberParam(key, OSSL_PKEY_PARAM_RSA_EXPONENT2, k / 2));
    parts->qinv = SecretBytes(NumberParam(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, k / 2));
    return !parts->n.empty() && !parts->e.empty() && !parts->d.empty() && !parts->p.empty() && !parts->q.empty() &&
           !parts->dp.empty() && !parts->dq.empty() && !parts->qinv.empty();
}

bool RawPublic(EVP_PKEY* key, const uint8_t* in, size_t size, std::vector<uint8_t>* out) {
    return RawOperation(key, false, in, size, out);
}

bool RawPrivate(EVP_PKEY* key, const uint8_t* in, size_t size, std::vector<uint8_t>* out) {
    return RawOperation(key, true, in, size, out);
}

std::vector<uint8_t> EncryptPkcs1(EVP_PKEY* key, const uint8_t* in, size_t size) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t length = 0;
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_encrypt(ctx.get(), nullptr, &length, in, size) != 1)
        return {};
    std::vector<uint8_t> out(length);
    if (EVP_PKEY_encrypt(ctx.get(), out.data(), &length, in, size) != 1)
        return {};
    out.resize(length);
    return out;
}

bool DecryptPkcs1(EVP_PKEY* key, const uint8_t* in, size_t size, SecretBytes* out) {
    // Opened by hand from the raw block: OpenSSL's implicit rejection would hand back random bytes
    // for a bad block, and the token must refuse such a block instead.
    std::vector<uint8_t> block;
    if (!RawPrivate(key, in, size, &block))
        return false;
    bool ok = block.size() >= 11 && block[0] == 0x00 && block[1] == 0x02;
    size_t separator = 2;
    while (ok && separator < block.size() && block[separator] != 0)
        ++separator;
    ok = ok && separator < block.size() && separator >= 10;
    if (ok)
        *out = SecretBytes(block.data() + separator + 1, block.size() - separator - 1);
    Wipe(block);
    return ok;
}

std::vector<uint8_t> SignatureBlock(const std::vector<uint8_t>& data, size_t k) {
    if (k < 11 || data.size() > k - 11)
        return {};
    std::vector<uint8_t> block(k, 0xFF);
    block[0] = 0x00;
    block[1] = 0x01;
    block[k - data.size() - 1] = 0x00;
    std::memcpy(block.data() + k - data.size(), data.data(), data.size());
    return block;
}

std::vector<uint8_t> DigestInfo(const char* digest, const uint8_t* hash, size_t size) {
    static const uint8_t kSha1[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                    0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
    static const uint8_t kSha256[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                      0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    std::vector<uint8_t> out;
    std::string name(digest);
    if (name == "SHA1" && size == 20)
        out.assign(kSha1, kSha1 + sizeof kSha1);
    else if (name == "SHA256" && size == 32)
        out.assign(kSha256, kSha256 + sizeof kSha256);
    else
        return {};
    out.insert(out.end(), hash, hash + size);
    return out;
}

} // namespace vtoken::crypto::rsa
