// Login, logout and the PIN functions through the C entry points over a virtual token: who may log in
// when, PIN length limits, changing and re-initialising PINs, and token initialisation.
#include "p11_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace keycore::test {
namespace {

using P11Login = P11Test;

constexpr CK_FLAGS kRO = CKF_SERIAL_SESSION;
constexpr CK_FLAGS kRW = CKF_SERIAL_SESSION | CKF_RW_SESSION;

CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE who, const std::string& pin) {
    std::string copy = pin;
    return C_Login(session, who, reinterpret_cast<CK_UTF8CHAR_PTR>(copy.data()), copy.size());
}

CK_RV SetPin(CK_SESSION_HANDLE session, const std::string& oldPin, const std::string& newPin) {
    std::string oldCopy = oldPin, newCopy = newPin;
    return C_SetPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(oldCopy.data()), oldCopy.size(),
                    reinterpret_cast<CK_UTF8CHAR_PTR>(newCopy.data()), newCopy.size());
}

CK_FLAGS TokenFlags(CK_SLOT_ID slot) {
    CK_TOKEN_INFO info{};
    EXPECT_EQ(C_GetTokenInfo(slot, &info), CKR_OK);
    return info.flags;
}

TEST_F(P11Login, LoginAndLogoutFollowTheSessionState) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE session = OpenSession(slots[0], kRW);

    EXPECT_EQ(C_Logout(session), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(Login(session, CKU_USER, "87654321"), CKR_PIN_INCORRECT);
    EXPECT_EQ(SessionInfo(session).state, CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(Login(session, CKU_USER, kDefaultPin), CKR_OK);
    EXPECT_EQ(SessionInfo(session).state, CKS_RW_USER_FUNCTIONS);
    EXPECT_EQ(Login(session, CKU_USER, kDefaultPin), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(Login(session, CKU_SO, kDefaultPin), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    EXPECT_EQ(C_Logout(session), CKR_OK);
    EXPECT_EQ(SessionInfo(session).state, CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(C_Logout(session), CKR_USER_NOT_LOGGED_IN);

    EXPECT_EQ(Login(session, CKU_SO, kDefaultPin), CKR_OK);
    EXPECT_EQ(SessionInfo(session).state, CKS_RW_SO_FUNCTIONS);
    EXPECT_EQ(Login(session, CKU_SO, kDefaultPin), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(Login(session, CKU_USER, kDefaultPin), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    EXPECT_EQ(C_Logout(session), CKR_OK);

    EXPECT_EQ(Login(session, 7, kDefaultPin), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Login(session ^ 0x4000, CKU_USER, kDefaultPin), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(C_Logout(session ^ 0x4000), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(C_Login(session, CKU_USER, nullptr, 8), CKR_ARGUMENTS_BAD);
}

TEST_F(P11Login, SoLoginRefusedWhileAReadOnlySessionIsOpen) {
    const auto slots = InitializeWithTokens({{"--kind", "hid"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE rw = OpenSession(slots[0], kRW);
    const CK_SESSION_HANDLE ro = OpenSession(slots[0], kRO);
    EXPECT_EQ(Login(rw, CKU_SO, kDefaultPin), CKR_SESSION_READ_ONLY_EXISTS);
    ASSERT_EQ(C_CloseSession(ro), CKR_OK);
    EXPECT_EQ(Login(rw, CKU_SO, kDefaultPin), CKR_OK);
}

// A PIN outside the token's length range (6 to 255) never reaches the token: it costs no try.
TEST_F(P11Login, PinLengthOutsideTheRangeIsIncorrectWithoutSpendingATry) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE session = OpenSession(slots[0], kRW);
    for (const std::string& pin : {std::string("12345"), std::string(), std::string(256, '1')}) {
        EXPECT_EQ(Login(session, CKU_USER, pin), CKR_PIN_INCORRECT)
            << pin.size() << " bytes";
        EXPECT_EQ(Login(session, CKU_SO, pin), CKR_PIN_INCORRECT) << pin.size() << " bytes";
    }
    EXPECT_EQ(TokenFlags(slots[0]) & (CKF_USER_PIN_COUNT_LOW | CKF_SO_PIN_COUNT_LOW), 0u);
    // The lengths at both ends are accepted as lengths; only the value is then wrong.
    EXPECT_EQ(Login(session, CKU_USER, "123456"), CKR_PIN_INCORRECT);
    EXPECT_NE(TokenFlags(slots[0]) & CKF_USER_PIN_COUNT_LOW, 0u);
    EXPECT_EQ(Login(session, CKU_USER, std::string(255, '1')), CKR_PIN_INCORRECT);
    EXPECT_EQ(Login(session, CKU_USER, kDefaultPin), CKR_OK);
}

TEST_F(P11Login, SetPinChangesTheUserPinOfAReadWriteSession) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE ro = OpenSession(slots[0], kRO);
    const CK_SESSION_HANDLE rw = OpenSession(slots[0], kRW);

    EXPECT_EQ(SetPin(ro, kDefaultPin, "abcdefgh"), CKR_SESSION_READ_ONLY);
    EXPECT_EQ(SetPin(rw, kDefaultPin, "abc"), CKR_PIN_LEN_RANGE);
    EXPECT_EQ(SetPin(rw, "1234", "abcdefgh"), CKR_PIN_LEN_RANGE);
    EXPECT_EQ(SetPin(rw ^ 0x4000, kDefaultPin, "abcdefgh"), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(SetPin(rw, "87654321", "abcdefgh"), CKR_PIN_INCORRECT);

    // The caller's buffers are the caller's: they come back as they went in.
    char oldPin[] = "12345678";
    char newPin[] = "abcdefgh";
    EXPECT_EQ(C_SetPIN(rw, reinterpret_cast<CK_UTF8CHAR_PTR>(oldPin), 8, reinterpret_cast<CK_UTF8CHAR_PTR>(newPin), 8),
              CKR_OK);
    EXPECT_STREQ(oldPin, "12345678");
    EXPECT_STREQ(newPin, "abcdefgh");

    EXPECT_EQ(Login(rw, CKU_USER, kDefaultPin), CKR_PIN_INCORRECT);
    EXPECT_EQ(Login(rw, CKU_USER, "abcdefgh"), CKR_OK);
    // Logged in as user, the user PIN changes again.
    EXPECT_EQ(SetPin(rw, "abcdefgh", "hgfedcba"), CKR_OK);
    ASSERT_EQ(C_Logout(rw), CKR_OK);
    EXPECT_EQ(Login(rw, CKU_USER, "hgfedcba"), CKR_OK);
    EXPECT_EQ(TokenFlags(slots[0]) & (CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED), 0u);
}

TEST_F(P11Login, SetPinAsSoChangesTheAdministratorPin) {
    const auto slots = InitializeWithTokens({{"--kind", "hid"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE rw = OpenSession(slots[0], kRW);
    ASSERT_EQ(Login(rw, CKU_SO, kDefaultPin), CKR_OK);
    EXPECT_EQ(SetPin(rw, kDefaultPin, "so-pin-2"), CKR_OK);
    ASSERT_EQ(C_Logout(rw), CKR_OK);
    EXPECT_EQ(Login(rw, CKU_USER, kDefaultPin), CKR_OK) << "the user PIN is unchanged";
    ASSERT_EQ(C_Logout(rw), CKR_OK);
    EXPECT_EQ(Login(rw, CKU_SO, kDefaultPin), CKR_PIN_INCORRECT);
    EXPECT_EQ(Login(rw, CKU_SO, "so-pin-2"), CKR_OK);
}

TEST_F(P11Login, InitPinNeedsTheAdministratorAndUnlocksTheUserPin) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE rw = OpenSession(slots[0], kRW);
    char newPin[] = "fresh-pin";

    EXPECT_EQ(C_InitPIN(rw, reinterpret_cast<CK_UTF8CHAR_PTR>(newPin), 9), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(Login(rw, CKU_USER, kDefaultPin), CKR_OK);
    EXPECT_EQ(C_InitPIN(rw, reinterpret_cast<CK_UTF8CHAR_PTR>(newPin), 9), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(C_Logout(rw), CKR_OK);
    EXPECT_EQ(C_InitPIN(rw ^ 0x4000, reinterpret_cast<CK_UTF8CHAR_PTR>(newPin), 9), CKR_SESSION_HANDLE_INVALID);

    // Lock the user PIN, then have the administrator set a new one.
    for (int i = 0; i < 10; ++i)
        Login(rw, CKU_USER, "87654321");
    ASSERT_EQ(Login(rw, CKU_USER, kDefaultPin), CKR_PIN_LOCKED);
    ASSERT_EQ(Login(rw, CKU_SO, kDefaultPin), CKR_OK);
    EXPECT_EQ(C_InitPIN(rw, reinterpret_cast<CK_UTF8CHAR_PTR>(newPin), 9), CKR_OK);
    EXPECT_STREQ(newPin, "fresh-pin");
    EXPECT_EQ(TokenFlags(slots[0]) & (CKF_USER_PIN_LOCKED | CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY), 0u);
    ASSERT_EQ(C_Logout(rw), CKR_OK);
    EXPECT_EQ(Login(rw, CKU_USER, kDefaultPin), CKR_PIN_INCORRECT);
    EXPECT_EQ(Login(rw, CKU_USER, "fresh-pin"), CKR_OK);
}

TEST_F(P11Login, InitTokenOnlyWithoutSessions) {
    const auto slots = InitializeWithTokens({{"--kind", "bot", "--label", "kept"}});
    ASSERT_EQ(slots.size(), 1u);
    char pin[] = "12345678";
    char label[33] = "new label                       ";
    auto pinPtr = reinterpret_cast<CK_UTF8CHAR_PTR>(pin);
    auto labelPtr = reinterpret_cast<CK_UTF8CHAR_PTR>(label);

    EXPECT_EQ(C_InitToken(slots[0], nullptr, 8, labelPtr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_InitToken(slots[0], pinPtr, 0, labelPtr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_InitToken(slots[0], pinPtr, 8, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_InitToken(11, pinPtr, 8, labelPtr), CKR_SLOT_ID_INVALID);

    const CK_SESSION_HANDLE session = OpenSession(slots[0], kRO);
    EXPECT_EQ(C_InitToken(slots[0], pinPtr, 8, labelPtr), CKR_SESSION_EXISTS);
    ASSERT_EQ(C_CloseSession(session), CKR_OK);
    EXPECT_EQ(C_InitToken(slots[0], pinPtr, 8, labelPtr), CKR_OK);

    // The device keeps its contents and PINs; a new session starts logged out.
    CK_TOKEN_INFO info{};
    ASSERT_EQ(C_GetTokenInfo(slots[0], &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.label), 4), "kept");
    const CK_SESSION_HANDLE after = OpenSession(slots[0], kRW);
    EXPECT_EQ(SessionInfo(after).state, CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(Login(after, CKU_USER, kDefaultPin), CKR_OK);
}

} // namespace
} // namespace keycore::test
