#pragma once
// A token with one opened application and two containers, driven through the crypto handlers with
// APDUs as the host builds them, plus the test's own OpenSSL helpers that check the answers.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <openssl/asn1.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "device/token_identity.h"
#include "vtoken/applet/handler_table.h"

namespace vtoken::testing {

using Bytes = std::vector<uint8_t>;

// Builds command data fields.
class Data {
public:
    Data& u8(uint8_t v) {
        m_bytes.push_back(v);
        return *this;
    }
    Data& u16(uint16_t v) { return u8(static_cast<uint8_t>(v >> 8)).u8(static_cast<uint8_t>(v)); }
    Data& u32(uint32_t v) { return u16(static_cast<uint16_t>(v >> 16)).u16(static_cast<uint16_t>(v)); }
    Data& raw(const Bytes& b) {
        m_bytes.insert(m_bytes.end(), b.begin(), b.end());
        return *this;
    }
    Data& raw(const uint8_t* p, size_t n) { return raw(Bytes(p, p + n)); }
    operator Bytes() const { return m_bytes; }
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

struct Reply {
    Bytes data;
    uint16_t sw = 0;
};

inline Bytes Slice(const Bytes& b, size_t from, size_t count) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + count));
}

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class CryptoTokenTest : public ::testing::Test {
protected:
    static constexpr uint16_t kApp = 0x0101;
    static constexpr uint16_t kContainer = 1;
    static constexpr uint16_t kOtherContainer = 2;

    void SetUp() override {
        RegisterCryptoHandlers(m_table);
        ApplicationRecord& app = m_image.applications["APP"];
        app.id = kApp;
        app.containers["first"].id = kContainer;
        app.containers["second"].id = kOtherContainer;
        m_state.openApplications[kApp] = true;
        m_state.userVerified[kApp] = true;
    }

    ContainerRecord& Container(uint16_t id = kContainer) {
        for (auto& [name, c] : m_image.applications["APP"].containers) {
            if (c.id == id)
                return c;
        }
        throw std::runtime_error("no container");
    }

    // Sends 80 INS P1 P2 00 HH LL data, optionally followed by the 2-byte expected length 00 00.
    Reply Send(uint8_t ins, uint8_t p1, uint8_t p2, const Bytes& data, bool withLe = true, uint8_t cla = 0x80) {
        Bytes apdu = {
            cla, ins, p1, p2, 0x00, static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())};
        apdu.insert(apdu.end(), data.begin(), data.end());
        if (withLe) {
            apdu.push_back(0);
            apdu.push_back(0);
        }
        std::optional<Command> cmd = Command::Parse(apdu.data(), apdu.size());
        EXPECT_TRUE(cmd.has_value());
        if (!cmd)
            return {{}, 0};
        const CommandHandler* handler = m_table.Find(cla, ins);
        EXPECT_NE(handler, nullptr) << "INS " << std::hex << int(ins);
        if (handler == nullptr)
            return {{}, 0};
        AppletContext ctx{m_image, m_state};
        Bytes answer = (*handler)(ctx, *cmd);
        EXPECT_GE(answer.size(), 2u);
        Reply r;
        r.sw = static_cast<uint16_t>((answer[answer.size() - 2] << 8) | answer.back());
        r.data.assign(answer.begin(), answer.end() - 2);
        if (ctx.imageChanged)
            ++m_imageSaves;
        return r;
    }

    // Session key helpers.
    uint16_t SetKey(const Bytes& key, uint32_t algorithm = 0x401, uint16_t container = kContainer) {
        Reply r = Send(0xA2, 0, 0, Data().u16(kApp).u16(container).u32(algorithm).u16(16).raw(key));
        EXPECT_EQ(r.sw, 0x9000);
        return r.data.size() == 2 ? static_cast<uint16_t>(r.data[0] << 8 | r.data[1]) : 0;
    }
    uint16_t CipherInit(uint16_t index, uint32_t algorithm, const Bytes& iv, bool encrypt = true) {
        return Send(encrypt ? 0xA4 : 0xAC, 0, 0,
                    Data()
                        .u16(kApp)
                        .u16(kContainer)
                        .u16(index)
                        .u32(algorithm)
                        .u16(static_cast<uint16_t>(iv.size()))
                        .raw(iv)
                        .u32(0)
                        .u32(0),
                    false)
            .sw;
    }
    // One SM4-ECB block under a session key through CipherInit and CipherSingle.
    Bytes EncryptBlockWith(uint16_t index, const Bytes& block) {
        EXPECT_EQ(CipherInit(index, 0x401, {}), 0x9000);
        Reply r = Send(0xA6, 0, 0, Data().u16(kApp).u16(kContainer).u16(index).raw(block));
        EXPECT_EQ(r.sw, 0x9000);
        return r.data;
    }
    void GrantAccessCode() { m_state.accessCodeGranted = true; }

    TokenImage m_image;
    VolatileState m_state;
    HandlerTable m_table;
    int m_imageSaves = 0;
};

