#include "runtime/process_mutex.h"

#include "runtime/ipc_key.h"
#include "tests/runtime/child_process.h"

#include "tests/runtime/case_name.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/sem.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

namespace keycore {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

const std::string kName = "77d27154-7d0d-4d0e-926a-86fcd88dc536_test_mtx";

int SemValue(const CProcessMutex& mutex) {
    return semctl(mutex.SemaphoreId(), 0, GETVAL);
}

bool SemaphoreExists(const std::string& name) {
    return semget(IpcKeyFromName(name), 0, 0) != -1;
}

// ---- Result codes ------------------------------------------------------------------------------

struct ResultCase {
    const char* label;
    std::function<int()> run;
    int expected;
};

// Shows the label instead of the bytes of the case in test names and failures.
void PrintTo(const ResultCase& c, std::ostream* os) {
    *os << c.label;
}

// Leaves no semaphore behind, so the tests also run outside a private IPC namespace.
class ProcessMutexTest : public ::testing::Test {
protected:
    void SetUp() override { CProcessMutex::Remove(kName); }
    void TearDown() override { CProcessMutex::Remove(kName); }
};

class ProcessMutexResultTest : public ::testing::TestWithParam<ResultCase> {
protected:
    void SetUp() override { CProcessMutex::Remove(kName); }
    void TearDown() override { CProcessMutex::Remove(kName); }
};

TEST_P(ProcessMutexResultTest, GivesItsCode) {
    EXPECT_EQ(GetParam().run(), GetParam().expected) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ProcessMutexResultTest,
    ::testing::Values(ResultCase{"create new", [] { return CProcessMutex().Create(kName); }, 0},
                      ResultCase{"create twice",
                                 [] {
                                     CProcessMutex first, second;
                                     first.Create(kName);
                                     return second.Create(kName);
                                 },
                                 1},
                      ResultCase{"create empty name", [] { return CProcessMutex().Create(""); }, 3},
                      ResultCase{"open empty name", [] { return CProcessMutex().Open(""); }, 3},
                      ResultCase{"remove empty name", [] { return CProcessMutex::Remove(""); }, 3},
                      ResultCase{"open missing", [] { return CProcessMutex().Open(kName); }, 2},
                      ResultCase{"remove missing", [] { return CProcessMutex::Remove(kName); }, 2},
                      ResultCase{"open existing",
                                 [] {
                                     CProcessMutex creator, opener;
                                     creator.Create(kName);
                                     return opener.Open(kName);
                                 },
                                 0},
                      ResultCase{"open when already open, even another name",
                                 [] {
                                     CProcessMutex mutex;
                                     mutex.Create(kName);
                                     return mutex.Open("never created");
                                 },
                                 0},
                      ResultCase{"open-or-create missing", [] { return CProcessMutex().OpenOrCreate(kName); }, 0},
                      ResultCase{"lock not open", [] { return CProcessMutex().Lock(); }, 4},
                      ResultCase{"try-lock not open", [] { return CProcessMutex().TryLock(); }, 4},
                      ResultCase{"unlock not open", [] { return CProcessMutex().Unlock(); }, 4},
                      ResultCase{"destroy not open", [] { return CProcessMutex().Destroy(); }, 0},
                      ResultCase{"lock after the semaphore was removed",
                                 [] {
                                     CProcessMutex mutex;
                                     mutex.Create(kName);
                                     CProcessMutex::Remove(kName);
                                     return mutex.Lock();
                                 },
                                 5},
                      ResultCase{"forgotten mutex is not open",
                                 [] {
                                     CProcessMutex mutex;
                                     mutex.Create(kName);
                                     mutex.Forget();
                                     return mutex.Lock();
                                 },
                                 4}),
    [](const ::testing::TestParamInfo<ResultCase>& param) { return testing::CaseName(param.param.label); });

// ---- Semaphore use ----------------------------------------------------------------------------

TEST_F(ProcessMutexTest, CreateMakesAFreeSemaphoreAndOnlyTheOutermostUnlockReleasesIt) {
    CProcessMutex mutex;
    ASSERT_EQ(mutex.Create(kName), 0);
    EXPECT_TRUE(mutex.IsCreated());
    EXPECT_EQ(SemValue(mutex), 0);

    for (int depth = 1; depth <= 3; ++depth) {
        ASSERT_EQ(mutex.Lock(), 0);
        EXPECT_EQ(mutex.DepthForCaller(), depth);
        EXPECT_EQ(SemValue(mutex), 1) << "recursion must never raise the semaphore above 1";
    }
    EXPECT_EQ(mutex.TryLock(), 0) << "the owner may always take it again";
    EXPECT_EQ(mutex.Unlock(), 0);
    for (int depth = 2; depth >= 1; --depth) {
        ASSERT_EQ(mutex.Unlock(), 0);
        EXPECT_EQ(SemValue(mutex), 1);
    }
    ASSERT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(SemValue(mutex), 0);
    EXPECT_EQ(mutex.DepthForCaller(), 0);
    EXPECT_EQ(mutex.Unlock(), 0) << "an extra Unlock is harmless";
    EXPECT_EQ(SemValue(mutex), 0);
}

TEST_F(ProcessMutexTest, DestructorForgetsAndDestroyRemoves) {
    {
        CProcessMutex mutex;
        ASSERT_EQ(mutex.Create(kName), 0);
    }
    EXPECT_TRUE(SemaphoreExists(kName));

    CProcessMutex mutex;
    ASSERT_EQ(mutex.Open(kName), 0);
    EXPECT_FALSE(mutex.IsCreated());
    EXPECT_EQ(mutex.Destroy(), 0);
    EXPECT_FALSE(mutex.IsOpen());
    EXPECT_FALSE(SemaphoreExists(kName));
}

TEST_F(ProcessMutexTest, RemoveDeletesTheNamedSemaphore) {
    CProcessMutex mutex;
    ASSERT_EQ(mutex.Create(kName), 0);
    EXPECT_EQ(CProcessMutex::Remove(kName), 0);
    EXPECT_EQ(CProcessMutex().Open(kName), 2);
}

TEST_F(ProcessMutexTest, ProbeOpensOrCreatesLocksAndUnlocks) {
    EXPECT_TRUE(CProcessMutex::Probe(kName));
    EXPECT_TRUE(SemaphoreExists(kName));
    EXPECT_TRUE(CProcessMutex::Probe(kName));
    CProcessMutex mutex;
    ASSERT_EQ(mutex.Open(kName), 0);
    EXPECT_EQ(SemValue(mutex), 0) << "a probe leaves the lock free";
    EXPECT_FALSE(CProcessMutex::Probe(""));
}

TEST_F(ProcessMutexTest, OpenWaitsAboutOneHundredPollsForACreatorThatNeverUsedIt) {
    CProcessMutex creator;
    ASSERT_EQ(creator.Create(kName), 0);
    EXPECT_EQ(WaitForSemaphoreUse(creator.SemaphoreId(), 100, 20), 100);

    const auto start = std::chrono::steady_clock::now();
    CProcessMutex opener;
    EXPECT_EQ(opener.Open(kName), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // 100 pauses of at least 20 microseconds each; the upper bound only catches a hang.
    EXPECT_GE(elapsed, 2ms);
    EXPECT_LT(elapsed, 10s);

    ASSERT_EQ(creator.Lock(), 0);
    ASSERT_EQ(creator.Unlock(), 0);
    EXPECT_EQ(WaitForSemaphoreUse(creator.SemaphoreId(), 100, 20), 1) << "a used semaphore needs one poll";
}

TEST_F(ProcessMutexTest, WaitForSemaphoreUseReportsARemovedSemaphore) {
    CProcessMutex mutex;
    ASSERT_EQ(mutex.Create(kName), 0);
    const int id = mutex.SemaphoreId();
    ASSERT_EQ(mutex.Destroy(), 0);
    EXPECT_EQ(WaitForSemaphoreUse(id, 100, 20), -1);
}

// ---- Threads of one process -------------------------------------------------------------------

TEST_F(ProcessMutexTest, ASecondThreadBlocksUntilTheOwnersOutermostUnlock) {
    CProcessMutex mutex;
    ASSERT_EQ(mutex.Create(kName), 0);
    ASSERT_EQ(mutex.Lock(), 0);
    ASSERT_EQ(mutex.Lock(), 0);

    std::atomic<bool> acquired{false};
    std::atomic<int> result{-1};
    std::thread other([&] {
        result = mutex.Lock();
        acquired = true;
        EXPECT_EQ(mutex.DepthForCaller(), 1);
        mutex.Unlock();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(acquired);
    ASSERT_EQ(mutex.Unlock(), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(acquired) << "the inner Unlock released the lock";
    ASSERT_EQ(mutex.Unlock(), 0);
    other.join();
    EXPECT_TRUE(acquired);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(SemValue(mutex), 0);
}

TEST_F(ProcessMutexTest, UnlockByANonOwnerChangesNothingAndTryLockReportsBusy) {
    CProcessMutex mutex;
    ASSERT_EQ(mutex.Create(kName), 0);
    ASSERT_EQ(mutex.Lock(), 0);

    std::thread other([&] {
        EXPECT_EQ(mutex.Unlock(), 0);
        EXPECT_EQ(mutex.TryLock(), 5);
        EXPECT_EQ(mutex.DepthForCaller(), 0);
    });
    other.join();
    EXPECT_EQ(SemValue(mutex), 1);
    EXPECT_EQ(mutex.DepthForCaller(), 1);
    EXPECT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(SemValue(mutex), 0);
}

TEST_F(ProcessMutexTest, HolderReleasesOnScopeExitAndReportsAFailedLock) {
    CProcessMutex mutex;
    ASSERT_EQ(mutex.Create(kName), 0);
    {
        CProcessMutexHolder outer(mutex);
        ASSERT_TRUE(outer.IsLocked());
        {
            CProcessMutexHolder inner(mutex);
            EXPECT_EQ(mutex.DepthForCaller(), 2);
        }
        EXPECT_EQ(SemValue(mutex), 1);
    }
    EXPECT_EQ(SemValue(mutex), 0);

    {
        CProcessMutexHolder early(mutex);
        EXPECT_EQ(early.Release(), 0);
        EXPECT_EQ(SemValue(mutex), 0);
        EXPECT_FALSE(early.IsLocked());
    }
    EXPECT_EQ(SemValue(mutex), 0);

    CProcessMutex closed;
    CProcessMutexHolder failed(closed);
    EXPECT_FALSE(failed.IsLocked());
    EXPECT_EQ(failed.Result(), 4);
}

// ---- Real processes ---------------------------------------------------------------------------

TEST_F(ProcessMutexTest, TwoProcessesNeverLoseAnUpdateUnderTheLock) {
    const std::string counterFile = "/tmp/keycore_contend_counter";
    std::remove(counterFile.c_str());
    constexpr int kIterations = 150;
    ChildProcess first({"contend", kName, counterFile, std::to_string(kIterations)});
    ChildProcess second({"contend", kName, counterFile, std::to_string(kIterations)});
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);

    FILE* in = std::fopen(counterFile.c_str(), "r");
    ASSERT_NE(in, nullptr);
    long value = 0;
    EXPECT_EQ(std::fscanf(in, "%ld", &value), 1);
    std::fclose(in);
    EXPECT_EQ(value, 2 * kIterations);
}

TEST_F(ProcessMutexTest, AnotherProcessWaitsForTheLockAndGetsItOnUnlock) {
    CProcessMutex mutex;
    ASSERT_EQ(mutex.Create(kName), 0);
    ASSERT_EQ(mutex.Lock(), 0);
    ChildProcess child({"lock", kName});
    ASSERT_TRUE(child.Started());
    EXPECT_TRUE(child.SilentFor(200));
    ASSERT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(child.ReadLine(), "locked");
    EXPECT_EQ(child.Wait(), 0);
}

// A release must not let the releaser take the lock straight back while another process waits for
// it (a tight unlock/lock loop would starve everyone else): the lock passes to the waiter within the
// release itself.
TEST_F(ProcessMutexTest, AReleaseHandsTheLockToAWaitingProcessBeforeTheReleaserCanRetakeIt) {
    CProcessMutex mutex;
    ASSERT_EQ(mutex.Create(kName), 0);
    ASSERT_EQ(mutex.Lock(), 0);
    ChildProcess waiter({"hold", kName});
    ASSERT_TRUE(waiter.Started());
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (semctl(mutex.SemaphoreId(), 0, GETZCNT) < 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(semctl(mutex.SemaphoreId(), 0, GETZCNT), 1) << "the second process never waited";

    ASSERT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(mutex.TryLock(), 5) << "the releaser took the lock back from under the waiter";
    EXPECT_EQ(waiter.ReadLine(), "locked");
}

TEST_F(ProcessMutexTest, AHolderKilledWithSigkillLeavesTheLockFree) {
    ChildProcess holder({"hold", kName});
    ASSERT_TRUE(holder.Started());
    ASSERT_EQ(holder.ReadLine(), "locked");

    CProcessMutex mutex;
    ASSERT_EQ(mutex.Open(kName), 0);
    EXPECT_EQ(mutex.TryLock(), 5) << "the holder still runs";

    holder.Kill(SIGKILL);
    EXPECT_EQ(mutex.TryLock(), 0) << "the kernel undoes a dead holder's lock";
    EXPECT_EQ(SemValue(mutex), 1);
    EXPECT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(SemValue(mutex), 0);
}

} // namespace
} // namespace keycore
