#include "runtime/certificate_modulus.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/runtime/util_test_certificates.h"

namespace keycore {
namespace {

class CertificateModulusTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_key = testing::MakeRsaKey(1024);
        ASSERT_TRUE(m_key);
        m_cert = testing::MakeSelfSignedCertificate(m_key.get());
        ASSERT_FALSE(m_cert.der.empty());
        m_modulus = testing::RsaModulus(m_key.get());
        ASSERT_EQ(m_modulus.size(), 128u);
    }

    testing::PkeyPtr m_key;
    testing::TestCertificate m_cert;
    std::vector<unsigned char> m_modulus;
};

TEST_F(CertificateModulusTest, GivesTheBigEndianModulus) {
    for (size_t room : {size_t{128}, size_t{300}}) {
        std::vector<unsigned char> out(room, 0xEE);
        size_t length = room;
        ASSERT_EQ(CertificateModulus(m_cert.der.data(), m_cert.der.size(), out.data(), &length), CKR_OK);
        EXPECT_EQ(length, m_modulus.size());
        EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + 128), m_modulus);
    }
}

TEST_F(CertificateModulusTest, NullOutputReportsTheLengthOnly) {
    size_t length = 0;
    ASSERT_EQ(CertificateModulus(m_cert.der.data(), m_cert.der.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 128u);
}

TEST_F(CertificateModulusTest, SmallOutputIsRefusedAndLeftAlone) {
    std::vector<unsigned char> out(127, 0xEE);
    size_t length = out.size();
    EXPECT_EQ(CertificateModulus(m_cert.der.data(), m_cert.der.size(), out.data(), &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 127u);
    EXPECT_EQ(out, std::vector<unsigned char>(127, 0xEE));
}

TEST_F(CertificateModulusTest, BadArguments) {
    std::vector<unsigned char> out(256);
    size_t length = out.size();
    EXPECT_EQ(CertificateModulus(nullptr, m_cert.der.size(), out.data(), &length), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(CertificateModulus(m_cert.der.data(), 0, out.data(), &length), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(CertificateModulus(m_cert.der.data(), m_cert.der.size(), out.data(), nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(length, out.size());
}

TEST_F(CertificateModulusTest, UnparsableCertificatesAreInconsistent) {
    std::vector<unsigned char> corrupted = m_cert.der;
    corrupted[1] ^= 0x01; // outer length no longer matches
    std::vector<unsigned char> garbage(200, 0x5A);
    const std::vector<unsigned char> cases[] = {
        std::vector<unsigned char>(m_cert.der.begin(), m_cert.der.begin() + m_cert.der.size() / 2),
        std::vector<unsigned char>(m_cert.der.begin(), m_cert.der.begin() + 1),
        corrupted,
        garbage,
    };
    for (const auto& der : cases) {
        std::vector<unsigned char> out(256, 0xEE);
        size_t length = out.size();
        EXPECT_EQ(CertificateModulus(der.data(), der.size(), out.data(), &length), CKR_TEMPLATE_INCONSISTENT)
            << der.size();
        EXPECT_EQ(length, out.size());
    }
}

TEST(CertificateModulusKeyTypeTest, NonRsaKeyHasNoModulus) {
    auto key = testing::MakeEcKey();
    ASSERT_TRUE(key);
    testing::TestCertificate cert = testing::MakeSelfSignedCertificate(key.get());
    ASSERT_FALSE(cert.der.empty());
    size_t length = 0;
    EXPECT_EQ(CertificateModulus(cert.der.data(), cert.der.size(), nullptr, &length), CKR_TEMPLATE_INCONSISTENT);
}

} // namespace
} // namespace keycore