// ---- the test's own OpenSSL side ----

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

inline Bytes Hex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline Bytes Pattern(size_t n, uint8_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

inline Bytes Md(const char* name, const Bytes& data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &n, EVP_get_digestbyname(name), nullptr);
    out.resize(n);
    return out;
}

// One-shot cipher without padding.
inline Bytes Cipher(const EVP_CIPHER* cipher, const Bytes& key, const Bytes& iv, const Bytes& in, bool encrypt) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 32);
    int n1 = 0, n2 = 0;
    EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), encrypt);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size()));
    EVP_CipherFinal_ex(ctx, out.data() + n1, &n2);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(n1 + n2));
    return out;
}

inline Pkey Sm2Key() {
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
    EVP_PKEY* key = nullptr;
    EVP_PKEY_keygen_init(ctx.get());
    EVP_PKEY_keygen(ctx.get(), &key);
    return Pkey(key);
}

inline Bytes Sm2Point(EVP_PKEY* key) {
    uint8_t buf[65];
    size_t n = 0;
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, buf, sizeof buf, &n);
    return Bytes(buf + 1, buf + 65);
}

inline Bytes Sm2Private(EVP_PKEY* key) {
    BIGNUM* d = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d);
    Bytes out(32);
    BN_bn2binpad(d, out.data(), 32);
    BN_free(d);
    return out;
}

inline Pkey Sm2Public(const Bytes& xy) {
    Bytes octets = Concat({0x04}, xy);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, octets.data(), octets.size());
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(ctx.get());
    EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    return Pkey(key);
}

// SM2 signature over a message with the identifier, as OpenSSL's digest-sign makes it (r ‖ s).
inline Bytes Sm2SignMessage(EVP_PKEY* key, const Bytes& message, const std::string& id) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    PkeyCtx pctx(EVP_PKEY_CTX_new(key, nullptr));
    EVP_PKEY_CTX_set1_id(pctx.get(), id.data(), id.size());
    EVP_MD_CTX_set_pkey_ctx(md, pctx.get());
    EVP_DigestSignInit_ex(md, nullptr, "SM3", nullptr, nullptr, key, nullptr);
    size_t n = 0;
    EVP_DigestSign(md, nullptr, &n, message.data(), message.size());
    Bytes der(n);
    EVP_DigestSign(md, der.data(), &n, message.data(), message.size());
    EVP_MD_CTX_free(md);
    const unsigned char* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(n));
    Bytes rs(64);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs.data() + 32, 32);
    ECDSA_SIG_free(sig);
    return rs;
}

inline bool Sm2VerifyMessage(EVP_PKEY* key, const Bytes& message, const std::string& id, const Bytes& rs) {
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(rs.data(), 32, nullptr), BN_bin2bn(rs.data() + 32, 32, nullptr));
    unsigned char* der = nullptr;
    int n = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    PkeyCtx pctx(EVP_PKEY_CTX_new(key, nullptr));
    EVP_PKEY_CTX_set1_id(pctx.get(), id.data(), id.size());
    EVP_MD_CTX_set_pkey_ctx(md, pctx.get());
    EVP_DigestVerifyInit_ex(md, nullptr, "SM3", nullptr, nullptr, key, nullptr);
    bool ok = EVP_DigestVerify(md, der, static_cast<size_t>(n), message.data(), message.size()) == 1;
    EVP_MD_CTX_free(md);
    OPENSSL_free(der);
    return ok;
}

