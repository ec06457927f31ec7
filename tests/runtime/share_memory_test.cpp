#include "runtime/share_memory.h"

#include "runtime/ipc_key.h"
#include "tests/runtime/child_process.h"

#include "tests/runtime/case_name.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include <cstring>
#include <functional>

namespace keycore {
namespace {

using testing::ChildProcess;

const std::string kName = "77d27154-7d0d-4d0e-926a-86fcd88dc536_test";

void RemoveAll() {
    const int shmId = shmget(IpcKeyFromName(kName + "_shm"), 0, 0);
    if (shmId != -1)
        shmctl(shmId, IPC_RMID, nullptr);
    CProcessMutex::Remove(kName + "_mtx");
}

uint32_t HeaderWord(const CShareMemory& shm, size_t index) {
    uint32_t word = 0;
    std::memcpy(&word, static_cast<const uint8_t*>(shm.Base()) + 4 * index, sizeof word);
    return word;
}

class ShareMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveAll(); }
    void TearDown() override { RemoveAll(); }
};

struct ResultCase {
    const char* label;
    std::function<int()> run;
    int expected;
};

// Shows the label instead of the bytes of the case in test names and failures.
void PrintTo(const ResultCase& c, std::ostream* os) {
    *os << c.label;
}

class ShareMemoryResultTest : public ::testing::TestWithParam<ResultCase> {
protected:
    void SetUp() override { RemoveAll(); }
    void TearDown() override { RemoveAll(); }
};

TEST_P(ShareMemoryResultTest, GivesItsCode) {
    EXPECT_EQ(GetParam().run(), GetParam().expected) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ShareMemoryResultTest,
    ::testing::Values(ResultCase{"create new", [] { return CShareMemory().Create(kName, 64, false, nullptr); }, 0},
                      ResultCase{"create empty name", [] { return CShareMemory().Create("", 64, false, nullptr); }, 3},
                      ResultCase{"create size 0", [] { return CShareMemory().Create(kName, 0, false, nullptr); }, 3},
                      ResultCase{"create when attached",
                                 [] {
                                     CShareMemory shm;
                                     shm.Create(kName, 64, false, nullptr);
                                     return shm.Create(kName, 64, false, nullptr);
                                 },
                                 0},
                      ResultCase{"create existing from another object",
                                 [] {
                                     CShareMemory first, second;
                                     first.Create(kName, 64, false, nullptr);
                                     return second.Create(kName, 64, false, nullptr);
                                 },
                                 0},
                      ResultCase{"open empty name", [] { return CShareMemory().Open("", false); }, 3},
                      ResultCase{"open missing", [] { return CShareMemory().Open(kName, false); }, 4},
                      ResultCase{"open with the lock but no segment",
                                 [] {
                                     CProcessMutex lock;
                                     lock.Create(kName + "_mtx");
                                     return CShareMemory().Open(kName, false);
                                 },
                                 4},
                      ResultCase{"open a segment too small for the header",
                                 [] {
                                     CProcessMutex lock;
                                     lock.Create(kName + "_mtx");
                                     CShareMem tiny;
                                     tiny.Create(kName + "_shm", 8);
                                     return CShareMemory().Open(kName, false);
                                 },
                                 4},
                      ResultCase{"lock when not attached", [] { return CShareMemory().Lock(); }, 4},
                      ResultCase{"destroy when not attached", [] { return CShareMemory().Destroy(); }, 4}),
    [](const ::testing::TestParamInfo<ResultCase>& param) { return testing::CaseName(param.param.label); });

TEST_F(ShareMemoryTest, A4096ByteAreaIsA4104ByteSegmentWithItsHeader) {
    CShareMemory shm;
    ASSERT_EQ(shm.Create(kName, 4096, true, nullptr), 0);
    shmid_ds info{};
    ASSERT_EQ(shmctl(shm.SegmentId(), IPC_STAT, &info), 0);
    EXPECT_EQ(info.shm_segsz, 4104u);
    EXPECT_EQ(HeaderWord(shm, 0), 4096u);
    EXPECT_EQ(HeaderWord(shm, 1), 0u);
    EXPECT_EQ(shm.DataSize(), 4096u);
    EXPECT_EQ(shm.Data(), static_cast<uint8_t*>(shm.Base()) + 8);
    EXPECT_EQ(shm.Name(), kName);
    const auto* data = static_cast<const uint8_t*>(shm.Data());
    for (size_t i = 0; i < 4096; ++i)
        ASSERT_EQ(data[i], 0) << "offset " << i;
}

TEST_F(ShareMemoryTest, ASecondProcessSeesTheDataAndTheCounterAndItsChanges) {
    CShareMemory shm;
    ASSERT_EQ(shm.Create(kName, 4096, true, nullptr), 0);
    {
        CShareMemoryHolder hold(shm);
        ASSERT_TRUE(hold.IsLocked());
        std::strcpy(static_cast<char*>(shm.Data()), "hello");
        EXPECT_EQ(shm.BumpCounter(), 1u);
    }

    ChildProcess reader({"shm-show", kName});
    EXPECT_EQ(reader.ReadLine(), "size=4096 counter=1 data=hello");
    EXPECT_EQ(reader.Wait(), 0);

    ChildProcess writer({"shm-write", kName, "child"});
    EXPECT_EQ(writer.ReadLine(), "counter=2");
    EXPECT_EQ(writer.Wait(), 0);
    EXPECT_EQ(shm.GetCounter(), 2u);
    EXPECT_EQ(shm.LocalCounter(), 1u) << "this process has not caught up yet";
    EXPECT_STREQ(static_cast<const char*>(shm.Data()), "child");
}

