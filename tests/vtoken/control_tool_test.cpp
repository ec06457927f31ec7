// The control tool's messages and exit codes, and with-vtoken.

#include <sys/stat.h>

#include "vtoken_test_support.h"

namespace vtoken::test {
namespace {

using ControlTool = VtokenTest;

TEST(ControlToolWithoutDaemon, ReportsTheMissingDaemonAndBadArguments) {
    setenv("VTOKEN_SOCKET", "/tmp/no-such-vtoken.sock", 1);
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {{"list"}, 1, "no daemon at /tmp/no-such-vtoken.sock"},
        {{"plug"}, 1, "no daemon"},
        {{"stop"}, 1, "no daemon"},
        {{}, 2, "usage"},
        {{"frobnicate"}, 2, "unknown command frobnicate"},
        {{"plug", "--kind", "scsi"}, 2, "--kind is bot or hid"},
        {{"plug", "--large"}, 2, "--large applies to hid"},
        {{"plug", "--bus", "0"}, 2, "--bus takes 1 to 127"},
        {{"plug", "--product", "0x10000"}, 2, "--product takes a USB id"},
        {{"plug", "--product", "0"}, 2, "--product takes a USB id"},
        {{"plug", "--vendor", "12ab"}, 2, "--vendor takes a USB id"},
        {{"plug", "--label"}, 2, "unexpected argument --label"},
        {{"unplug"}, 2, "usage: vtoken unplug ID"},
        {{"fault", "1"}, 2, "usage: vtoken fault ID RULE"},
        {{"trace"}, 2, "usage: vtoken trace"},
        {{"list", "x"}, 2, "list takes no arguments"},
        {{"serve"}, 2, "serve needs --state"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const ToolResult result = RunTool(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    unsetenv("VTOKEN_SOCKET");
    const ToolResult noSocket = RunTool({"list"});
    EXPECT_EQ(noSocket.exitCode, 2);
    EXPECT_NE(noSocket.err.find("VTOKEN_SOCKET"), std::string::npos);
    const ToolResult help = RunTool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("sw:INS=0xII,SW=0xSSSS"), std::string::npos);
}

TEST_F(ControlTool, UnknownTokensAreRefusedWithExitCode1) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"unplug", "42"}, {"fault", "42", "stall"}, {"trace", "42"}, {"unplug", "NOSUCHSERIAL"}}) {
        SCOPED_TRACE(args[0]);
        const ToolResult result = RunTool(args);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find("no token " + args[1] + " is plugged in"), std::string::npos) << result.err;
    }
}

TEST_F(ControlTool, ListShowsKindPathAndSerialAndUnplugTakesTheSerialToo) {
    const PluggedToken bot = Plug({"--serial", "SERIAL-1"});
    const PluggedToken hid = Plug({"--kind", "hid", "--large", "--blank"});
    const std::string list = RunTool({"list"}).out;
    EXPECT_NE(list.find(bot.id + " bot " + bot.path + " SERIAL-1\n"), std::string::npos) << list;
    EXPECT_NE(list.find(hid.id + " hid-large " + hid.path + " " + hid.serial), std::string::npos) << list;
    EXPECT_EQ(RunTool({"unplug", "SERIAL-1"}).exitCode, 0);
    EXPECT_EQ(RunTool({"list"}).out.find("SERIAL-1"), std::string::npos);
}

TEST_F(ControlTool, ASecondDaemonOnTheSameSocketRefusesToStart) {
    const ToolResult second = RunTool({"serve", "--state", m_state, "--socket", m_socket});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("already serving"), std::string::npos);
    EXPECT_EQ(RunTool({"list"}).exitCode, 0) << "the first one still answers";
}

TEST(WithVtoken, PassesTheExitStatusThroughAndCleansUp) {
    const std::string script = std::string(std::getenv("KEYCORE_SOURCE_DIR")) + "/scripts/with-vtoken";
    const ToolResult result = RunShell(
        script + " --no-isolate --tokens bot,hid+large -- sh -c "
                 "'echo \"$VTOKEN_SOCKET\" > /tmp/wv-socket; echo \"$LD_PRELOAD\" > /tmp/wv-preload; "
                 "\"$KEYCORE_BUILD_DIR/bin/vtoken\" list > /tmp/wv-list; exit 7'");
    EXPECT_EQ(result.exitCode, 7) << result.err;
    const ToolResult seen = RunShell("cat /tmp/wv-socket /tmp/wv-preload /tmp/wv-list");
    EXPECT_NE(seen.out.find("libvtoken-usb.so"), std::string::npos) << seen.out;
    EXPECT_NE(seen.out.find(" bot "), std::string::npos) << seen.out;
    EXPECT_NE(seen.out.find(" hid-large "), std::string::npos) << seen.out;
    // The daemon is gone and its directory removed.
    const std::string socket = seen.out.substr(0, seen.out.find('\n'));
    struct stat info;
    EXPECT_NE(stat(socket.c_str(), &info), 0) << socket;
    EXPECT_EQ(RunShell("pgrep -x vtoken >/dev/null").exitCode, 1) << "no daemon left behind";

    EXPECT_EQ(RunShell(script + " --no-isolate -- true").exitCode, 0);
    EXPECT_EQ(RunShell(script + " --no-isolate --tokens floppy -- true").exitCode, 125);
    EXPECT_EQ(RunShell(script + " --no-isolate").exitCode, 125) << "no command";
}

TEST(WithVtoken, KeepsTokensInAGivenStateDirectory) {
    const std::string script = std::string(std::getenv("KEYCORE_SOURCE_DIR")) + "/scripts/with-vtoken";
    const std::string state = "/tmp/wv-state";
    ASSERT_EQ(RunShell(script + " --no-isolate --state " + state + " --tokens hid -- true").exitCode, 0);
    EXPECT_EQ(RunShell("ls " + state + "/tokens | wc -l").out, "1\n");
}

} // namespace
} // namespace vtoken::test
