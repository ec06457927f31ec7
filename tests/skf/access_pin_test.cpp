// The PIN functions over a virtual token: verification with its retry counts and status table, the
// counters down to the lock and back with unblock, change, information and clearing the login.
#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace keycore::test {
namespace {

constexpr ULONG kAdminPinType = 0;
constexpr char kOtherPin[] = "87654321";
constexpr char kWrongPin[] = "00000000";
constexpr ULONG kUntouched = 0xDEADBEEF;

namespace pin_ins {
constexpr uint8_t kQuery = 0x14;
constexpr uint8_t kChange = 0x16;
constexpr uint8_t kVerify = 0x18;
constexpr uint8_t kUnblock = 0x1A;
constexpr uint8_t kClear = 0x1C;
} // namespace pin_ins

class SkfPinTest : public SkfStorageTest, public ::testing::WithParamInterface<const char*> {
protected:
    std::vector<std::string> PlugOptions() const override { return {"--kind", GetParam()}; }
    struct PinInfo {
        ULONG max = kUntouched;
        ULONG left = kUntouched;
        BOOL isDefault = -1;
    };

    PinInfo Info(ULONG type) {
        PinInfo info;
        EXPECT_EQ(SKF_GetPINInfo(m_app, type, &info.max, &info.left, &info.isDefault), SAR_OK);
        return info;
    }

