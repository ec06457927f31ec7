// The conditions every container-bound crypto command checks, as one table: an application that
// was not opened, a missing container, a user PIN not verified, a missing key pair, a short data
// field. And no command misbehaves on truncated or random data fields.

#include <random>

#include "tests/vtoken_applet/crypto_fixture.h"

namespace vtoken::testing {
namespace {

struct Command {
    const char* name;
    uint8_t ins, p1, p2;
    bool needsPin;
    bool needsKeyPair;
    Bytes afterContainer; // the data that follows app and ctr
};

std::vector<Command> ContainerCommands() {
    Bytes point = Sm2Point(Sm2Key().get());
    Bytes form = CipherForm(Bytes(96 + 16, 0x11));
    return {
        {"GenEccKeyPair", 0x70, 0, 0, true, false, Data().u32(256)},
        {"EccSignData", 0x74, 2, 0, true, true, Pattern(32)},
        {"EccExportSessionKey", 0x78, 0, 0, false, false, Data().u32(256).raw(point).u32(0x401)},
        {"GenerateAgreementData", 0x82, 0, 0, true, true, Data().u32(0x401).u32(2).u16(0x4142)},
        {"ExportPublicKey", 0x88, 0, 0, false, true, {}},
        {"ImportSessionKey", 0xA0, 0, 0, true, true,
         Data().u32(0x401).u32(static_cast<uint32_t>(form.size())).raw(form)},
        {"GenRsaKeyPair", 0x54, 0, 0, true, false, Data().u16(1024)},
        {"RsaSignData", 0x58, 2, 2, true, true, Pattern(20)},
        {"ImportRsaKeyPair", 0x56, 0, 0, true, true,
         Data().u32(0x401).u32(128).raw(Pattern(128)).u32(1024).u32(16).raw(Pattern(16))},
    };
}

class SecurityTest : public CryptoTokenTest {
protected:
    Reply SendFor(const Command& c, uint16_t app, uint16_t container) {
        return Send(c.ins, c.p1, c.p2, Data().u16(app).u16(container).raw(c.afterContainer));
    }
};

TEST_F(SecurityTest, ContainerCommandsCheckApplicationContainerPinAndKey) {
    for (const Command& c : ContainerCommands()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SendFor(c, 0x0202, kContainer).sw, 0x698A);
        EXPECT_EQ(SendFor(c, kApp, 0x0033).sw, 0x6A94);
        m_state.openApplications[kApp] = false;
        EXPECT_EQ(SendFor(c, kApp, kContainer).sw, 0x698A);
        m_state.openApplications[kApp] = true;
        m_state.userVerified[kApp] = false;
        Reply withoutPin = SendFor(c, kApp, kContainer);
        m_state.userVerified[kApp] = true;
        if (c.needsPin)
            EXPECT_EQ(withoutPin.sw, 0x6982);
        else
            EXPECT_NE(withoutPin.sw, 0x6982);
        if (c.needsKeyPair) {
            Reply withoutKey = SendFor(c, kApp, kContainer);
            EXPECT_TRUE(withoutKey.sw == 0x6A88 || withoutKey.sw == 0x6A95) << std::hex << withoutKey.sw;
        }
        EXPECT_EQ(Send(c.ins, c.p1, c.p2, Data().u16(kApp).u8(0)).sw, 0x6700);
    }
}

TEST_F(SecurityTest, FailedCommandsLeaveTheImageAlone) {
    m_state.userVerified[kApp] = false;
    for (const Command& c : ContainerCommands())
        SendFor(c, kApp, kContainer);
    EXPECT_EQ(m_imageSaves, 0);
    EXPECT_EQ(Container().signingKey.kind, KeyKind::None);
    EXPECT_EQ(Container().exchangeKey.kind, KeyKind::None);
}

TEST_F(SecurityTest, EveryCommandSurvivesTruncatedAndRandomDataFields) {
    // Give the container both kinds of key material so that deep paths are reached.
    ASSERT_EQ(Send(0x70, 0, 0, Data().u16(kApp).u16(kContainer).u32(256)).sw, 0x9000);
    GrantAccessCode();
    ASSERT_EQ(Send(0x55, 0, 0, Data().u16(kApp).u16(kContainer).u16(1024)).sw, 0x9000);
    SetKey(Pattern(16));
    const uint8_t instructions[] = {0x05, 0x52, 0x54, 0x55, 0x56, 0x57, 0x58, 0x5A, 0x5E, 0x60, 0x62, 0x70,
                                    0x72, 0x74, 0x76, 0x78, 0x7A, 0x7C, 0x7E, 0x82, 0x84, 0x86, 0x88, 0xA0,
                                    0xA1, 0xA2, 0xA4, 0xA6, 0xA8, 0xAA, 0xAC, 0xAE, 0xB0, 0xB2, 0xB4, 0xB6,
                                    0xB8, 0xBA, 0xBC, 0xBE, 0xC0, 0xC2, 0xC4, 0xE7, 0xE8};
    std::mt19937 random(20240611);
    for (uint8_t ins : instructions) {
        SCOPED_TRACE(static_cast<int>(ins));
        for (int round = 0; round < 60; ++round) {
            // Valid application and container ids in front, then random bytes of random length;
            // the length fields inside are small so that nested reads run past the end.
            Bytes data = Data().u16(kApp).u16(kContainer);
            size_t size = random() % 300;
            for (size_t i = 0; i < size; ++i)
                data.push_back(static_cast<uint8_t>(random() % 4 == 0 ? random() : random() % 3));
            if (ins == 0x05 || ins == 0x55 || ins == 0x57)
                GrantAccessCode();
            Reply r = Send(ins, static_cast<uint8_t>(random() % 3), static_cast<uint8_t>(random() % 5), data,
                           random() % 2 == 0);
            EXPECT_NE(r.sw, 0);
        }
    }
}

} // namespace
} // namespace vtoken::testing
