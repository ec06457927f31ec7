#pragma once
// SM2 on the test's side, all of it OpenSSL's (never the library's own code): keys and their blobs,
// ZA and the signed digest, signatures with the identifier "1234567812345678", and SM2 cipher text
// in OpenSSL's DER form converted to and from ECCCIPHERBLOB. Plus the fixture of the SM2 tests: a
// token of either framing, the user logged in, one container.

#include "storage_fixture.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace keycore::test {

using Bytes = std::vector<BYTE>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

inline constexpr char kSm2Id[] = "1234567812345678";

inline Bytes RandomBytes(size_t n) {
    Bytes out(n);
    RAND_bytes(out.data(), static_cast<int>(n));
    return out;
}

inline Bytes FromHexText(const char* hex) {
    Bytes out;
    for (size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2)
        out.push_back(static_cast<BYTE>(std::stoul(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

// ---- keys ----

inline PkeyPtr NewSm2Key() {
    return PkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"), EVP_PKEY_free);
}

// X ‖ Y of a key.
inline Bytes PublicPoint(EVP_PKEY* key) {
    Bytes point(65);
    size_t len = 0;
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(), &len);
    EXPECT_EQ(len, 65u);
    return Bytes(point.begin() + 1, point.end());
}

inline Bytes PrivateScalar(EVP_PKEY* key) {
    BIGNUM* d = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d);
    Bytes out(32);
    BN_bn2binpad(d, out.data(), 32);
    BN_clear_free(d);
    return out;
}

// An SM2 public key of the point in a blob (bytes 32-63 of each field).
inline PkeyPtr KeyFromBlob(const ECCPUBLICKEYBLOB& blob) {
    Bytes point(65);
    point[0] = 0x04;
    std::memcpy(point.data() + 1, blob.XCoordinate + 32, 32);
    std::memcpy(point.data() + 33, blob.YCoordinate + 32, 32);
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size());
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(ctx);
    EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    return PkeyPtr(key, EVP_PKEY_free);
}

inline ECCPUBLICKEYBLOB PublicBlob(EVP_PKEY* key) {
    const Bytes point = PublicPoint(key);
    ECCPUBLICKEYBLOB blob{};
    blob.BitLen = 256;
    std::memcpy(blob.XCoordinate + 32, point.data(), 32);
    std::memcpy(blob.YCoordinate + 32, point.data() + 32, 32);
    return blob;
}

inline ECCPRIVATEKEYBLOB PrivateBlob(EVP_PKEY* key) {
    const Bytes d = PrivateScalar(key);
    ECCPRIVATEKEYBLOB blob{};
    blob.BitLen = 256;
    std::memcpy(blob.PrivateKey + 32, d.data(), 32);
    return blob;
}

// ---- digests and signatures ----

inline Bytes Sm3(const Bytes& data) {
    Bytes out(32);
    unsigned len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_sm3(), nullptr);
    return out;
}

// ZA = SM3(ENTL ‖ ID ‖ a ‖ b ‖ Gx ‖ Gy ‖ X ‖ Y) of GB/T 32918.
inline Bytes Za(const ECCPUBLICKEYBLOB& key, const std::string& id = kSm2Id) {
    Bytes z;
    const size_t bits = id.size() * 8;
    z.push_back(static_cast<BYTE>(bits >> 8));
    z.push_back(static_cast<BYTE>(bits));
    z.insert(z.end(), id.begin(), id.end());
    for (const char* hex : {"FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC",
                            "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93",
                            "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7",
                            "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0"}) {
        const Bytes part = FromHexText(hex);
        z.insert(z.end(), part.begin(), part.end());
    }
    z.insert(z.end(), key.XCoordinate + 32, key.XCoordinate + 64);
    z.insert(z.end(), key.YCoordinate + 32, key.YCoordinate + 64);
    return Sm3(z);
}

// e = SM3(ZA ‖ M), the value the token signs.
inline Bytes SignedDigest(const ECCPUBLICKEYBLOB& key, const Bytes& message) {
    Bytes input = Za(key);
    input.insert(input.end(), message.begin(), message.end());
    return Sm3(input);
}

