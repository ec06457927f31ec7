#pragma once
// A virtual token of either framing with the user PIN verified and one container, and OpenSSL's side
// of the RSA tests: keys built from the SKF blobs, blobs built from OpenSSL keys, and the independent
// signature and raw-operation checks.

#include "storage_fixture.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace keycore::test {

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bytes = std::vector<BYTE>;

// The INS bytes of the RSA commands.
namespace rsa_ins {
inline constexpr uint8_t kGenExtRsaKey = 0x52;
inline constexpr uint8_t kGenRsaKeyPair = 0x54;
inline constexpr uint8_t kImportRsaKeyPair = 0x56;
inline constexpr uint8_t kRsaSignData = 0x58;
inline constexpr uint8_t kRsaExportSessionKey = 0x5A;
inline constexpr uint8_t kRsaVerify = 0x5E;
inline constexpr uint8_t kExtRsaPubKeyOperation = 0x60;
inline constexpr uint8_t kExtRsaPriKeyOperation = 0x62;
} // namespace rsa_ins

inline Bytes Digest(const EVP_MD* md, const std::string& message) {
    Bytes out(static_cast<size_t>(EVP_MD_get_size(md)));
    unsigned int len = 0;
    EVP_Digest(message.data(), message.size(), out.data(), &len, md, nullptr);
    return out;
}

// The numbers of a right-aligned field as OpenSSL big numbers.
inline BIGNUM* Number(const BYTE* field, size_t len) {
    return BN_bin2bn(field, static_cast<int>(len), nullptr);
}

inline PkeyPtr KeyFromParams(OSSL_PARAM_BLD* bld, int selection) {
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    if (params != nullptr && ctx != nullptr && EVP_PKEY_fromdata_init(ctx) == 1)
        EVP_PKEY_fromdata(ctx, &key, selection, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    return PkeyPtr(key, EVP_PKEY_free);
}

// OpenSSL's public key from the whole 256-byte modulus field: leading bytes that are not zero would
// change the number and make every check below fail.
inline PkeyPtr PublicKeyFromBlob(const RSAPUBLICKEYBLOB& blob) {
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    BIGNUM* n = Number(blob.Modulus, sizeof blob.Modulus);
    BIGNUM* e = Number(blob.PublicExponent, sizeof blob.PublicExponent);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e);
    PkeyPtr key = KeyFromParams(bld, EVP_PKEY_PUBLIC_KEY);
    OSSL_PARAM_BLD_free(bld);
    BN_free(n);
    BN_free(e);
    return key;
}

inline PkeyPtr PrivateKeyFromBlob(const RSAPRIVATEKEYBLOB& blob) {
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    std::vector<BIGNUM*> numbers = {
        Number(blob.Modulus, sizeof blob.Modulus),
        Number(blob.PublicExponent, sizeof blob.PublicExponent),
        Number(blob.PrivateExponent, sizeof blob.PrivateExponent),
        Number(blob.Prime1, sizeof blob.Prime1),
        Number(blob.Prime2, sizeof blob.Prime2),
        Number(blob.Prime1Exponent, sizeof blob.Prime1Exponent),
        Number(blob.Prime2Exponent, sizeof blob.Prime2Exponent),
        Number(blob.Coefficient, sizeof blob.Coefficient),
    };
    const char* names[] = {OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
                           OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                           OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                           OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    for (size_t i = 0; i < numbers.size(); ++i)
        OSSL_PARAM_BLD_push_BN(bld, names[i], numbers[i]);
    PkeyPtr key = KeyFromParams(bld, EVP_PKEY_KEYPAIR);
    OSSL_PARAM_BLD_free(bld);
    for (BIGNUM* n : numbers)
        BN_clear_free(n);
    return key;
}

inline void PutNumber(EVP_PKEY* key, const char* name, BYTE* field, size_t fieldLen) {
    BIGNUM* n = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(key, name, &n), 1) << name;
    ASSERT_EQ(BN_bn2binpad(n, field, static_cast<int>(fieldLen)), static_cast<int>(fieldLen)) << name;
    BN_clear_free(n);
}

inline PkeyPtr NewOpenSslKey(unsigned bits) {
    return PkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)), EVP_PKEY_free);
}

// SM4-ECB by OpenSSL, the other side the token's results are checked against; with padding, the
// PKCS #7 padding of the last block.
inline Bytes Sm4EcbWithOpenSsl(const Bytes& key, const Bytes& plain, bool padding) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(plain.size() + 16);
    int len = 0;
    int tail = 0;
    EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, padding ? 1 : 0);
    EVP_EncryptUpdate(ctx, out.data(), &len, plain.data(), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx, out.data() + len, &tail);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(len + tail));
    return out;
}

inline RSAPUBLICKEYBLOB PublicBlobOf(EVP_PKEY* key) {
    RSAPUBLICKEYBLOB blob = {};
    blob.AlgID = SGD_RSA;
    blob.BitLen = static_cast<ULONG>(EVP_PKEY_get_bits(key));
    PutNumber(key, OSSL_PKEY_PARAM_RSA_N, blob.Modulus, sizeof blob.Modulus);
    PutNumber(key, OSSL_PKEY_PARAM_RSA_E, blob.PublicExponent, sizeof blob.PublicExponent);
    return blob;
}

