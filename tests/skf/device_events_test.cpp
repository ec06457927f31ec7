// SKF_WaitForDevEvent and its cancel over virtual tokens plugged and unplugged while a thread waits,
// and a waiter blocked while other threads use the token.
#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace keycore::test {
namespace {

constexpr ULONG kArrival = 1;
constexpr ULONG kRemoval = 2;
// SKF_WaitForDevEvent once waiting has been cancelled.
constexpr ULONG kWaitCancelled = 0x190;

struct DevEvent {
    ULONG result = 0;
    ULONG event = 0;
    ULONG nameLen = 0;
    std::string name;
};

// One wait with a name buffer of the given capacity.
DevEvent WaitOnce(ULONG capacity) {
    DevEvent e;
    std::vector<char> name(capacity + 1, 'x');
    e.nameLen = capacity;
    e.result = SKF_WaitForDevEvent(name.data(), &e.nameLen, &e.event);
    if (e.result == SAR_OK)
        e.name.assign(name.data());
    return e;
}

class SkfDeviceEventTest : public SkfStorageTest {
protected:
    bool OpenDefaultApplication() const override { return false; }

    // A wait on another thread, bounded so that a lost event fails the test instead of hanging it.
    DevEvent WaitBounded(ULONG capacity) {
        std::future<DevEvent> waiting = std::async(std::launch::async, [capacity] { return WaitOnce(capacity); });
        if (waiting.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            SKF_CancelWaitForDevEvent();
            ADD_FAILURE() << "no device event arrived";
        }
        return waiting.get();
    }

    // Events are queued for SKF only once a thread has waited, so every wait for a plug starts before it.
    // Collects events until the arrival of a device other than the first.
    std::future<DevEvent> StartWaitForNewArrival() {
        return std::async(std::launch::async, [this] {
            for (int i = 0; i < 10; ++i) {
                DevEvent e = WaitOnce(256);
                if (e.result != SAR_OK || (e.event == kArrival && e.name != m_devName))
                    return e;
            }
            return DevEvent{SAR_FAIL, 0, 0, {}};
        });
    }

    static DevEvent Bounded(std::future<DevEvent>& waiting) {
        if (waiting.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            SKF_CancelWaitForDevEvent();
            ADD_FAILURE() << "no device event arrived";
        }
        return waiting.get();
    }

    // Plugs a second token while a thread waits; its arrival event.
    DevEvent PlugSecond() {
        std::future<DevEvent> waiting = StartWaitForNewArrival();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_second = Plug({"--kind", "hid"});
        return Bounded(waiting);
    }

    vtoken::test::PluggedToken m_second;
};

TEST_F(SkfDeviceEventTest, MissingPointersAreRefusedWithoutWaiting) {
    char name[64];
    ULONG len = sizeof name;
    ULONG event = 0;
    EXPECT_EQ(SKF_WaitForDevEvent(nullptr, &len, &event), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_WaitForDevEvent(name, nullptr, &event), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_WaitForDevEvent(name, &len, nullptr), SAR_INVALIDPARAMERR);
}

TEST_F(SkfDeviceEventTest, ArrivalAndRemovalReachTheWaiterWithTheDeviceName) {
    const DevEvent arrival = PlugSecond();
    ASSERT_EQ(arrival.result, SAR_OK);
    EXPECT_EQ(arrival.nameLen, arrival.name.size() + 1);
    ULONG state = 0;
    ASSERT_EQ(SKF_GetDevState(Text(arrival.name.c_str()), &state), SAR_OK);
    EXPECT_EQ(state, 1u) << "the name is the one the device is reached by";

    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_second.id}).exitCode, 0);
    const DevEvent removal = WaitBounded(256);
    ASSERT_EQ(removal.result, SAR_OK);
    EXPECT_EQ(removal.event, kRemoval);
    EXPECT_EQ(removal.name, arrival.name);
}

