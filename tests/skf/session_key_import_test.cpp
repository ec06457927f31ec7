// Session keys wrapped by OpenSSL under a container's exchange key (RSA PKCS #1 v1.5, or SM2 as an
// ECCCIPHERBLOB) and imported with SKF_ImportSessionKey: the bytes the token receives, and a handle
// that encrypts like OpenSSL with the key that was wrapped.
#include "cipher_support.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

namespace keycore::test {
namespace {

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

constexpr size_t kEccBlobHeader = 164;

ByteVec PrivateKeyDer(EVP_PKEY* key) {
    const int len = i2d_PrivateKey(key, nullptr);
    ByteVec der(static_cast<size_t>(len));
    unsigned char* p = der.data();
    i2d_PrivateKey(key, &p);
    return der;
}

// 0x04 ‖ X ‖ Y ‖ d, the key-pair form the certificate import recognises.
ByteVec Sm2KeyPairBytes(EVP_PKEY* key) {
    ByteVec pair(97);
    size_t pubLen = 0;
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, pair.data(), 65, &pubLen);
    BIGNUM* d = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d);
    BN_bn2binpad(d, pair.data() + 65, 32);
    BN_clear_free(d);
    EXPECT_EQ(pubLen, 65u);
    return pair;
}

ByteVec OpenSslEncrypt(EVP_PKEY* key, const ByteVec& plain, bool rsaPkcs1) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    EXPECT_EQ(EVP_PKEY_encrypt_init(ctx.get()), 1);
    if (rsaPkcs1) {
        EXPECT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING), 1);
    }
    size_t len = 0;
    EXPECT_EQ(EVP_PKEY_encrypt(ctx.get(), nullptr, &len, plain.data(), plain.size()), 1);
    ByteVec out(len);
    EXPECT_EQ(EVP_PKEY_encrypt(ctx.get(), out.data(), &len, plain.data(), plain.size()), 1);
    out.resize(len);
    return out;
}

// OpenSSL's SM2 cipher text (DER: x, y, C3, C2) as an ECCCIPHERBLOB with 32-byte values right-aligned.
ByteVec EccCipherBlob(const ByteVec& der) {
    const unsigned char* p = der.data();
    std::unique_ptr<ASN1_SEQUENCE_ANY, void (*)(ASN1_SEQUENCE_ANY*)> seq(
        d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(der.size())),
        [](ASN1_SEQUENCE_ANY* s) { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); });
    EXPECT_TRUE(seq != nullptr);
    EXPECT_EQ(sk_ASN1_TYPE_num(seq.get()), 4);
    const ASN1_OCTET_STRING* c2 = sk_ASN1_TYPE_value(seq.get(), 3)->value.octet_string;
    ByteVec blob(kEccBlobHeader + static_cast<size_t>(ASN1_STRING_length(c2)), 0);
    for (int i = 0; i < 2; ++i) {
        BIGNUM* coordinate = ASN1_INTEGER_to_BN(sk_ASN1_TYPE_value(seq.get(), i)->value.integer, nullptr);
        BN_bn2binpad(coordinate, blob.data() + 64 * i + 32, 32);
        BN_free(coordinate);
    }
    const ASN1_OCTET_STRING* c3 = sk_ASN1_TYPE_value(seq.get(), 2)->value.octet_string;
    EXPECT_EQ(ASN1_STRING_length(c3), 32);
    std::memcpy(blob.data() + 128, ASN1_STRING_get0_data(c3), 32);
    const uint32_t c2Len = static_cast<uint32_t>(ASN1_STRING_length(c2));
    std::memcpy(blob.data() + 160, &c2Len, 4);
    std::memcpy(blob.data() + kEccBlobHeader, ASN1_STRING_get0_data(c2), c2Len);
    return blob;
}

class SessionKeyImportTest : public SessionKeyTest {
protected:
    void SetUp() override {
        SessionKeyTest::SetUp();
        VerifyUserPin();
        ASSERT_EQ(SKF_CreateContainer(m_app, Text("wrap"), &m_container), SAR_OK);
    }

    // The exchange key pair of the container, by the certificate import's key-pair path.
    void ImportExchangeKey(const ByteVec& keyPair) {
        ASSERT_EQ(SKF_ImportCertificate(m_container, 0, const_cast<BYTE*>(keyPair.data()),
                                        static_cast<ULONG>(keyPair.size())),
                  SAR_OK);
    }

    // The wrapped-key field of the import commands sent since the trace was cleared.
    std::vector<ByteVec> SentWrappedKeys() {
        std::vector<ByteVec> keys;
        for (const auto& c : CommandsWithIns(TraceLines(m_token), ins::kImportSessionKey)) {
            // 80 A0 00 00 | 00 Lc Lc | app (2) ctr (2) algorithm (4) length (4) wrapped ... 00 02
            if (c.size() < 21)
                continue;
            const size_t len = static_cast<size_t>(c[15]) << 24 | c[16] << 16 | c[17] << 8 | c[18];
            if (19 + len <= c.size())
                keys.emplace_back(c.begin() + 19, c.begin() + 19 + static_cast<std::ptrdiff_t>(len));
        }
        return keys;
    }

    // The imported handle encrypts like OpenSSL with the session key.
    void ExpectEncryptsWith(HANDLE handle, ULONG algId) {
        const bool cbc = algId == SGD_SM4_CBC;
        const ByteVec plain = Pattern(40, 21);
        ASSERT_EQ(SKF_EncryptInit(handle, CipherParam(cbc ? m_iv : ByteVec(), 1)), SAR_OK);
        ByteVec out(64);
        ULONG len = 64;
        ASSERT_EQ(SKF_Encrypt(handle, const_cast<BYTE*>(plain.data()), 40, out.data(), &len), SAR_OK);
        out.resize(len);
        EXPECT_EQ(out, OpenSslSm4(cbc, true, true, m_sessionKey, m_iv, plain));
    }