inline Bytes SignatureDer(const ECCSIGNATUREBLOB& sig) {
    ECDSA_SIG* s = ECDSA_SIG_new();
    ECDSA_SIG_set0(s, BN_bin2bn(sig.r + 32, 32, nullptr), BN_bin2bn(sig.s + 32, 32, nullptr));
    const int len = i2d_ECDSA_SIG(s, nullptr);
    Bytes der(static_cast<size_t>(len));
    unsigned char* p = der.data();
    i2d_ECDSA_SIG(s, &p);
    ECDSA_SIG_free(s);
    return der;
}

inline ECCSIGNATUREBLOB SignatureBlob(const Bytes& der) {
    const unsigned char* p = der.data();
    ECDSA_SIG* s = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
    ECCSIGNATUREBLOB blob{};
    EXPECT_NE(s, nullptr);
    if (s != nullptr) {
        BN_bn2binpad(ECDSA_SIG_get0_r(s), blob.r + 32, 32);
        BN_bn2binpad(ECDSA_SIG_get0_s(s), blob.s + 32, 32);
        ECDSA_SIG_free(s);
    }
    return blob;
}

// A digest-sign or digest-verify context over SM3 with the identifier set (OpenSSL would otherwise
// use an empty identifier).
struct Sm2MessageContext {
    explicit Sm2MessageContext(EVP_PKEY* key) : md(EVP_MD_CTX_new()), pkey(EVP_PKEY_CTX_new(key, nullptr)) {
        EVP_PKEY_CTX_set1_id(pkey, kSm2Id, std::strlen(kSm2Id));
        EVP_MD_CTX_set_pkey_ctx(md, pkey);
    }
    ~Sm2MessageContext() {
        EVP_MD_CTX_free(md);
        EVP_PKEY_CTX_free(pkey);
    }
    EVP_MD_CTX* md;
    EVP_PKEY_CTX* pkey;
};

inline bool OpenSslVerifies(EVP_PKEY* key, const Bytes& message, const ECCSIGNATUREBLOB& sig) {
    Sm2MessageContext ctx(key);
    const Bytes der = SignatureDer(sig);
    return EVP_DigestVerifyInit(ctx.md, nullptr, EVP_sm3(), nullptr, key) == 1 &&
           EVP_DigestVerify(ctx.md, der.data(), der.size(), message.data(), message.size()) == 1;
}

inline ECCSIGNATUREBLOB OpenSslSign(EVP_PKEY* key, const Bytes& message) {
    Sm2MessageContext ctx(key);
    Bytes der(80);
    size_t len = der.size();
    EXPECT_EQ(EVP_DigestSignInit(ctx.md, nullptr, EVP_sm3(), nullptr, key), 1);
    EXPECT_EQ(EVP_DigestSign(ctx.md, der.data(), &len, message.data(), message.size()), 1);
    der.resize(len);
    return SignatureBlob(der);
}

// ---- cipher text ----

// An ECCCIPHERBLOB with room for its cipher bytes.
struct CipherBlob {
    explicit CipherBlob(size_t cipherLen) : bytes(offsetof(ECCCIPHERBLOB, Cipher) + (cipherLen ? cipherLen : 1)) {}
    ECCCIPHERBLOB* get() { return reinterpret_cast<ECCCIPHERBLOB*>(bytes.data()); }
    ULONG CipherLen() const {
        ULONG len = 0;
        std::memcpy(&len, bytes.data() + offsetof(ECCCIPHERBLOB, CipherLen), sizeof len);
        return len;
    }
    Bytes Cipher() const {
        return Bytes(bytes.begin() + offsetof(ECCCIPHERBLOB, Cipher),
                     bytes.begin() + offsetof(ECCCIPHERBLOB, Cipher) + CipherLen());
    }
    Bytes bytes;
};

inline Bytes IntegerField(const ASN1_TYPE* item) {
    Bytes out(32);
    BIGNUM* bn = ASN1_INTEGER_to_BN(item->value.integer, nullptr);
    BN_bn2binpad(bn, out.data(), 32);
    BN_free(bn);
    return out;
}

