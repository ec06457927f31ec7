// Slots and token information through the C functions over virtual tokens: the slot list across an
// unplug, the list buffer sizes, the token's texts and the PIN flags as wrong PINs are spent.
#include "p11_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace keycore::test {
namespace {

using P11SlotToken = P11Test;

constexpr CK_FLAGS kRW = CKF_SERIAL_SESSION | CKF_RW_SESSION;

std::string Field(const CK_UTF8CHAR* field, size_t size) {
    return std::string(reinterpret_cast<const char*>(field), size);
}

// The text padded with blanks to the field's width, as PKCS#11 wants its fixed texts.
std::string Padded(const std::string& text, size_t size) {
    return text + std::string(size - text.size(), ' ');
}

CK_TOKEN_INFO TokenInfo(CK_SLOT_ID slot) {
    CK_TOKEN_INFO info;
    std::memset(&info, 0xA5, sizeof info);
    EXPECT_EQ(C_GetTokenInfo(slot, &info), CKR_OK);
    return info;
}

// The slot whose token has that serial (the monitor numbers the devices in bus order, not in the
// order they were plugged).
CK_SLOT_ID SlotOfSerial(const std::vector<CK_SLOT_ID>& slots, const std::string& serial) {
    for (CK_SLOT_ID slot : slots)
        if (Field(TokenInfo(slot).serialNumber, 16).compare(0, serial.size(), serial) == 0)
            return slot;
    ADD_FAILURE() << "no slot holds the token " << serial;
    return 0;
}

TEST_F(P11SlotToken, UnpluggedTokenKeepsItsSlotInTheFullListOnly) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}, {"--kind", "hid"}});
    ASSERT_EQ(slots.size(), 2u);
    const CK_SLOT_ID gone = SlotOfSerial(slots, m_tokens[0].serial);
    const CK_SLOT_ID kept = SlotOfSerial(slots, m_tokens[1].serial);
    ASSERT_NE(gone, kept);
    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_tokens[0].id}).exitCode, 0);
    ASSERT_TRUE(WaitForPresentSlots(1));

    CK_SLOT_ID all[4] = {};
    CK_ULONG count = 4;
    ASSERT_EQ(C_GetSlotList(CK_FALSE, all, &count), CKR_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(all[0], slots[0]);
    EXPECT_EQ(all[1], slots[1]);
    EXPECT_EQ(PresentSlots(), std::vector<CK_SLOT_ID>{kept});

    CK_SLOT_INFO slotInfo;
    ASSERT_EQ(C_GetSlotInfo(gone, &slotInfo), CKR_OK);
    EXPECT_EQ(slotInfo.flags, CKF_REMOVABLE_DEVICE | CKF_HW_SLOT);
    ASSERT_EQ(C_GetSlotInfo(kept, &slotInfo), CKR_OK);
    EXPECT_EQ(slotInfo.flags, CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | CKF_TOKEN_PRESENT);
    CK_TOKEN_INFO tokenInfo;
    EXPECT_EQ(C_GetTokenInfo(gone, &tokenInfo), CKR_TOKEN_NOT_PRESENT);

    // The same token back: the same slot, present again.
    ASSERT_EQ(vtoken::test::RunTool({"plug", "--kind", "bot", "--serial", m_tokens[0].serial}).exitCode, 0);
    ASSERT_TRUE(WaitForPresentSlots(2));
    EXPECT_EQ(PresentSlots(), slots);
    count = 4;
    ASSERT_EQ(C_GetSlotList(CK_FALSE, all, &count), CKR_OK);
    EXPECT_EQ(count, 2u) << "a returning token must not make a new slot";
    EXPECT_EQ(SlotOfSerial(slots, m_tokens[0].serial), gone);
}

TEST_F(P11SlotToken, ListBufferSizes) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}, {"--kind", "hid"}, {"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 3u);
    EXPECT_EQ(slots, (std::vector<CK_SLOT_ID>{1, 2, 3}));
    for (CK_BBOOL present : {CK_FALSE, CK_TRUE}) {
        CK_ULONG count = 0;
        ASSERT_EQ(C_GetSlotList(present, nullptr, &count), CKR_OK);
        EXPECT_EQ(count, 3u);
        CK_SLOT_ID ids[3] = {0, 0, 0};
        count = 2;
        EXPECT_EQ(C_GetSlotList(present, ids, &count), CKR_BUFFER_TOO_SMALL);
        EXPECT_EQ(count, 3u) << "the needed count comes back";
        EXPECT_EQ(ids[0], 0u);
        count = 0;
        EXPECT_EQ(C_GetSlotList(present, ids, &count), CKR_BUFFER_TOO_SMALL);
        EXPECT_EQ(count, 3u);
        EXPECT_EQ(C_GetSlotList(present, ids, nullptr), CKR_ARGUMENTS_BAD);
    }
}