TEST_F(SkfDeviceEventTest, NameBufferOfLengthPlusOneFitsAndOneLessAsksForIt) {
    const DevEvent arrival = PlugSecond();
    ASSERT_EQ(arrival.result, SAR_OK);
    const ULONG length = static_cast<ULONG>(arrival.name.size());

    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_second.id}).exitCode, 0);
    DevEvent tooSmall = WaitBounded(length);
    EXPECT_EQ(tooSmall.result, SAR_INDATALENERR);
    EXPECT_EQ(tooSmall.nameLen, length + 1);
    EXPECT_EQ(tooSmall.event, kRemoval);

    // The refused event was consumed: the next one is the token coming back.
    m_second = Plug({"--kind", "hid", "--serial", m_second.serial});
    const DevEvent exact = WaitBounded(length + 1);
    ASSERT_EQ(exact.result, SAR_OK);
    EXPECT_EQ(exact.event, kArrival);
    EXPECT_EQ(exact.nameLen, length + 1);
    EXPECT_EQ(exact.name.size(), length);
}

TEST_F(SkfDeviceEventTest, CancelReleasesEveryWaiterAndLaterWaitsReturnAtOnce) {
    std::vector<std::future<DevEvent>> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.push_back(std::async(std::launch::async, [] { return WaitOnce(256); }));
    // Let both threads block before the cancel.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(SKF_CancelWaitForDevEvent(), SAR_OK);
    for (auto& waiter : waiters) {
        ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(waiter.get().result, kWaitCancelled);
    }
    EXPECT_EQ(WaitOnce(256).result, kWaitCancelled);
    // The rest of the interface keeps working.
    BYTE random[8];
    EXPECT_EQ(SKF_GenRandom(m_dev, random, sizeof random), SAR_OK);
}

TEST_F(SkfDeviceEventTest, AWaiterBlocksNoOtherCallAndWakesForTheNextDevice) {
    HAPPLICATION app = nullptr;
    ASSERT_EQ(SKF_OpenApplication(m_dev, Text(kDefaultApp), &app), SAR_OK);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::atomic<int> calls{0};
    auto worker = [&](int kind) {
        while (!stop) {
            ULONG rv = SAR_OK;
            if (kind == 0) {
                BYTE random[16];
                rv = SKF_GenRandom(m_dev, random, sizeof random);
            } else if (kind == 1) {
                ULONG retry = 0;
                rv = SKF_VerifyPIN(app, kUserPinType, Text(kDefaultPinText), &retry);
            } else {
                DEVINFO info;
                rv = SKF_GetDevInfo(m_dev, &info);
                ULONG size = 0;
                if (rv == SAR_OK)
                    rv = SKF_EnumDev(1, nullptr, &size);
            }
            if (rv != SAR_OK)
                ++failures;
            ++calls;
        }
    };
    std::future<DevEvent> waiting = StartWaitForNewArrival();
    std::vector<std::thread> workers;
    for (int kind = 0; kind < 3; ++kind)
        workers.emplace_back(worker, kind);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int callsWhileWaiting = calls;
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    m_second = Plug({"--kind", "hid"});
    const bool woke = waiting.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    stop = true;
    for (std::thread& t : workers)
        t.join();
    if (!woke)
        SKF_CancelWaitForDevEvent();
    const DevEvent arrival = waiting.get();
    EXPECT_TRUE(woke);
    EXPECT_EQ(arrival.result, SAR_OK);
    EXPECT_FALSE(arrival.name.empty());
    EXPECT_GT(callsWhileWaiting, 10) << "calls went on while a thread waited";
    EXPECT_EQ(failures, 0);
}

// An application that ends normally while one of its threads still waits for a device event: the
// library's teardown at exit releases the waiter instead of waiting for it for ever.
TEST_F(SkfDeviceEventTest, AnApplicationEndsWhileAThreadStillWaitsForADeviceEvent) {
    const vtoken::test::ToolResult result = vtoken::test::RunShell(std::string("timeout 60 ") + SKF_EXIT_WAITER_PATH);
    EXPECT_EQ(result.exitCode, 0) << (result.exitCode == 124 ? "the process hung at exit; " : "") << result.err;
}

} // namespace
} // namespace keycore::test
