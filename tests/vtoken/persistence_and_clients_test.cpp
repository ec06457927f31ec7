// The token's content survives unplug and daemon restarts; several processes share one token.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "vtoken_test_support.h"

namespace vtoken::test {
namespace {

using Persistence = VtokenTest;
using SeveralClients = EchoVtokenTest;

// GetDevInfo carries the label at bytes 132-163.
std::string LabelOf(usb_dev_handle* h) {
    const Exchange info = BotTransmit(h, FromHex("80040000000000"));
    EXPECT_EQ(info.rc, 0);
    if (info.answer.size() < 164 + 2)
        return "<no device info>";
    std::string label(info.answer.begin() + 132, info.answer.begin() + 164);
    return label.substr(0, label.find('\0'));
}

TEST_F(Persistence, ALabelSurvivesReplugAndDaemonRestartButNotAnotherSerial) {
    const PluggedToken token = Plug({"--label", "first"});
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(LabelOf(h), "first");
    const std::string label = "kept across restarts";
    Bytes setLabel = FromHex("80020000000000");
    setLabel[6] = static_cast<uint8_t>(label.size());
    setLabel.insert(setLabel.end(), label.begin(), label.end());
    ASSERT_EQ(Hex(BotTransmit(h, setLabel).answer), "9000");
    usb_close(h);

    ASSERT_EQ(RunTool({"unplug", token.id}).exitCode, 0);
    PluggedToken again = Plug({"--serial", token.serial, "--label", "ignored for a known token"});
    h = Open(again);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(LabelOf(h), label);
    usb_close(h);

    StopDaemon();
    StartDaemon();
    again = Plug({"--serial", token.serial});
    h = Open(again);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(LabelOf(h), label);
    usb_close(h);

    const PluggedToken other = Plug();
    h = Open(other);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(LabelOf(h), "vtoken") << "a new token has the default label";
    usb_close(h);
}

TEST_F(Persistence, ASerialCanBePluggedOnlyOnceAndMustNameADirectory) {
    const PluggedToken token = Plug();
    const ToolResult twice = RunTool({"plug", "--serial", token.serial});
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_NE(twice.err.find("already plugged"), std::string::npos);
    for (const char* serial : {"../escape", ".hidden", "a/b", "with space", "123456789012345678901234567890123"}) {
        SCOPED_TRACE(serial);
        const ToolResult bad = RunTool({"plug", "--serial", serial});
        EXPECT_EQ(bad.exitCode, 1);
        EXPECT_NE(bad.err.find("bad serial"), std::string::npos);
    }
}

TEST_F(SeveralClients, ProcessesSharingATokenEachGetWellFormedAnswers) {
    const PluggedToken bot = Plug();
    const PluggedToken hid = Plug({"--kind", "hid"});
    TraceLines(bot, true);
    const std::string lockPath = m_dir + "/token.lock";
    constexpr int kProcesses = 4;
    constexpr int kCommands = 40;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Like the library, each process holds a lock on the token for a whole exchange.
            const int lock = open(lockPath.c_str(), O_CREAT | O_RDWR, 0600);
            usb_find_busses();
            usb_find_devices();
            usb_dev_handle* handles[2] = {Open(bot), Open(hid)};
            bool ok = lock >= 0 && handles[0] && handles[1];
            for (int i = 0; ok && i < kCommands; ++i) {
                const bool useHid = i % 2 == 1;
                Bytes command = FromHex("80AA0000000004");
                command.insert(command.end(), {static_cast<uint8_t>(p), static_cast<uint8_t>(i), 0xC0, 0xDE});
                flock(lock, LOCK_EX);
                const Exchange exchange = useHid ? HidTransmit(handles[1], command) : BotTransmit(handles[0], command);
                flock(lock, LOCK_UN);
                command.insert(command.end(), {0x90, 0x00});
                ok = exchange.rc == 0 && exchange.answer == command;
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << pid;
    }
    // Commands reached the card one at a time: each answer follows its own command.
    const std::vector<std::string> trace = TraceLines(bot);
    ASSERT_EQ(trace.size(), 2u * kProcesses * kCommands / 2);
    for (size_t i = 0; i + 1 < trace.size(); i += 2) {
        ASSERT_EQ(trace[i][0], '>');
        EXPECT_EQ(trace[i + 1], "< " + trace[i].substr(2) + "9000");
    }
}

TEST_F(SeveralClients, UnsynchronisedClientsNeverCrashTheDaemon) {
    // Without a lock the clients' frames interleave on the one device, as on hardware: answers
    // may be refused or mixed up, but the daemon keeps serving.
    const PluggedToken token = Plug({"--kind", "hid"});
    std::vector<pid_t> children;
    for (int p = 0; p < 4; ++p) {
        const pid_t pid = fork();
        if (pid == 0) {
            usb_dev_handle* h = Open(token);
            for (int i = 0; h && i < 50; ++i) {
                HidTransmit(h, FromHex("80500000000008"));
                usb_clear_halt(h, kHidOut);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children)
        waitpid(pid, nullptr, 0);
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    usb_clear_halt(h, kHidOut);
    const Exchange exchange = HidTransmit(h, FromHex("80500000000008"));
    EXPECT_EQ(exchange.rc, 0);
    EXPECT_EQ(exchange.answer.size(), 10u);
    usb_close(h);
}

} // namespace
} // namespace vtoken::test
