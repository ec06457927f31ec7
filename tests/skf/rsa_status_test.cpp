// The status words of the RSA commands through each function's own table (unlisted words are a plain
// failure, not the common translation), and the re-select loop of the container functions.
#include "rsa_fixture.h"

#include <functional>

namespace keycore::test {
namespace {

class RsaStatusTest : public RsaTest {
protected:
    void SetUp() override {
        RsaTest::SetUp();
        m_signingKey = GenerateSigningKey(1024);
        m_receiver = NewOpenSslKey(1024);
        m_receiverBlob = PublicBlobOf(m_receiver.get());
    }

    RSAPUBLICKEYBLOB m_signingKey = {};
    PkeyPtr m_receiver{nullptr, EVP_PKEY_free};
    RSAPUBLICKEYBLOB m_receiverBlob = {};
};

struct StatusCase {
    const char* what;
    std::vector<std::pair<uint8_t, uint16_t>> forced;
    ULONG expected;
};

TEST_P(RsaStatusTest, ContainerFunctionTables) {
    Bytes digest = Digest(EVP_sha1(), "status");
    Bytes pair(36, 0x24);
    Bytes wrapped(128, 0x01);
    Bytes encrypted(640, 0x02);
    RSAPUBLICKEYBLOB generated = {};
    const std::function<ULONG()> generate = [&] { return SKF_GenRSAKeyPair(m_container, 1024, &generated); };
    const std::function<ULONG()> import = [&] {
        return SKF_ImportRSAKeyPair(m_container, SGD_SM4_ECB, wrapped.data(), 128, encrypted.data(), 640);
    };
    const std::function<ULONG()> sign = [&] {
        ULONG len = 0;
        return SKF_RSASignData(m_container, digest.data(), 20, nullptr, &len);
    };
    const std::function<ULONG()> signPadded = [&] {
        ULONG len = 0;
        return SKF_RSASignData(m_container, pair.data(), 36, nullptr, &len);
    };
    HANDLE key = nullptr;
    const std::function<ULONG()> exportKey = [&] {
        Bytes out(128);
        ULONG len = 128;
        return SKF_RSAExportSessionKey(m_container, SGD_SM4_ECB, &m_receiverBlob, out.data(), &len, &key);
    };
    using namespace rsa_ins;
    const struct {
        const std::function<ULONG()>* call;
        std::vector<StatusCase> cases;
    } tables[] = {
        {&generate,
         {{"6581", {{kGenRsaKeyPair, 0x6581}}, SAR_DEVICE_REMOVED},
          {"6982", {{kGenRsaKeyPair, 0x6982}}, SAR_USER_NOT_LOGGED_IN},
          {"6A81", {{kGenRsaKeyPair, 0x6A81}}, SAR_NOTSUPPORTYETERR},
          {"6A84", {{kGenRsaKeyPair, 0x6A84}}, SAR_NO_ROOM},
          {"6A88", {{kGenRsaKeyPair, 0x6A88}}, SAR_OBJERR},
          {"6A95", {{kGenRsaKeyPair, 0x6A95}}, SAR_OBJERR},
          {"6A80 unlisted", {{kGenRsaKeyPair, 0x6A80}}, SAR_FAIL},
          {"6983 unlisted", {{kGenRsaKeyPair, 0x6983}}, SAR_FAIL}}},
        {&import,
         {{"6982", {{kImportRsaKeyPair, 0x6982}}, SAR_USER_NOT_LOGGED_IN},
          {"6A84", {{kImportRsaKeyPair, 0x6A84}}, SAR_NO_ROOM},
          {"6A88", {{kImportRsaKeyPair, 0x6A88}}, SAR_OBJERR},
          {"6581 unlisted", {{kImportRsaKeyPair, 0x6581}}, SAR_FAIL},
          {"6A95 unlisted", {{kImportRsaKeyPair, 0x6A95}}, SAR_FAIL},
          {"re-open on both attempts", {{kImportRsaKeyPair, 0x6A94}, {kImportRsaKeyPair, 0x6A94}}, SAR_FAIL},
          {"re-open fails", {{kImportRsaKeyPair, 0x6A94}, {ins::kOpenContainer, 0x6A91}}, SAR_FILE_NOT_EXIST},
          {"re-select fails",
           {{kImportRsaKeyPair, 0x698A}, {ins::kOpenApplication, 0x6A8B}},
           SAR_APPLICATION_NOT_EXISTS}}},
        {&sign,
         {{"6982", {{kRsaSignData, 0x6982}}, SAR_USER_NOT_LOGGED_IN},
          {"6A88", {{kRsaSignData, 0x6A88}}, SAR_OBJERR},
          {"0150", {{kRsaSignData, 0x0150}}, SAR_BUFFER_TOO_SMALL},
          {"6A84 unlisted", {{kRsaSignData, 0x6A84}}, SAR_FAIL},
          {"6700 unlisted", {{kRsaSignData, 0x6700}}, SAR_FAIL}}},
        {&signPadded,
         {{"info 6A88", {{ins::kContainerInfo, 0x6A88}}, SAR_OBJERR},
          {"info 6A91", {{ins::kContainerInfo, 0x6A91}}, SAR_FILE_NOT_EXIST},
          {"info 6A80", {{ins::kContainerInfo, 0x6A80}}, SAR_FAIL},
          {"info, application re-selected", {{ins::kContainerInfo, 0x698A}}, SAR_OK},
          {"sign 6982", {{kRsaSignData, 0x6982}}, SAR_USER_NOT_LOGGED_IN}}},
        {&exportKey,
         {{"6581", {{kRsaExportSessionKey, 0x6581}}, SAR_DEVICE_REMOVED},
          {"6982", {{kRsaExportSessionKey, 0x6982}}, SAR_USER_NOT_LOGGED_IN},
          {"6A81", {{kRsaExportSessionKey, 0x6A81}}, SAR_NOTSUPPORTYETERR},
          {"6A84", {{kRsaExportSessionKey, 0x6A84}}, SAR_NO_ROOM},
          {"6A88", {{kRsaExportSessionKey, 0x6A88}}, SAR_OBJERR},
          {"6A95", {{kRsaExportSessionKey, 0x6A95}}, SAR_OBJERR},
          {"6A80 unlisted", {{kRsaExportSessionKey, 0x6A80}}, SAR_FAIL}}},
    };
    for (const auto& table : tables) {
        for (const StatusCase& c : table.cases) {
            Fault(m_token, {"clear"});
            for (const auto& [insByte, status] : c.forced)
                ForceStatus(insByte, status);
            key = nullptr;
            EXPECT_EQ((*table.call)(), c.expected) << c.what;
            if (table.call == &exportKey && c.expected != SAR_OK) {
                EXPECT_EQ(key, nullptr) << c.what;
            }
        }
    }
}

// Every container function recovers from an application or container that another process moved
// away from: one re-selection or re-opening, then the second attempt; two recoveries in a row give up.
TEST_P(RsaStatusTest, ReselectLoopOfEveryContainerFunction) {
    Bytes digest = Digest(EVP_sha256(), "loop");
    RSAPUBLICKEYBLOB generated = {};
    HANDLE key = nullptr;
    Bytes exported(128);
    const struct {
        const char* what;
        uint8_t insByte;
        std::function<ULONG()> call;
    } functions[] = {
        {"generate", rsa_ins::kGenRsaKeyPair, [&] { return SKF_GenRSAKeyPair(m_container, 1024, &generated); }},
        {"sign", rsa_ins::kRsaSignData,
         [&] {
             ULONG len = 0;
             return SKF_RSASignData(m_container, digest.data(), 32, nullptr, &len);
         }},
        {"export", rsa_ins::kRsaExportSessionKey,
         [&] {
             ULONG len = 128;
             return SKF_RSAExportSessionKey(m_container, SGD_SM4_ECB, &m_receiverBlob, exported.data(), &len, &key);
         }},
    };
    for (const auto& f : functions) {
        SCOPED_TRACE(f.what);
        const StatusCase cases[] = {
            {"container re-opened", {{f.insByte, 0x6A94}}, SAR_OK},
            {"application re-selected", {{f.insByte, 0x698A}}, SAR_OK},
            {"re-open on both attempts", {{f.insByte, 0x6A94}, {f.insByte, 0x6A94}}, SAR_FAIL},
            {"re-select on both attempts", {{f.insByte, 0x698A}, {f.insByte, 0x698A}}, SAR_FAIL},
            {"re-open fails", {{f.insByte, 0x6A94}, {ins::kOpenContainer, 0x6A91}}, SAR_FILE_NOT_EXIST},
            {"re-select fails", {{f.insByte, 0x698A}, {ins::kOpenApplication, 0x6A8B}}, SAR_APPLICATION_NOT_EXISTS},
        };
        for (const StatusCase& c : cases) {
            Fault(m_token, {"clear"});
            for (const auto& [insByte, status] : c.forced)
                ForceStatus(insByte, status);
            TraceLines(m_token, true);
            EXPECT_EQ(f.call(), c.expected) << c.what;
            const std::vector<std::string> trace = TraceLines(m_token);
            const auto count = [&](const char* prefix) {
                return std::count_if(trace.begin(), trace.end(),
                                     [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
            };
            if (c.expected == SAR_OK) {
                EXPECT_EQ(count("> 8042"), 1) << c.what << ": one re-opening of the container";
                EXPECT_EQ(count("> 8026"), c.forced[0].second == 0x698A ? 1 : 0) << c.what;
            }
        }
    }
    // The handle of a successful export after a re-open works like any other.
    EXPECT_NE(key, nullptr);
}

// The functions on external keys know no recovery: any refusal is a plain failure.
TEST_P(RsaStatusTest, ExternalKeyFunctionsFailPlainly) {
    RSAPRIVATEKEYBLOB pri = PrivateBlobOf(m_receiver.get());
    Bytes block(128, 0x05);
    block[0] = 0x00;
    Bytes digest = Digest(EVP_sha1(), "verify");
    Bytes out(128);
    ULONG len = 128;
    const struct {
        const char* what;
        uint8_t insByte;
        uint16_t status;
        std::function<ULONG()> call;
    } cases[] = {
        {"generate", rsa_ins::kGenExtRsaKey, 0x6982, [&] { return SKF_GenExtRSAKey(m_dev, 1024, &pri); }},
        {"generate 698A", rsa_ins::kGenExtRsaKey, 0x698A, [&] { return SKF_GenExtRSAKey(m_dev, 1024, &pri); }},
        {"public", rsa_ins::kExtRsaPubKeyOperation, 0x6A80,
         [&] { return SKF_ExtRSAPubKeyOperation(m_dev, &m_receiverBlob, block.data(), 128, out.data(), &len); }},
        {"private", rsa_ins::kExtRsaPriKeyOperation, 0x6982,
         [&] { return SKF_ExtRSAPriKeyOperation(m_dev, &pri, block.data(), 128, out.data(), &len); }},
        {"verify", rsa_ins::kRsaVerify, 0x6A94,
         [&] { return SKF_RSAVerify(m_dev, &m_receiverBlob, digest.data(), 20, block.data(), 128); }},
        {"verify of a padded block", rsa_ins::kExtRsaPubKeyOperation, 0x6A88,
         [&] { return SKF_RSAVerify(m_dev, &m_receiverBlob, block.data(), 36, block.data(), 128); }},
    };
    for (const auto& c : cases) {
        ForceStatus(c.insByte, c.status);
        len = 128;
        EXPECT_EQ(c.call(), SAR_FAIL) << c.what;
    }
}

// Answers cut short never reach the caller's buffers. (A short answer that still ends in 9000 is
// the answer parsers' business; their own tests feed them every length.)
TEST_P(RsaStatusTest, TruncatedAnswers) {
    // The public key answer cut after the modulus and half the exponent: its last bytes are no 9000.
    RSAPUBLICKEYBLOB blob;
    std::memset(&blob, 0xEE, sizeof blob);
    const RSAPUBLICKEYBLOB before = blob;
    Fault(m_token, {"truncate:132"});
    EXPECT_EQ(SKF_GenRSAKeyPair(m_container, 1024, &blob), SAR_FAIL);
    EXPECT_EQ(std::memcmp(&blob, &before, sizeof blob), 0);

    RSAPRIVATEKEYBLOB pri;
    std::memset(&pri, 0xEE, sizeof pri);
    Fault(m_token, {"truncate:100"});
    EXPECT_EQ(SKF_GenExtRSAKey(m_dev, 1024, &pri), SAR_FAIL);
    EXPECT_EQ(pri.BitLen, 0xEEEEEEEEu);

    // The wrapped key without its status word: the key index is read as one.
    HANDLE key = nullptr;
    Bytes out(128, 0xEE);
    ULONG len = 128;
    Fault(m_token, {"truncate:130"});
    EXPECT_EQ(SKF_RSAExportSessionKey(m_container, SGD_SM4_ECB, &m_receiverBlob, out.data(), &len, &key), SAR_FAIL);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(len, 128u);
}

INSTANTIATE_TEST_SUITE_P(Bot, RsaStatusTest, ::testing::Values("bot"));

} // namespace
} // namespace keycore::test
