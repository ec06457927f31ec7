// The token-object handle allocator: handles grow past the largest one taken, and freed low handles
// come back only once the top of the range is taken.
#include "pkcs11/slot.h"

#include <gtest/gtest.h>

namespace keycore {
namespace {

ObjectMap Taken(std::initializer_list<CK_OBJECT_HANDLE> handles) {
    ObjectMap map;
    for (CK_OBJECT_HANDLE h : handles)
        map.emplace(h, nullptr);
    return map;
}

TEST(SlotObjectHandles, AllocationFollowsTheRangeRules) {
    struct Case {
        const char* what;
        ObjectMap taken;
        bool isPrivate;
        CK_RV rv;
        CK_OBJECT_HANDLE handle;
    };
    const Case cases[] = {
        {"first public", Taken({}), false, CKR_OK, 1},
        {"first private", Taken({}), true, CKR_OK, 0x8001},
        {"private ignores public", Taken({1, 2, 0x8000}), true, CKR_OK, 0x8001},
        {"public ignores private and session", Taken({0x8005, 0x60000001}), false, CKR_OK, 1},
        {"largest + 1, holes kept", Taken({1, 5}), false, CKR_OK, 6},
        {"top taken: lowest hole", Taken({2, 3, 0x8000}), false, CKR_OK, 1},
        {"top taken: middle hole", Taken({1, 2, 4, 0x8000}), false, CKR_OK, 3},
        {"private top taken", Taken({0x8001, 0xFFFD}), true, CKR_OK, 0x8002},
    };
    for (const Case& c : cases) {
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(CSlot::PickTokenHandle(c.taken, c.isPrivate, &handle), c.rv) << c.what;
        EXPECT_EQ(handle, c.handle) << c.what;
    }
}

TEST(SlotObjectHandles, FullRangeIsAnError) {
    ObjectMap full;
    for (CK_OBJECT_HANDLE h = kFirstPublicTokenHandle; h <= kLastPublicTokenHandle; ++h)
        full.emplace(h, nullptr);
    CK_OBJECT_HANDLE handle = 0;
    EXPECT_EQ(CSlot::PickTokenHandle(full, false, &handle), CKR_GENERAL_ERROR);
    EXPECT_EQ(CSlot::PickTokenHandle(full, true, &handle), CKR_OK);
    EXPECT_EQ(handle, kFirstPrivateTokenHandle);
}

TEST(SlotObjectHandles, SessionObjectsCountUpFromTheirBase) {
    CSlot slot(1, "name", true);
    EXPECT_EQ(slot.AllocateSessionHandle(), 0x60000001u);
    EXPECT_EQ(slot.AllocateSessionHandle(), 0x60000002u);
    slot.Reset(1, "name", true);
    EXPECT_EQ(slot.AllocateSessionHandle(), 0x60000001u) << "re-initialisation restarts session handles";
}

TEST(SlotState, SessionStateTable) {
    CSlot slot(1, "name", true);
    CK_SESSION_INFO rw{};
    slot.GetSessionState(true, rw);
    EXPECT_EQ(rw.state, CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(rw.flags, static_cast<CK_FLAGS>(CKF_RW_SESSION));
    CK_SESSION_INFO ro{};
    slot.GetSessionState(false, ro);
    EXPECT_EQ(ro.state, CKS_RO_PUBLIC_SESSION);
    EXPECT_EQ(ro.flags, 0u);
}

TEST(SlotState, SlotInfoOfASlotWithoutToken) {
    CSlot slot(2, "Orvex5100GM-G VCR 2", true);
    CK_SLOT_INFO info{};
    ASSERT_EQ(slot.GetInfo(&info), CKR_OK);
    EXPECT_EQ(info.flags, static_cast<CK_FLAGS>(CKF_REMOVABLE_DEVICE | CKF_HW_SLOT));
    const std::string description(reinterpret_cast<const char*>(info.slotDescription), 64);
    EXPECT_EQ(description, std::string("Orvex5100GM-G VCR 2") + std::string(64 - 19, ' '));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.manufacturerID), 32),
              std::string("Quorvel Technologies Co., Ltd.  "));

    CSlot longName(3, std::string(65, 'x'), true);
    ASSERT_EQ(longName.GetInfo(&info), CKR_OK);
    EXPECT_EQ(info.slotDescription[0], 0) << "a name longer than the field leaves it zero";
}

TEST(SlotState, AttachFailuresLeaveNoToken) {
    struct Case {
        const char* what;
        std::string path;
        CK_ULONG type;
        CK_RV rv;
    };
    const Case cases[] = {
        {"empty path", "", 9, CKR_TOKEN_NOT_PRESENT},
        {"unknown type", "001:001", 7, CKR_HOST_MEMORY},
        {"device not on the bus", "250:250", 9, CKR_DEVICE_ERROR},
    };
    for (const Case& c : cases) {
        CSlot slot(1, "name", true);
        EXPECT_EQ(slot.AttachToken(c.path, c.type), c.rv) << c.what;
        EXPECT_EQ(slot.GetToken(), nullptr) << c.what;
        EXPECT_FALSE(slot.IsTokenPresent()) << c.what;
        slot.RemoveSlotLock();
    }
}

} // namespace
} // namespace keycore
