// The SM2 key agreement between two containers of the token: sponsor and responder reach the same
// session key only when both use the same keys and identifiers.

#include "tests/vtoken_applet/crypto_fixture.h"

namespace vtoken::testing {
namespace {

class AgreementTest : public CryptoTokenTest {
protected:
    void SetUp() override {
        CryptoTokenTest::SetUp();
        m_sponsorKey = GeneratePair(kContainer);
        m_responderKey = GeneratePair(kOtherContainer);
    }
    Bytes GeneratePair(uint16_t container) {
        Reply r = Send(0x70, 0, 0, Data().u16(kApp).u16(container).u32(256));
        EXPECT_EQ(r.sw, 0x9000);
        return r.data;
    }
    static Bytes Id(const std::string& s) { return Bytes(s.begin(), s.end()); }
    Bytes KeyOf(uint16_t index) { return m_state.sessionKeys.at(index).key; }

    struct Outcome {
        Bytes sponsorKey, responderKey;
        uint16_t sw = 0;
    };
    // Runs the whole exchange; the sponsor names the responder with `responderIdSeenBySponsor`.
    Outcome Run(const Bytes& sponsorId, const Bytes& responderId, const Bytes& responderIdSeenBySponsor) {
        Outcome o;
        Reply data = Send(
            0x82, 0, 0,
            Data().u16(kApp).u16(kContainer).u32(0x401).u32(static_cast<uint32_t>(sponsorId.size())).raw(sponsorId));
        EXPECT_EQ(data.sw, 0x9000);
        EXPECT_EQ(data.data.size(), 72u);
        Bytes sponsorTemp = Slice(data.data, 4, 64);
        uint32_t agreementId =
            static_cast<uint32_t>(data.data[68] << 24 | data.data[69] << 16 | data.data[70] << 8 | data.data[71]);
        Reply responder = Send(0x84, 0, 0,
                               Data()
                                   .u16(kApp)
                                   .u16(kOtherContainer)
                                   .u32(0x401)
                                   .u32(256)
                                   .raw(m_sponsorKey)
                                   .u32(256)
                                   .raw(sponsorTemp)
                                   .u32(static_cast<uint32_t>(sponsorId.size()))
                                   .raw(sponsorId)
                                   .u32(static_cast<uint32_t>(responderId.size()))
                                   .raw(responderId));
        EXPECT_EQ(responder.sw, 0x9000);
        EXPECT_EQ(responder.data.size(), 70u);
        Bytes responderTemp = Slice(responder.data, 4, 64);
        Reply sponsor = Send(0x86, 0, 0,
                             Data()
                                 .u16(kApp)
                                 .u16(kContainer)
                                 .u32(agreementId)
                                 .u32(256)
                                 .raw(m_responderKey)
                                 .u32(256)
                                 .raw(responderTemp)
                                 .u32(static_cast<uint32_t>(responderIdSeenBySponsor.size()))
                                 .raw(responderIdSeenBySponsor));
        o.sw = sponsor.sw;
        if (sponsor.sw == 0x9000) {
            o.sponsorKey = KeyOf(static_cast<uint16_t>(sponsor.data[0] << 8 | sponsor.data[1]));
            o.responderKey = KeyOf(static_cast<uint16_t>(responder.data[68] << 8 | responder.data[69]));
        }
        return o;
    }

    Bytes m_sponsorKey, m_responderKey;
};

TEST_F(AgreementTest, BothSidesDeriveTheSameSessionKey) {
    Outcome o = Run(Id("alice@example"), Id("bob"), Id("bob"));
    ASSERT_EQ(o.sw, 0x9000);
    EXPECT_EQ(o.sponsorKey.size(), 16u);
    EXPECT_EQ(o.sponsorKey, o.responderKey);
    // A second run uses fresh temporary keys: a different session key.
    Outcome again = Run(Id("alice@example"), Id("bob"), Id("bob"));
    EXPECT_NE(again.sponsorKey, o.sponsorKey);
}

TEST_F(AgreementTest, MismatchedIdentifiersGiveDifferentKeys) {
    Outcome o = Run(Id("alice"), Id("bob"), Id("bobby"));
    ASSERT_EQ(o.sw, 0x9000);
    EXPECT_NE(o.sponsorKey, o.responderKey);
}

TEST_F(AgreementTest, UnknownOrForeignAgreementIsRefused) {
    Reply data = Send(0x82, 0, 0, Data().u16(kApp).u16(kContainer).u32(0x401).u32(1).u8('a'));
    ASSERT_EQ(data.sw, 0x9000);
    auto finish = [&](uint16_t container, uint32_t agreementId) {
        return Send(0x86, 0, 0,
                    Data()
                        .u16(kApp)
                        .u16(container)
                        .u32(agreementId)
                        .u32(256)
                        .raw(m_responderKey)
                        .u32(256)
                        .raw(m_responderKey)
                        .u32(1)
                        .u8('b'))
            .sw;
    };
    EXPECT_EQ(finish(kContainer, 999), 0x6A88);
    EXPECT_EQ(finish(kOtherContainer, 1), 0x6A88);
    EXPECT_EQ(Send(0x82, 0, 0, Data().u16(kApp).u16(kContainer).u32(0x101).u32(1).u8('a')).sw, 0x6A81);
    EXPECT_EQ(Send(0x82, 0, 0, Data().u16(kApp).u16(kContainer).u32(0x401).u32(0)).sw, 0x6700);
}

} // namespace
} // namespace vtoken::testing
