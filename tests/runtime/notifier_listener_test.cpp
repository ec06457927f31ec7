// The notification channel seen from one process: its listener thread, its stop, registration and
// the registry's lifetime, and the results of calls made in the wrong state.

#include "runtime/notifier_fifo.h"
#include "runtime/notifier_registry.h"
#include "runtime/process_notifier.h"
#include "runtime/share_memory.h"

#include "child_process.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using keycore::CNotifierRegistry;
using keycore::CShareMemory;
using keycore::NotifierFifoPath;
using keycore::ProcessNotifier;
using keycore::testing::ChildProcess;
using Clock = std::chrono::steady_clock;

const char kChannel[] = "keycore-test_process_notify";

bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

double CpuSecondsOfProcess() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Collects what the listener thread delivers.
class Inbox {
public:
    static void Deliver(void* pContext, const void* pMessage, uint32_t ulLength) {
        auto* inbox = static_cast<Inbox*>(pContext);
        std::lock_guard<std::mutex> lock(inbox->m_mutex);
        inbox->m_messages.emplace_back(static_cast<const char*>(pMessage), ulLength);
        inbox->m_changed.notify_all();
    }

    // True when message number index (from 0) has come within timeoutMs.
    bool WaitFor(size_t index, int timeoutMs = 10000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_messages.size() > index; });
    }

    std::string At(size_t index) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return index < m_messages.size() ? m_messages[index] : std::string();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_messages;
};

// Another process sends text to every listener and exits, closing its end of our FIFO.
int SendFromChild(const std::string& text) {
    ChildProcess child({"notify-send", kChannel, text});
    const std::string line = child.ReadLine();
    child.Wait();
    return line == "sent=0" ? 0 : -1;
}

TEST(NotifierListenerTest, ListenerSurvivesAllWritersClosingWithoutSpinning) {
    Inbox inbox;
    ProcessNotifier notifier;
    notifier.SetCallback(&Inbox::Deliver, &inbox);
    ASSERT_EQ(0, notifier.Open(kChannel));
    ASSERT_EQ(0, notifier.Register());

    ASSERT_EQ(0, SendFromChild("one"));
    ASSERT_TRUE(inbox.WaitFor(0));
    EXPECT_EQ("one", inbox.At(0));

    // Every writer is gone now. A listener that spins on end of file burns a whole core meanwhile.
    const double cpuBefore = CpuSecondsOfProcess();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(CpuSecondsOfProcess() - cpuBefore, 0.3);

    ASSERT_EQ(0, SendFromChild("two"));
    ASSERT_TRUE(inbox.WaitFor(1));
    EXPECT_EQ("two", inbox.At(1));
}

TEST(NotifierListenerTest, UnregisterWakesTheListenerAtOnceAndRegisteringAgainWorks) {
    Inbox inbox;
    ProcessNotifier notifier;
    notifier.SetCallback(&Inbox::Deliver, &inbox);
    ASSERT_EQ(0, notifier.Open(kChannel));
    ASSERT_EQ(0, notifier.Register());
    const std::string fifo = NotifierFifoPath(kChannel, notifier.OwnPid());
    ASSERT_TRUE(PathExists(fifo));

    const auto start = Clock::now();
    EXPECT_EQ(0, notifier.Unregister());
    // Well inside the stop routine's bounded wait: the listener was woken, not waited out.
    EXPECT_LT(ElapsedMs(start), ProcessNotifier::kStopWaitMs);
    EXPECT_FALSE(notifier.IsRegistered());
    EXPECT_FALSE(PathExists(fifo));
    EXPECT_EQ(0, notifier.RegisteredCount());
    EXPECT_EQ(0, notifier.Unregister());

    ASSERT_EQ(0, notifier.Register());
    ASSERT_EQ(0, SendFromChild("again"));
    ASSERT_TRUE(inbox.WaitFor(0));
    EXPECT_EQ("again", inbox.At(0));
}

TEST(NotifierListenerTest, DestroyingARegisteredNotifierIsPromptAndCleansUp) {
    std::string fifo;
    const auto start = Clock::now();
    {
        ProcessNotifier notifier;
        ASSERT_EQ(0, notifier.Open(kChannel));
        ASSERT_EQ(0, notifier.Register());
        fifo = NotifierFifoPath(kChannel, notifier.OwnPid());
    }
    EXPECT_LT(ElapsedMs(start), ProcessNotifier::kStopWaitMs);
    EXPECT_FALSE(PathExists(fifo));
    // The last process removed the registry with it.
    CShareMemory registry;
    EXPECT_NE(0, registry.Open(kChannel, false));
}

void ThrowFromCallback(void* pContext, const void*, uint32_t) {
    static_cast<Inbox*>(pContext)->Deliver(pContext, "thrown", 6);
    throw std::runtime_error("the listener ends here");
}

