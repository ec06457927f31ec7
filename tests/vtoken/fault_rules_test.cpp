// Every fault rule, armed with `vtoken fault` and observed at the USB level.

#include <cerrno>

#include "vtoken/fault_rules.h"
#include "vtoken_test_support.h"

namespace vtoken::test {
namespace {

using FaultTest = EchoVtokenTest;

const Bytes kGenRandom = FromHex("80500000000008");

int WriteBytes(usb_dev_handle* h, int endpoint, const Bytes& bytes) {
    return usb_bulk_write(h, endpoint, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()),
                          kTimeout);
}

void SendBotCommand(usb_dev_handle* h, const Bytes& apdu) {
    ASSERT_EQ(WriteBytes(h, kBotOut, CommandWrapper(static_cast<uint32_t>(apdu.size()), 0)), 31);
    ASSERT_EQ(WriteBytes(h, kBotOut, apdu), static_cast<int>(apdu.size()));
}

void SendHidCommand(usb_dev_handle* h, const Bytes& apdu) {
    for (const Bytes& report : HidReports(apdu))
        ASSERT_EQ(WriteBytes(h, kHidOut, report), 64);
}

TEST_F(FaultTest, OpenFailFailsTheNextOpens) {
    const PluggedToken token = Plug();
    Fault(token, {"open-fail:2"});
    struct usb_device* dev = FindDevice(token.path);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(usb_open(dev), nullptr);
    EXPECT_EQ(usb_open(dev), nullptr);
    usb_dev_handle* h = usb_open(dev);
    ASSERT_NE(h, nullptr);
    usb_close(h);
}

TEST_F(FaultTest, TimeoutLosesTheBulkOnlyCommandSoTheHostSendsItAgain) {
    const PluggedToken token = Plug();
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    Fault(token, {"timeout"});
    SendBotCommand(h, kGenRandom);
    char status[13];
    EXPECT_EQ(usb_bulk_read(h, kIn, status, 13, kTimeout), -ETIMEDOUT);
    EXPECT_TRUE(TraceLines(token).empty()) << "the lost command never ran";
    const Exchange again = BotTransmit(h, kGenRandom);
    EXPECT_EQ(again.rc, 0);
    EXPECT_EQ(again.answer.size(), 10u);
    usb_close(h);
}

TEST_F(FaultTest, TimeoutDelaysTheHidAnswer) {
    const PluggedToken token = Plug({"--kind", "hid"});
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    Fault(token, {"timeout"});
    SendHidCommand(h, kGenRandom);
    Bytes report;
    EXPECT_EQ(HidReadReport(h, &report), -ETIMEDOUT);
    ASSERT_EQ(HidReadReport(h, &report), 64);
    EXPECT_EQ(report[5], 10);
    usb_close(h);
}

TEST_F(FaultTest, StallHaltsTheInEndpointUntilCleared) {
    const PluggedToken token = Plug();
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    Fault(token, {"stall"});
    SendBotCommand(h, kGenRandom);
    char status[13];
    EXPECT_EQ(usb_bulk_read(h, kIn, status, 13, kTimeout), -EPIPE);
    EXPECT_EQ(usb_bulk_read(h, kIn, status, 13, kTimeout), -EPIPE);
    EXPECT_EQ(usb_clear_halt(h, kIn), 0);
    ASSERT_EQ(usb_bulk_read(h, kIn, status, 13, kTimeout), 13);
    ASSERT_EQ(WriteBytes(h, kBotOut, CommandWrapper(4160, 0x80)), 31);
    char data[4160];
    EXPECT_EQ(usb_bulk_read(h, kIn, data, sizeof data, kTimeout), 10);
    EXPECT_EQ(usb_bulk_read(h, kIn, status, 13, kTimeout), 13);
    usb_close(h);
}

TEST_F(FaultTest, HidReadFaultsComeBeforeTheAnswer) {
    const PluggedToken token = Plug({"--kind", "hid"});
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);

    Fault(token, {"echo:3"});
    SendHidCommand(h, kGenRandom);
    const Bytes sent = HidReports(kGenRandom)[0];
    Bytes report;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(HidReadReport(h, &report), 64);
        EXPECT_EQ(report, sent) << "echo " << i;
    }
    ASSERT_EQ(HidReadReport(h, &report), 64);
    EXPECT_EQ(report[5], 10);

    Fault(token, {"busy:2"});
    SendHidCommand(h, kGenRandom);
    char buffer[64];
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(usb_interrupt_read(h, kIn, buffer, 64, kTimeout), 2);
        EXPECT_EQ(buffer[0] | buffer[1], 0);
    }
    ASSERT_EQ(HidReadReport(h, &report), 64);
    EXPECT_EQ(report[5], 10);
    usb_close(h);
}

