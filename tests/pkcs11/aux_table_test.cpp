// The vendor table: its fixed layout, and the entries that work on a slot.
#include "p11_fixture.h"
#include "pkcs11/aux_functions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>

extern "C" CK_RV E_GetAuxFunctionList(keycore::AUX_FUNC_LIST_PTR_PTR ppAuxFunc);

namespace keycore::test {
namespace {

using P11AuxTable = P11Test;

AUX_FUNC_LIST* Table() {
    AUX_FUNC_LIST* table = nullptr;
    EXPECT_EQ(E_GetAuxFunctionList(&table), CKR_OK);
    return table;
}

TEST(P11AuxLayout, VersionAndTwentyEntriesAtFixedOffsets) {
    EXPECT_EQ(E_GetAuxFunctionList(nullptr), CKR_ARGUMENTS_BAD);
    AUX_FUNC_LIST* table = Table();
    ASSERT_NE(table, nullptr);
    const auto* bytes = reinterpret_cast<const unsigned char*>(table);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1], 0);
    // Entries 8, 10-13 and 17-19 are empty; every other one is a function.
    for (size_t k = 0; k < kAuxFunctionCount; ++k) {
        void* entry = nullptr;
        std::memcpy(&entry, bytes + 2 + 8 * k, sizeof entry);
        const bool empty = k == 8 || (k >= 10 && k <= 13) || k >= 17;
        EXPECT_EQ(entry == nullptr, empty) << "entry " << k;
    }
    EXPECT_EQ(table->pNotSupported(), CKR_FUNCTION_NOT_SUPPORTED);
}

