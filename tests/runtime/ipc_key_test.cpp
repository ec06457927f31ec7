#include "runtime/ipc_key.h"

#include "tests/runtime/case_name.h"

#include <gtest/gtest.h>

#include <array>

namespace keycore {
namespace {

struct DigestCase {
    const char* label;
    std::array<uint8_t, 16> digest;
    key_t expected;
};

// Shows the label instead of the bytes of the case in test names and failures.
void PrintTo(const DigestCase& c, std::ostream* os) {
    *os << c.label;
}

class IpcKeyFromDigestTest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(IpcKeyFromDigestTest, FollowsTheKeyRule) {
    const DigestCase& c = GetParam();
    EXPECT_EQ(IpcKeyFromDigest(c.digest.data()), c.expected) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Digests, IpcKeyFromDigestTest,
    ::testing::Values(
        DigestCase{"all zero", {}, kNoIpcKey},
        DigestCase{"first eight bytes zero, the rest set",
                   {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                   kNoIpcKey},
        DigestCase{"low word little-endian", {0x78, 0x56, 0x34, 0x12, 9, 9, 9, 9, 7}, key_t{0x12345678}},
        DigestCase{"bytes 4-15 do not change the key", {0x78, 0x56, 0x34, 0x12, 1, 2, 3, 4, 5, 6}, key_t{0x12345678}},
        DigestCase{"top bit gives a negative key", {0x01, 0, 0, 0x80, 1}, static_cast<key_t>(0x80000001u)},
        DigestCase{"low word all ones is the no-key marker", {0xFF, 0xFF, 0xFF, 0xFF, 1}, kNoIpcKey},
        DigestCase{"low word zero would be IPC_PRIVATE", {0, 0, 0, 0, 0x01, 0, 0, 0, 0xAA}, kNoIpcKey}),
    [](const ::testing::TestParamInfo<DigestCase>& param) { return testing::CaseName(param.param.label); });

TEST(IpcKeyFromName, IsTheLowWordOfTheMd5DigestOfTheNameBytes) {
    // MD5("abc") = 900150983cd24fb0...; MD5("") = d41d8cd98f00b204...
    EXPECT_EQ(IpcKeyFromName("abc"), static_cast<key_t>(0x98500190u));
    EXPECT_EQ(IpcKeyFromName(""), static_cast<key_t>(0xD98C1DD4u));
}

TEST(IpcKeyFromName, UsesEveryByteOfTheNameAndNoTerminator) {
    const std::string withNul("abc\0", 4);
    EXPECT_NE(IpcKeyFromName(withNul), IpcKeyFromName("abc"));
    EXPECT_EQ(IpcKeyFromName("77d27154-7d0d-4d0e-926a-86fcd88dc536_mtx"),
              IpcKeyFromName(std::string("77d27154-7d0d-4d0e-926a-86fcd88dc536") + "_mtx"));
    EXPECT_NE(IpcKeyFromName("slot_1_mtx"), IpcKeyFromName("slot_2_mtx"));
}

} // namespace
} // namespace keycore
