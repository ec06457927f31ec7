// Two processes verifying PINs and asking for random bytes on one token at once: every answer must
// still be the right one. The second process is this test program again, running the peer case below
// against the parent's vtoken daemon (its socket and the preloaded libusb layer are inherited).
#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace keycore::test {
namespace {

constexpr char kPeerDeviceVariable[] = "KEYCORE_TEST_SKF_PEER_DEVICE";
constexpr int kPeerRounds = 150;
constexpr char kPeerDoneLabel[] = "peer-done";

// One round of the shared workload; false on any wrong answer.
bool PinRound(DEVHANDLE dev, HAPPLICATION app) {
    ULONG retry = 0;
    if (SKF_VerifyPIN(app, kUserPinType, Text(kDefaultPinText), &retry) != SAR_OK)
        return false;
    ULONG max = 0;
    ULONG left = 0;
    BOOL isDefault = 0;
    if (SKF_GetPINInfo(app, kUserPinType, &max, &left, &isDefault) != SAR_OK || max != 10 || left != 10 ||
        isDefault != 1)
        return false;
    // More than one token command per call, so the two processes' commands could interleave.
    BYTE random[600];
    return SKF_GenRandom(dev, random, sizeof random) == SAR_OK;
}

// Run only as the peer of the test below.
TEST(SkfPinPeer, DISABLED_Rounds) {
    const char* device = std::getenv(kPeerDeviceVariable);
    ASSERT_NE(device, nullptr);
    DEVHANDLE dev = nullptr;
    ASSERT_EQ(SKF_ConnectDev(Text(device), &dev), SAR_OK);
    HAPPLICATION app = nullptr;
    ASSERT_EQ(SKF_OpenApplication(dev, Text(kDefaultApp), &app), SAR_OK);
    for (int round = 0; round < kPeerRounds; ++round)
        ASSERT_TRUE(PinRound(dev, app)) << "round " << round;
    // The parent's proof that the rounds ran here (an unmatched filter would also exit with 0).
    ASSERT_EQ(SKF_SetLabel(dev, Text(kPeerDoneLabel)), SAR_OK);
}

class SkfTwoProcessTest : public SkfStorageTest {};

TEST_F(SkfTwoProcessTest, PinVerificationsOfTwoProcessesDoNotDisturbEachOther) {
    ASSERT_EQ(setenv(kPeerDeviceVariable, m_devName.c_str(), 1), 0);
    std::string self(4096, '\0');
    const ssize_t len = readlink("/proc/self/exe", self.data(), self.size() - 1);
    ASSERT_GT(len, 0);
    self.resize(static_cast<size_t>(len));
    std::string filter = "--gtest_filter=SkfPinPeer.DISABLED_Rounds";
    std::string alsoDisabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {self.data(), filter.data(), alsoDisabled.data(), nullptr};
    pid_t peer = -1;
    ASSERT_EQ(posix_spawn(&peer, self.c_str(), nullptr, nullptr, argv, environ), 0);

    int rounds = 0;
    int failures = 0;
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(peer, &status, WNOHANG)) == 0 && rounds < 2000) {
        if (!PinRound(m_dev, m_app))
            ++failures;
        ++rounds;
    }
    if (ended == 0)
        ended = waitpid(peer, &status, 0);
    ASSERT_EQ(ended, peer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the peer saw a wrong answer";
    EXPECT_EQ(failures, 0) << "of " << rounds << " rounds";
    EXPECT_GT(rounds, 10) << "the two processes ran at the same time";
    DEVINFO info;
    ASSERT_EQ(SKF_GetDevInfo(m_dev, &info), SAR_OK);
    EXPECT_EQ(std::string(info.Label, strnlen(info.Label, sizeof info.Label)), kPeerDoneLabel);
}

} // namespace
} // namespace keycore::test
