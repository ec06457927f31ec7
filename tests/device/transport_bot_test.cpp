// The Bulk-Only transport: wrappers, the data stage and its recovery paths, driven by vtoken's faults.

#include "device/usb_bus_lock.h"
#include "transport_test_support.h"

#include <cstring>
#include <thread>

namespace keycore::test {
namespace {

using BulkOnlyTest = TransportTest;

TEST_F(BulkOnlyTest, OpensTheTokenOfItsPathOnly) {
    const PluggedToken token = Plug();
    auto bot = OpenToken<CToken5105Auto>(token);
    EXPECT_TRUE(bot->IsOpen());
    EXPECT_EQ(bot->OpenDevice(), CKR_OK) << "already open";
    EXPECT_EQ(bot->GetDeviceType(), 9);
    EXPECT_EQ(bot->GetMaxApduData(), 2045u);

    CToken5105Auto missing(nullptr, "099:001", false);
    EXPECT_EQ(missing.OpenDevice(), CKR_DEVICE_ERROR);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(Transmit(missing, FromHex("80500000000008")).rv, CKR_GENERAL_ERROR) << "not open";

    EXPECT_EQ(bot->CloseDevice(), CKR_OK);
    EXPECT_FALSE(bot->IsOpen());
    EXPECT_EQ(Transmit(*bot, FromHex("80500000000008")).rv, CKR_GENERAL_ERROR);
}

TEST_F(BulkOnlyTest, TransportNameIsCopiedWithoutTerminator) {
    CToken5105Auto bot(nullptr, "001:001", false);
    char name[16];
    std::memset(name, 'x', sizeof name);
    ASSERT_EQ(bot.GetTransportName(name, sizeof name), CKR_OK);
    EXPECT_EQ(std::string(name, 14), "Orvex5105SCSIx");
    EXPECT_EQ(bot.GetTransportName(name, 12), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(bot.GetTransportName(nullptr, 16), CKR_ARGUMENTS_BAD);
}

TEST_F(BulkOnlyTest, FailedUsbOpenIsADeviceErrorAndALaterOpenWorks) {
    const PluggedToken token = Plug();
    Fault(token, {"open-fail:1"});
    CToken5105Auto bot(nullptr, token.path, false);
    EXPECT_EQ(bot.OpenDevice(), CKR_DEVICE_ERROR);
    EXPECT_FALSE(bot.IsOpen());
    EXPECT_EQ(bot.OpenDevice(), CKR_OK);
    EXPECT_EQ(Transmit(bot, FromHex("0102")).answer, FromHex("0102 9000"));
}

TEST_F(BulkOnlyTest, CommandsUpTo4096BytesGoOutWhole) {
    const PluggedToken token = Plug();
    auto bot = OpenToken<CToken5105Auto>(token);
    for (size_t size : {1u, 5u, 31u, 4096u}) {
        SCOPED_TRACE(size);
        Bytes command(size);
        for (size_t i = 0; i < size; ++i)
            command[i] = static_cast<uint8_t>(i * 7 + 1);
        const FrameResult result = Transmit(*bot, command, 4160);
        ASSERT_EQ(result.rv, CKR_OK);
        Bytes expected = command;
        expected.insert(expected.end(), {0x90, 0x00});
        EXPECT_EQ(result.answer, expected);
        EXPECT_EQ(Commands(token), std::vector<std::string>{Hex(command)});
    }

    EXPECT_EQ(Transmit(*bot, Bytes(4097, 1), 4160).rv, CKR_GENERAL_ERROR);
    const FrameResult empty = Transmit(*bot, Bytes());
    EXPECT_EQ(empty.rv, CKR_OK);
    EXPECT_TRUE(empty.answer.empty());
    EXPECT_TRUE(Commands(token).empty()) << "neither went out";
}

TEST_F(BulkOnlyTest, AnswerLongerThanTheCallersBufferIsAnError) {
    const PluggedToken token = Plug();
    auto bot = OpenToken<CToken5105Auto>(token);
    const FrameResult fits = Transmit(*bot, PatternCommand(4100), 4102);
    ASSERT_EQ(fits.rv, CKR_OK);
    EXPECT_EQ(fits.answer, PatternAnswer(4100));
    // One byte more than the APDU layer's 4,102: refused, nothing copied (Transmit checks the guards).
    EXPECT_EQ(Transmit(*bot, PatternCommand(4101), 4102).rv, CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(Transmit(*bot, FromHex("0102"), 3).rv, CKR_BUFFER_TOO_SMALL);
    // The exchange after a refused answer is clean.
    EXPECT_EQ(Transmit(*bot, FromHex("0A0B0C")).answer, FromHex("0A0B0C 9000"));
}

// Each fault fires once; the exchange recovers and the card sees the command exactly once.
TEST_F(BulkOnlyTest, RecoversFromEveryTransientFault) {
    const PluggedToken token = Plug();
    auto bot = OpenToken<CToken5105Auto>(token);
    struct Case {
        const char* rule;
        const char* why;
    };
    const Case cases[] = {
        {"empty-data", "the good status wrapper comes first: a spare read gets the data"},
        {"timeout", "the status read times out: the whole command goes out again"},
        {"stall", "the IN endpoint stalls: its halt is cleared and the read repeated"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        Commands(token);
        Fault(token, {c.rule});
        const FrameResult result = Transmit(*bot, PatternCommand(100));
        ASSERT_EQ(result.rv, CKR_OK) << c.why;
        EXPECT_EQ(result.answer, PatternAnswer(100));
        EXPECT_EQ(Commands(token), std::vector<std::string>{Hex(PatternCommand(100))});
        EXPECT_EQ(vtoken::test::RunTool({"list"}).out.find("faults"), std::string::npos) << "the fault fired";
    }
}

TEST_F(BulkOnlyTest, TruncatedAnswerIsPassedOnAsShort) {
    const PluggedToken token = Plug();
    auto bot = OpenToken<CToken5105Auto>(token);
    for (size_t keep : {1u, 5u}) {
        SCOPED_TRACE(keep);
        Fault(token, {"truncate:" + std::to_string(keep)});
        const FrameResult result = Transmit(*bot, FromHex("01020304"));
        ASSERT_EQ(result.rv, CKR_OK);
        const Bytes whole = FromHex("01020304 9000");
        EXPECT_EQ(result.answer, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep)));
    }
}

TEST_F(BulkOnlyTest, UnplugDuringTheExchangeIsAnErrorAndReleasesTheLock) {
    const PluggedToken token = Plug();
    auto bot = OpenToken<CToken5105Auto>(token);
    Fault(token, {"unplug-mid"});
    const FrameResult result = Transmit(*bot, FromHex("80500000000008"));
    EXPECT_NE(result.rv, CKR_OK);
    EXPECT_NE(Transmit(*bot, FromHex("80500000000008")).rv, CKR_OK) << "the token is gone";

    CProcessMutex deviceLock;
    ASSERT_EQ(deviceLock.Open(token.path), 0);
    EXPECT_EQ(deviceLock.TryLock(), 0) << "the failed exchanges released the device lock";
    deviceLock.Unlock();
}

TEST_F(BulkOnlyTest, ExchangeWaitsForTheDeviceLockHeldElsewhere) {
    const PluggedToken token = Plug();
    auto bot = OpenToken<CToken5105Auto>(token);
    Commands(token);
    CProcessMutex deviceLock;
    ASSERT_EQ(deviceLock.Open(token.path), 0);
    ASSERT_EQ(deviceLock.Lock(), 0);
    FrameResult result;
    std::thread exchange([&] { result = Transmit(*bot, FromHex("0102")); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(Commands(token, false).empty()) << "nothing goes out while another holds the token";
    deviceLock.Unlock();
    exchange.join();
    EXPECT_EQ(result.rv, CKR_OK);
    EXPECT_EQ(Commands(token), std::vector<std::string>{"0102"});
}

} // namespace
} // namespace keycore::test