// The token's C1.x ‖ C1.y ‖ C3 ‖ C2 as OpenSSL's DER (encoded with OpenSSL's own ASN.1 writers).
inline Bytes TokenCipherToDer(const Bytes& c1c3c2) {
    auto integer = [](const uint8_t* p) {
        BIGNUM* bn = BN_bin2bn(p, 32, nullptr);
        ASN1_INTEGER* i = BN_to_ASN1_INTEGER(bn, nullptr);
        unsigned char* out = nullptr;
        int n = i2d_ASN1_INTEGER(i, &out);
        Bytes b(out, out + n);
        OPENSSL_free(out);
        ASN1_INTEGER_free(i);
        BN_free(bn);
        return b;
    };
    auto octets = [](const uint8_t* p, size_t size) {
        ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(s, p, static_cast<int>(size));
        unsigned char* out = nullptr;
        int n = i2d_ASN1_OCTET_STRING(s, &out);
        Bytes b(out, out + n);
        OPENSSL_free(out);
        ASN1_OCTET_STRING_free(s);
        return b;
    };
    Bytes body = Concat(Concat(integer(c1c3c2.data()), integer(c1c3c2.data() + 32)),
                        Concat(octets(c1c3c2.data() + 64, 32), octets(c1c3c2.data() + 96, c1c3c2.size() - 96)));
    Bytes der(ASN1_object_size(1, static_cast<int>(body.size()), V_ASN1_SEQUENCE));
    unsigned char* p = der.data();
    ASN1_put_object(&p, 1, static_cast<int>(body.size()), V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
    std::memcpy(p, body.data(), body.size());
    return der;
}

// OpenSSL's DER cipher text as C1.x ‖ C1.y ‖ C3 ‖ C2 (decoded with OpenSSL's own ASN.1 readers).
inline Bytes DerToTokenCipher(const Bytes& der) {
    const unsigned char* p = der.data();
    ASN1_SEQUENCE_ANY* seq = d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(der.size()));
    Bytes out(96);
    for (int i = 0; i < 2; ++i) {
        BIGNUM* bn = ASN1_INTEGER_to_BN(sk_ASN1_TYPE_value(seq, i)->value.integer, nullptr);
        BN_bn2binpad(bn, out.data() + 32 * i, 32);
        BN_free(bn);
    }
    ASN1_OCTET_STRING* c3 = sk_ASN1_TYPE_value(seq, 2)->value.octet_string;
    ASN1_OCTET_STRING* c2 = sk_ASN1_TYPE_value(seq, 3)->value.octet_string;
    std::memcpy(out.data() + 64, ASN1_STRING_get0_data(c3), 32);
    out.insert(out.end(), ASN1_STRING_get0_data(c2), ASN1_STRING_get0_data(c2) + ASN1_STRING_length(c2));
    sk_ASN1_TYPE_pop_free(seq, ASN1_TYPE_free);
    return out;
}

inline Bytes Sm2EncryptOpenSsl(EVP_PKEY* key, const Bytes& plain) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    EVP_PKEY_encrypt_init(ctx.get());
    size_t n = 0;
    EVP_PKEY_encrypt(ctx.get(), nullptr, &n, plain.data(), plain.size());
    Bytes der(n);
    EVP_PKEY_encrypt(ctx.get(), der.data(), &n, plain.data(), plain.size());
    der.resize(n);
    return DerToTokenCipher(der);
}

inline Bytes Sm2DecryptOpenSsl(EVP_PKEY* key, const Bytes& c1c3c2) {
    Bytes der = TokenCipherToDer(c1c3c2);
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    EVP_PKEY_decrypt_init(ctx.get());
    size_t n = 0;
    if (EVP_PKEY_decrypt(ctx.get(), nullptr, &n, der.data(), der.size()) != 1)
        return {};
    Bytes plain(n);
    if (EVP_PKEY_decrypt(ctx.get(), plain.data(), &n, der.data(), der.size()) != 1)
        return {};
    plain.resize(n);
    return plain;
}