TEST(NotifierListenerTest, StopNeverHangsWhenTheListenerHasAlreadyEnded) {
    Inbox inbox;
    ProcessNotifier notifier;
    notifier.SetCallback(&ThrowFromCallback, &inbox);
    ASSERT_EQ(0, notifier.Open(kChannel));
    ASSERT_EQ(0, notifier.Register());
    ASSERT_EQ(0, SendFromChild("end it"));
    ASSERT_TRUE(inbox.WaitFor(0));

    const auto start = Clock::now();
    EXPECT_EQ(0, notifier.Unregister());
    EXPECT_LT(ElapsedMs(start), ProcessNotifier::kStopWaitMs);
    EXPECT_FALSE(PathExists(NotifierFifoPath(kChannel, notifier.OwnPid())));
}

TEST(NotifierListenerTest, CloseKeepsTheRegistryWhileAnotherProcessIsRegistered) {
    ChildProcess peer({"notify-listen", kChannel});
    ASSERT_EQ(0u, peer.ReadLine().rfind("registered ", 0));
    {
        ProcessNotifier notifier;
        ASSERT_EQ(0, notifier.Open(kChannel));
        ASSERT_EQ(0, notifier.Register());
        notifier.Close();
        EXPECT_FALSE(notifier.IsRegistered());
    }
    CShareMemory registry;
    ASSERT_EQ(0, registry.Open(kChannel, false));
    EXPECT_EQ(1u, CNotifierRegistry(registry.Data(), registry.DataSize()).Count());
}

TEST(NotifierListenerTest, CallsInTheWrongStateGetTheirCodes) {
    ProcessNotifier notifier;
    uint32_t count = 0;
    // Not opened: the registry cannot be locked.
    EXPECT_EQ(5, notifier.Register());
    EXPECT_EQ(5, notifier.Broadcast(0, "x", 1));
    EXPECT_EQ(5, notifier.CountListeners(&count));
    EXPECT_EQ(5, notifier.RegisteredCount());
    EXPECT_FALSE(notifier.IsRegistered());

    EXPECT_EQ(3, notifier.Open(nullptr));
    EXPECT_EQ(3, notifier.Open(""));
    ASSERT_EQ(0, notifier.Open(kChannel));
    EXPECT_EQ(3, notifier.CountListeners(nullptr));
    ASSERT_EQ(0, notifier.Register());
    EXPECT_EQ(1, notifier.Register());
    EXPECT_EQ(1, notifier.RegisteredCount());
    ASSERT_EQ(0, notifier.CountListeners(&count));
    EXPECT_EQ(1u, count);
}

// Writes pids into the channel's registry by hand, as other processes would have.
void FillRegistry(const std::vector<int32_t>& pids, uint32_t countWord) {
    CShareMemory registry;
    ASSERT_EQ(0, registry.Open(kChannel, false));
    keycore::CShareMemoryHolder hold(registry);
    ASSERT_TRUE(hold.IsLocked());
    auto* data = static_cast<uint8_t*>(registry.Data());
    std::memcpy(data + CNotifierRegistry::kCountOffset, &countWord, 4);
    std::memcpy(data + CNotifierRegistry::kPidsOffset, pids.data(), pids.size() * sizeof(int32_t));
}

TEST(NotifierListenerTest, FullRegistryRefusesRegistrationAndLeavesNoFifo) {
    ProcessNotifier notifier;
    ASSERT_EQ(0, notifier.Open(kChannel));
    const std::vector<int32_t> others(CNotifierRegistry::kMaxProcesses, 0x7ffffff0);
    FillRegistry(others, CNotifierRegistry::kMaxProcesses);

    EXPECT_EQ(6, notifier.Register());
    EXPECT_FALSE(notifier.IsRegistered());
    EXPECT_FALSE(PathExists(NotifierFifoPath(kChannel, notifier.OwnPid())));
    EXPECT_EQ(500, notifier.RegisteredCount());
}

TEST(NotifierListenerTest, DamagedRegistryCountIsNeverReadPastTheSegment) {
    ProcessNotifier notifier;
    ASSERT_EQ(0, notifier.Open(kChannel));
    // No process has these ids; the count claims far more entries than the segment can hold.
    FillRegistry(std::vector<int32_t>(CNotifierRegistry::kMaxProcesses, 0x7ffffff0), 0xFFFFFFFFu);
    EXPECT_EQ(500, notifier.RegisteredCount());

    EXPECT_EQ(0, notifier.Broadcast(0, "x", 1));
    EXPECT_EQ(0, notifier.RegisteredCount());
    uint32_t live = 7;
    EXPECT_EQ(0, notifier.CountListeners(&live));
    EXPECT_EQ(0u, live);
    EXPECT_EQ(0, notifier.Register());
}

} // namespace
