#include "core_test_support.h"

namespace vtoken::testing {
namespace {

using RandomTest = TokenFixture;

TEST_F(RandomTest, AnswersExactlyTheRequestedCountUpTo255) {
    for (unsigned count : {1u, 8u, 16u, 255u}) {
        Reply r = Send({0x80, 0x50, 0x00, 0x00, 0x00, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)});
        EXPECT_EQ(r.sw, 0x9000) << count;
        EXPECT_EQ(r.data.size(), count);
    }
    EXPECT_NE(Challenge(16), Challenge(16));
}

TEST_F(RandomTest, RefusesZeroOrMoreThan255Bytes) {
    EXPECT_EQ(Sw({0x80, 0x50, 0x00, 0x00, 0x00, 0x01, 0x00}), 0x6700);
    EXPECT_EQ(Sw({0x80, 0x50, 0x00, 0x00, 0x00, 0x00, 0x00}), 0x6700);
}

TEST_F(RandomTest, UnknownClassAndInstructionAndMalformedFrames) {
    struct Case {
        const char* what;
        Bytes apdu;
        uint16_t sw;
    } cases[] = {
        {"unknown class", {0x00, 0x50, 0x00, 0x00, 0x00, 0x00, 0x08}, 0x6E00},
        {"unknown instruction", {0x80, 0xF7, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x6D00},
        {"shorter than a header", {0x80, 0x50, 0x00}, 0x6700},
        {"length byte not zero", {0x80, 0x50, 0x00, 0x00, 0x01, 0x00, 0x08}, 0x6700},
        {"data shorter than its length", {0x80, 0x02, 0x00, 0x00, 0x00, 0x00, 0x05, 'a'}, 0x6700},
        {"trailing garbage", {0x80, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 'a', 1, 2, 3, 4}, 0x6700},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Sw(c.apdu), c.sw) << c.what;
    EXPECT_EQ(m_token->Execute(nullptr, 0).size(), 2u);
}

} // namespace
} // namespace vtoken::testing