inline RSAPRIVATEKEYBLOB PrivateBlobOf(EVP_PKEY* key) {
    RSAPRIVATEKEYBLOB blob = {};
    blob.AlgID = SGD_RSA;
    blob.BitLen = static_cast<ULONG>(EVP_PKEY_get_bits(key));
    PutNumber(key, OSSL_PKEY_PARAM_RSA_N, blob.Modulus, sizeof blob.Modulus);
    PutNumber(key, OSSL_PKEY_PARAM_RSA_E, blob.PublicExponent, sizeof blob.PublicExponent);
    PutNumber(key, OSSL_PKEY_PARAM_RSA_D, blob.PrivateExponent, sizeof blob.PrivateExponent);
    PutNumber(key, OSSL_PKEY_PARAM_RSA_FACTOR1, blob.Prime1, sizeof blob.Prime1);
    PutNumber(key, OSSL_PKEY_PARAM_RSA_FACTOR2, blob.Prime2, sizeof blob.Prime2);
    PutNumber(key, OSSL_PKEY_PARAM_RSA_EXPONENT1, blob.Prime1Exponent, sizeof blob.Prime1Exponent);
    PutNumber(key, OSSL_PKEY_PARAM_RSA_EXPONENT2, blob.Prime2Exponent, sizeof blob.Prime2Exponent);
    PutNumber(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, blob.Coefficient, sizeof blob.Coefficient);
    return blob;
}

// OpenSSL's PKCS#1 v1.5 verification: md is the digest the data is (SHA-1, SHA-256 with their
// DigestInfo; MD5-SHA1 for the 36-byte pair, which is signed bare).
inline bool OpenSslVerifies(EVP_PKEY* key, const EVP_MD* md, const Bytes& data, const Bytes& signature) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    const bool ok = ctx != nullptr && EVP_PKEY_verify_init(ctx) == 1 &&
                    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
                    EVP_PKEY_CTX_set_signature_md(ctx, md) == 1 &&
                    EVP_PKEY_verify(ctx, signature.data(), signature.size(), data.data(), data.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

// The raw RSA operation (no padding) with OpenSSL: the public one when `pub`, else the private one.
inline Bytes OpenSslRaw(EVP_PKEY* key, bool pub, const Bytes& input) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    Bytes out(static_cast<size_t>(EVP_PKEY_get_size(key)));
    size_t outLen = out.size();
    bool ok = ctx != nullptr && (pub ? EVP_PKEY_encrypt_init(ctx) : EVP_PKEY_decrypt_init(ctx)) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) == 1;
    if (ok) {
        ok = (pub ? EVP_PKEY_encrypt(ctx, out.data(), &outLen, input.data(), input.size())
                  : EVP_PKEY_decrypt(ctx, out.data(), &outLen, input.data(), input.size())) == 1;
    }
    EVP_PKEY_CTX_free(ctx);
    if (!ok)
        return {};
    out.resize(outLen);
    return out;
}

// PKCS#1 v1.5 decryption with OpenSSL.
inline Bytes OpenSslDecrypt(EVP_PKEY* key, const Bytes& input) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    Bytes out(static_cast<size_t>(EVP_PKEY_get_size(key)));
    size_t outLen = out.size();
    const bool ok = ctx != nullptr && EVP_PKEY_decrypt_init(ctx) == 1 &&
                    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
                    EVP_PKEY_decrypt(ctx, out.data(), &outLen, input.data(), input.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    if (!ok)
        return {};
    out.resize(outLen);
    return out;
}

// The command APDUs with that INS in the token's trace, as bytes.
inline std::vector<Bytes> CommandsWithIns(const std::vector<std::string>& trace, uint8_t ins) {
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "> 80%02X", ins);
    std::vector<Bytes> commands;
    for (const std::string& line : trace) {
        if (line.rfind(prefix, 0) == 0)
            commands.push_back(vtoken::test::FromHex(line.substr(2)));
    }
    return commands;
}

// The token of the parameter's framing ("bot" or "hid"), user PIN verified, one container open.
class RsaTest : public SkfStorageTest, public ::testing::WithParamInterface<const char*> {
protected:
    std::vector<std::string> PlugOptions() const override { return {"--kind", GetParam()}; }

    void SetUp() override {
        SkfStorageTest::SetUp();
        VerifyUserPin();
        ASSERT_EQ(SKF_CreateContainer(m_app, Text("rsa"), &m_container), SAR_OK);
    }

    // A signing key pair of that size in the container; its public key blob.
    RSAPUBLICKEYBLOB GenerateSigningKey(ULONG bits) {
        RSAPUBLICKEYBLOB blob = {};
        EXPECT_EQ(SKF_GenRSAKeyPair(m_container, bits, &blob), SAR_OK);
        return blob;
    }

    Bytes Sign(const Bytes& data) {
        ULONG len = 0;
        Bytes input = data;
        EXPECT_EQ(SKF_RSASignData(m_container, input.data(), static_cast<ULONG>(input.size()), nullptr, &len), SAR_OK);
        Bytes signature(len);
        EXPECT_EQ(SKF_RSASignData(m_container, input.data(), static_cast<ULONG>(input.size()), signature.data(), &len),
                  SAR_OK);
        signature.resize(len);
        return signature;
    }

    ULONG Verify(RSAPUBLICKEYBLOB blob, Bytes data, Bytes signature) {
        return SKF_RSAVerify(m_dev, &blob, data.data(), static_cast<ULONG>(data.size()), signature.data(),
                             static_cast<ULONG>(signature.size()));
    }

    HCONTAINER m_container = nullptr;
};

} // namespace keycore::test
