// Certificates of a container over a virtual token, and the key pairs that arrive through the
// certificate import: export size rules, empty slots, ECC and RSA key pairs, certificates kept as
// certificates, and the status words.
#include "storage_fixture.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <functional>
#include <memory>

namespace keycore::test {
namespace {

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// A small self-signed DER certificate (P-256 key).
std::vector<BYTE> MakeCertificate() {
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("skf test"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    X509_sign(cert.get(), key.get(), EVP_sha256());
    const int len = i2d_X509(cert.get(), nullptr);
    std::vector<BYTE> der(static_cast<size_t>(len));
    unsigned char* p = der.data();
    i2d_X509(cert.get(), &p);
    return der;
}

// 0x04 ‖ X ‖ Y ‖ d of a fresh SM2 key.
std::vector<BYTE> MakeEccKeyPair() {
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "SM2"), EVP_PKEY_free);
    std::vector<BYTE> pair(97);
    size_t pubLen = 0;
    EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, pair.data(), 65, &pubLen);
    BIGNUM* d = nullptr;
    EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &d);
    BN_bn2binpad(d, pair.data() + 65, 32);
    BN_clear_free(d);
    EXPECT_EQ(pubLen, 65u);
    return pair;
}

// PKCS #1 RSAPrivateKey of a fresh key.
std::vector<BYTE> MakeRsaKey(unsigned bits) {
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)), EVP_PKEY_free);
    const int len = i2d_PrivateKey(key.get(), nullptr);
    std::vector<BYTE> der(static_cast<size_t>(len));
    unsigned char* p = der.data();
    i2d_PrivateKey(key.get(), &p);
    return der;
}

class CertificateTest : public SkfStorageTest {
protected:
    void SetUp() override {
        SkfStorageTest::SetUp();
        VerifyUserPin();
        ASSERT_EQ(SKF_CreateContainer(m_app, Text("certs"), &m_container), SAR_OK);
    }

    ULONG ContainerType() {
        ULONG type = 99;
        EXPECT_EQ(SKF_GetContainerType(m_container, &type), SAR_OK);
        return type;
    }

    // P1 (key type), P2 (usage) and the key-size field of the wrapped key-pair import commands sent.
    struct WrappedImport {
        unsigned keyType;
        unsigned usage;
        unsigned bits;
    };
    std::vector<WrappedImport> WrappedImports() {
        std::vector<WrappedImport> imports;
        for (const std::string& line : TraceLines(m_token)) {
            if (line.rfind("> 8057", 0) != 0)
                continue;
            const vtoken::test::Bytes c = vtoken::test::FromHex(line.substr(2));
            // 80 57 P1 P2 | 00 Lc Lc | app (2) container (2) algorithm (4) key index (2) bits (4) ...
            if (c.size() < 21)
                continue;
            const unsigned bits = c[17] << 24 | c[18] << 16 | c[19] << 8 | c[20];
            imports.push_back({c[2], c[3], bits});
        }
        return imports;
    }

    HCONTAINER m_container = nullptr;
};