    ULONG Verify(ULONG type, const char* pin, ULONG* retry) {
        *retry = kUntouched;
        return SKF_VerifyPIN(m_app, type, Text(pin), retry);
    }
};

TEST_P(SkfPinTest, RightAndWrongPinsOfBothTypes) {
    ULONG retry = 0;
    EXPECT_EQ(Verify(kUserPinType, kDefaultPinText, &retry), SAR_OK);
    EXPECT_EQ(retry, kUntouched) << "a success leaves the count alone";

    EXPECT_EQ(Verify(kUserPinType, kWrongPin, &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(retry, 9u);
    EXPECT_EQ(Info(kUserPinType).left, 9u);
    EXPECT_EQ(Info(kAdminPinType).left, 10u) << "the user PIN's failure is not the administrator's";

    // Any type other than 1 is the administrator PIN.
    EXPECT_EQ(Verify(2, kWrongPin, &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(retry, 9u);
    EXPECT_EQ(Info(kAdminPinType).left, 9u);
    EXPECT_EQ(Verify(kAdminPinType, kDefaultPinText, &retry), SAR_OK);
    EXPECT_EQ(Info(kAdminPinType).left, 10u) << "a right PIN restores the count";
}

TEST_P(SkfPinTest, VerifyStatusTable) {
    struct Case {
        uint16_t status;
        ULONG result;
        ULONG retry;
    } cases[] = {
        {0x63C3, SAR_PIN_INCORRECT, 3},      {0x63C0, SAR_PIN_INCORRECT, 0},
        {0x6983, SAR_PIN_LOCKED, 0},         {0x6984, SAR_INDATAERR, kUntouched},
        {0x6A80, SAR_INDATAERR, kUntouched}, {0x6581, SAR_DEVICE_REMOVED, kUntouched},
        {0x6A88, SAR_FAIL, kUntouched},      {0x6310, SAR_FAIL, kUntouched},
    };
    for (const Case& c : cases) {
        ForceStatus(pin_ins::kVerify, c.status);
        ULONG retry = 0;
        EXPECT_EQ(Verify(kUserPinType, kDefaultPinText, &retry), c.result) << std::hex << c.status;
        EXPECT_EQ(retry, c.retry) << std::hex << c.status;
    }
}

TEST_P(SkfPinTest, ApplicationNotSelectedIsSelectedAgainOnce) {
    ULONG retry = 0;
    ForceStatus(pin_ins::kVerify, 0x698A);
    EXPECT_EQ(Verify(kUserPinType, kDefaultPinText, &retry), SAR_OK);

    ForceStatus(pin_ins::kVerify, 0x698A);
    ForceStatus(pin_ins::kVerify, 0x698A);
    EXPECT_EQ(Verify(kUserPinType, kDefaultPinText, &retry), SAR_FAIL) << "two re-selections are the limit";

    ForceStatus(pin_ins::kVerify, 0x698A);
    ForceStatus(ins::kOpenApplication, 0x6A82);
    EXPECT_EQ(Verify(kUserPinType, kDefaultPinText, &retry), SAR_APPLICATION_NOT_EXISTS);

    ForceStatus(pin_ins::kClear, 0x698A);
    EXPECT_EQ(SKF_ClearSecureState(m_app), SAR_OK);
    ForceStatus(pin_ins::kQuery, 0x698A);
    EXPECT_EQ(Info(kUserPinType).max, 10u);
}

TEST_P(SkfPinTest, ArgumentsAndHandles) {
    ULONG retry = 0;
    ULONG max = 0;
    ULONG left = 0;
    const HAPPLICATION foreign = reinterpret_cast<HAPPLICATION>(0x10);
    EXPECT_EQ(SKF_VerifyPIN(nullptr, kUserPinType, Text(kDefaultPinText), &retry), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_VerifyPIN(m_app, kUserPinType, nullptr, &retry), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_VerifyPIN(m_app, kUserPinType, Text(kDefaultPinText), nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_VerifyPIN(foreign, kUserPinType, Text(kDefaultPinText), &retry), SAR_INVALIDHANDLEERR);

    EXPECT_EQ(SKF_ChangePIN(nullptr, kUserPinType, Text("a"), Text("b"), &retry), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ChangePIN(m_app, kUserPinType, nullptr, Text("b"), &retry), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ChangePIN(m_app, kUserPinType, Text("a"), nullptr, &retry), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ChangePIN(m_app, kUserPinType, Text(kDefaultPinText), Text(kOtherPin), nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ChangePIN(foreign, kUserPinType, Text("a"), Text("b"), &retry), SAR_INVALIDHANDLEERR);

    EXPECT_EQ(SKF_GetPINInfo(nullptr, kUserPinType, &max, &left, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_GetPINInfo(m_app, kUserPinType, nullptr, &left, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_GetPINInfo(m_app, kUserPinType, &max, nullptr, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_GetPINInfo(foreign, kUserPinType, &max, &left, nullptr), SAR_INVALIDHANDLEERR);

    EXPECT_EQ(SKF_UnblockPIN(nullptr, Text("a"), Text("b"), &retry), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_UnblockPIN(m_app, nullptr, Text("b"), &retry), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_UnblockPIN(m_app, Text("a"), nullptr, &retry), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_UnblockPIN(m_app, Text(kDefaultPinText), Text(kOtherPin), nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_UnblockPIN(foreign, Text("a"), Text("b"), &retry), SAR_INVALIDHANDLEERR);

    EXPECT_EQ(SKF_ClearSecureState(nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ClearSecureState(foreign), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Info(kUserPinType).left, 10u) << "no refused call reached the token's counters";
}

TEST_P(SkfPinTest, CounterDownToTheLockAndBackWithUnblock) {
    ULONG retry = 0;
    ULONG result = SAR_OK;
    ULONG expectedLeft = 9;
    for (; expectedLeft > 0; --expectedLeft) {
        result = Verify(kUserPinType, kWrongPin, &retry);
        ASSERT_EQ(result, SAR_PIN_INCORRECT);
        ASSERT_EQ(retry, expectedLeft);
    }
    // The tenth failure blocks the PIN.
    result = Verify(kUserPinType, kWrongPin, &retry);
    EXPECT_TRUE(result == SAR_PIN_LOCKED || result == SAR_PIN_INCORRECT) << std::hex << result;
    EXPECT_EQ(retry, 0u);
    EXPECT_EQ(Verify(kUserPinType, kDefaultPinText, &retry), SAR_PIN_LOCKED) << "even the right PIN";
    EXPECT_EQ(retry, 0u);
    EXPECT_EQ(Info(kUserPinType).left, 0u);

    // A wrong administrator PIN costs an administrator try and unblocks nothing.
    EXPECT_EQ(SKF_UnblockPIN(m_app, Text(kWrongPin), Text(kOtherPin), &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(retry, 9u);
    EXPECT_EQ(Info(kUserPinType).left, 0u);

    ASSERT_EQ(SKF_UnblockPIN(m_app, Text(kDefaultPinText), Text(kOtherPin), &retry), SAR_OK);
    const PinInfo after = Info(kUserPinType);
    EXPECT_EQ(after.left, 10u);
    EXPECT_EQ(after.max, 10u);
    EXPECT_EQ(Verify(kUserPinType, kOtherPin, &retry), SAR_OK);
    EXPECT_EQ(Verify(kUserPinType, kDefaultPinText, &retry), SAR_PIN_INCORRECT);
}

TEST_P(SkfPinTest, UnblockStatusTable) {
    // 0x63xx from the unblock command itself is a wrong PIN with the count in its low four bits.
    struct Case {
        uint16_t status;
        ULONG result;
        ULONG retry;
    } cases[] = {
        {0x63C2, SAR_PIN_INCORRECT, 2}, {0x6305, SAR_PIN_INCORRECT, 5},  {0x6983, SAR_PIN_LOCKED, 0},
        {0x6984, SAR_INDATAERR, 7},     {0x6581, SAR_DEVICE_REMOVED, 7}, {0x6A88, SAR_FAIL, 7},
    };
    for (const Case& c : cases) {
        ForceStatus(pin_ins::kUnblock, c.status);
        ULONG retry = 7;
        EXPECT_EQ(SKF_UnblockPIN(m_app, Text(kDefaultPinText), Text(kOtherPin), &retry), c.result)
            << std::hex << c.status;
        EXPECT_EQ(retry, c.retry) << std::hex << c.status;
    }
    ForceStatus(pin_ins::kUnblock, 0x698A);
    ULONG retry = 0;
    EXPECT_EQ(SKF_UnblockPIN(m_app, Text(kDefaultPinText), Text(kOtherPin), &retry), SAR_OK);
}

TEST_P(SkfPinTest, ChangePinTakesTheNewPinAndReportsAWrongOldOne) {
    ULONG retry = 0;
    ASSERT_EQ(SKF_ChangePIN(m_app, kUserPinType, Text(kDefaultPinText), Text(kOtherPin), &retry), SAR_OK);
    EXPECT_EQ(Verify(kUserPinType, kOtherPin, &retry), SAR_OK);
    EXPECT_EQ(Verify(kUserPinType, kDefaultPinText, &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(Info(kUserPinType).isDefault, 0) << "a changed PIN is no longer the default";

    retry = kUntouched;
    EXPECT_EQ(SKF_ChangePIN(m_app, kUserPinType, Text(kWrongPin), Text(kDefaultPinText), &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(retry, 8u);

    // The administrator PIN changes on its own.
    ASSERT_EQ(SKF_ChangePIN(m_app, kAdminPinType, Text(kDefaultPinText), Text(kOtherPin), &retry), SAR_OK);
    EXPECT_EQ(Verify(kAdminPinType, kOtherPin, &retry), SAR_OK);
}

TEST_P(SkfPinTest, ChangePinRetriesAnUnknownStatusOnceAndMapsTheKnownOnes) {
    ULONG retry = 0;
    ForceStatus(pin_ins::kChange, 0x6A88);
    EXPECT_EQ(SKF_ChangePIN(m_app, kUserPinType, Text(kDefaultPinText), Text(kOtherPin), &retry), SAR_OK);
    EXPECT_EQ(Verify(kUserPinType, kOtherPin, &retry), SAR_OK);

    ForceStatus(pin_ins::kChange, 0x6A88);
    ForceStatus(pin_ins::kChange, 0x6A88);
    EXPECT_EQ(SKF_ChangePIN(m_app, kUserPinType, Text(kOtherPin), Text(kDefaultPinText), &retry), SAR_FAIL);

    struct Case {
        uint16_t status;
        ULONG result;
    } cases[] = {
        {0x63C4, SAR_PIN_INCORRECT}, {0x6983, SAR_PIN_LOCKED}, {0x6A80, SAR_INDATAERR}, {0x6581, SAR_DEVICE_REMOVED}};
    for (const Case& c : cases) {
        ForceStatus(pin_ins::kChange, c.status);
        EXPECT_EQ(SKF_ChangePIN(m_app, kUserPinType, Text(kOtherPin), Text(kDefaultPinText), &retry), c.result)
            << std::hex << c.status;
    }
    EXPECT_EQ(Verify(kUserPinType, kOtherPin, &retry), SAR_OK) << "no forced answer changed the PIN";
}

TEST_P(SkfPinTest, PinInfoOfANewApplicationAndWithoutTheDefaultFlag) {
    const PinInfo user = Info(kUserPinType);
    EXPECT_EQ(user.max, 10u);
    EXPECT_EQ(user.left, 10u);
    EXPECT_EQ(user.isDefault, 1);
    ULONG max = kUntouched;
    ULONG left = kUntouched;
    EXPECT_EQ(SKF_GetPINInfo(m_app, kAdminPinType, &max, &left, nullptr), SAR_OK);
    EXPECT_EQ(max, 10u);
    EXPECT_EQ(left, 10u);

    ForceStatus(pin_ins::kQuery, 0x6A88);
    max = kUntouched;
    EXPECT_EQ(SKF_GetPINInfo(m_app, kUserPinType, &max, &left, nullptr), SAR_FAIL);
    EXPECT_EQ(max, kUntouched);
}

TEST_P(SkfPinTest, ClearSecureStateEndsTheLogin) {
    // A file the user alone may read shows the login state.
    ASSERT_EQ(SKF_CreateFile(m_app, Text("private"), 16, SECURE_USER_ACCOUNT, SECURE_USER_ACCOUNT), SAR_OK);
    VerifyUserPin();
    BYTE data[16];
    ULONG len = sizeof data;
    ASSERT_EQ(SKF_ReadFile(m_app, Text("private"), 0, sizeof data, data, &len), SAR_OK);
    ASSERT_EQ(SKF_ClearSecureState(m_app), SAR_OK);
    len = sizeof data;
    EXPECT_NE(SKF_ReadFile(m_app, Text("private"), 0, sizeof data, data, &len), SAR_OK);

    ForceStatus(pin_ins::kClear, 0x6A88);
    EXPECT_EQ(SKF_ClearSecureState(m_app), SAR_FAIL);
}

// Both transports: the SCSI-style one and HID.
INSTANTIATE_TEST_SUITE_P(Transports, SkfPinTest, ::testing::Values("bot", "hid"));

} // namespace
} // namespace keycore::test
