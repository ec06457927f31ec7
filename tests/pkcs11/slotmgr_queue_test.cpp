// The slot manager of one process driven through its two callbacks: the device monitor's events
// and the messages of other processes. Slots whose device cannot be opened stand in for tokens, so
// no USB is needed; each test runs in its own IPC namespace.
#include "pkcs11/notify_message.h"
#include "pkcs11/shared_slot_table.h"
#include "pkcs11/slot_mgr.h"
#include "runtime/share_memory.h"

#include <gtest/gtest.h>

#include <thread>

namespace keycore {
namespace {

class SlotManagerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_manager.Initialize(), CKR_OK); }

    CK_RV Device(CK_SLOT_ID slotId, CK_ULONG code, const std::string& path = "250:250") {
        KV_SLOT_EVENT event;
        event.slotId = slotId;
        event.ulEvent = code;
        event.ulParam = event.ulValue = 9;
        event.devicePath = path;
        event.deviceName = "dev " + std::to_string(slotId);
        return CSlotManager::_SlotEventTokenChangeCallback(&m_manager, event);
    }

    void Peer(CK_SLOT_ID slotId, CK_ULONG code, const std::string& path = std::string()) {
        KV_SLOT_EVENT event;
        event.slotId = slotId;
        event.ulEvent = code;
        event.devicePath = path;
        const std::vector<uint8_t> bytes = notify_message::Serialize(event);
        CSlotManager::_NotifyCallback(&m_manager, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    std::vector<uint8_t> TableBytes() {
        CShareMemory table;
        EXPECT_EQ(table.Open(slot_table::TableName(), false), 0);
        CShareMemoryHolder lock(table);
        const uint8_t* data = static_cast<const uint8_t*>(table.Data());
        return std::vector<uint8_t>(data, data + table.DataSize());
    }

    CSlotManager m_manager;
};

TEST_F(SlotManagerTest, ArrivalWithAFailedAttachKeepsTheSlotAndRecordsIt) {
    ASSERT_EQ(Device(1, kSlotEventArrival), CKR_OK);
    CSlot* slot = m_manager.GetSlot(1);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->GetToken(), nullptr);

    const std::vector<uint8_t> table = TableBytes();
    EXPECT_EQ(slot_table::ReadCount(table.data(), table.size()), 1u);
    const auto records = slot_table::ReadRecords(table.data(), table.size());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].devicePath, "250:250");
    EXPECT_TRUE(records[0].present);

    ASSERT_EQ(Device(1, kSlotEventRemoval), CKR_OK);
    EXPECT_EQ(m_manager.GetSlot(1), slot) << "a slot is never deleted";
    const std::vector<uint8_t> after = TableBytes();
    const auto removed = slot_table::ReadRecords(after.data(), after.size());
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_FALSE(removed[0].present);
    EXPECT_TRUE(removed[0].devicePath.empty());
    EXPECT_EQ(removed[0].slotId, 1u);
}

