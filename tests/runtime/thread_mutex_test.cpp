#include "runtime/thread_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace keycore {
namespace {

using namespace std::chrono_literals;

// Tries to take the mutex on its own thread and records when it got it.
class Contender {
public:
    explicit Contender(ThreadMutex& mutex)
        : m_thread([this, &mutex] {
              mutex.Lock();
              m_acquired = true;
              mutex.Unlock();
          }) {}
    ~Contender() { m_thread.join(); }
    bool Acquired() const { return m_acquired; }
    // Gives the contender the time to get the mutex if it is free; a pass here proves nothing about
    // speed, a failure proves the mutex was free.
    bool StillBlockedAfterPause() const {
        std::this_thread::sleep_for(50ms);
        return !m_acquired;
    }

private:
    std::atomic<bool> m_acquired{false};
    std::thread m_thread;
};

TEST(ThreadMutex, OwnerRelocksAndOnlyTheOutermostUnlockReleases) {
    ThreadMutex mutex;
    mutex.Lock();
    mutex.Lock();
    mutex.Lock();
    Contender other(mutex);
    EXPECT_TRUE(other.StillBlockedAfterPause());
    mutex.Unlock();
    EXPECT_TRUE(other.StillBlockedAfterPause());
    mutex.Unlock();
    EXPECT_TRUE(other.StillBlockedAfterPause());
    mutex.Unlock();
    EXPECT_FALSE(mutex.IsOwnedByCaller());
    while (!other.Acquired())
        std::this_thread::sleep_for(1ms);
}

TEST(ThreadMutex, UnlockByAThreadThatDoesNotOwnItIsIgnored) {
    ThreadMutex mutex;
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread owner([&] {
        mutex.Lock();
        held = true;
        while (!release)
            std::this_thread::sleep_for(1ms);
        mutex.Unlock();
    });
    while (!held)
        std::this_thread::sleep_for(1ms);

    mutex.Unlock();
    mutex.Unlock();
    {
        Contender other(mutex);
        EXPECT_TRUE(other.StillBlockedAfterPause());
        release = true;
    }
    owner.join();
}

TEST(ThreadMutex, UnlockWithoutLockIsIgnoredAndTheMutexStaysUsable) {
    ThreadMutex mutex;
    mutex.Unlock();
    mutex.Lock();
    EXPECT_TRUE(mutex.IsOwnedByCaller());
    mutex.Unlock();
    Contender other(mutex);
    while (!other.Acquired())
        std::this_thread::sleep_for(1ms);
}

TEST(ThreadMutexHolder, HoldsForItsScopeAndNests) {
    ThreadMutex mutex;
    std::unique_ptr<Contender> other;
    {
        ThreadMutexHolder outer(mutex);
        {
            ThreadMutexHolder inner(mutex);
            EXPECT_TRUE(mutex.IsOwnedByCaller());
        }
        EXPECT_TRUE(mutex.IsOwnedByCaller());
        other = std::make_unique<Contender>(mutex);
        EXPECT_TRUE(other->StillBlockedAfterPause());
    }
    EXPECT_FALSE(mutex.IsOwnedByCaller());
    // Joining the contender completes only because leaving the scope released the mutex.
    other.reset();
}

TEST(ThreadMutexDeathTest, DestroyingAHeldMutexStopsWithTheDestructorSignature) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* mutex = new ThreadMutex;
            mutex->Lock();
            delete mutex;
        },
        "virtual ThreadMutex::~ThreadMutex\\(\\): Assertion `res == 0' failed");
}

} // namespace
} // namespace keycore
