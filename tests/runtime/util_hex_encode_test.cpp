#include "runtime/hex_encode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace keycore {
namespace {

struct HexCase {
    std::vector<unsigned char> bytes;
    std::string digits;
};

const HexCase kHexCases[] = {
    {{}, ""},
    {{0x00, 0xFF, 0x1A}, "00FF1A"},
    {{0x0A, 0xB0}, "0AB0"},
    {{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, "0123456789ABCDEF"},
};

TEST(HexEncodeTest, EncodesUpperCaseDigitsAndTerminates) {
    for (const HexCase& c : kHexCases) {
        std::vector<char> out(2 * c.bytes.size() + 2, '#');
        EXPECT_EQ(HexEncode(out.data(), c.bytes.data(), c.bytes.size()), c.digits.size()) << c.digits;
        EXPECT_EQ(std::string(out.data()), c.digits);
        EXPECT_EQ(out[c.digits.size() + 1], '#') << "wrote beyond the terminator for " << c.digits;
    }
}

TEST(HexEncodeTest, EveryByteValueMatchesPrintf) {
    std::vector<unsigned char> all(256);
    std::string expected;
    for (int i = 0; i < 256; ++i) {
        all[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
        char two[3];
        std::snprintf(two, sizeof two, "%02X", i);
        expected += two;
    }
    std::vector<char> out(513);
    ASSERT_EQ(HexEncode(out.data(), all.data(), all.size()), 512u);
    EXPECT_EQ(std::string(out.data()), expected);
}

TEST(HexEncodeTest, NullArgumentsWriteNothingHarmful) {
    const unsigned char bytes[] = {1, 2};
    EXPECT_EQ(HexEncode(nullptr, bytes, 2), 0u);
    char out[4] = "xyz";
    EXPECT_EQ(HexEncode(out, nullptr, 2), 0u);
    EXPECT_STREQ(out, "");
}

TEST(HexEncodeBoundedTest, CapacityDecidesSuccessAndTermination) {
    const unsigned char bytes[] = {0x00, 0xFF, 0x1A};
    struct Case {
        size_t capacity;
        int result;
        size_t capacityAfter;
        std::string written; // the first capacity bytes of the buffer afterwards ('#' untouched)
    };
    const Case cases[] = {
        {8, 1, 6, std::string("00FF1A\0#", 8)},
        {7, 1, 6, std::string("00FF1A\0", 7)},
        {6, 1, 6, "00FF1A"}, // a fixed-width field: digits only, no room for a NUL
        {5, 0, 5, "#####"},
        {0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        std::vector<char> out(c.capacity + 1, '#');
        size_t capacity = c.capacity;
        EXPECT_EQ(HexEncodeBounded(bytes, sizeof bytes, out.data(), &capacity), c.result) << c.capacity;
        EXPECT_EQ(capacity, c.capacityAfter) << c.capacity;
        EXPECT_EQ(std::string(out.data(), c.capacity), c.written) << c.capacity;
        EXPECT_EQ(out[c.capacity], '#') << "overran a capacity of " << c.capacity;
    }
}

TEST(HexEncodeBoundedTest, WritesFromTheStartWhateverTheBufferHeld) {
    const unsigned char bytes[] = {0xAB};
    char out[8] = "XYZ";
    size_t capacity = 3;
    ASSERT_EQ(HexEncodeBounded(bytes, 1, out, &capacity), 1);
    EXPECT_STREQ(out, "AB");
    EXPECT_EQ(capacity, 2u);
}

TEST(HexEncodeBoundedTest, NullArgumentsFail) {
    const unsigned char bytes[] = {1};
    char out[8] = "keep";
    size_t capacity = sizeof out;
    EXPECT_EQ(HexEncodeBounded(nullptr, 1, out, &capacity), 0);
    EXPECT_EQ(HexEncodeBounded(bytes, 1, nullptr, &capacity), 0);
    EXPECT_EQ(HexEncodeBounded(bytes, 1, out, nullptr), 0);
    EXPECT_STREQ(out, "keep");
    EXPECT_EQ(capacity, sizeof out);
}

TEST(HexEncodeBoundedTest, HugeCountDoesNotWrapTheCapacityCheck) {
    const unsigned char bytes[] = {1};
    char out[4] = "";
    size_t capacity = 2;
    EXPECT_EQ(HexEncodeBounded(bytes, SIZE_MAX / 2 + 2, out, &capacity), 0);
    EXPECT_EQ(capacity, 2u);
}

} // namespace
} // namespace keycore
