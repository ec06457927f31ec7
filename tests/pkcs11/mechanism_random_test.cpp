// The mechanism list and random numbers come from the token of the slot.
#include "p11_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace keycore::test {
namespace {

using P11Mechanisms = P11Test;
using P11Random = P11Test;

TEST_F(P11Mechanisms, ListIsQueriedThenFilledAndShortBufferGetsTheCount) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    CK_ULONG count = 0;
    ASSERT_EQ(C_GetMechanismList(slots[0], nullptr, &count), CKR_OK);
    ASSERT_GT(count, 1u);

    std::vector<CK_MECHANISM_TYPE> list(count);
    CK_ULONG shortCount = count - 1;
    EXPECT_EQ(C_GetMechanismList(slots[0], list.data(), &shortCount), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortCount, count);

    ASSERT_EQ(C_GetMechanismList(slots[0], list.data(), &count), CKR_OK);
    ASSERT_EQ(count, list.size());
    EXPECT_NE(std::find(list.begin(), list.end(), CKM_RSA_PKCS), list.end());
    for (CK_MECHANISM_TYPE type : list) {
        CK_MECHANISM_INFO info{};
        EXPECT_EQ(C_GetMechanismInfo(slots[0], type, &info), CKR_OK) << std::hex << type;
    }
    CK_MECHANISM_INFO info{};
    EXPECT_EQ(C_GetMechanismInfo(slots[0], CKM_VENDOR_DEFINED | 0x7777, &info), CKR_MECHANISM_INVALID);
    EXPECT_EQ(C_GetMechanismInfo(slots[0], CKM_RSA_PKCS, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_GetMechanismList(slots[0], nullptr, nullptr), CKR_ARGUMENTS_BAD);
}

TEST_F(P11Mechanisms, UnknownSlotAndTokenThatLeftAreRefused) {
    const auto slots = InitializeWithTokens({{"--kind", "hid"}});
    ASSERT_EQ(slots.size(), 1u);
    CK_ULONG count = 0;
    CK_MECHANISM_INFO info{};
    EXPECT_EQ(C_GetMechanismList(slots[0] + 5, nullptr, &count), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(C_GetMechanismInfo(slots[0] + 5, CKM_RSA_PKCS, &info), CKR_SLOT_ID_INVALID);

    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_tokens[0].id}).exitCode, 0);
    ASSERT_TRUE(WaitForPresentSlots(0));
    EXPECT_EQ(C_GetMechanismList(slots[0], nullptr, &count), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(C_GetMechanismInfo(slots[0], CKM_RSA_PKCS, &info), CKR_TOKEN_NOT_PRESENT);
}

TEST_F(P11Random, BytesComeFromTheToken) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE session = OpenSession(slots[0], CKF_SERIAL_SESSION);
    TraceLines(m_tokens[0], true);

    // More than one command's worth, so the token object has to split the request.
    std::vector<CK_BYTE> first(600, 0), second(600, 0);
    ASSERT_EQ(C_GenerateRandom(session, first.data(), first.size()), CKR_OK);
    ASSERT_EQ(C_GenerateRandom(session, second.data(), second.size()), CKR_OK);
    EXPECT_NE(first, second);
    EXPECT_NE(std::count(first.begin(), first.end(), 0), static_cast<long>(first.size()));

    const auto trace = TraceLines(m_tokens[0]);
    const auto randomCommands = std::count_if(trace.begin(), trace.end(),
                                              [](const std::string& line) { return line.rfind("> 80500000", 0) == 0; });
    EXPECT_GE(randomCommands, 2) << "the bytes must be asked of the token";
}

TEST_F(P11Random, ArgumentsSessionAndTokenAreChecked) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE session = OpenSession(slots[0], CKF_SERIAL_SESSION);
    CK_BYTE buffer[16];
    EXPECT_EQ(C_GenerateRandom(session, buffer, 0), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_GenerateRandom(session, nullptr, sizeof buffer), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_GenerateRandom(session + 1, buffer, sizeof buffer), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(C_SeedRandom(session, buffer, sizeof buffer), CKR_OK);

    // A token that answers with an error status word makes the call fail, not succeed silently.
    Fault(m_tokens[0], {"sw:INS=0x50,SW=0x6A80"});
    EXPECT_EQ(C_GenerateRandom(session, buffer, sizeof buffer), CKR_GENERAL_ERROR);

    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_tokens[0].id}).exitCode, 0);
    ASSERT_TRUE(WaitForPresentSlots(0));
    EXPECT_EQ(C_GenerateRandom(session, buffer, sizeof buffer), CKR_TOKEN_NOT_PRESENT);
}

} // namespace
} // namespace keycore::test
