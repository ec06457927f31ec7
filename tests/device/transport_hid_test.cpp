// The HID transport: fragments, reassembly, GET RESPONSE chaining and the faults of the report layer.

#include "transport_test_support.h"

#include <cerrno>
#include <cstring>

namespace keycore::test {
namespace {

using HidTest = TransportTest;

TEST_F(HidTest, ConfigurationLengthSelectsTheLargestApdu) {
    struct Case {
        std::vector<std::string> plug;
        int type;
        CK_ULONG maxData;
    };
    const Case cases[] = {
        {{"--kind", "hid"}, 8, 232}, {{"--kind", "hid", "--large"}, 8, 2045}, // the 65-byte configuration
    };
    for (const Case& c : cases) {
        const PluggedToken token = Plug(c.plug);
        auto hid = OpenToken<CToken5105HID>(token);
        EXPECT_EQ(hid->GetDeviceType(), c.type);
        EXPECT_EQ(hid->GetMaxApduData(), c.maxData) << token.path;
    }
}

TEST_F(HidTest, TransportNameIsCopiedWithoutTerminator) {
    CToken5105HID hid(nullptr, "001:001", false);
    char name[16];
    std::memset(name, 'x', sizeof name);
    ASSERT_EQ(hid.GetTransportName(name, sizeof name), CKR_OK);
    EXPECT_EQ(std::string(name, 13), "Orvex5105HIDx");
    EXPECT_EQ(hid.GetTransportName(name, 11), CKR_BUFFER_TOO_SMALL);
}

TEST_F(HidTest, CommandsAreCutIntoFragmentsOf58Bytes) {
    // 58 bytes fit one report, 59 need a second at offset 58; the card only accepts fragments that
    // arrive in order with consistent headers, so a whole echo shows the cut was right.
    const PluggedToken token = Plug({"--kind", "hid"});
    auto hid = OpenToken<CToken5105HID>(token);
    for (size_t size : {1u, 57u, 58u, 59u, 116u, 117u, 2000u}) {
        SCOPED_TRACE(size);
        Bytes command(size);
        for (size_t i = 0; i < size; ++i)
            command[i] = static_cast<uint8_t>(0x30 + i);
        const FrameResult result = Transmit(*hid, command);
        ASSERT_EQ(result.rv, CKR_OK);
        Bytes expected = command;
        expected.insert(expected.end(), {0x90, 0x00});
        EXPECT_EQ(result.answer, expected);
        EXPECT_EQ(Commands(token), std::vector<std::string>{Hex(command)});
    }
}

TEST_F(HidTest, EchoesAreIgnoredUpToTwenty) {
    const PluggedToken token = Plug({"--kind", "hid"});
    auto hid = OpenToken<CToken5105HID>(token);
    Fault(token, {"echo:20"});
    const FrameResult result = Transmit(*hid, PatternCommand(70));
    ASSERT_EQ(result.rv, CKR_OK);
    EXPECT_EQ(result.answer, PatternAnswer(70));

    Fault(token, {"echo:21"});
    EXPECT_EQ(Transmit(*hid, PatternCommand(70)).rv, CKR_DATA_INVALID) << "the 21st ignored report";
}

TEST_F(HidTest, BusyRepliesAreWaitedOut) {
    const PluggedToken token = Plug({"--kind", "hid"});
    auto hid = OpenToken<CToken5105HID>(token);
    Fault(token, {"busy:5"});
    const FrameResult result = Transmit(*hid, PatternCommand(100));
    ASSERT_EQ(result.rv, CKR_OK);
    EXPECT_EQ(result.answer, PatternAnswer(100));
}

TEST_F(HidTest, BrokenAnswersAreErrors) {
    struct Case {
        const char* rule;
        CK_ULONG capacity;
        CK_RV expected;
    };
    const Case cases[] = {
        {"disorder", kApduAnswerCapacity, CKR_DATA_INVALID}, // fragments out of order
        {"timeout", kApduAnswerCapacity, CKR_GENERAL_ERROR}, // the answer read times out
        {"clear", 100, CKR_DATA_INVALID},                    // 102 bytes do not fit in 100
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        const PluggedToken token = Plug({"--kind", "hid"});
        auto hid = OpenToken<CToken5105HID>(token);
        Fault(token, {c.rule});
        EXPECT_EQ(Transmit(*hid, PatternCommand(100), c.capacity).rv, c.expected);
    }
}

TEST_F(HidTest, ChainedAnswersAreFetchedWithGetResponse) {
    const PluggedToken token = Plug({"--kind", "hid"});
    auto hid = OpenToken<CToken5105HID>(token);
    struct Case {
        const char* rule;
        size_t dataLength;
        std::vector<std::string> commands;
    };
    const Case cases[] = {
        // 32 bytes, then 61 20: the rest is fetched with Le 0x20.
        {"chain:32", 64, {"80EE0040", "00C0000020"}},
        // 61 00 (256 or more waiting): Le 0x80, then the remainder announced by the next 61xx.
        {"chain:100", 400, {"80EE0190", "00C0000080", "00C00000AC"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        Fault(token, {c.rule});
        const FrameResult result = Transmit(*hid, PatternCommand(c.dataLength));
        ASSERT_EQ(result.rv, CKR_OK);
        EXPECT_EQ(result.answer, PatternAnswer(c.dataLength));
        EXPECT_EQ(Commands(token), c.commands);
    }
}

TEST_F(HidTest, LargeTokenChainsAnswersBeyondItsSendBuffer) {
    const PluggedToken token = Plug({"--kind", "hid", "--large"});
    auto hid = OpenToken<CToken5105HID>(token);
    const FrameResult result = Transmit(*hid, PatternCommand(3000));
    ASSERT_EQ(result.rv, CKR_OK);
    EXPECT_EQ(result.answer, PatternAnswer(3000));
    const std::vector<std::string> commands = Commands(token);
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[1], "00C0000080");

    // The chained whole must still fit the caller's buffer.
    EXPECT_EQ(Transmit(*hid, PatternCommand(3000), 2500).rv, CKR_DATA_INVALID);
}

TEST_F(HidTest, UnplugDuringTheExchangeIsAnError) {
    const PluggedToken token = Plug({"--kind", "hid"});
    auto hid = OpenToken<CToken5105HID>(token);
    Fault(token, {"unplug-mid"});
    EXPECT_NE(Transmit(*hid, FromHex("80500000000008")).rv, CKR_OK);
    // The next command cannot even be written: the write's errno is the result.
    EXPECT_EQ(Transmit(*hid, FromHex("80500000000008")).rv, static_cast<CK_RV>(ENODEV));
}

} // namespace
} // namespace keycore::test