TEST_F(SlotManagerTest, SlotListCountsAndBufferTooSmall) {
    CK_ULONG count = 99;
    EXPECT_EQ(m_manager.GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(m_manager.GetSlotList(CK_FALSE, nullptr, nullptr), CKR_ARGUMENTS_BAD);

    ASSERT_EQ(Device(2, kSlotEventArrival), CKR_OK);
    ASSERT_EQ(Device(1, kSlotEventArrival), CKR_OK);
    EXPECT_EQ(m_manager.GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 2u);
    CK_SLOT_ID ids[2] = {0, 0};
    count = 1;
    EXPECT_EQ(m_manager.GetSlotList(CK_FALSE, ids, &count), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(ids[0], 0u) << "nothing written into a short buffer";
    EXPECT_EQ(m_manager.GetSlotList(CK_FALSE, ids, &count), CKR_OK);
    EXPECT_EQ(ids[0], 1u);
    EXPECT_EQ(ids[1], 2u);
    EXPECT_EQ(m_manager.GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 0u) << "slots whose device could not be opened have no token";
}

TEST_F(SlotManagerTest, IdentifiersWithoutATableRecordNeverWriteOutsideIt) {
    const std::vector<uint8_t> before = TableBytes();
    EXPECT_EQ(Device(0, kSlotEventArrival), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(m_manager.GetSlot(0), nullptr);
    EXPECT_EQ(Device(11, kSlotEventArrival), CKR_OK);
    EXPECT_NE(m_manager.GetSlot(11), nullptr) << "served without a table record";
    EXPECT_EQ(Device(11, kSlotEventRemoval), CKR_OK);
    EXPECT_EQ(TableBytes(), before);
}

TEST_F(SlotManagerTest, NonBlockingWaitReportsEachSlotOnce) {
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(m_manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_NO_EVENT);
    ASSERT_EQ(Device(1, kSlotEventArrival), CKR_OK);
    ASSERT_EQ(Device(1, kSlotEventRemoval), CKR_OK);
    ASSERT_EQ(Device(1, kSlotEventArrival), CKR_OK);
    ASSERT_EQ(Device(3, kSlotEventArrival), CKR_OK);
    EXPECT_EQ(m_manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_OK);
    EXPECT_EQ(slot, 1u);
    EXPECT_EQ(m_manager.WaitForSlotEvent(0, &slot), CKR_OK);
    EXPECT_EQ(slot, 3u);
    EXPECT_EQ(m_manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_NO_EVENT);
}

TEST_F(SlotManagerTest, PeerArrivalAndRemovalWakeTheWaiter) {
    ASSERT_EQ(Device(1, kSlotEventArrival), CKR_OK);
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(m_manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_NO_EVENT);
    std::thread waiter([&] { EXPECT_EQ(m_manager.WaitForSlotEvent(0, &slot), CKR_OK); });
    Peer(1, kSlotEventRemoval);
    waiter.join();
    EXPECT_EQ(slot, 1u);
    Peer(7, kSlotEventArrival); // unknown slot, empty path: nothing to build
    EXPECT_EQ(m_manager.GetSlot(7), nullptr);
    Peer(8, kSlotEventArrival, "251:251"); // unknown slot whose device cannot be opened: discarded
    EXPECT_EQ(m_manager.GetSlot(8), nullptr);
    EXPECT_EQ(m_manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_NO_EVENT);
}

TEST_F(SlotManagerTest, UncollectedPeerEventsEmptyTheDeviceQueueAfter500) {
    ASSERT_EQ(Device(1, kSlotEventArrival), CKR_OK);
    CK_SLOT_ID slot = 0;
    CK_ULONG code = 0;
    CK_ULONG arg = 0;
    EXPECT_EQ(m_manager.WaitForDevEvent(CKF_DONT_BLOCK, &slot, &code, &arg), CKR_NO_EVENT);

    for (int i = 0; i < 500; ++i)
        Peer(1, kSlotEventObjectWritten);
    EXPECT_EQ(m_manager.WaitForDevEvent(CKF_DONT_BLOCK, &slot, &code, &arg), CKR_OK);
    EXPECT_EQ(slot, 1u);
    EXPECT_EQ(code, kSlotEventObjectWritten);

    for (int i = 0; i < 2; ++i)
        Peer(1, kSlotEventObjectWritten); // 501 waiting: emptied
    EXPECT_EQ(m_manager.WaitForDevEvent(CKF_DONT_BLOCK, &slot, &code, &arg), CKR_NO_EVENT);
}

TEST_F(SlotManagerTest, StopEventEndsDeviceWaits) {
    CK_SLOT_ID slot = 0;
    CK_ULONG code = 0;
    CK_ULONG arg = 0;
    EXPECT_EQ(m_manager.WaitForDevEvent(CKF_DONT_BLOCK, &slot, &code, &arg), CKR_NO_EVENT);
    EXPECT_EQ(m_manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_NO_EVENT);
    Device(0, kSlotEventStop);
    EXPECT_EQ(m_manager.WaitForDevEvent(0, &slot, &code, &arg), CKR_GENERAL_ERROR);
    EXPECT_EQ(m_manager.WaitForDevEvent(0, &slot, &code, &arg), CKR_GENERAL_ERROR) << "the stop record stays";
    EXPECT_EQ(m_manager.WaitForSlotEvent(0, &slot), CKR_GENERAL_ERROR);
}

TEST_F(SlotManagerTest, ReleaseOfWaitersEndsEveryBlockedWait) {
    CK_SLOT_ID slot = 0;
    CK_ULONG code = 0;
    EXPECT_EQ(m_manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_NO_EVENT);
    EXPECT_EQ(m_manager.WaitForDevEvent(CKF_DONT_BLOCK, &slot, &code, nullptr), CKR_NO_EVENT);
    std::vector<std::thread> waiters;
    std::vector<CK_RV> results(4, CKR_OK);
    for (size_t i = 0; i < 3; ++i)
        waiters.emplace_back([&, i] { results[i] = m_manager.WaitForSlotEvent(0, &slot); });
    waiters.emplace_back([&] { results[3] = m_manager.WaitForDevEvent(0, &slot, &code, nullptr); });
    m_manager.ReleaseWaiters();
    for (std::thread& t : waiters)
        t.join();
    for (CK_RV rv : results)
        EXPECT_EQ(rv, CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(m_manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(SlotManagerTest, DamagedPeerMessagesAreIgnored) {
    ASSERT_EQ(Device(1, kSlotEventArrival), CKR_OK);
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(m_manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_NO_EVENT);
    const uint8_t shortMessage[12] = {2, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0};
    CSlotManager::_NotifyCallback(&m_manager, shortMessage, sizeof shortMessage);
    CSlotManager::_NotifyCallback(&m_manager, nullptr, 100);
    Peer(0, kSlotEventRemoval);
    EXPECT_EQ(m_manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_NO_EVENT);
}

} // namespace
} // namespace keycore
