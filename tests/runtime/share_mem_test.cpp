#include "runtime/share_mem.h"

#include "runtime/ipc_key.h"

#include "tests/runtime/case_name.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>
#include <functional>

namespace keycore {
namespace {

const std::string kName = "77d27154-7d0d-4d0e-926a-86fcd88dc536_test_shm";

void RemoveSegment(const std::string& name) {
    const int id = shmget(IpcKeyFromName(name), 0, 0);
    if (id != -1)
        shmctl(id, IPC_RMID, nullptr);
}

class ShareMemTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveSegment(kName); }
    void TearDown() override { RemoveSegment(kName); }
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

class ShareMemResultTest : public ::testing::TestWithParam<ResultCase> {
protected:
    void SetUp() override { RemoveSegment(kName); }
    void TearDown() override { RemoveSegment(kName); }
};

TEST_P(ShareMemResultTest, GivesItsCode) {
    EXPECT_EQ(GetParam().run(), GetParam().expected) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ShareMemResultTest,
    ::testing::Values(ResultCase{"create new", [] { return CShareMem().Create(kName, 64); }, 0},
                      ResultCase{"create empty name", [] { return CShareMem().Create("", 64); }, 3},
                      ResultCase{"create size 0", [] { return CShareMem().Create(kName, 0); }, 3},
                      ResultCase{"create when attached",
                                 [] {
                                     CShareMem shm;
                                     shm.Create(kName, 64);
                                     return shm.Create("other", 64);
                                 },
                                 1},
                      ResultCase{"create existing name",
                                 [] {
                                     CShareMem first, second;
                                     first.Create(kName, 64);
                                     return second.Create(kName, 64);
                                 },
                                 1},
                      ResultCase{"open empty name", [] { return CShareMem().Open(""); }, 3},
                      ResultCase{"open missing", [] { return CShareMem().Open(kName); }, 5},
                      ResultCase{"open when attached",
                                 [] {
                                     CShareMem shm;
                                     shm.Create(kName, 64);
                                     return shm.Open(kName);
                                 },
                                 1},
                      ResultCase{"detach when not attached", [] { return CShareMem().Detach(); }, 0},
                      ResultCase{"destroy never opened", [] { return CShareMem().Destroy(); }, 5}),
    [](const ::testing::TestParamInfo<ResultCase>& param) { return testing::CaseName(param.param.label); });

TEST_F(ShareMemTest, ANewSegmentIsZeroedAndAsLargeAsAsked) {
    CShareMem shm;
    ASSERT_EQ(shm.Create(kName, 100), 0);
    ASSERT_TRUE(shm.IsAttached());
    EXPECT_EQ(shm.SegmentSize(), 100u);
    const auto* bytes = static_cast<const unsigned char*>(shm.Address());
    for (size_t i = 0; i < 100; ++i)
        ASSERT_EQ(bytes[i], 0) << "offset " << i;
}

TEST_F(ShareMemTest, DataSurvivesWhileAttachedAndIsZeroedForTheFirstAttacherAfterEveryoneLeft) {
    CShareMem writer;
    ASSERT_EQ(writer.Create(kName, 16), 0);
    std::memcpy(writer.Address(), "shared", 7);

    CShareMem reader;
    ASSERT_EQ(reader.Open(kName), 0);
    EXPECT_STREQ(static_cast<const char*>(reader.Address()), "shared");

    ASSERT_EQ(reader.Detach(), 0);
    ASSERT_EQ(writer.Detach(), 0);
    EXPECT_FALSE(writer.IsAttached());

    CShareMem late;
    ASSERT_EQ(late.Open(kName), 0) << "the segment outlives its attachers";
    EXPECT_EQ(static_cast<const char*>(late.Address())[0], '\0') << "stale contents are cleared";
}

TEST_F(ShareMemTest, DestroyRemovesTheSegment) {
    CShareMem shm;
    ASSERT_EQ(shm.Create(kName, 16), 0);
    const int id = shm.SegmentId();
    ASSERT_EQ(shm.Destroy(), 0);
    EXPECT_FALSE(shm.IsAttached());
    shmid_ds info{};
    EXPECT_EQ(shmctl(id, IPC_STAT, &info), -1);
    EXPECT_EQ(CShareMem().Open(kName), 5);
}

TEST_F(ShareMemTest, DestructorOnlyDetaches) {
    int id = -1;
    {
        CShareMem shm;
        ASSERT_EQ(shm.Create(kName, 16), 0);
        id = shm.SegmentId();
    }
    shmid_ds info{};
    ASSERT_EQ(shmctl(id, IPC_STAT, &info), 0);
    EXPECT_EQ(info.shm_nattch, 0u);
}

} // namespace
} // namespace keycore
