// The SM2 key agreement of two containers over a virtual token of either framing: the sponsor's
// temporary key, the responder's key and temporary key, and the sponsor's key from them end in two
// session-key handles that encrypt alike.
#include "ecc_support.h"

namespace keycore::test {
namespace {

constexpr char kSponsorId[] = "sponsor@example";
constexpr char kResponderId[] = "responder";

BYTE* Id(const char* id) {
    return reinterpret_cast<BYTE*>(const_cast<char*>(id));
}
ULONG IdLen(const char* id) {
    return static_cast<ULONG>(std::strlen(id));
}

class EccAgreementTest : public EccTest {
protected:
    void SetUp() override {
        EccTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(SKF_CreateContainer(m_app, Text("peer"), &m_responder), SAR_OK);
        m_sponsorKey = GenerateKey(m_container);
        m_responderKey = GenerateKey(m_responder);
    }

    // The sponsor's first step; the agreement handle.
    HANDLE BeginAgreement(ECCPUBLICKEYBLOB* sponsorTemp) {
        HANDLE agreement = nullptr;
        EXPECT_EQ(SKF_GenerateAgreementDataWithECC(m_container, SGD_SM4_ECB, sponsorTemp, Id(kSponsorId),
                                                   IdLen(kSponsorId), &agreement),
                  SAR_OK);
        return agreement;
    }

    HANDLE Respond(ECCPUBLICKEYBLOB* sponsorTemp, ECCPUBLICKEYBLOB* responderTemp, const char* sponsorId) {
        HANDLE key = nullptr;
        EXPECT_EQ(SKF_GenerateAgreementDataAndKeyWithECC(m_responder, SGD_SM4_ECB, &m_sponsorKey, sponsorTemp,
                                                         responderTemp, Id(kResponderId), IdLen(kResponderId),
                                                         Id(sponsorId), IdLen(sponsorId), &key),
                  SAR_OK);
        return key;
    }

    HCONTAINER m_responder = nullptr;
    ECCPUBLICKEYBLOB m_sponsorKey{};
    ECCPUBLICKEYBLOB m_responderKey{};
};

TEST_P(EccAgreementTest, BothPartiesEndWithTheSameKey) {
    ECCPUBLICKEYBLOB sponsorTemp;
    std::memset(&sponsorTemp, 0xEE, sizeof sponsorTemp);
    HANDLE agreement = BeginAgreement(&sponsorTemp);
    ASSERT_NE(agreement, nullptr);
    EXPECT_EQ(sponsorTemp.BitLen, 256u);
    EXPECT_NE(KeyFromBlob(sponsorTemp), nullptr) << "the temporary key is a point of the curve";

    ECCPUBLICKEYBLOB responderTemp{};
    HANDLE responderKey = Respond(&sponsorTemp, &responderTemp, kSponsorId);
    ASSERT_NE(responderKey, nullptr);
    EXPECT_NE(KeyFromBlob(responderTemp), nullptr);

    HANDLE sponsorKey = nullptr;
    ASSERT_EQ(SKF_GenerateKeyWithECC(agreement, &m_responderKey, &responderTemp, Id(kResponderId), IdLen(kResponderId),
                                     &sponsorKey),
              SAR_OK);
    ASSERT_NE(sponsorKey, nullptr);

    const Bytes blocks = RandomBytes(48);
    const Bytes bySponsor = EncryptBlocks(sponsorKey, blocks);
    ASSERT_EQ(bySponsor.size(), blocks.size());
    EXPECT_NE(bySponsor, blocks);
    EXPECT_EQ(EncryptBlocks(responderKey, blocks), bySponsor);

    // The agreement handle stays open: a second key from it is the same key again.
    HANDLE again = nullptr;
    ASSERT_EQ(SKF_GenerateKeyWithECC(agreement, &m_responderKey, &responderTemp, Id(kResponderId), IdLen(kResponderId),
                                     &again),
              SAR_OK);
    EXPECT_EQ(EncryptBlocks(again, blocks), bySponsor);
    EXPECT_EQ(SKF_CloseHandle(agreement), SAR_OK);
    EXPECT_EQ(SKF_GenerateKeyWithECC(agreement, &m_responderKey, &responderTemp, Id(kResponderId), IdLen(kResponderId),
                                     &again),
              SAR_INVALIDHANDLEERR);
}

// The identifiers enter the key: a responder that takes the sponsor for someone else agrees on a
// different key.
TEST_P(EccAgreementTest, AnotherSponsorIdGivesAnotherKey) {
    ECCPUBLICKEYBLOB sponsorTemp{};
    HANDLE agreement = BeginAgreement(&sponsorTemp);
    ECCPUBLICKEYBLOB responderTemp{};
    HANDLE responderKey = Respond(&sponsorTemp, &responderTemp, "somebody else");
    HANDLE sponsorKey = nullptr;
    ASSERT_EQ(SKF_GenerateKeyWithECC(agreement, &m_responderKey, &responderTemp, Id(kResponderId), IdLen(kResponderId),
                                     &sponsorKey),
              SAR_OK);
    const Bytes blocks = RandomBytes(16);
    EXPECT_NE(EncryptBlocks(sponsorKey, blocks), EncryptBlocks(responderKey, blocks));
}

// Only an agreement handle finishes an agreement: a container or session-key handle is refused before
// anything is sent, and no key handle is made.
TEST_P(EccAgreementTest, KeyFromSomethingThatIsNoAgreement) {
    ECCPUBLICKEYBLOB temp = PublicBlob(NewSm2Key().get());
    ECCPUBLICKEYBLOB sponsorTemp{};
    ECCPUBLICKEYBLOB responderTemp{};
    BeginAgreement(&sponsorTemp);
    HANDLE sessionKey = Respond(&sponsorTemp, &responderTemp, kSponsorId);
    TraceLines(m_token, true);
    for (HANDLE notAnAgreement : {static_cast<HANDLE>(m_container), sessionKey, static_cast<HANDLE>(m_dev)}) {
        HANDLE key = nullptr;
        EXPECT_EQ(
            SKF_GenerateKeyWithECC(notAnAgreement, &m_responderKey, &temp, Id(kResponderId), IdLen(kResponderId), &key),
            SAR_INVALIDHANDLEERR);
        EXPECT_EQ(key, nullptr);
    }
    EXPECT_TRUE(CommandsWithIns(ecc_ins::kAgreementKey).empty());
}

INSTANTIATE_TEST_SUITE_P(Transports, EccAgreementTest, ::testing::Values("bot", "hid"));

} // namespace
} // namespace keycore::test