TEST_F(P11AuxTable, SlotValueAnswersLengthFirst) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    AUX_FUNC_LIST* table = Table();
    CK_BYTE value[8];
    std::memset(value, 0xEE, sizeof value);
    CK_ULONG length = 4;
    EXPECT_EQ(table->pGetSlotValue(slots[0], 1, value, &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(value[0], 0xEE) << "a short buffer must not be written";
    length = 0;
    EXPECT_EQ(table->pGetSlotValue(slots[0], 1, nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(table->pGetSlotValue(slots[0], 1, value, &length), CKR_OK);
    const CK_BYTE zero[8] = {};
    EXPECT_EQ(std::memcmp(value, zero, sizeof zero), 0);
    EXPECT_EQ(table->pGetSlotValue(slots[0], 0, value, &length), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(table->pGetSlotValue(slots[0], 1, value, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(table->pGetSlotValue(slots[0] + 3, 1, value, &length), CKR_SLOT_ID_INVALID);

    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_tokens[0].id}).exitCode, 0);
    ASSERT_TRUE(WaitForPresentSlots(0));
    EXPECT_EQ(table->pGetSlotValue(slots[0], 1, value, &length), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(table->pCheckToken(slots[0], 1), CKR_TOKEN_NOT_PRESENT);
}

TEST_F(P11AuxTable, PinInfoCarriesRetryCountersAndTokenFlags) {
    const auto slots = InitializeWithTokens({{"--kind", "hid"}});
    ASSERT_EQ(slots.size(), 1u);
    AUX_FUNC_LIST* table = Table();
    EXPECT_EQ(table->pGetPinInfo(slots[0], nullptr), CKR_ARGUMENTS_BAD);
    AUX_PIN_INFO pinInfo{};
    ASSERT_EQ(table->pGetPinInfo(slots[0], &pinInfo), CKR_OK);
    EXPECT_EQ(pinInfo.bUserPinMaxRetries, 10);
    EXPECT_EQ(pinInfo.bUserPinCurCounter, 10);
    EXPECT_EQ(pinInfo.bSOPinMaxRetries, 10);
    CK_TOKEN_INFO tokenInfo{};
    ASSERT_EQ(C_GetTokenInfo(slots[0], &tokenInfo), CKR_OK);
    // A copy: the packed field may not be bound to a reference.
    const uint64_t tokenFlags = pinInfo.ulTokenFlags;
    EXPECT_EQ(tokenFlags, tokenInfo.flags);

    // A wrong PIN shows in the counter.
    const CK_SESSION_HANDLE session = OpenSession(slots[0], CKF_SERIAL_SESSION);
    EXPECT_NE(C_Login(session, CKU_USER, Pin("87654321"), 8), CKR_OK);
    ASSERT_EQ(table->pGetPinInfo(slots[0], &pinInfo), CKR_OK);
    EXPECT_EQ(pinInfo.bUserPinCurCounter, 9);
}

TEST_F(P11AuxTable, ClearTokenCacheRefusesWhileSessionsAreOpen) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    AUX_FUNC_LIST* table = Table();
    const CK_SESSION_HANDLE session = OpenSession(slots[0], CKF_SERIAL_SESSION);
    EXPECT_EQ(table->pClearTokenCache(slots[0], nullptr), CKR_SESSION_EXISTS);
    ASSERT_EQ(C_CloseSession(session), CKR_OK);
    EXPECT_EQ(table->pClearTokenCache(slots[0], nullptr), CKR_OK);
    EXPECT_EQ(table->pClearTokenCache(slots[0] + 3, nullptr), CKR_TOKEN_NOT_PRESENT);
}

TEST_F(P11AuxTable, SlotEntriesCheckTheirArguments) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    AUX_FUNC_LIST* table = Table();
    const CK_SLOT_ID unknown = slots[0] + 3;
    struct Case {
        const char* entry;
        CK_RV known;
        CK_RV unknownSlot;
        CK_RV flagZero;
    } cases[] = {
        {"1 open application", table->pOpenApplication(slots[0], 0, 0, 0, 1),
         table->pOpenApplication(unknown, 0, 0, 0, 1), table->pOpenApplication(slots[0], 0, 0, 0, 0)},
        {"5 prepare", table->pPrepareSlot5(slots[0], 0), table->pPrepareSlot5(unknown, 0), CKR_OK},
        {"6 prepare", table->pPrepareSlot6(slots[0], 0), table->pPrepareSlot6(unknown, 0), CKR_OK},
        {"9 check token", table->pCheckToken(slots[0], 1), table->pCheckToken(unknown, 1),
         table->pCheckToken(slots[0], 0)},
    };
    const CK_RV expectedFlagZero[] = {CKR_ARGUMENTS_BAD, CKR_OK, CKR_OK, CKR_ARGUMENTS_BAD};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        EXPECT_EQ(cases[i].known, CKR_OK) << cases[i].entry;
        EXPECT_EQ(cases[i].unknownSlot, CKR_SLOT_ID_INVALID) << cases[i].entry;
        EXPECT_EQ(cases[i].flagZero, expectedFlagZero[i]) << cases[i].entry;
    }
    // Entries 14 to 16 answer an unknown slot as a missing token.
    EXPECT_EQ(table->pLockSlot(unknown), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(table->pUnlockSlot(unknown), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(table->pReservedOperation(unknown, 0, 0, 0, 0, 0, 0, 0), CKR_TOKEN_NOT_PRESENT);
}

TEST_F(P11AuxTable, HeldSlotLockKeepsOtherThreadsOutUntilReleased) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    AUX_FUNC_LIST* table = Table();
    ASSERT_EQ(table->pLockSlot(slots[0]), CKR_OK);
    // The holder itself may go on: the lock is recursive for it.
    CK_TOKEN_INFO info{};
    EXPECT_EQ(C_GetTokenInfo(slots[0], &info), CKR_OK);

    std::atomic<bool> done{false};
    CK_RV otherResult = CKR_GENERAL_ERROR;
    std::thread other([&] {
        CK_TOKEN_INFO otherInfo{};
        otherResult = C_GetTokenInfo(slots[0], &otherInfo);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(done) << "another thread got through a held slot lock";
    EXPECT_EQ(table->pUnlockSlot(slots[0]), CKR_OK);
    other.join();
    EXPECT_EQ(otherResult, CKR_OK);
}

TEST_F(P11AuxTable, DeviceEventWaitChecksArgumentsAndInitialisation) {
    AUX_FUNC_LIST* table = Table();
    CK_SLOT_ID slot = 0;
    CK_ULONG event = 0;
    CK_ULONG arg = 0;
    int reserved = 0;
    EXPECT_EQ(table->pWaitForDevEvent(1, &slot, &event, &arg, &reserved), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(table->pWaitForDevEvent(1, nullptr, &event, &arg, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(table->pWaitForDevEvent(2, &slot, &event, &arg, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(table->pWaitForDevEvent(1, &slot, &event, &arg, nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(table->pWaitForDevEvent(1, &slot, &event, &arg, nullptr), CKR_NO_EVENT);
}

} // namespace
} // namespace keycore::test