// OpenSSL's DER cipher text (x, y, C3, C2) as a blob: 32-byte values in bytes 32-63.
inline CipherBlob BlobFromDer(const Bytes& der) {
    const unsigned char* p = der.data();
    STACK_OF(ASN1_TYPE)* items = d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(der.size()));
    EXPECT_NE(items, nullptr);
    EXPECT_EQ(sk_ASN1_TYPE_num(items), 4);
    const ASN1_OCTET_STRING* c3 = sk_ASN1_TYPE_value(items, 2)->value.octet_string;
    const ASN1_OCTET_STRING* c2 = sk_ASN1_TYPE_value(items, 3)->value.octet_string;
    CipherBlob blob(static_cast<size_t>(ASN1_STRING_length(c2)));
    ECCCIPHERBLOB* b = blob.get();
    const Bytes x = IntegerField(sk_ASN1_TYPE_value(items, 0));
    const Bytes y = IntegerField(sk_ASN1_TYPE_value(items, 1));
    std::memcpy(b->XCoordinate + 32, x.data(), 32);
    std::memcpy(b->YCoordinate + 32, y.data(), 32);
    std::memcpy(b->HASH, ASN1_STRING_get0_data(c3), 32);
    const ULONG len = static_cast<ULONG>(ASN1_STRING_length(c2));
    std::memcpy(blob.bytes.data() + offsetof(ECCCIPHERBLOB, CipherLen), &len, sizeof len);
    std::memcpy(blob.bytes.data() + offsetof(ECCCIPHERBLOB, Cipher), ASN1_STRING_get0_data(c2), len);
    sk_ASN1_TYPE_pop_free(items, ASN1_TYPE_free);
    return blob;
}

inline ASN1_TYPE* IntegerItem(const BYTE* value) {
    BIGNUM* bn = BN_bin2bn(value, 32, nullptr);
    ASN1_TYPE* item = ASN1_TYPE_new();
    ASN1_TYPE_set(item, V_ASN1_INTEGER, BN_to_ASN1_INTEGER(bn, nullptr));
    BN_free(bn);
    return item;
}

inline ASN1_TYPE* OctetItem(const BYTE* data, size_t len) {
    ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(s, data, static_cast<int>(len));
    ASN1_TYPE* item = ASN1_TYPE_new();
    ASN1_TYPE_set(item, V_ASN1_OCTET_STRING, s);
    return item;
}

// A blob as OpenSSL's DER cipher text.
inline Bytes DerFromBlob(CipherBlob& blob) {
    ECCCIPHERBLOB* b = blob.get();
    STACK_OF(ASN1_TYPE)* items = sk_ASN1_TYPE_new_null();
    sk_ASN1_TYPE_push(items, IntegerItem(b->XCoordinate + 32));
    sk_ASN1_TYPE_push(items, IntegerItem(b->YCoordinate + 32));
    sk_ASN1_TYPE_push(items, OctetItem(b->HASH, 32));
    const Bytes c2 = blob.Cipher();
    sk_ASN1_TYPE_push(items, OctetItem(c2.data(), c2.size()));
    unsigned char* out = nullptr;
    const int len = i2d_ASN1_SEQUENCE_ANY(items, &out);
    Bytes der(out, out + (len > 0 ? len : 0));
    OPENSSL_free(out);
    sk_ASN1_TYPE_pop_free(items, ASN1_TYPE_free);
    return der;
}

inline Bytes OpenSslEncryptDer(EVP_PKEY* key, const Bytes& plain) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    size_t len = 0;
    EXPECT_EQ(EVP_PKEY_encrypt_init(ctx), 1);
    EXPECT_EQ(EVP_PKEY_encrypt(ctx, nullptr, &len, plain.data(), plain.size()), 1);
    Bytes der(len);
    EXPECT_EQ(EVP_PKEY_encrypt(ctx, der.data(), &len, plain.data(), plain.size()), 1);
    der.resize(len);
    EVP_PKEY_CTX_free(ctx);
    return der;
}