void* g_changedBase = nullptr;
int g_changedCalls = 0;

TEST_F(ShareMemoryTest, BumpCounterAdvancesCopiesLocallyAndCallsTheCallback) {
    g_changedBase = nullptr;
    g_changedCalls = 0;
    CShareMemory shm;
    ASSERT_EQ(shm.Create(kName, 64, true,
                         [](void* pBase) {
                             g_changedBase = pBase;
                             ++g_changedCalls;
                         }),
              0);
    ASSERT_EQ(shm.Lock(), 0);
    EXPECT_EQ(shm.BumpCounter(), 1u);
    EXPECT_EQ(shm.BumpCounter(), 2u);
    ASSERT_EQ(shm.Unlock(), 0);
    EXPECT_EQ(shm.GetCounter(), 2u);
    EXPECT_EQ(shm.LocalCounter(), 2u);
    EXPECT_EQ(HeaderWord(shm, 1), 2u);
    EXPECT_EQ(g_changedCalls, 2);
    EXPECT_EQ(g_changedBase, shm.Base());

    CShareMemory noCallback;
    ASSERT_EQ(noCallback.Open(kName, false), 0);
    EXPECT_EQ(noCallback.BumpCounter(), 3u);
    EXPECT_EQ(g_changedCalls, 2);
    EXPECT_EQ(CShareMemory().BumpCounter(), 0u) << "not attached: nothing to bump";
}

TEST_F(ShareMemoryTest, OpeningCopiesTheCounterOrWritesTheLocalOne) {
    CShareMemory creator;
    ASSERT_EQ(creator.Create(kName, 64, true, nullptr), 0);
    ASSERT_EQ(creator.Lock(), 0);
    creator.BumpCounter();
    creator.BumpCounter();
    creator.BumpCounter();
    ASSERT_EQ(creator.Unlock(), 0);

    CShareMemory keeper;
    ASSERT_EQ(keeper.Open(kName, false), 0);
    EXPECT_EQ(keeper.LocalCounter(), 3u);
    CShareMemory keeperByCreate;
    ASSERT_EQ(keeperByCreate.Create(kName, 64, false, nullptr), 0);
    EXPECT_EQ(keeperByCreate.LocalCounter(), 3u);

    CShareMemory writer;
    ASSERT_EQ(writer.Open(kName, true), 0);
    EXPECT_EQ(creator.GetCounter(), 0u) << "a fresh object's local counter is 0 and is written";
}

TEST_F(ShareMemoryTest, CloseDetachesAndForgetsButKeepsTheSegment) {
    CShareMemory shm;
    ASSERT_EQ(shm.Create(kName, 64, true, nullptr), 0);
    CShareMemory other;
    ASSERT_EQ(other.Open(kName, false), 0);
    std::strcpy(static_cast<char*>(other.Data()), "kept");

    shm.Close();
    EXPECT_FALSE(shm.IsAttached());
    EXPECT_EQ(shm.Data(), nullptr);
    EXPECT_EQ(shm.DataSize(), 0u);
    EXPECT_TRUE(shm.Name().empty());
    EXPECT_EQ(shm.Lock(), 4);

    ASSERT_EQ(shm.Open(kName, false), 0);
    EXPECT_STREQ(static_cast<const char*>(shm.Data()), "kept");
}

TEST_F(ShareMemoryTest, DestroyRemovesTheSegmentAndItsLock) {
    CShareMemory shm;
    ASSERT_EQ(shm.Create(kName, 64, true, nullptr), 0);
    const int id = shm.SegmentId();
    ASSERT_EQ(shm.Destroy(), 0);
    EXPECT_FALSE(shm.IsAttached());
    shmid_ds info{};
    EXPECT_EQ(shmctl(id, IPC_STAT, &info), -1);
    EXPECT_EQ(CProcessMutex().Open(kName + "_mtx"), 2);
}

TEST_F(ShareMemoryTest, AStaleSegmentZeroedOnReattachGetsItsHeaderBack) {
    {
        CShareMemory first;
        ASSERT_EQ(first.Create(kName, 4096, true, nullptr), 0);
        ASSERT_EQ(first.Lock(), 0);
        first.BumpCounter();
        ASSERT_EQ(first.Unlock(), 0);
    }
    // Everyone has left; the next attacher clears the segment, header included.
    CShareMemory again;
    ASSERT_EQ(again.Open(kName, false), 0);
    EXPECT_EQ(again.DataSize(), 4096u);
    EXPECT_EQ(HeaderWord(again, 0), 4096u);
    EXPECT_EQ(again.GetCounter(), 0u);
}

TEST_F(ShareMemoryTest, ADamagedSizeInTheHeaderIsNotTrusted) {
    CShareMemory first;
    ASSERT_EQ(first.Create(kName, 64, true, nullptr), 0);
    const uint32_t huge = 0xFFFFFFF0u;
    std::memcpy(first.Base(), &huge, sizeof huge);

    CShareMemory second;
    ASSERT_EQ(second.Open(kName, false), 0);
    EXPECT_EQ(second.DataSize(), 64u);
    EXPECT_EQ(HeaderWord(second, 0), 64u) << "the header is repaired under the lock";
}

} // namespace
} // namespace keycore
