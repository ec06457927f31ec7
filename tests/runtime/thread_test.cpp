#include "runtime/thread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

namespace keycore {
namespace {

using namespace std::chrono_literals;

// What a start routine and a stop routine share in these tests.
struct Probe {
    std::atomic<bool> started{false};
    std::atomic<bool> gateOpen{false};
    std::atomic<bool> sawStopRequest{false};
    std::atomic<bool> cleanedUp{false};
    std::atomic<int> stopCalls{0};
    bool stopResult = true;
    Thread* thread = nullptr;
};

void WaitUntil(const std::atomic<bool>& flag) {
    while (!flag)
        std::this_thread::sleep_for(1ms);
}

// Ends as soon as a stop is requested.
void RunUntilStopRequested(Thread& thread, void* pUserData) {
    auto* probe = static_cast<Probe*>(pUserData);
    probe->started = true;
    while (!thread.IsStopRequested())
        usleep(1000);
    probe->sawStopRequest = true;
}

// Never looks at the stop request; only cancellation ends it. Records that its cleanup ran.
void RunUntilCancelled(Thread&, void* pUserData) {
    auto* probe = static_cast<Probe*>(pUserData);
    struct Cleanup {
        Probe* probe;
        ~Cleanup() { probe->cleanedUp = true; }
    } cleanup{probe};
    probe->started = true;
    for (;;)
        usleep(1000);
}

// Waits for the test to open the gate, then reads its Thread: that object must still be alive.
void RunUntilGateOpens(Thread& thread, void* pUserData) {
    auto* probe = static_cast<Probe*>(pUserData);
    probe->started = true;
    WaitUntil(probe->gateOpen);
    probe->sawStopRequest = thread.IsStopRequested();
}

bool CountingStopRoutine(void* pUserData) {
    auto* probe = static_cast<Probe*>(pUserData);
    ++probe->stopCalls;
    return probe->stopResult;
}

// The teardown later code wants: wake the thread, then wait (bounded) for it to end.
bool WakeAndWaitStopRoutine(void* pUserData) {
    auto* probe = static_cast<Probe*>(pUserData);
    ++probe->stopCalls;
    probe->gateOpen = true;
    return probe->thread->WaitForEnd(5000);
}

TEST(Thread, RunsTheStartRoutineWithItsUserDataAndEnds) {
    Probe probe;
    Thread thread;
    ASSERT_EQ(thread.Create(&RunUntilGateOpens, nullptr, &probe), 0);
    EXPECT_TRUE(thread.IsRunning());
    WaitUntil(probe.started);
    EXPECT_FALSE(thread.HasEnded());
    probe.gateOpen = true;
    EXPECT_TRUE(thread.WaitForEnd(10000));
    EXPECT_TRUE(thread.HasEnded());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(probe.sawStopRequest);
}

TEST(Thread, CreateRefusesASecondThreadUntilTheFirstHasEnded) {
    Probe probe;
    Thread thread;
    EXPECT_EQ(thread.Create(nullptr, nullptr, &probe), 1);
    ASSERT_EQ(thread.Create(&RunUntilGateOpens, nullptr, &probe), 0);
    EXPECT_EQ(thread.Create(&RunUntilGateOpens, nullptr, &probe), 1);
    probe.gateOpen = true;
    ASSERT_TRUE(thread.WaitForEnd(10000));

    Probe second;
    second.gateOpen = true;
    EXPECT_EQ(thread.Create(&RunUntilGateOpens, nullptr, &second), 0);
    EXPECT_TRUE(thread.WaitForEnd(10000));
    EXPECT_TRUE(second.started);
}

TEST(Thread, StopWithoutStopRoutineWaitsForTheThreadToEnd) {
    Probe probe;
    Thread thread;
    ASSERT_EQ(thread.Create(&RunUntilStopRequested, nullptr, &probe), 0);
    thread.Stop(Thread::kNoTimeout);
    EXPECT_TRUE(thread.HasEnded());
    EXPECT_TRUE(probe.sawStopRequest);
    EXPECT_TRUE(thread.IsStopRequested());
}

TEST(Thread, StopRightAfterCreateIsNotLost) {
    Probe probe;
    Thread thread;
    ASSERT_EQ(thread.Create(&RunUntilStopRequested, nullptr, &probe), 0);
    thread.Stop(10000);
    EXPECT_TRUE(thread.HasEnded());
    EXPECT_TRUE(probe.sawStopRequest) << "the routine ended by itself, not by cancellation";
}

TEST(Thread, StopCancelsAThreadThatOutlivesTheTimeout) {
    Probe probe;
    Thread thread;
    ASSERT_EQ(thread.Create(&RunUntilCancelled, nullptr, &probe), 0);
    WaitUntil(probe.started);
    thread.Stop(100);
    EXPECT_TRUE(thread.WaitForEnd(10000));
    EXPECT_TRUE(probe.cleanedUp) << "cancellation unwinds the routine's stack";
}

TEST(Thread, AStopRoutineThatFailsGetsTheThreadCancelled) {
    Probe probe;
    probe.stopResult = false;
    Thread thread;
    ASSERT_EQ(thread.Create(&RunUntilCancelled, &CountingStopRoutine, &probe), 0);
    WaitUntil(probe.started);
    thread.Stop(Thread::kNoTimeout);
    EXPECT_EQ(probe.stopCalls, 1);
    EXPECT_TRUE(thread.WaitForEnd(10000));
    EXPECT_TRUE(probe.cleanedUp);
}

TEST(Thread, AStopRoutineThatSucceedsEndsStopWithoutWaiting) {
    Probe probe;
    Thread thread;
    ASSERT_EQ(thread.Create(&RunUntilGateOpens, &CountingStopRoutine, &probe), 0);
    WaitUntil(probe.started);
    thread.Stop(Thread::kNoTimeout);
    EXPECT_EQ(probe.stopCalls, 1);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.HasEnded()) << "the thread is still waiting at its gate";

