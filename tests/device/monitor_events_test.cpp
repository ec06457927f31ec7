// The device monitor in this process: identifiers, the placeholder record, arrival and removal events
// for tokens that vtoken plugs and unplugs while the scan runs.

#include "device/unix_dev_chg_mon.h"
#include "monitor_test_support.h"
#include "pkcs11/shared_slot_table.h"
#include "vtoken_test_support.h"

#include <thread>

namespace keycore::test {
namespace {

using vtoken::test::PluggedToken;
using vtoken::test::RunTool;

constexpr char kModel[] = "Orvex5100GM-G VCR";

class MonitorTest : public vtoken::test::VtokenTest {
protected:
    void TearDown() override {
        m_monitor.Stop();
        VtokenTest::TearDown();
    }

    void InitAndStart() {
        ASSERT_EQ(m_monitor.Init(&EventRecorder::Callback, &m_events), CKR_OK);
        ASSERT_EQ(m_monitor.Start(), CKR_OK);
    }

    void Unplug(const PluggedToken& token) { ASSERT_EQ(RunTool({"unplug", token.id}).exitCode, 0); }

    // No further event comes while the monitor makes many more passes.
    void ExpectNoEventBeyond(size_t count) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(m_events.Events().size(), count);
    }

    EventRecorder m_events;
    CUnixDevChgMon m_monitor;
};

TEST_F(MonitorTest, InitWithoutTokensLeavesThePlaceholderRecord) {
    for (bool emptyTable : {false, true}) {
        SCOPED_TRACE(emptyTable ? "empty shared table" : "no shared table");
        CShareMemory table;
        if (emptyTable) {
            ASSERT_EQ(table.Create(slot_table::TableName(), slot_table::kTableSize, false, nullptr), 0);
        }
        CUnixDevChgMon monitor;
        ASSERT_EQ(monitor.Init(nullptr, nullptr), CKR_OK);
        const DeviceMap devices = monitor.GetDeviceMap();
        ASSERT_EQ(devices.size(), 1u);
        const DeviceRecord& record = devices.at(1);
        EXPECT_EQ(record.slotId, 1u);
        EXPECT_EQ(record.deviceType, 0);
        EXPECT_EQ(record.state, DeviceRecord::kAbsent);
        EXPECT_EQ(record.sharedState, DeviceRecord::kAbsent);
        EXPECT_EQ(record.devicePath, "");
        EXPECT_EQ(record.displayName, "Quorvel GM 1");
        if (emptyTable)
            table.Destroy();
    }
}

TEST_F(MonitorTest, InitTakesTheSharedTableRecordsInsteadOfThePlaceholder) {
    CShareMemory table;
    ASSERT_EQ(table.Create(slot_table::TableName(), slot_table::kTableSize, false, nullptr), 0);
    auto* data = static_cast<uint8_t*>(table.Data());
    slot_table::WriteCount(data, table.DataSize(), 3);
    ASSERT_TRUE(slot_table::WriteRecord(data, table.DataSize(), {1, false, "Orvex5100GM-G VCR 1", "", 9}));
    ASSERT_TRUE(slot_table::WriteRecord(data, table.DataSize(), {2, true, "Orvex5100GM-G VCR 2", "004:001", 8}));
    // A record of a type the monitor does not know is left out.
    ASSERT_TRUE(slot_table::WriteRecord(data, table.DataSize(), {3, true, "other", "005:001", 7}));

    ASSERT_EQ(m_monitor.Init(nullptr, nullptr), CKR_OK);
    const DeviceMap devices = m_monitor.GetDeviceMap();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices.at(1).sharedState, DeviceRecord::kAbsent);
    EXPECT_EQ(devices.at(1).devicePath, "");
    EXPECT_EQ(devices.at(2).state, DeviceRecord::kPresent);
    EXPECT_EQ(devices.at(2).devicePath, "004:001");
    EXPECT_EQ(devices.at(2).deviceType, 8);
    EXPECT_EQ(devices.at(2).displayName, "Orvex5100GM-G VCR 2");
    // The path the table holds keeps its identifier; a new one gets the free identifier 1.
    EXPECT_EQ(m_monitor.GetSlotIdByPath("004:001"), 2u);
    EXPECT_EQ(m_monitor.GetSlotIdByPath("009:001"), 1u);
    table.Destroy();
}

TEST_F(MonitorTest, TokenPresentAtStartIsReportedBeforeStartReturns) {
    const PluggedToken token = Plug({"--kind", "hid"});
    InitAndStart();
    const std::vector<KV_SLOT_EVENT> events = m_events.Events();
    ASSERT_EQ(events.size(), 1u) << "Start waits for the first full pass";
    EXPECT_EQ(events[0].ulEvent, kSlotEventArrival);
    EXPECT_EQ(events[0].slotId, 1u);
    EXPECT_EQ(events[0].ulParam, 8u);
    EXPECT_EQ(events[0].ulValue, 8u);
    EXPECT_EQ(events[0].devicePath, token.path);
    EXPECT_EQ(events[0].deviceName, std::string(kModel) + " 1");
}