TEST_F(FaultTest, DisorderSendsFragmentsOutOfOrder) {
    const PluggedToken token = Plug({"--kind", "hid"});
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    for (const char* command : {"80EE0040", "80500000000008"}) {   // a two-report and a one-report answer
        SCOPED_TRACE(command);
        Fault(token, {"disorder"});
        SendHidCommand(h, FromHex(command));
        Bytes first, second;
        ASSERT_EQ(HidReadReport(h, &first), 64);
        ASSERT_EQ(HidReadReport(h, &second), 64);
        EXPECT_NE(first[2] << 8 | first[3], 0) << "the first report read is not the first fragment";
        EXPECT_EQ(second[2] << 8 | second[3], 0);
        EXPECT_EQ(first[0] << 8 | first[1], second[0] << 8 | second[1]);
    }
    usb_close(h);
}

TEST_F(FaultTest, ChainCutsTheNextLongAnswerWith61xx) {
    struct Case {
        const char* rule;
        const char* command;
        std::vector<std::string> fetches;   // GET RESPONSE commands, in order
        std::vector<std::string> statusWords;
        size_t total;
    };
    const Case cases[] = {
        {"chain:32", "80EE0040", {"00C0000020"}, {"6120", "9000"}, 64},
        {"chain:8", "80EE012C", {"00C0000080", "00C00000A4"}, {"6100", "61A4", "9000"}, 300},
    };
    for (const char* kind : {"hid", "bot"}) {
        const PluggedToken token = Plug({"--kind", kind});
        usb_dev_handle* h = Open(token);
        ASSERT_NE(h, nullptr);
        auto transmit = [&](const Bytes& apdu) {
            return std::string(kind) == "hid" ? HidTransmit(h, apdu) : BotTransmit(h, apdu);
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(kind) + " " + c.rule);
            Fault(token, {c.rule});
            Exchange exchange = transmit(FromHex(c.command));
            ASSERT_EQ(exchange.rc, 0);
            Bytes all;
            for (size_t i = 0;; ++i) {
                ASSERT_GE(exchange.answer.size(), 2u);
                EXPECT_EQ(Hex(Bytes(exchange.answer.end() - 2, exchange.answer.end())), c.statusWords[i]);
                all.insert(all.end(), exchange.answer.begin(), exchange.answer.end() - 2);
                if (i == c.fetches.size())
                    break;
                exchange = transmit(FromHex(c.fetches[i]));
                ASSERT_EQ(exchange.rc, 0);
            }
            ASSERT_EQ(all.size(), c.total);
            for (size_t i = 0; i < all.size(); ++i)
                ASSERT_EQ(all[i], static_cast<uint8_t>(i));
            // Consumed: the same command is answered whole now.
            EXPECT_EQ(transmit(FromHex(c.command)).answer.size(), c.total + 2);
        }
        usb_close(h);
    }
}

TEST_F(FaultTest, ForcedStatusWordAnswersTheNextCommandWithThatInsOnly) {
    const PluggedToken token = Plug();
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    Fault(token, {"sw:INS=0x50,SW=0x698A"});
    EXPECT_EQ(Hex(BotTransmit(h, FromHex("80010203")).answer), "800102039000") << "another INS runs normally";
    EXPECT_EQ(Hex(BotTransmit(h, kGenRandom).answer), "698A");
    EXPECT_EQ(BotTransmit(h, kGenRandom).answer.size(), 10u);
    usb_close(h);
}

TEST_F(FaultTest, TruncateCutsTheNextAnswer) {
    const PluggedToken token = Plug({"--kind", "hid"});
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    Fault(token, {"truncate:1"});
    const Exchange exchange = HidTransmit(h, kGenRandom);
    ASSERT_EQ(exchange.rc, 0);
    EXPECT_EQ(exchange.answer.size(), 1u);
    EXPECT_EQ(HidTransmit(h, kGenRandom).answer.size(), 10u);
    usb_close(h);
}