// The token's SM2 cipher form (00 00 01 00, C1, C3, length, C2) and back.
inline Bytes CipherForm(const Bytes& c1c3c2) {
    return Data()
        .u32(256)
        .raw(Slice(c1c3c2, 0, 96))
        .u32(static_cast<uint32_t>(c1c3c2.size() - 96))
        .raw(Slice(c1c3c2, 96, c1c3c2.size() - 96));
}
inline Bytes FromCipherForm(const Bytes& form) {
    return Concat(Slice(form, 4, 96), Slice(form, 104, form.size() - 104));
}

inline Pkey RsaKey(unsigned bits) {
    return Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
}

inline Pkey RsaPublic(const Bytes& n, const Bytes& e) {
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    BIGNUM* bn = BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr);
    BIGNUM* be = BN_bin2bn(e.data(), static_cast<int>(e.size()), nullptr);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, bn);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, be);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(ctx.get());
    EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(bn);
    BN_free(be);
    return Pkey(key);
}

inline Bytes RsaNumber(EVP_PKEY* key, const char* name, size_t width) {
    BIGNUM* bn = nullptr;
    EVP_PKEY_get_bn_param(key, name, &bn);
    Bytes out(width);
    BN_bn2binpad(bn, out.data(), static_cast<int>(width));
    BN_free(bn);
    return out;
}

// PKCS#1 v1.5 verification of a signature over a digest, by OpenSSL.
inline bool RsaVerifyDigest(EVP_PKEY* key, const char* md, const Bytes& digest, const Bytes& signature) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    EVP_PKEY_verify_init(ctx.get());
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_get_digestbyname(md));
    return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), digest.data(), digest.size()) == 1;
}

inline Bytes RsaSignDigest(EVP_PKEY* key, const char* md, const Bytes& digest) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    EVP_PKEY_sign_init(ctx.get());
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_get_digestbyname(md));
    size_t n = 0;
    EVP_PKEY_sign(ctx.get(), nullptr, &n, digest.data(), digest.size());
    Bytes sig(n);
    EVP_PKEY_sign(ctx.get(), sig.data(), &n, digest.data(), digest.size());
    return sig;
}

// Raw RSA (no padding) with OpenSSL: public when `key` is used for encryption, private for decryption.
inline Bytes RsaRaw(EVP_PKEY* key, const Bytes& in, bool isPrivate) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (isPrivate)
        EVP_PKEY_decrypt_init(ctx.get());
    else
        EVP_PKEY_encrypt_init(ctx.get());
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING);
    Bytes out(in.size());
    size_t n = out.size();
    int ok = isPrivate ? EVP_PKEY_decrypt(ctx.get(), out.data(), &n, in.data(), in.size())
                       : EVP_PKEY_encrypt(ctx.get(), out.data(), &n, in.data(), in.size());
    return ok == 1 ? out : Bytes();
}

inline Bytes RsaEncryptPkcs1(EVP_PKEY* key, const Bytes& in) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    EVP_PKEY_encrypt_init(ctx.get());
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
    size_t n = 0;
    EVP_PKEY_encrypt(ctx.get(), nullptr, &n, in.data(), in.size());
    Bytes out(n);
    EVP_PKEY_encrypt(ctx.get(), out.data(), &n, in.data(), in.size());
    return out;
}

inline Bytes RsaDecryptPkcs1(EVP_PKEY* key, const Bytes& in) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    EVP_PKEY_decrypt_init(ctx.get());
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
    size_t n = 0;
    EVP_PKEY_decrypt(ctx.get(), nullptr, &n, in.data(), in.size());
    Bytes out(n);
    if (EVP_PKEY_decrypt(ctx.get(), out.data(), &n, in.data(), in.size()) != 1)
        return {};
    out.resize(n);
    return out;
}

inline Bytes RsaPkcs1Der(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    int n = i2d_PrivateKey(key, &der);
    Bytes out(der, der + n);
    OPENSSL_free(der);
    return out;
}

// n bytes of value n, 1 to 16, as the host pads what it encrypts.
inline Bytes PadBlocks(Bytes data) {
    size_t n = 16 - data.size() % 16;
    data.insert(data.end(), n, static_cast<uint8_t>(n));
    return data;
}

} // namespace vtoken::testing
