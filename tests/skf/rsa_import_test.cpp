// Key pairs imported into a container under a session key that is wrapped with the container's
// exchange key: the imported pair becomes the exchange key, and its size follows the length of the
// encrypted pair.
#include "rsa_fixture.h"

#include <openssl/rand.h>

namespace keycore::test {
namespace {

Bytes PkcsOneEncrypt(EVP_PKEY* key, const Bytes& plain) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    Bytes out(static_cast<size_t>(EVP_PKEY_get_size(key)));
    size_t len = out.size();
    EVP_PKEY_encrypt_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    const bool ok = EVP_PKEY_encrypt(ctx, out.data(), &len, plain.data(), plain.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    out.resize(ok ? len : 0);
    return out;
}

Bytes PrivateKeyDer(EVP_PKEY* key) {
    const int len = i2d_PrivateKey(key, nullptr);
    Bytes der(static_cast<size_t>(len));
    unsigned char* p = der.data();
    i2d_PrivateKey(key, &p);
    return der;
}

class RsaImportTest : public RsaTest {
protected:
    void SetUp() override {
        RsaTest::SetUp();
        m_exchange = NewOpenSslKey(2048);
        Bytes der = PrivateKeyDer(m_exchange.get());
        ASSERT_EQ(SKF_ImportCertificate(m_container, 0, der.data(), static_cast<ULONG>(der.size())), SAR_OK);
    }

    // Imports `pair` wrapped for the exchange key `opener`.
    ULONG Import(EVP_PKEY* opener, EVP_PKEY* pair, ULONG* pEncryptedLen = nullptr) {
        Bytes sessionKey(16);
        RAND_bytes(sessionKey.data(), 16);
        Bytes wrapped = PkcsOneEncrypt(opener, sessionKey);
        Bytes encrypted = Sm4EcbWithOpenSsl(sessionKey, PrivateKeyDer(pair), true);
        if (pEncryptedLen != nullptr)
            *pEncryptedLen = static_cast<ULONG>(encrypted.size());
        return SKF_ImportRSAKeyPair(m_container, SGD_SM4_ECB, wrapped.data(), static_cast<ULONG>(wrapped.size()),
                                    encrypted.data(), static_cast<ULONG>(encrypted.size()));
    }

    // The key-size field of the import commands in the trace.
    std::vector<unsigned> ImportedBits() {
        std::vector<unsigned> bits;
        for (const Bytes& c : CommandsWithIns(TraceLines(m_token), rsa_ins::kImportRsaKeyPair)) {
            // 80 56 00 00 | 00 Lc Lc | app (2) container (2) algorithm (4) wrapped length (4) wrapped, bits (4) ...
            const size_t wrappedLen = c[15] << 24 | c[16] << 16 | c[17] << 8 | c[18];
            const size_t at = 19 + wrappedLen;
            bits.push_back(c[at] << 24 | c[at + 1] << 16 | c[at + 2] << 8 | c[at + 3]);
        }
        return bits;
    }

    PkeyPtr m_exchange{nullptr, EVP_PKEY_free};
};

TEST_P(RsaImportTest, ImportedPairReplacesTheExchangeKey) {
    PkeyPtr small = NewOpenSslKey(1024);
    PkeyPtr large = NewOpenSslKey(2048);

    TraceLines(m_token, true);
    ULONG encryptedLen = 0;
    ASSERT_EQ(Import(m_exchange.get(), small.get(), &encryptedLen), SAR_OK);
    EXPECT_LT(encryptedLen, 700u);
    // The old exchange key no longer opens anything; the imported one does.
    EXPECT_EQ(Import(m_exchange.get(), large.get()), SAR_FAIL);
    ASSERT_EQ(Import(small.get(), large.get(), &encryptedLen), SAR_OK);
    EXPECT_GE(encryptedLen, 700u);
    EXPECT_EQ(ImportedBits(), (std::vector<unsigned>{1024, 2048, 2048}));
    ASSERT_EQ(Import(large.get(), small.get()), SAR_OK);
}

TEST_P(RsaImportTest, KeySizeFollowsTheEncryptedLength) {
    Bytes wrapped(256, 0x01);
    for (ULONG len : {699u, 700u}) {
        Bytes encrypted(len, 0x02);
        TraceLines(m_token, true);
        EXPECT_EQ(SKF_ImportRSAKeyPair(m_container, SGD_SM4_ECB, wrapped.data(), 256, encrypted.data(), len), SAR_FAIL)
            << "nothing opens under these bytes";
        EXPECT_EQ(ImportedBits(), (std::vector<unsigned>{len == 699 ? 1024u : 2048u})) << len;
    }
}

TEST_P(RsaImportTest, MissingArguments) {
    Bytes wrapped(256, 0x01);
    Bytes encrypted(640, 0x02);
    int foreign = 0;
    const struct {
        HCONTAINER container;
        ULONG alg;
        BYTE* wrappedKey;
        ULONG wrappedLen;
        BYTE* data;
        ULONG dataLen;
        ULONG expected;
    } cases[] = {
        {nullptr, SGD_SM4_ECB, wrapped.data(), 256, encrypted.data(), 640, SAR_INVALIDPARAMERR},
        {m_container, 0, wrapped.data(), 256, encrypted.data(), 640, SAR_INVALIDPARAMERR},
        {m_container, SGD_SM4_ECB, nullptr, 256, encrypted.data(), 640, SAR_INVALIDPARAMERR},
        {m_container, SGD_SM4_ECB, wrapped.data(), 0, encrypted.data(), 640, SAR_INVALIDPARAMERR},
        {m_container, SGD_SM4_ECB, wrapped.data(), 256, nullptr, 640, SAR_INVALIDPARAMERR},
        {m_container, SGD_SM4_ECB, wrapped.data(), 256, encrypted.data(), 0, SAR_INVALIDPARAMERR},
        {&foreign, SGD_SM4_ECB, wrapped.data(), 256, encrypted.data(), 640, SAR_INVALIDHANDLEERR},
        {m_dev, SGD_SM4_ECB, wrapped.data(), 256, encrypted.data(), 640, SAR_INVALIDHANDLEERR},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(SKF_ImportRSAKeyPair(c.container, c.alg, c.wrappedKey, c.wrappedLen, c.data, c.dataLen), c.expected)
            << "case " << i;
    }
    // Longer than any command can carry: refused below the SKF layer, nothing sent.
    Bytes huge(70000, 0x03);
    EXPECT_EQ(SKF_ImportRSAKeyPair(m_container, SGD_SM4_ECB, wrapped.data(), 256, huge.data(),
                                   static_cast<ULONG>(huge.size())),
              SAR_FAIL);
}

INSTANTIATE_TEST_SUITE_P(Transports, RsaImportTest, ::testing::Values("bot", "hid"));

} // namespace
} // namespace keycore::test
