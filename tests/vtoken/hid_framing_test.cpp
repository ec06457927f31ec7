// The HID framing, reports built by the test.

#include <cerrno>

#include "vtoken_test_support.h"

namespace vtoken::test {
namespace {

using HidFramingTest = EchoVtokenTest;
using HidCard = VtokenTest;

int WriteReport(usb_dev_handle* h, const Bytes& report) {
    return usb_interrupt_write(h, kHidOut, reinterpret_cast<const char*>(report.data()),
                               static_cast<int>(report.size()), kTimeout);
}

TEST_F(HidCard, GenRandomAnswersInOneReport) {
    const PluggedToken token = Plug({"--kind", "hid"});
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    const Exchange exchange = HidTransmit(h, FromHex("80500000000008"));
    ASSERT_EQ(exchange.rc, 0);
    ASSERT_EQ(exchange.answer.size(), 10u);
    EXPECT_EQ(Hex(exchange.answer).substr(16), "9000");
    usb_close(h);
}

TEST_F(HidFramingTest, CommandsOf58And59BytesTakeOneAndTwoReports) {
    const PluggedToken token = Plug({"--kind", "hid"});
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    for (size_t size : {58u, 59u}) {
        SCOPED_TRACE(size);
        Bytes command(size);
        for (size_t i = 0; i < size; ++i)
            command[i] = static_cast<uint8_t>(0x80 + i);
        const std::vector<Bytes> reports = HidReports(command);
        ASSERT_EQ(reports.size(), size == 58 ? 1u : 2u);
        if (size == 59) {
            EXPECT_EQ(Hex(Bytes(reports[1].begin(), reports[1].begin() + 7)), "003B003A0001BA");
        }
        TraceLines(token, true);
        const Exchange exchange = HidTransmit(h, command);
        ASSERT_EQ(exchange.rc, 0);
        Bytes expected = command;
        expected.insert(expected.end(), {0x90, 0x00});
        EXPECT_EQ(exchange.answer, expected);
        const std::vector<std::string> trace = TraceLines(token);
        ASSERT_EQ(trace.size(), 2u);
        EXPECT_EQ(trace[0], "> " + Hex(command)) << "the card got the whole command, once";
    }
    usb_close(h);
}

TEST_F(HidFramingTest, AnswerReportsCarryHeaderAndZeroFill) {
    const PluggedToken token = Plug({"--kind", "hid"});
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    for (const Bytes& report : HidReports(FromHex("80EE0040")))
        ASSERT_EQ(WriteReport(h, report), 64);
    // 64 data bytes + SW = 66: fragments of 58 and 8.
    Bytes first, second;
    ASSERT_EQ(HidReadReport(h, &first), 64);
    ASSERT_EQ(HidReadReport(h, &second), 64);
    EXPECT_EQ(Hex(Bytes(first.begin(), first.begin() + 6)), "004200000" "03A");
    EXPECT_EQ(Hex(Bytes(second.begin(), second.begin() + 6)), "0042003A0008");
    EXPECT_EQ(second[6], 58);
    EXPECT_EQ(Hex(Bytes(second.begin() + 12, second.begin() + 14)), "9000");
    EXPECT_EQ(Bytes(second.begin() + 14, second.end()), Bytes(50, 0));
    usb_close(h);
}

TEST_F(HidFramingTest, AnswersBeyondTheSendBufferAreChainedWithGetResponse) {
    const PluggedToken token = Plug({"--kind", "hid", "--large"});
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    Exchange exchange = HidTransmit(h, FromHex("80EE0BB8"));   // 3,000 data bytes
    ASSERT_EQ(exchange.rc, 0);
    ASSERT_EQ(exchange.answer.size(), 2050u);
    EXPECT_EQ(Hex(Bytes(exchange.answer.end() - 2, exchange.answer.end())), "6100") << "952 bytes wait";
    Bytes all(exchange.answer.begin(), exchange.answer.end() - 2);
    for (;;) {
        exchange = HidTransmit(h, FromHex("00C0000080"));
        ASSERT_EQ(exchange.rc, 0);
        ASSERT_GE(exchange.answer.size(), 2u);
        all.insert(all.end(), exchange.answer.begin(), exchange.answer.end() - 2);
        const uint8_t sw1 = exchange.answer[exchange.answer.size() - 2];
        if (sw1 != 0x61) {
            EXPECT_EQ(Hex(Bytes(exchange.answer.end() - 2, exchange.answer.end())), "9000");
            break;
        }
    }
    ASSERT_EQ(all.size(), 3000u);
    for (size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(all[i], static_cast<uint8_t>(i)) << i;

    // GET RESPONSE with nothing waiting.
    exchange = HidTransmit(h, FromHex("00C0000080"));
    EXPECT_EQ(Hex(exchange.answer), "6985");
    usb_close(h);
}

TEST_F(HidFramingTest, MalformedReportsStallAndDropTheMessage) {
    const PluggedToken token = Plug({"--kind", "hid"});
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    const std::vector<Bytes> twoReports = HidReports(Bytes(70, 0x11));
    auto header = [](uint16_t total, uint16_t offset, uint16_t length) {
        Bytes report(64, 0x22);
        report[0] = static_cast<uint8_t>(total >> 8);
        report[1] = static_cast<uint8_t>(total);
        report[2] = static_cast<uint8_t>(offset >> 8);
        report[3] = static_cast<uint8_t>(offset);
        report[4] = static_cast<uint8_t>(length >> 8);
        report[5] = static_cast<uint8_t>(length);
        return report;
    };
    struct Case {
        const char* what;
        std::vector<Bytes> reports;   // the last one is refused
    };
    const Case cases[] = {
        {"short report", {Bytes(63, 0)}},
        {"empty fragment", {header(10, 0, 0)}},
        {"fragment over 58", {header(70, 0, 59)}},
        {"zero total", {header(0, 0, 4)}},
        {"fragment beyond total", {header(10, 0, 11)}},
        {"second fragment first", {twoReports[1]}},
        {"offset gap", {twoReports[0], header(70, 59, 11)}},
        {"total changes", {twoReports[0], header(71, 58, 12)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (size_t i = 0; i + 1 < c.reports.size(); ++i)
            ASSERT_EQ(WriteReport(h, c.reports[i]), 64);
        EXPECT_EQ(WriteReport(h, c.reports.back()), -EPIPE);
        EXPECT_EQ(HidTransmit(h, FromHex("80500000000008")).rc, -EPIPE) << "still halted";
        EXPECT_EQ(usb_clear_halt(h, kHidOut), 0);
        const Exchange exchange = HidTransmit(h, FromHex("80500000000008"));
        EXPECT_EQ(exchange.rc, 0);
        EXPECT_EQ(exchange.answer.size(), 10u);
    }
    EXPECT_EQ(TraceLines(token).size(), 2 * std::size(cases)) << "no refused message reached the card";
    usb_close(h);
}

TEST_F(HidFramingTest, BulkCallsReachInterruptEndpointsButReadsWithoutAnswerTimeOut) {
    const PluggedToken token = Plug({"--kind", "hid"});
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    char buffer[64];
    EXPECT_EQ(usb_interrupt_read(h, kIn, buffer, 64, kTimeout), -ETIMEDOUT);
    const Bytes report = HidReports(FromHex("80010203"))[0];
    ASSERT_EQ(usb_bulk_write(h, kHidOut, reinterpret_cast<const char*>(report.data()), 64, kTimeout), 64);
    ASSERT_EQ(usb_bulk_read(h, kIn, buffer, 64, kTimeout), 64);
    EXPECT_EQ(buffer[5], 6);
    usb_close(h);
}

} // namespace
} // namespace vtoken::test
