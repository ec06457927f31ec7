// The Bulk-Only framing, frames built by the test.

#include <cerrno>

#include "vtoken_test_support.h"

namespace vtoken::test {
namespace {

using BulkOnlyCard = VtokenTest;
using BulkOnlyFramingTest = EchoVtokenTest;

TEST_F(BulkOnlyCard, GenRandomAnswersEightBytesAndTheTraceShowsTheExactBytes) {
    const PluggedToken token = Plug();
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    TraceLines(token, /*clear=*/true);
    const Exchange exchange = BotTransmit(h, FromHex("80500000000008"));
    ASSERT_EQ(exchange.rc, 0);
    ASSERT_EQ(exchange.answer.size(), 10u);
    EXPECT_EQ(Hex(exchange.answer).substr(16), "9000");
    const std::vector<std::string> trace = TraceLines(token);
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0], "> 80500000000008");
    EXPECT_EQ(trace[1], "< " + Hex(exchange.answer));
    usb_close(h);
}

TEST_F(BulkOnlyFramingTest, LongCommandsAndAnswersCrossWhole) {
    const PluggedToken token = Plug();
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    Bytes command = FromHex("80DD0000000FF8");
    command.resize(4096, 0x5A);   // the largest command the framing carries
    Exchange exchange = BotTransmit(h, command);
    ASSERT_EQ(exchange.rc, 0);
    command.insert(command.end(), {0x90, 0x00});
    EXPECT_EQ(exchange.answer, command);

    exchange = BotTransmit(h, FromHex("80EE103E"));   // 4,158 data bytes + SW fill the data stage
    ASSERT_EQ(exchange.rc, 0);
    ASSERT_EQ(exchange.answer.size(), 4160u);
    EXPECT_EQ(exchange.answer[4157], static_cast<uint8_t>(4157));
    usb_close(h);
}

TEST_F(BulkOnlyFramingTest, MalformedWrappersStallTheOutEndpointUntilCleared) {
    const PluggedToken token = Plug();
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    struct Case {
        const char* what;
        Bytes wrapper;
    };
    auto patched = [](size_t offset, uint8_t value, uint32_t length = 7, uint8_t flags = 0) {
        Bytes cbw = CommandWrapper(length, flags);
        cbw[offset] = value;
        return cbw;
    };
    Bytes shortWrapper = CommandWrapper(7, 0);
    shortWrapper.pop_back();
    const Case cases[] = {
        {"bad signature", patched(3, 'D')},
        {"wrong tag", patched(4, 0x45)},
        {"wrong block byte 0", patched(15, 0xFE)},
        {"wrong vendor letters", patched(17, 'X')},
        {"wrong block byte 9", patched(24, 0x56)},
        {"block length", patched(14, 12)},
        {"LUN", patched(13, 1)},
        {"flags", patched(12, 0x40)},
        {"zero length", CommandWrapper(0, 0)},
        {"length over 4096", CommandWrapper(4097, 0)},
        {"IN wrapper with nothing to answer", CommandWrapper(4160, 0x80)},
        {"short wrapper", shortWrapper},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(usb_bulk_write(h, kBotOut, reinterpret_cast<const char*>(c.wrapper.data()),
                                 static_cast<int>(c.wrapper.size()), kTimeout),
                  -EPIPE);
        EXPECT_EQ(BotTransmit(h, FromHex("80500000000008")).rc, -EPIPE) << "still halted";
        EXPECT_EQ(usb_clear_halt(h, kBotOut), 0);
        const Exchange exchange = BotTransmit(h, FromHex("80500000000008"));
        EXPECT_EQ(exchange.rc, 0);
        EXPECT_EQ(exchange.answer.size(), 10u);
    }
    usb_close(h);
}

TEST_F(BulkOnlyFramingTest, CommandBytesBeyondTheAnnouncedLengthStall) {
    const PluggedToken token = Plug();
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    const Bytes cbw = CommandWrapper(4, 0);
    ASSERT_EQ(usb_bulk_write(h, kBotOut, reinterpret_cast<const char*>(cbw.data()), 31, kTimeout), 31);
    const Bytes apdu = FromHex("80500000000008");
    EXPECT_EQ(usb_bulk_write(h, kBotOut, reinterpret_cast<const char*>(apdu.data()), 7, kTimeout), -EPIPE);
    EXPECT_TRUE(TraceLines(token).empty()) << "nothing reached the card";
    usb_close(h);
}

TEST_F(BulkOnlyFramingTest, ReadsWithNothingToSendTimeOut) {
    const PluggedToken token = Plug();
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    char buffer[64];
    EXPECT_EQ(usb_bulk_read(h, kIn, buffer, 13, kTimeout), -ETIMEDOUT);
    // A command whose answer was never fetched is dropped by the next one.
    const Bytes cbw = CommandWrapper(7, 0);
    const Bytes apdu = FromHex("80500000000008");
    usb_bulk_write(h, kBotOut, reinterpret_cast<const char*>(cbw.data()), 31, kTimeout);
    usb_bulk_write(h, kBotOut, reinterpret_cast<const char*>(apdu.data()), 7, kTimeout);
    const Exchange exchange = BotTransmit(h, FromHex("80010203"));
    ASSERT_EQ(exchange.rc, 0);
    EXPECT_EQ(Hex(exchange.answer), "800102039000");
    usb_close(h);
}

} // namespace
} // namespace vtoken::test