    thread.Stop(Thread::kNoTimeout);
    EXPECT_EQ(probe.stopCalls, 1) << "a stopped thread is not stopped again";
    probe.gateOpen = true;
    EXPECT_TRUE(thread.WaitForEnd(10000));
    EXPECT_TRUE(probe.sawStopRequest);
}

TEST(Thread, AStopRoutineCanWakeTheThreadAndWaitForItsEnd) {
    Probe probe;
    Thread thread;
    probe.thread = &thread;
    ASSERT_EQ(thread.Create(&RunUntilGateOpens, &WakeAndWaitStopRoutine, &probe), 0);
    WaitUntil(probe.started);
    thread.Stop(Thread::kNoTimeout);
    EXPECT_EQ(probe.stopCalls, 1);
    EXPECT_TRUE(thread.HasEnded());
    EXPECT_TRUE(probe.sawStopRequest);
}

TEST(Thread, StopOfAThreadThatIsNotRunningDoesNothing) {
    Probe probe;
    Thread never;
    never.Stop(Thread::kNoTimeout);
    EXPECT_FALSE(never.IsStopRequested());
    EXPECT_TRUE(never.WaitForEnd(0));

    Thread ended;
    probe.gateOpen = true;
    ASSERT_EQ(ended.Create(&RunUntilGateOpens, &CountingStopRoutine, &probe), 0);
    ASSERT_TRUE(ended.WaitForEnd(10000));
    ended.Stop(Thread::kNoTimeout);
    EXPECT_EQ(probe.stopCalls, 0);
}

TEST(Thread, TheObjectStaysValidUntilItsThreadHasEnded) {
    Probe probe;
    auto thread = std::make_unique<Thread>();
    ASSERT_EQ(thread->Create(&RunUntilGateOpens, &CountingStopRoutine, &probe), 0);
    WaitUntil(probe.started);

    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        thread.reset();
        destroyed = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(destroyed) << "the destructor returned while its thread still ran";
    EXPECT_EQ(probe.stopCalls, 1);
    // The routine now reads its Thread; under ASan a destroyed object would be reported here.
    probe.gateOpen = true;
    destroyer.join();
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(probe.sawStopRequest);
}

TEST(Thread, TheDestructorCancelsAThreadThatIgnoresTheStop) {
    Probe probe;
    {
        Thread thread;
        ASSERT_EQ(thread.Create(&RunUntilCancelled, &CountingStopRoutine, &probe), 0);
        WaitUntil(probe.started);
    }
    EXPECT_EQ(probe.stopCalls, 1);
    EXPECT_TRUE(probe.cleanedUp);
}

void StopSelf(Thread& thread, void* pUserData) {
    auto* probe = static_cast<Probe*>(pUserData);
    thread.Stop(Thread::kNoTimeout);
    probe->sawStopRequest = thread.IsStopRequested();
    probe->started = thread.IsCurrentThread();
    probe->cleanedUp = !thread.WaitForEnd(Thread::kNoTimeout);
}

TEST(Thread, StopAndWaitFromTheThreadItselfNeitherBlockNorCancel) {
    Probe probe;
    Thread thread;
    ASSERT_EQ(thread.Create(&StopSelf, nullptr, &probe), 0);
    ASSERT_TRUE(thread.WaitForEnd(10000));
    EXPECT_TRUE(probe.sawStopRequest);
    EXPECT_TRUE(probe.started) << "IsCurrentThread on the thread itself";
    EXPECT_TRUE(probe.cleanedUp) << "WaitForEnd from the thread itself answers false at once";
    EXPECT_FALSE(thread.IsCurrentThread());
}

void Throw(Thread&, void*) {
    throw std::runtime_error("escapes the routine");
}

TEST(Thread, AnExceptionFromTheRoutineEndsOnlyThatThread) {
    Thread thread;
    ASSERT_EQ(thread.Create(&Throw, nullptr, nullptr), 0);
    EXPECT_TRUE(thread.WaitForEnd(10000));
    EXPECT_FALSE(thread.IsRunning());
}

} // namespace
} // namespace keycore