TEST_F(MonitorTest, PlugUnplugAndReplugGiveOneEventEachAndKeepTheIdentifier) {
    m_events.KeepSharedTable();
    InitAndStart();
    ASSERT_TRUE(m_events.Events().empty());

    const PluggedToken token = Plug();
    std::vector<KV_SLOT_EVENT> events = m_events.WaitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].ulEvent, kSlotEventArrival);
    EXPECT_EQ(events[0].slotId, 1u);
    EXPECT_EQ(events[0].ulValue, 9u);
    EXPECT_EQ(events[0].devicePath, token.path);
    ExpectNoEventBeyond(1);

    Unplug(token);
    events = m_events.WaitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].ulEvent, kSlotEventRemoval);
    EXPECT_EQ(events[1].slotId, 1u);
    EXPECT_EQ(events[1].ulValue, 9u);
    EXPECT_EQ(events[1].devicePath, token.path);
    EXPECT_EQ(events[1].deviceName, std::string(kModel) + " 1");
    ExpectNoEventBeyond(2);
    const DeviceMap devices = m_monitor.GetDeviceMap();
    ASSERT_EQ(devices.count(1), 1u);
    EXPECT_EQ(devices.at(1).devicePath, "");
    EXPECT_EQ(devices.at(1).state, DeviceRecord::kAbsent);

    const PluggedToken again = Plug({"--serial", token.serial});
    events = m_events.WaitFor(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].ulEvent, kSlotEventArrival);
    EXPECT_EQ(events[2].slotId, 1u) << "the table marks identifier 1 free";
    EXPECT_EQ(events[2].devicePath, again.path);
    ExpectNoEventBeyond(3);
}

TEST_F(MonitorTest, SecondTokenGetsTheNextIdentifier) {
    m_events.KeepSharedTable();
    InitAndStart();
    const PluggedToken first = Plug();
    ASSERT_EQ(m_events.WaitFor(1).size(), 1u);
    const PluggedToken second = Plug({"--kind", "hid", "--large"});
    std::vector<KV_SLOT_EVENT> events = m_events.WaitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].slotId, 2u);
    EXPECT_EQ(events[1].ulValue, 8u);
    EXPECT_EQ(events[1].devicePath, second.path);
    EXPECT_EQ(events[1].deviceName, std::string(kModel) + " 2");

    // Removing the first leaves the second alone.
    Unplug(first);
    events = m_events.WaitFor(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].ulEvent, kSlotEventRemoval);
    EXPECT_EQ(events[2].slotId, 1u);
    ExpectNoEventBeyond(3);
    EXPECT_EQ(m_monitor.GetDeviceMap().at(2).devicePath, second.path);
}

TEST_F(MonitorTest, WithoutSharedTableAReturningTokenGetsANewIdentifier) {
    // Only the shared table can say that an identifier is free again.
    InitAndStart();
    const PluggedToken token = Plug();
    ASSERT_EQ(m_events.WaitFor(1).size(), 1u);
    Unplug(token);
    ASSERT_EQ(m_events.WaitFor(2).size(), 2u);
    Plug({"--serial", token.serial});
    const std::vector<KV_SLOT_EVENT> events = m_events.WaitFor(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].slotId, 2u);
}

TEST_F(MonitorTest, StopEndsTheScanAndReleasesTheStartMutex) {
    InitAndStart();
    CProcessMutex start;
    ASSERT_EQ(start.Open(CUnixDevChgMon::StartMutexName()), 0);
    EXPECT_NE(start.TryLock(), 0) << "the scan thread holds it";
    EXPECT_EQ(m_monitor.Stop(), CKR_OK);
    EXPECT_EQ(start.TryLock(), 0);
    start.Unlock();
    Plug();
    ExpectNoEventBeyond(0);
}

TEST_F(MonitorTest, DevicePresentWithoutAMatchedDeviceRaisesNothing) {
    ASSERT_EQ(m_monitor.Init(&EventRecorder::Callback, &m_events), CKR_OK);
    EXPECT_EQ(m_monitor.GetDeviceType(), 0);
    m_monitor.OnDevicePresent("001:001", 1, 0, 0);
    m_monitor.OnDeviceRemoved("001:001");
    EXPECT_TRUE(m_events.Events().empty());
    EXPECT_EQ(m_monitor.GetDeviceMap().size(), 1u);
}

} // namespace
} // namespace keycore::test
