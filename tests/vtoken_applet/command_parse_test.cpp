// How the card reads the frames of a command: every accepted layout, and malformed ones refused.
#include <gtest/gtest.h>

#include "vtoken/applet/command.h"

namespace vtoken {
namespace {

using Bytes = std::vector<uint8_t>;

struct ParseCase {
    const char* what;
    Bytes apdu;
    bool accepted;
    Bytes data;
    size_t expected;
    bool hasExpected;
};

TEST(CommandParse, LayoutsTable) {
    const ParseCase cases[] = {
        {"header only", {0x80, 0x1C, 0, 0}, true, {}, 0, false},
        {"header and a zero byte (digest without a key)", {0x80, 0xB4, 0, 1, 0}, true, {}, 0, false},
        {"no data, no expected length", {0x80, 0x04, 0, 0, 0, 0, 0}, true, {}, 0, false},
        {"no data, expected length 8", {0x80, 0x50, 0, 0, 0, 0, 8}, true, {}, 8, true},
        {"data without expected length", {0x80, 0x02, 0, 0, 0, 0, 2, 'a', 'b'}, true, {'a', 'b'}, 0, false},
        {"data and a 2-byte expected length", {0x80, 0x42, 0, 0, 0, 0, 1, 7, 0, 2}, true, {7}, 2, true},
        {"data and a 3-byte expected length", {0x80, 0xBA, 0, 0, 0, 0, 1, 7, 0, 0, 32}, true, {7}, 32, true},
        {"short-form access code", {0xC6, 0x8C, 0x38, 0x5A, 2, 1, 2}, true, {1, 2}, 0, false},
        {"too short", {0x80, 0x50, 0}, false, {}, 0, false},
        {"null-less 5-byte frame with a non-zero byte", {0x80, 0x50, 0, 0, 8}, false, {}, 0, false},
        {"6 bytes", {0x80, 0x50, 0, 0, 0, 0}, false, {}, 0, false},
        {"extended length not starting with 00", {0x80, 0x02, 0, 0, 1, 0, 1, 'a'}, false, {}, 0, false},
        {"data shorter than announced", {0x80, 0x02, 0, 0, 0, 0, 5, 'a'}, false, {}, 0, false},
        {"one stray byte after the data", {0x80, 0x02, 0, 0, 0, 0, 1, 'a', 9}, false, {}, 0, false},
        {"3-byte tail not starting with 00", {0x80, 0x02, 0, 0, 0, 0, 1, 'a', 1, 0, 2}, false, {}, 0, false},
        {"four stray bytes after the data", {0x80, 0x02, 0, 0, 0, 0, 1, 'a', 0, 0, 0, 2}, false, {}, 0, false},
        {"short form shorter than announced", {0xC6, 0x8C, 0x38, 0x5A, 16, 1}, false, {}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto parsed = Command::Parse(c.apdu.data(), c.apdu.size());
        ASSERT_EQ(parsed.has_value(), c.accepted);
        if (!parsed)
            continue;
        EXPECT_EQ(parsed->cla, c.apdu[0]);
        EXPECT_EQ(parsed->ins, c.apdu[1]);
        EXPECT_EQ(parsed->data, c.data);
        EXPECT_EQ(parsed->expected, c.expected);
        EXPECT_EQ(parsed->hasExpected, c.hasExpected);
        EXPECT_EQ(parsed->raw, c.apdu);
    }
}

TEST(CommandParse, NullFrameIsRefused) {
    EXPECT_FALSE(Command::Parse(nullptr, 7).has_value());
}

TEST(DataReader, ReadsBigEndianAndFailsPastTheEnd) {
    const Bytes bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    DataReader reader(bytes);
    EXPECT_EQ(reader.U16(), 0x0102);
    EXPECT_EQ(reader.U32(), 0x03040506u);
    EXPECT_EQ(reader.Remaining(), 1u);
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(reader.U16(), 0);
    EXPECT_TRUE(reader.Failed());
    EXPECT_EQ(reader.Remaining(), 0u);
    EXPECT_TRUE(reader.Bytes(1).empty());
}

} // namespace
} // namespace vtoken
