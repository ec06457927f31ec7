// One scanning process per machine: monitors in real helper processes share the start mutex.

#include "device/unix_dev_chg_mon.h"
#include "monitor_test_support.h"
#include "vtoken_test_support.h"

#include <sys/wait.h>

namespace keycore::test {
namespace {

using vtoken::test::PluggedToken;
using vtoken::test::RunTool;

using MonitorProcessTest = vtoken::test::VtokenTest;

TEST_F(MonitorProcessTest, SecondProcessWaitsThenTakesOverWhenTheScannerDies) {
    MonitorProcess first;
    ASSERT_TRUE(first.Started());
    ASSERT_EQ(first.ReadLine(), "STARTED 0");

    // Its scan thread waits on the start mutex, yet Start returns.
    MonitorProcess second;
    ASSERT_TRUE(second.Started());
    ASSERT_EQ(second.ReadLine(), "STARTED 0");

    const PluggedToken token = Plug();
    EXPECT_EQ(first.ReadLine(), "EVENT 1 1 9 " + token.path);
    EXPECT_EQ(second.ReadLine(std::chrono::milliseconds(300)), "") << "only the scanning process reports";

    first.Kill();
    // The kernel releases the dead scanner's mutex; the second process scans now and, not knowing
    // the token yet, reports it.
    EXPECT_EQ(second.ReadLine(), "EVENT 1 1 9 " + token.path);
    ASSERT_EQ(RunTool({"unplug", token.id}).exitCode, 0);
    EXPECT_EQ(second.ReadLine(), "EVENT 2 1 9 " + token.path);
    const PluggedToken hid = Plug({"--kind", "hid"});
    EXPECT_EQ(second.ReadLine(), "EVENT 1 2 8 " + hid.path);

    const int status = second.Finish();
    EXPECT_EQ(second.ReadLine(), "STOPPED");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(MonitorProcessTest, StoppingAWaitingMonitorEndsPromptlyWithoutScanning) {
    MonitorProcess first;
    ASSERT_EQ(first.ReadLine(), "STARTED 0");
    MonitorProcess second;
    ASSERT_EQ(second.ReadLine(), "STARTED 0");
    const int status = second.Finish();
    EXPECT_EQ(second.ReadLine(), "STOPPED");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // The scanner is undisturbed.
    const PluggedToken token = Plug();
    EXPECT_EQ(first.ReadLine(), "EVENT 1 1 9 " + token.path);
}

} // namespace
} // namespace keycore::test