TEST_F(P11SlotToken, TokenTextsComeFromTheDevice) {
    const auto slots = InitializeWithTokens(
        {{"--kind", "bot", "--label", "Accounts 7", "--serial", "KC00000000000042"},
         {"--kind", "hid", "--serial", "hid-1"}});
    ASSERT_EQ(slots.size(), 2u);

    const CK_TOKEN_INFO first = TokenInfo(SlotOfSerial(slots, "KC00000000000042"));
    EXPECT_EQ(Field(first.label, 32), Padded("Accounts 7", 32));
    EXPECT_EQ(Field(first.serialNumber, 16), "KC00000000000042");
    EXPECT_EQ(Field(first.manufacturerID, 32), Padded("Quorvel Technologies Co., Ltd.", 32));
    EXPECT_EQ(Field(first.model, 16), Padded("Orvex5100GMG", 16));
    EXPECT_EQ(first.ulMinPinLen, 6u);
    EXPECT_EQ(first.ulMaxPinLen, 255u);
    EXPECT_EQ(first.flags & (CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED), 0u);

    const CK_TOKEN_INFO second = TokenInfo(SlotOfSerial(slots, "hid-1"));
    EXPECT_EQ(Field(second.label, 32), Padded("vtoken", 32));
    EXPECT_EQ(Field(second.serialNumber, 16), Padded("hid-1", 16));

    CK_SLOT_INFO slotInfo;
    ASSERT_EQ(C_GetSlotInfo(slots[0], &slotInfo), CKR_OK);
    EXPECT_EQ(Field(slotInfo.manufacturerID, 32), Padded("Quorvel Technologies Co., Ltd.", 32));

    EXPECT_EQ(C_GetTokenInfo(slots[0], nullptr), CKR_ARGUMENTS_BAD);
    CK_TOKEN_INFO unused;
    for (CK_SLOT_ID unknown : {CK_SLOT_ID{0}, CK_SLOT_ID{9}, CK_SLOT_ID{11}, ~CK_SLOT_ID{0}})
        EXPECT_EQ(C_GetTokenInfo(unknown, &unused), CKR_SLOT_ID_INVALID) << unknown;
}

// The token allows ten tries: one wrong PIN makes the count low, nine leave a final try, ten lock it,
// and then even the right PIN is refused as locked.
TEST_F(P11SlotToken, UserPinFlagsFollowTheTriesLeft) {
    const auto slots = InitializeWithTokens({{"--kind", "hid"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE session = OpenSession(slots[0], kRW);
    constexpr CK_FLAGS kPinBits = CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED;
    struct Step {
        int wrongSoFar;
        CK_FLAGS set;
        CK_FLAGS clear;
    };
    const Step steps[] = {
        {1, CKF_USER_PIN_COUNT_LOW, CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED},
        {8, CKF_USER_PIN_COUNT_LOW, CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED},
        {9, CKF_USER_PIN_FINAL_TRY, CKF_USER_PIN_LOCKED},
        {10, CKF_USER_PIN_LOCKED, CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY},
    };
    int wrong = 0;
    for (const Step& step : steps) {
        for (; wrong < step.wrongSoFar; ++wrong)
            EXPECT_EQ(C_Login(session, CKU_USER, Pin("87654321"), 8), wrong < 9 ? CKR_PIN_INCORRECT : CKR_PIN_LOCKED)
                << "wrong PIN number " << wrong + 1;
        const CK_FLAGS flags = TokenInfo(slots[0]).flags & kPinBits;
        EXPECT_EQ(flags & step.set, step.set) << "after " << wrong << " wrong PINs";
        EXPECT_EQ(flags & step.clear, 0u) << "after " << wrong << " wrong PINs";
    }
    EXPECT_EQ(C_Login(session, CKU_USER, Pin(kDefaultPin), 8), CKR_PIN_LOCKED);
    EXPECT_EQ(SessionInfo(session).state, CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(TokenInfo(slots[0]).flags & CKF_SO_PIN_LOCKED, 0u) << "the administrator PIN is untouched";
}

} // namespace
} // namespace keycore::test

namespace keycore::test {
namespace {

// The shared table has records for identifiers 1 to 10 only; an eleventh token is still served, under
// an identifier of its own, and the ten others keep theirs.
TEST_F(P11SlotToken, EleventhTokenIsServedBeyondTheTable) {
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    for (int i = 0; i < 11; ++i) {
        m_tokens.push_back(Plug({"--kind", i % 2 ? "hid" : "bot", "--serial", "many-" + std::to_string(i)}));
        ASSERT_TRUE(WaitForPresentSlots(i + 1)) << "token " << i;
    }
    std::vector<CK_SLOT_ID> expected;
    for (CK_SLOT_ID id = 1; id <= 11; ++id)
        expected.push_back(id);
    EXPECT_EQ(PresentSlots(), expected);
    EXPECT_EQ(SlotOfSerial(PresentSlots(), "many-10"), 11u);

    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_tokens[10].id}).exitCode, 0);
    ASSERT_TRUE(WaitForPresentSlots(10));
    CK_ULONG count = 0;
    ASSERT_EQ(C_GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 11u);
}

} // namespace
} // namespace keycore::test
