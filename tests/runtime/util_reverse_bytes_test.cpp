#include "runtime/reverse_bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace keycore {
namespace {

TEST(ReverseBytesTest, ReversesInPlace) {
    struct Case {
        std::vector<unsigned char> in;
        std::vector<unsigned char> out;
    };
    const Case cases[] = {
        {{}, {}},
        {{7}, {7}},
        {{1, 2}, {2, 1}},
        {{1, 2, 3, 4}, {4, 3, 2, 1}},
        {{0x10, 0x20, 0x30, 0x40, 0x50}, {0x50, 0x40, 0x30, 0x20, 0x10}},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> buffer = c.in;
        ReverseBytes(buffer.data(), buffer.size());
        EXPECT_EQ(buffer, c.out);
    }
}

TEST(ReverseBytesTest, TouchesOnlyTheGivenLength) {
    unsigned char buffer[] = {1, 2, 3, 4, 5, 6};
    ReverseBytes(buffer + 1, 3);
    const unsigned char expected[] = {1, 4, 3, 2, 5, 6};
    EXPECT_EQ(0, memcmp(buffer, expected, sizeof buffer));
}

TEST(ReverseBytesTest, NullBufferIsIgnoredWithoutCrashing) {
    ReverseBytes(nullptr, 16);
    SUCCEED();
}

} // namespace
} // namespace keycore