// The plain text, or an empty vector when OpenSSL refuses the cipher text.
inline Bytes OpenSslDecrypt(EVP_PKEY* key, const Bytes& der) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    size_t len = 0;
    Bytes plain;
    if (EVP_PKEY_decrypt_init(ctx) == 1 && EVP_PKEY_decrypt(ctx, nullptr, &len, der.data(), der.size()) == 1) {
        plain.resize(len);
        if (EVP_PKEY_decrypt(ctx, plain.data(), &len, der.data(), der.size()) == 1)
            plain.resize(len);
        else
            plain.clear();
    }
    EVP_PKEY_CTX_free(ctx);
    return plain;
}

// SM4-ECB without padding.
inline Bytes Sm4Ecb(const Bytes& key, const Bytes& data, bool encrypt = true) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(data.size() + 16);
    int len = 0, tail = 0;
    EVP_CipherInit_ex(ctx, EVP_sm4_ecb(), nullptr, key.data(), nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, out.data(), &len, data.data(), static_cast<int>(data.size()));
    EVP_CipherFinal_ex(ctx, out.data() + len, &tail);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(len + tail));
    return out;
}

// ---- the fixture ----

// INS bytes of the SM2 commands.
namespace ecc_ins {
inline constexpr uint8_t kGenKeyPair = 0x70;
inline constexpr uint8_t kImportKeyPair = 0x72;
inline constexpr uint8_t kSign = 0x74;
inline constexpr uint8_t kVerify = 0x76;
inline constexpr uint8_t kExportSessionKey = 0x78;
inline constexpr uint8_t kExtEncrypt = 0x7A;
inline constexpr uint8_t kExtDecrypt = 0x7C;
inline constexpr uint8_t kExtSign = 0x7E;
inline constexpr uint8_t kAgreementData = 0x82;
inline constexpr uint8_t kAgreementDataAndKey = 0x84;
inline constexpr uint8_t kAgreementKey = 0x86;
inline constexpr uint8_t kExportPublicKey = 0x88;
} // namespace ecc_ins

class EccTest : public SkfStorageTest, public ::testing::WithParamInterface<const char*> {
protected:
    std::vector<std::string> PlugOptions() const override { return {"--kind", GetParam()}; }

    void SetUp() override {
        SkfStorageTest::SetUp();
        if (HasFatalFailure())
            return;
        VerifyUserPin();
        ASSERT_EQ(SKF_CreateContainer(m_app, Text("sm2"), &m_container), SAR_OK);
    }

    // A fresh signing key pair in the container; its public key blob.
    ECCPUBLICKEYBLOB GenerateKey(HCONTAINER container = nullptr) {
        ECCPUBLICKEYBLOB blob{};
        EXPECT_EQ(SKF_GenECCKeyPair(container != nullptr ? container : m_container, SGD_SM2_1, &blob), SAR_OK);
        return blob;
    }

    // The commands (hex, without the leading "> ") sent since the trace was last cleared whose INS is
    // the given one.
    std::vector<std::string> CommandsWithIns(uint8_t ins) {
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "> 80%02X", ins);
        std::vector<std::string> found;
        for (const std::string& line : TraceLines(m_token)) {
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line.substr(2));
        }
        return found;
    }

    // Encrypts whole blocks with a session-key handle in ECB mode without padding.
    Bytes EncryptBlocks(HANDLE key, const Bytes& blocks) {
        BLOCKCIPHERPARAM param{};
        param.PaddingType = 0;
        EXPECT_EQ(SKF_EncryptInit(key, param), SAR_OK);
        Bytes out(blocks.size());
        ULONG outLen = static_cast<ULONG>(out.size());
        EXPECT_EQ(
            SKF_Encrypt(key, const_cast<BYTE*>(blocks.data()), static_cast<ULONG>(blocks.size()), out.data(), &outLen),
            SAR_OK);
        out.resize(outLen);
        return out;
    }

    HCONTAINER m_container = nullptr;
};

} // namespace keycore::test
