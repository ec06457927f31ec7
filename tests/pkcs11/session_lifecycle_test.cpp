// Opening, closing and describing sessions over a virtual token, and how closing the last session of
// a slot ends its login.
#include "p11_fixture.h"

#include <gtest/gtest.h>

#include <set>

namespace keycore::test {
namespace {

using P11Sessions = P11Test;

constexpr CK_FLAGS kRO = CKF_SERIAL_SESSION;
constexpr CK_FLAGS kRW = CKF_SERIAL_SESSION | CKF_RW_SESSION;

TEST_F(P11Sessions, OpenSessionRefusesBadArgumentsAndUnknownSlots) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_EQ(C_OpenSession(slots[0], CKF_RW_SESSION, nullptr, nullptr, &session), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_OpenSession(slots[0], 0, nullptr, nullptr, &session), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_OpenSession(slots[0], kRO, nullptr, nullptr, nullptr), CKR_ARGUMENTS_BAD);
    for (CK_SLOT_ID unknown : {CK_SLOT_ID{0}, CK_SLOT_ID{7}, CK_SLOT_ID{11}, ~CK_SLOT_ID{0}})
        EXPECT_EQ(C_OpenSession(unknown, kRO, nullptr, nullptr, &session), CKR_SLOT_ID_INVALID) << unknown;
    EXPECT_EQ(session, CK_INVALID_HANDLE) << "a refused open must not hand out a handle";
}

TEST_F(P11Sessions, InfoFollowsReadWriteFlagAndLoginState) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE ro = OpenSession(slots[0], kRO);
    const CK_SESSION_HANDLE rw = OpenSession(slots[0], kRW);
    EXPECT_NE(ro, rw);

    CK_SESSION_INFO info = SessionInfo(ro);
    EXPECT_EQ(info.slotID, slots[0]);
    EXPECT_EQ(info.flags, CKF_SERIAL_SESSION);
    EXPECT_EQ(info.state, CKS_RO_PUBLIC_SESSION);
    EXPECT_EQ(info.ulDeviceError, 0u);
    info = SessionInfo(rw);
    EXPECT_EQ(info.flags, CKF_SERIAL_SESSION | CKF_RW_SESSION);
    EXPECT_EQ(info.state, CKS_RW_PUBLIC_SESSION);

    ASSERT_EQ(C_Login(ro, CKU_USER, Pin(kDefaultPin), 8), CKR_OK);
    EXPECT_EQ(SessionInfo(ro).state, CKS_RO_USER_FUNCTIONS);
    EXPECT_EQ(SessionInfo(rw).state, CKS_RW_USER_FUNCTIONS);

    EXPECT_EQ(C_GetSessionInfo(ro, nullptr), CKR_ARGUMENTS_BAD);
    CK_SESSION_INFO unused;
    EXPECT_EQ(C_GetSessionInfo(ro ^ 0x1000, &unused), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(P11Sessions, ClosingTheLastSessionOfTheSlotEndsTheLogin) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE first = OpenSession(slots[0], kRW);
    const CK_SESSION_HANDLE second = OpenSession(slots[0], kRW);
    ASSERT_EQ(C_Login(first, CKU_USER, Pin(kDefaultPin), 8), CKR_OK);

    EXPECT_EQ(C_CloseSession(first), CKR_OK);
    EXPECT_EQ(SessionInfo(second).state, CKS_RW_USER_FUNCTIONS) << "another session is still open";
    EXPECT_EQ(C_CloseSession(first), CKR_SESSION_HANDLE_INVALID);

    EXPECT_EQ(C_CloseSession(second), CKR_OK);
    const CK_SESSION_HANDLE third = OpenSession(slots[0], kRW);
    EXPECT_EQ(SessionInfo(third).state, CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(C_Logout(third), CKR_USER_NOT_LOGGED_IN);
}

TEST_F(P11Sessions, CloseAllSessionsClosesOnlyThatSlot) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}, {"--kind", "hid"}});
    ASSERT_EQ(slots.size(), 2u);
    const CK_SESSION_HANDLE a1 = OpenSession(slots[0], kRO);
    const CK_SESSION_HANDLE a2 = OpenSession(slots[0], kRW);
    const CK_SESSION_HANDLE b = OpenSession(slots[1], kRW);
    ASSERT_EQ(C_Login(a1, CKU_USER, Pin(kDefaultPin), 8), CKR_OK);
    ASSERT_EQ(C_Login(b, CKU_USER, Pin(kDefaultPin), 8), CKR_OK);

    EXPECT_EQ(C_CloseAllSessions(slots[0]), CKR_OK);
    CK_SESSION_INFO info;
    EXPECT_EQ(C_GetSessionInfo(a1, &info), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(C_GetSessionInfo(a2, &info), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(SessionInfo(b).state, CKS_RW_USER_FUNCTIONS) << "the other slot keeps its session and login";
    EXPECT_EQ(SessionInfo(OpenSession(slots[0], kRO)).state, CKS_RO_PUBLIC_SESSION);

    EXPECT_EQ(C_CloseAllSessions(11), CKR_SLOT_ID_INVALID);
    ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
    EXPECT_EQ(C_CloseAllSessions(slots[1]), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(P11Sessions, LiveSessionsNeverShareAHandle) {
    const auto slots = InitializeWithTokens({{"--kind", "hid"}});
    ASSERT_EQ(slots.size(), 1u);
    std::set<CK_SESSION_HANDLE> live;
    // The handle formula (address XOR a constant, plus a salt below 100) gives neighbouring sessions
    // the same value now and then; with thousands open that happens in practically every run.
    for (int round = 0; round < 3000; ++round) {
        const CK_SESSION_HANDLE session = OpenSession(slots[0], round % 2 ? kRW : kRO);
        EXPECT_NE(session, CK_INVALID_HANDLE);
        EXPECT_TRUE(live.insert(session).second) << "handle " << session << " handed out twice";
        if (round % 3 == 0) {
            EXPECT_EQ(C_CloseSession(session), CKR_OK);
            live.erase(session);
        }
    }
    for (CK_SESSION_HANDLE session : live)
        EXPECT_EQ(SessionInfo(session).slotID, slots[0]);
}

TEST_F(P11Sessions, SoLoginRefusesANewReadOnlySession) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE rw = OpenSession(slots[0], kRW);
    ASSERT_EQ(C_Login(rw, CKU_SO, Pin(kDefaultPin), 8), CKR_OK);
    EXPECT_EQ(SessionInfo(rw).state, CKS_RW_SO_FUNCTIONS);
    CK_SESSION_HANDLE ro = CK_INVALID_HANDLE;
    EXPECT_EQ(C_OpenSession(slots[0], kRO, nullptr, nullptr, &ro), CKR_SESSION_READ_WRITE_SO_EXISTS);
    EXPECT_NE(OpenSession(slots[0], kRW), CK_INVALID_HANDLE);
}

TEST_F(P11Sessions, SessionsOutliveFinalizeAndUnpluggedTokensRefuseNewOnes) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE session = OpenSession(slots[0], kRW);
    ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(SessionInfo(session).slotID, slots[0]) << "C_Finalize closes no session";

    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_tokens[0].id}).exitCode, 0);
    ASSERT_TRUE(WaitForPresentSlots(0));
    CK_SESSION_HANDLE refused = CK_INVALID_HANDLE;
    EXPECT_EQ(C_OpenSession(slots[0], kRO, nullptr, nullptr, &refused), CKR_TOKEN_NOT_PRESENT);
}

} // namespace
} // namespace keycore::test
