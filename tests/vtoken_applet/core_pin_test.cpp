#include "core_test_support.h"

namespace vtoken::testing {
namespace {

class PinTest : public TokenFixture {
protected:
    void SetUp() override {
        TokenFixture::SetUp();
        m_app = OpenApp();
        ASSERT_NE(m_app, 0);
    }
    uint16_t m_app = 0;
    std::string m_lastAdmin;
};

TEST_F(PinTest, DefaultPinsVerifyForBothTypes) {
    EXPECT_EQ(VerifyPin(m_app, 1, "12345678"), 0x9000);
    EXPECT_EQ(VerifyPin(m_app, 0, "12345678"), 0x9000);
    EXPECT_EQ(PinInfo(m_app, 1), (Bytes{10, 10, 1}));
    EXPECT_EQ(PinInfo(m_app, 0), (Bytes{10, 10, 1}));
}

TEST_F(PinTest, WrongPinCountsDownLocksAtZeroAndStaysLocked) {
    for (unsigned left = 9; left >= 1; --left)
        ASSERT_EQ(VerifyPin(m_app, 1, "00000000"), 0x63C0 | left);
    EXPECT_EQ(VerifyPin(m_app, 1, "00000000"), 0x6983);
    EXPECT_EQ(PinInfo(m_app, 1), (Bytes{10, 0, 1}));
    // Locked: even the right PIN is refused, and the administrator PIN is untouched.
    EXPECT_EQ(VerifyPin(m_app, 1, "12345678"), 0x6983);
    EXPECT_EQ(PinInfo(m_app, 0), (Bytes{10, 10, 1}));
}

TEST_F(PinTest, SuccessResetsTheCounter) {
    EXPECT_EQ(VerifyPin(m_app, 1, "bad"), 0x63C9);
    EXPECT_EQ(VerifyPin(m_app, 1, "bad"), 0x63C8);
    EXPECT_EQ(VerifyPin(m_app, 1, "12345678"), 0x9000);
    EXPECT_EQ(PinInfo(m_app, 1)[1], 10);
}

TEST_F(PinTest, ChallengeIsUsedOnceAndNeeded) {
    Bytes challenge = Challenge();
    Bytes verify = Apdu(0x80, 0x18, 0, 1, Cat({U16(m_app), Sm4(HostPinKey("12345678"), HostPinBlock(challenge))}));
    EXPECT_EQ(Sw(verify), 0x9000);
    // Replaying the same block: no challenge any more, refused without costing a try.
    EXPECT_EQ(Sw(verify), 0x6985);
    EXPECT_EQ(PinInfo(m_app, 1)[1], 10);
    // A block for an older challenge fails against a new one and costs a try.
    Challenge();
    EXPECT_EQ(Sw(verify), 0x63C9);
}

TEST_F(PinTest, VerifyRefusals) {
    Bytes block = Sm4(HostPinKey("12345678"), HostPinBlock(Bytes(8, 0)));
    struct Case {
        const char* what;
        Bytes apdu;
        uint16_t sw;
    } cases[] = {
        {"application never opened", Apdu(0x80, 0x18, 0, 1, Cat({U16(0x7777), block})), 0x698A},
        {"block too short", Apdu(0x80, 0x18, 0, 1, Cat({U16(m_app), Bytes(15, 0)})), 0x6700},
        {"no application id", Apdu(0x80, 0x18, 0, 1, {0x00}), 0x6700},
        {"PIN info of unopened application", Apdu(0x80, 0x14, 0, 1, U16(0x7777), {0, 3}), 0x698A},
    };
    for (const Case& c : cases) {
        Challenge();
        EXPECT_EQ(Sw(c.apdu), c.sw) << c.what;
    }
}

TEST_F(PinTest, ChangePinClearsDefaultFlagAndReplacesThePin) {
    EXPECT_EQ(Sw(ProtectedPinCommand(0x16, 1, m_app, "12345678", "87654321")), 0x9000);
    EXPECT_EQ(PinInfo(m_app, 1), (Bytes{10, 10, 0}));
    EXPECT_EQ(PinInfo(m_app, 0)[2], 1) << "the other PIN keeps its flag";
    EXPECT_EQ(VerifyPin(m_app, 1, "12345678"), 0x63C9);
    EXPECT_EQ(VerifyPin(m_app, 1, "87654321"), 0x9000);
}

TEST_F(PinTest, PinBlockLengthsAcrossTheBlockBoundary) {
    // 13 characters: 2 + 13 + 1 = 16, so a whole zero block follows; 14 characters pad to 32.
    for (const std::string pin : {"1234567890123", "12345678901234", "1234567890123456", "1"}) {
        std::string old = PinInfo(m_app, 0)[2] ? "12345678" : m_lastAdmin;
        ASSERT_EQ(Sw(ProtectedPinCommand(0x16, 0, m_app, old, pin)), 0x9000) << pin;
        m_lastAdmin = pin;
        EXPECT_EQ(VerifyPin(m_app, 0, pin), 0x9000) << pin;
    }
}

TEST_F(PinTest, ProtectedCommandsRefuseBadMacsAndBadPins) {
    // A wrong old PIN yields a wrong MAC: that is a wrong PIN and costs a try.
    EXPECT_EQ(Sw(ProtectedPinCommand(0x16, 1, m_app, "wrongold", "87654321")), 0x63C9);
    // Tampered ciphertext under the right key: same.
    Bytes tampered = ProtectedPinCommand(0x16, 1, m_app, "12345678", "87654321");
    tampered[10] ^= 0x01;
    EXPECT_EQ(Sw(tampered), 0x63C8);
    // The MAC is bound to the challenge: sending a correct command a second time fails.
    Bytes good = ProtectedPinCommand(0x16, 1, m_app, "12345678", "87654321");
    Bytes replay = good;
    EXPECT_EQ(Sw(good), 0x9000);
    EXPECT_EQ(Sw(replay), 0x6985);
    // A new PIN that is too long or empty is refused.
    EXPECT_EQ(Sw(ProtectedPinCommand(0x16, 1, m_app, "87654321", std::string(17, '7'))), 0x6A80);
    EXPECT_EQ(Sw(ProtectedPinCommand(0x16, 1, m_app, "87654321", "")), 0x6A80);
    EXPECT_EQ(VerifyPin(m_app, 1, "87654321"), 0x9000);
}

TEST_F(PinTest, UnblockPinUnlocksWithTheAdministratorPin) {
    for (int i = 0; i < 10; ++i)
        VerifyPin(m_app, 1, "nope");
    ASSERT_EQ(PinInfo(m_app, 1)[1], 0);
    // Wrong administrator PIN: counted against the administrator PIN.
    EXPECT_EQ(Sw(ProtectedPinCommand(0x1A, 0, m_app, "notadmin", "11112222")), 0x63C9);
    EXPECT_EQ(PinInfo(m_app, 1)[1], 0);
    EXPECT_EQ(Sw(ProtectedPinCommand(0x1A, 0, m_app, "12345678", "11112222")), 0x9000);
    EXPECT_EQ(PinInfo(m_app, 1), (Bytes{10, 10, 0}));
    EXPECT_EQ(PinInfo(m_app, 0)[1], 10);
    EXPECT_EQ(VerifyPin(m_app, 1, "11112222"), 0x9000);
}

TEST_F(PinTest, LockedPinRefusesProtectedCommandsWithoutCounting) {
    for (int i = 0; i < 10; ++i)
        VerifyPin(m_app, 0, "nope");
    EXPECT_EQ(Sw(ProtectedPinCommand(0x16, 0, m_app, "12345678", "11112222")), 0x6983);
    EXPECT_EQ(Sw(ProtectedPinCommand(0x1A, 0, m_app, "12345678", "11112222")), 0x6983);
}

TEST_F(PinTest, SecurityStateIsClearedAndLostOnPowerCycle) {
    auto canCreateContainer = [&](const std::string& name) {
        return Sw(Apdu(0x80, 0x40, 0, 0, Cat({U16(m_app), Text(name)}), {0, 2}));
    };
    ASSERT_EQ(VerifyPin(m_app, 1, "12345678"), 0x9000);
    EXPECT_EQ(canCreateContainer("a"), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x1C, 0, 0, U16(m_app))), 0x9000);
    EXPECT_EQ(canCreateContainer("b"), 0x6982);

    ASSERT_EQ(VerifyPin(m_app, 1, "12345678"), 0x9000);
    m_token->PowerCycle();
    EXPECT_EQ(canCreateContainer("c"), 0x698A) << "the application must be opened again";
    ASSERT_EQ(OpenApp(), m_app);
    EXPECT_EQ(canCreateContainer("c"), 0x6982);
}

TEST_F(PinTest, WrongPinCountSurvivesReopen) {
    EXPECT_EQ(VerifyPin(m_app, 1, "nope"), 0x63C9);
    OpenToken();
    ASSERT_EQ(OpenApp(), m_app);
    EXPECT_EQ(PinInfo(m_app, 1)[1], 9);
}

} // namespace
} // namespace vtoken::testing
