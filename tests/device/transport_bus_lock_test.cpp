// Opening tokens while the monitor thread rebuilds libusb's bus list: both walk the same
// process-wide list, which a rebuild frees and replaces (a use after free shows under ASan).

#include "device/unix_dev_chg_mon.h"
#include "monitor_test_support.h"
#include "transport_test_support.h"

#include <atomic>
#include <thread>

namespace keycore::test {
namespace {

using BusListTest = TransportTest;

TEST_F(BusListTest, OpenDeviceAndTheScanNeverWalkAListBeingRebuilt) {
    const PluggedToken steady = Plug();
    EventRecorder events;
    CUnixDevChgMon monitor;
    ASSERT_EQ(monitor.Init(&EventRecorder::Callback, &events), CKR_OK);
    ASSERT_EQ(monitor.Start(), CKR_OK);

    std::atomic<bool> done{false};
    int failures = 0;
    int rounds = 0;
    std::thread opener([&] {
        while (!done) {
            CToken5105Auto token(nullptr, steady.path, false);
            if (token.OpenDevice() != CKR_OK || Transmit(token, FromHex("0102")).answer != FromHex("0102 9000"))
                ++failures;
            ++rounds;
        }
    });
    // Plugging and unplugging changes the list under both walkers.
    for (int i = 0; i < 5; ++i) {
        const PluggedToken passing = Plug({"--kind", "hid"});
        Unplug(passing);
    }
    done = true;
    opener.join();
    monitor.Stop();
    EXPECT_EQ(failures, 0) << "of " << rounds;
    EXPECT_GT(rounds, 0);
    const std::vector<KV_SLOT_EVENT> seen = events.Events();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].devicePath, steady.path);
}

} // namespace
} // namespace keycore::test