TEST_F(FaultTest, EmptyDataStageSendsTheGoodStatusWrapperBeforeTheData) {
    const PluggedToken token = Plug();
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    Fault(token, {"empty-data"});
    SendBotCommand(h, kGenRandom);
    char buffer[4160];
    ASSERT_EQ(usb_bulk_read(h, kIn, buffer, 13, kTimeout), 13);
    ASSERT_EQ(WriteBytes(h, kBotOut, CommandWrapper(4160, 0x80)), 31);
    ASSERT_EQ(usb_bulk_read(h, kIn, buffer, sizeof buffer, kTimeout), 13);
    EXPECT_EQ(Hex(Bytes(buffer, buffer + 13)), "55534253443322110000000000");
    ASSERT_EQ(usb_bulk_read(h, kIn, buffer, sizeof buffer, kTimeout), 10);
    EXPECT_EQ(usb_bulk_read(h, kIn, buffer, sizeof buffer, kTimeout), 13);
    usb_close(h);
}

TEST_F(FaultTest, UnplugMidExchangeRemovesTheTokenBeforeTheCommandRuns) {
    for (const char* kind : {"bot", "hid"}) {
        SCOPED_TRACE(kind);
        const PluggedToken token = Plug({"--kind", kind});
        usb_dev_handle* h = Open(token);
        ASSERT_NE(h, nullptr);
        Fault(token, {"unplug-mid"});
        char buffer[64];
        if (std::string(kind) == "bot") {
            SendBotCommand(h, kGenRandom);   // both writes succeed
            EXPECT_EQ(usb_bulk_read(h, kIn, buffer, 13, kTimeout), -ENODEV);
        } else {
            SendHidCommand(h, kGenRandom);
            EXPECT_EQ(usb_interrupt_read(h, kIn, buffer, 64, kTimeout), -ENODEV);
        }
        EXPECT_EQ(FindDevice(token.path), nullptr);
        EXPECT_EQ(RunTool({"list"}).out.find(token.serial), std::string::npos);
        usb_close(h);
    }
}

TEST_F(FaultTest, ABadRuleArmsNothingAndClearDisarmsAll) {
    const PluggedToken token = Plug();
    const ToolResult bad = RunTool({"fault", token.id, "stall", "echo:x"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("echo:x"), std::string::npos);
    EXPECT_EQ(RunTool({"list"}).out.find("faults"), std::string::npos);
    Fault(token, {"stall", "busy:2"});
    EXPECT_NE(RunTool({"list"}).out.find("faults: stall busy:2"), std::string::npos);
    Fault(token, {"clear"});
    EXPECT_EQ(RunTool({"list"}).out.find("faults"), std::string::npos);
}

TEST(FaultRuleSyntax, AcceptsTheDocumentedFormsOnly) {
    struct Case {
        const char* rule;
        bool accepted;
        const char* described;
    };
    const Case cases[] = {
        {"open-fail:3", true, "open-fail:3"},
        {"timeout", true, "timeout"},
        {"stall", true, "stall"},
        {"echo:21", true, "echo:21"},
        {"disorder", true, "disorder"},
        {"busy:1", true, "busy:1"},
        {"chain:0x20", true, "chain:32"},
        {"sw:INS=0x26,SW=0x698A", true, "sw:INS=0x26,SW=0x698A"},
        {"sw:SW=0x6A94,INS=0x42", true, "sw:INS=0x42,SW=0x6A94"},
        {"unplug-mid", true, "unplug-mid"},
        {"truncate:0", true, "truncate:0"},
        {"empty-data", true, "empty-data"},
        {"echo", false, ""},
        {"echo:0", false, ""},
        {"echo:-1", false, ""},
        {"echo:3x", false, ""},
        {"busy:1001", false, ""},
        {"chain:4097", false, ""},
        {"stall:1", false, ""},
        {"sw:INS=0x26", false, ""},
        {"sw:INS=0x126,SW=0x9000", false, ""},
        {"sw:INS=0x26,SW=0x10000", false, ""},
        {"sw:INS=0x26,INS=0x27", false, ""},
        {"sw:INS=0x26,SW=0x9000,X=1", false, ""},
        {"", false, ""},
        {"nonsense", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        FaultRules rules;
        std::string error;
        EXPECT_EQ(rules.Arm(c.rule, &error), c.accepted);
        EXPECT_EQ(rules.Describe(), c.described);
        EXPECT_EQ(error.empty(), c.accepted);
    }
}

} // namespace
} // namespace vtoken::test