    ByteVec m_sessionKey = Pattern(16, 33);
};

TEST_F(SessionKeyImportTest, RsaWrappedKeyIsSentAsGivenAndEncrypts) {
    for (const unsigned bits : {2048u, 1024u}) {
        SCOPED_TRACE(bits);
        PkeyPtr rsa(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)), EVP_PKEY_free);
        ImportExchangeKey(PrivateKeyDer(rsa.get()));
        ByteVec wrapped = OpenSslEncrypt(rsa.get(), m_sessionKey, true);
        ASSERT_EQ(wrapped.size(), bits / 8);
        TraceLines(m_token, true);
        HANDLE key = nullptr;
        ASSERT_EQ(
            SKF_ImportSessionKey(m_container, SGD_SM4_CBC, wrapped.data(), static_cast<ULONG>(wrapped.size()), &key),
            SAR_OK);
        const std::vector<ByteVec> sent = SentWrappedKeys();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], wrapped);
        ExpectEncryptsWith(key, SGD_SM4_CBC);
    }
}

TEST_F(SessionKeyImportTest, Sm2WrappedKeyBecomesTheTokensCipherForm) {
    PkeyPtr sm2(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"), EVP_PKEY_free);
    ASSERT_TRUE(sm2 != nullptr);
    ImportExchangeKey(Sm2KeyPairBytes(sm2.get()));
    ByteVec blob = EccCipherBlob(OpenSslEncrypt(sm2.get(), m_sessionKey, false));
    ASSERT_EQ(blob.size(), kEccBlobHeader + 16);
    TraceLines(m_token, true);
    HANDLE key = nullptr;
    ASSERT_EQ(SKF_ImportSessionKey(m_container, SGD_SM4_ECB, blob.data(), static_cast<ULONG>(blob.size()), &key),
              SAR_OK);
    const std::vector<ByteVec> sent = SentWrappedKeys();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].size(), 120u);
    ByteVec expected = {0x00, 0x00, 0x01, 0x00};
    expected.insert(expected.end(), blob.begin() + 32, blob.begin() + 64);
    expected.insert(expected.end(), blob.begin() + 96, blob.begin() + 128);
    expected.insert(expected.end(), blob.begin() + 128, blob.begin() + 160);
    expected.insert(expected.end(), {0x00, 0x00, 0x00, 0x10});
    expected.insert(expected.end(), blob.begin() + 164, blob.end());
    EXPECT_EQ(sent[0], expected);
    ExpectEncryptsWith(key, SGD_SM4_ECB);

    // Trailing bytes after the blob do not change the choice or the form.
    blob.resize(blob.size() + 20, 0xAB);
    HANDLE again = nullptr;
    ASSERT_EQ(SKF_ImportSessionKey(m_container, SGD_SM4_ECB, blob.data(), static_cast<ULONG>(blob.size()), &again),
              SAR_OK);
    ExpectEncryptsWith(again, SGD_SM4_ECB);
}

TEST_F(SessionKeyImportTest, ShortEccBlobIsRefusedBeforeAnythingIsSent) {
    ByteVec blob(kEccBlobHeader + 16, 0x11);
    const uint32_t sixteen = 16;
    std::memcpy(blob.data() + 160, &sixteen, 4);
    TraceLines(m_token, true);
    HANDLE key = nullptr;
    EXPECT_EQ(SKF_ImportSessionKey(m_container, SGD_SM4_ECB, blob.data(), kEccBlobHeader + 15, &key), SAR_INDATALENERR);
    EXPECT_EQ(key, nullptr);
    EXPECT_TRUE(SentWrappedKeys().empty());
}

TEST_F(SessionKeyImportTest, StatusWordsOfTheImport) {
    PkeyPtr rsa(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024)), EVP_PKEY_free);
    ImportExchangeKey(PrivateKeyDer(rsa.get()));
    ByteVec wrapped = OpenSslEncrypt(rsa.get(), m_sessionKey, true);
    const auto import = [&](HANDLE* key) {
        return SKF_ImportSessionKey(m_container, SGD_SM4_ECB, wrapped.data(), static_cast<ULONG>(wrapped.size()), key);
    };
    const struct {
        uint16_t status;
        ULONG expected;
    } cases[] = {{0x6A84, SAR_NO_ROOM},
                 {0x6A88, SAR_OBJERR},
                 {0x6A95, SAR_KEYNOTFOUNTERR},
                 {0x6982, SAR_USER_NOT_LOGGED_IN},
                 {0x6A80, SAR_INDATAERR},
                 {0x6F00, SAR_FAIL},
                 {0x6A94, SAR_OK},
                 {0x698A, SAR_OK}};
    for (const auto& c : cases) {
        ForceStatus(ins::kImportSessionKey, c.status);
        HANDLE key = nullptr;
        EXPECT_EQ(import(&key), c.expected) << std::hex << c.status;
        EXPECT_EQ(key != nullptr, c.expected == SAR_OK) << std::hex << c.status;
    }
    // A key wrapped for another key pair is refused by the token.
    PkeyPtr other(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024)), EVP_PKEY_free);
    wrapped = OpenSslEncrypt(other.get(), m_sessionKey, true);
    HANDLE key = nullptr;
    EXPECT_NE(import(&key), SAR_OK);
    EXPECT_EQ(key, nullptr);
}

} // namespace
} // namespace keycore::test