TEST_F(CertificateTest, DerCertificateIsStoredAndExportedWithSizeRules) {
    std::vector<BYTE> cert = MakeCertificate();
    ASSERT_GT(cert.size(), 100u);
    ASSERT_EQ(SKF_ImportCertificate(m_container, 1, cert.data(), static_cast<ULONG>(cert.size())), SAR_OK);
    EXPECT_EQ(ContainerType(), 0u) << "a certificate is not a key pair";

    ULONG len = 0;
    ASSERT_EQ(SKF_ExportCertificate(m_container, 1, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, cert.size());

    std::vector<BYTE> out(cert.size() + 8, 0xEE);
    ULONG shortLen = static_cast<ULONG>(cert.size() - 1);
    EXPECT_EQ(SKF_ExportCertificate(m_container, 1, out.data(), &shortLen), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortLen, cert.size()) << "the needed length is reported";
    EXPECT_EQ(out[0], 0xEE);

    ULONG bigLen = static_cast<ULONG>(out.size());
    ASSERT_EQ(SKF_ExportCertificate(m_container, 1, out.data(), &bigLen), SAR_OK);
    EXPECT_EQ(bigLen, cert.size());
    EXPECT_TRUE(std::equal(cert.begin(), cert.end(), out.begin()));
    EXPECT_EQ(out[cert.size()], 0) << "the rest of the buffer is zeroed";

    EXPECT_EQ(SKF_ExportCertificate(m_container, 0, nullptr, &len), SAR_CERTNOTFOUNTERR) << "exchange slot empty";
}

TEST_F(CertificateTest, EccKeyPairOfNinetySevenBytesBecomesTheSigningKey) {
    std::vector<BYTE> pair = MakeEccKeyPair();
    TraceLines(m_token, true);
    ASSERT_EQ(SKF_ImportCertificate(m_container, 1, pair.data(), static_cast<ULONG>(pair.size())), SAR_OK);
    EXPECT_EQ(ContainerType(), 2u);
    const std::vector<WrappedImport> imports = WrappedImports();
    ASSERT_EQ(imports.size(), 1u);
    EXPECT_EQ(imports[0].keyType, 2u);
    EXPECT_EQ(imports[0].usage, 0u) << "signing";
    EXPECT_EQ(imports[0].bits, 256u);
    ULONG len = 0;
    EXPECT_EQ(SKF_ExportCertificate(m_container, 1, nullptr, &len), SAR_CERTNOTFOUNTERR) << "no certificate stored";
    // The import command carries the private key wrapped, not in the clear.
    const std::string d = vtoken::test::Hex(vtoken::test::Bytes(pair.begin() + 65, pair.end()));
    for (const std::string& line : TraceLines(m_token)) {
        if (line.rfind("> 8057", 0) == 0) {
            EXPECT_EQ(line.find(d), std::string::npos) << line;
        }
    }
}

TEST_F(CertificateTest, DerRsaKeyBecomesTheExchangeKeyWithItsModulusSize) {
    std::vector<BYTE> key = MakeRsaKey(2048);
    // The modulus INTEGER carries a leading zero: 257 content bytes, a 2048-bit key.
    TraceLines(m_token, true);
    ASSERT_EQ(SKF_ImportCertificate(m_container, 0, key.data(), static_cast<ULONG>(key.size())), SAR_OK);
    EXPECT_EQ(ContainerType(), 1u);
    const std::vector<WrappedImport> imports = WrappedImports();
    ASSERT_EQ(imports.size(), 1u);
    EXPECT_EQ(imports[0].keyType, 1u);
    EXPECT_EQ(imports[0].usage, 1u) << "exchange";
    EXPECT_EQ(imports[0].bits, 2048u);
}

// The key pair is sent only wrapped: when the token refuses the wrapping key or the encryption, the
// import stops there with that refusal and no import command leaves.
TEST_F(CertificateTest, KeyPairImportStopsWhenTheWrappingFails) {
    std::vector<BYTE> pair = MakeEccKeyPair();
    const struct {
        uint8_t ins;
        uint16_t status;
        ULONG expected;
    } cases[] = {
        {0xA2, 0x6982, SAR_USER_NOT_LOGGED_IN}, // setting the wrapping key
        {0xA6, 0x6A80, SAR_INDATAERR},          // encrypting
    };
    for (const auto& c : cases) {
        TraceLines(m_token, true);
        ForceStatus(c.ins, c.status);
        EXPECT_EQ(SKF_ImportCertificate(m_container, 1, pair.data(), static_cast<ULONG>(pair.size())), c.expected);
        EXPECT_TRUE(WrappedImports().empty());
        EXPECT_EQ(ContainerType(), 0u);
    }
    // A container moved away from by another process is re-opened before the wrapping key is set.
    ForceStatus(0xA2, 0x6A94);
    EXPECT_EQ(SKF_ImportCertificate(m_container, 1, pair.data(), static_cast<ULONG>(pair.size())), SAR_OK);
    EXPECT_EQ(ContainerType(), 2u);
}

TEST_F(CertificateTest, MalformedKeyEncodings) {
    // A modulus length in three bytes (0x83) is refused outright.
    std::vector<BYTE> bad = {0x30, 0x82, 0x01, 0x0A, 0x02, 0x01, 0x00, 0x02, 0x83, 0x00, 0x01, 0x01, 0x00};
    bad.resize(270, 0x11);
    EXPECT_EQ(SKF_ImportCertificate(m_container, 1, bad.data(), static_cast<ULONG>(bad.size())), SAR_INDATAERR);

    // Encodings that only start like a key (lengths pointing past the end, 97 bytes not starting with
    // 0x04) are stored as certificates, never read beyond their length.
    const std::vector<std::vector<BYTE>> certificates = {
        {0x30, 0x82, 0x01, 0x0A, 0x02, 0x01, 0x00, 0x02, 0x82, 0x7F, 0xFF, 0x00},
        {0x30, 0x81, 0x20, 0x02, 0x7F, 0x00},
        {0x30, 0x05, 0x02},
        std::vector<BYTE>(97, 0x05),
    };
    for (const std::vector<BYTE>& payload : certificates) {
        std::vector<BYTE> copy = payload;
        ASSERT_EQ(SKF_ImportCertificate(m_container, 1, copy.data(), static_cast<ULONG>(copy.size())), SAR_OK);
        ULONG len = 0;
        ASSERT_EQ(SKF_ExportCertificate(m_container, 1, nullptr, &len), SAR_OK);
        EXPECT_EQ(len, payload.size());
    }
    EXPECT_EQ(ContainerType(), 0u);
}

TEST_F(CertificateTest, MissingArgumentsAreRefused) {
    BYTE data[4] = {};
    ULONG len = 0;
    EXPECT_EQ(SKF_ImportCertificate(nullptr, 1, data, 4), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ImportCertificate(m_container, 1, nullptr, 4), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ImportCertificate(m_container, 1, data, 0), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExportCertificate(nullptr, 1, data, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExportCertificate(m_container, 1, data, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExportCertificate(&len, 1, data, &len), SAR_INVALIDHANDLEERR);
    // A certificate too long for the import command is refused below the SKF layer.
    std::vector<BYTE> huge(70000, 0x30);
    EXPECT_EQ(SKF_ImportCertificate(m_container, 1, huge.data(), static_cast<ULONG>(huge.size())), SAR_FAIL);
}

TEST_F(CertificateTest, StatusWordsAndTheContainerReopen) {
    std::vector<BYTE> cert = MakeCertificate();
    ASSERT_EQ(SKF_ImportCertificate(m_container, 1, cert.data(), static_cast<ULONG>(cert.size())), SAR_OK);
    ULONG len = 0;
    const std::function<ULONG()> import = [&] {
        return SKF_ImportCertificate(m_container, 1, cert.data(), static_cast<ULONG>(cert.size()));
    };
    const std::function<ULONG()> exportLen = [&] { return SKF_ExportCertificate(m_container, 1, nullptr, &len); };
    struct Case {
        const char* what;
        std::vector<std::pair<uint8_t, uint16_t>> forced;
        const std::function<ULONG()>* call;
        ULONG expected;
    } cases[] = {
        {"import 6A88", {{ins::kImportCertificate, 0x6A88}}, &import, SAR_OBJERR},
        {"import 6A95", {{ins::kImportCertificate, 0x6A95}}, &import, SAR_OBJERR},
        {"import 6982", {{ins::kImportCertificate, 0x6982}}, &import, SAR_FAIL},
        {"import, container re-opened", {{ins::kImportCertificate, 0x6A94}}, &import, SAR_OK},
        {"export 6A88", {{ins::kExportCertificate, 0x6A88}}, &exportLen, SAR_OBJERR},
        {"export 6A95", {{ins::kExportCertificate, 0x6A95}}, &exportLen, SAR_OBJERR},
        {"export 6A96", {{ins::kExportCertificate, 0x6A96}}, &exportLen, SAR_CERTNOTFOUNTERR},
        {"export 0002", {{ins::kExportCertificate, 0x0002}}, &exportLen, SAR_MEMORYERR},
        {"export, container re-opened", {{ins::kExportCertificate, 0x6A94}}, &exportLen, SAR_OK},
        {"export, re-open on both attempts",
         {{ins::kExportCertificate, 0x6A94}, {ins::kExportCertificate, 0x6A94}},
         &exportLen,
         SAR_FAIL},
        {"export, 698A on both attempts",
         {{ins::kExportCertificate, 0x698A}, {ins::kExportCertificate, 0x698A}},
         &exportLen,
         SAR_FAIL},
        {"export, re-open fails",
         {{ins::kExportCertificate, 0x6A94}, {ins::kOpenContainer, 0x6A91}},
         &exportLen,
         SAR_FILE_NOT_EXIST},
        {"export, re-select fails",
         {{ins::kExportCertificate, 0x698A}, {ins::kOpenApplication, 0x6A8B}},
         &exportLen,
         SAR_APPLICATION_NOT_EXISTS},
    };
    for (const Case& c : cases) {
        for (const auto& [code, status] : c.forced)
            ForceStatus(code, status);
        EXPECT_EQ((*c.call)(), c.expected) << c.what;
        Fault(m_token, {"clear"});
    }
    ASSERT_EQ(SKF_ExportCertificate(m_container, 1, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, cert.size());
}

} // namespace
} // namespace keycore::test
