// Handle lifetime through the public functions: derived handles follow the device name across an
// unplug and a replug, and closing a handle while other threads still use it is safe.
#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace keycore::test {
namespace {

class FrameLifetimeTest : public SkfStorageTest {
protected:
    ULONG PinInfo(HAPPLICATION app) {
        ULONG maxRetries = 0;
        ULONG remaining = 0;
        BOOL isDefault = 0;
        return SKF_GetPINInfo(app, kUserPinType, &maxRetries, &remaining, &isDefault);
    }
};

TEST_F(FrameLifetimeTest, AnApplicationHandleWorksAgainWhenItsDeviceComesBack) {
    ASSERT_EQ(SKF_DisConnectDev(m_dev), SAR_OK);
    ASSERT_EQ(PinInfo(m_app), SAR_OK) << "the device handle is not needed";

    Unplug();
    EXPECT_NE(PinInfo(m_app), SAR_OK) << "no device of that name";

    // The same token comes back (same serial, new device number); the handle only knows its name.
    const vtoken::test::PluggedToken back = Plug({"--serial", m_token.serial});
    ASSERT_NE(back.path, m_token.path);
    ASSERT_EQ(WaitForDeviceCount(1), m_devName);
    EXPECT_EQ(PinInfo(m_app), SAR_OK);
}

TEST_F(FrameLifetimeTest, ClosingAHandleWhileOtherThreadsUseItGivesOkOrInvalidHandleOnly) {
    // Each round: two threads keep calling with one application handle while a third closes it.
    for (int round = 0; round < 20; ++round) {
        HAPPLICATION app = nullptr;
        ASSERT_EQ(SKF_OpenApplication(m_dev, Text(kDefaultApp), &app), SAR_OK);
        std::atomic<bool> unexpected{false};
        std::atomic<int> calls{0};
        std::vector<std::thread> users;
        for (int t = 0; t < 2; ++t) {
            users.emplace_back([&] {
                for (;;) {
                    const ULONG result = PinInfo(app);
                    ++calls;
                    if (result == SAR_INVALIDHANDLEERR)
                        return;
                    if (result != SAR_OK) {
                        unexpected = true;
                        return;
                    }
                }
            });
        }
        while (calls < 2)
            std::this_thread::yield();
        EXPECT_EQ(SKF_CloseHandle(app), SAR_OK);
        for (std::thread& user : users)
            user.join();
        EXPECT_FALSE(unexpected) << "round " << round;
        EXPECT_EQ(SKF_CloseHandle(app), SAR_INVALIDHANDLEERR);
    }
}

} // namespace
} // namespace keycore::test
