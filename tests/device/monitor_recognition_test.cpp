// Which USB devices the monitor takes for tokens: only the family's vendor with one of its product ids.
// vtoken plugs devices with other ids that still speak a token's framing, so that nothing but the ids
// can keep them out.

#include "device/token_identity.h"
#include "device/unix_dev_chg_mon.h"
#include "monitor_test_support.h"
#include "vtoken_test_support.h"

#include <cstdio>
#include <thread>

namespace keycore::test {
namespace {

using vtoken::test::PluggedToken;

std::string IdText(uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", id);
    return text;
}

class MonitorRecognitionTest : public vtoken::test::VtokenTest {
protected:
    void TearDown() override {
        m_monitor.Stop();
        VtokenTest::TearDown();
    }

    void InitAndStart() {
        ASSERT_EQ(m_monitor.Init(&EventRecorder::Callback, &m_events), CKR_OK);
        ASSERT_EQ(m_monitor.Start(), CKR_OK);
    }

    // The device is on the bus with exactly these ids (else the monitor's silence proves nothing).
    void ExpectOnBus(const PluggedToken& token, uint16_t vendor, uint16_t product) {
        struct usb_device* device = FindDevice(token.path);
        ASSERT_NE(device, nullptr) << token.path;
        EXPECT_EQ(device->descriptor.idVendor, vendor);
        EXPECT_EQ(device->descriptor.idProduct, product);
    }

    EventRecorder m_events;
    CUnixDevChgMon m_monitor;
};

TEST_F(MonitorRecognitionTest, DevicesWithForeignIdsGiveNoEventBesideARealToken) {
    namespace ti = token_identity;
    InitAndStart();
    struct Foreign {
        const char* what;
        std::vector<std::string> plug;
        uint16_t vendor;
        uint16_t product;
    };
    const uint16_t otherVendor = static_cast<uint16_t>(ti::kVendorId ^ 0x0100);
    const Foreign foreign[] = {
        {"unknown product, bot framing", {"--kind", "bot", "--product", "0x0513"}, ti::kVendorId, 0x0513},
        {"unknown product, hid framing", {"--kind", "hid", "--product", "0xbeef"}, ti::kVendorId, 0xbeef},
        {"other vendor, token product",
         {"--kind", "hid", "--vendor", IdText(otherVendor)},
         otherVendor,
         ti::kProductIdHid},
    };
    for (const Foreign& f : foreign) {
        SCOPED_TRACE(f.what);
        const PluggedToken device = Plug(f.plug);
        ExpectOnBus(device, f.vendor, f.product);
    }
    const PluggedToken token = Plug({"--kind", "hid"});

    std::vector<KV_SLOT_EVENT> events = m_events.WaitFor(1);
    ASSERT_EQ(events.size(), 1u);
    // Many more passes over all four devices raise nothing further.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    events = m_events.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].ulEvent, kSlotEventArrival);
    EXPECT_EQ(events[0].devicePath, token.path);
    EXPECT_EQ(events[0].ulValue, static_cast<CK_ULONG>(ti::kDeviceTypeHid));
}

TEST_F(MonitorRecognitionTest, SecondBulkOnlyProductIdIsATokenOfTheScsiType) {
    InitAndStart();
    const PluggedToken token = Plug({"--kind", "bot", "--product", IdText(token_identity::kProductIdBulkOnlyAlt)});
    const std::vector<KV_SLOT_EVENT> events = m_events.WaitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].devicePath, token.path);
    EXPECT_EQ(events[0].ulValue, static_cast<CK_ULONG>(token_identity::kDeviceTypeBulkOnly));
}

} // namespace
} // namespace keycore::test
