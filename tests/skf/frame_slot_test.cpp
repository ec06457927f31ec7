// The frame over a virtual token: device names to slots, the bracket around a token operation, the
// handles a device removal takes away, and the re-select and re-open loop against the real card.
#include "keycore/skf.h"
#include "pkcs11/p11_env.h"
#include "pkcs11/slot_mgr.h"
#include "skf/skf_frame.h"
#include "vtoken_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

namespace keycore {
namespace {

constexpr char kAppName[] = "KEYCORE-APP";

class FrameSlotTest : public vtoken::test::VtokenTest {
protected:
    // Plugs one token of the kind and waits until the environment serves it; returns its slot.
    CSlot* PlugAndFind(const char* kind) {
        m_token = Plug({"--kind", kind});
        CSlotManager& manager = KVCSP11Env::Instance()->SlotManager();
        for (int i = 0; i < 2000; ++i) {
            for (CK_SLOT_ID id = 1; id <= manager.GetSlotCount(); ++id) {
                CSlot* slot = manager.GetSlot(id);
                if (slot != nullptr && slot->IsTokenPresent() && slot->IsTokenReady())
                    return slot;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return nullptr;
    }

    // A handle as SKF_ConnectDev leaves it.
    HANDLE DeviceHandle(const CSlot& slot) {
        HANDLE value = nullptr;
        const std::shared_ptr<GMHandle> handle = GMHandles::Table().Create(&value);
        handle->m_devName = slot.GetSlotName();
        handle->m_devPath = slot.GetDevicePath();
        return value;
    }

    template <typename Condition> static bool WaitFor(Condition condition) {
        for (int i = 0; i < 2000; ++i) {
            if (condition())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    vtoken::test::PluggedToken m_token;
};

TEST_F(FrameSlotTest, DeviceNamesResolveOnlyToAPresentReadyToken) {
    CSlot* slot = PlugAndFind("bot");
    ASSERT_NE(slot, nullptr);
    const std::string name = slot->GetSlotName();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(FindSlotByDevName(name), slot);
    EXPECT_EQ(FindSlotByDevName(""), nullptr);
    EXPECT_EQ(FindSlotByDevName(name + "x"), nullptr);
    EXPECT_EQ(FindSlotByDevName(name.substr(0, name.size() - 1)), nullptr);

    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_token.id}).exitCode, 0);
    EXPECT_TRUE(WaitFor([&] { return FindSlotByDevName(name) == nullptr; }));
}

TEST_F(FrameSlotTest, HandleSlotChecksTheHandleThenTheDeviceThenRunsUnderTheSlotLock) {
    CSlot* slot = PlugAndFind("hid");
    ASSERT_NE(slot, nullptr);
    int calls = 0;
    auto operation = [&](SkfSlotUse& use) -> ULONG {
        ++calls;
        unsigned char random[8] = {};
        return SarFromStatus(use.token.GenRandom(random, sizeof random));
    };

    int foreign = 0;
    EXPECT_EQ(WithHandleSlot(&foreign, SAR_DEVICE_REMOVED, operation), static_cast<ULONG>(SAR_INVALIDHANDLEERR));
    HANDLE unknownDevice = nullptr;
    GMHandles::Table().Create(&unknownDevice)->m_devName = "no such device";
    EXPECT_EQ(WithHandleSlot(unknownDevice, SAR_DEVICE_REMOVED, operation), static_cast<ULONG>(SAR_DEVICE_REMOVED));
    EXPECT_EQ(WithHandleSlot(unknownDevice, SAR_INVALIDHANDLEERR, operation), static_cast<ULONG>(SAR_INVALIDHANDLEERR));
    EXPECT_EQ(calls, 0) << "no token traffic before the checks pass";

    const HANDLE device = DeviceHandle(*slot);
    EXPECT_EQ(WithHandleSlot(device, SAR_DEVICE_REMOVED, operation), static_cast<ULONG>(SAR_OK));
    EXPECT_EQ(calls, 1);
    // A function calling another on the same device re-enters the slot lock in its thread.
    EXPECT_EQ(WithHandleSlot(device, SAR_DEVICE_REMOVED,
                             [&](SkfSlotUse&) { return WithHandleSlot(device, SAR_DEVICE_REMOVED, operation); }),
              static_cast<ULONG>(SAR_OK));
    EXPECT_EQ(WithNamedSlot(slot->GetSlotName(), SAR_DEVICE_REMOVED,
                            [](CSlot&, CTokenBase& token) -> ULONG {
                                unsigned char random[8] = {};
                                return SarFromStatus(token.GenRandom(random, sizeof random));
                            }),
              static_cast<ULONG>(SAR_OK));
}

TEST_F(FrameSlotTest, AnExceptionInsideTheSlotUseReleasesTheSlotForOtherThreads) {
    CSlot* slot = PlugAndFind("bot");
    ASSERT_NE(slot, nullptr);
    const HANDLE device = DeviceHandle(*slot);
    const ULONG result = RunSkfEntry([&] {
        return WithHandleSlot(device, SAR_DEVICE_REMOVED, [](SkfSlotUse&) -> ULONG { throw std::bad_alloc(); });
    });
    EXPECT_EQ(result, static_cast<ULONG>(SAR_UNKNOWNERR));

    // The per-slot lock is recursive within a thread, so only another thread shows it was released.
    auto other = std::async(std::launch::async, [slot] {
        const CK_RV rv = slot->Lock();
        if (rv == CKR_OK)
            slot->Unlock();
        return rv;
    });
    if (other.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the slot lock was left held after the exception";
        std::_Exit(1);
    }
    EXPECT_EQ(other.get(), static_cast<CK_RV>(CKR_OK));
}

TEST_F(FrameSlotTest, RemovingTheDeviceTakesExactlyItsFirstDeviceHandle) {
    CSlot* slot = PlugAndFind("bot");
    ASSERT_NE(slot, nullptr);
    const HANDLE first = DeviceHandle(*slot);
    const HANDLE second = DeviceHandle(*slot);
    HANDLE application = nullptr;
    {
        const std::shared_ptr<GMHandle> handle = GMHandles::Table().Create(&application);
        handle->m_devName = slot->GetSlotName();
        handle->m_appName = kAppName;
    }

    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_token.id}).exitCode, 0);
    EXPECT_TRUE(WaitFor([&] { return !GMHandles::Table().Contains(first); }));
    EXPECT_TRUE(GMHandles::Table().Contains(second));
    EXPECT_TRUE(GMHandles::Table().Contains(application)) << "derived handles do not go with the device";
    EXPECT_EQ(WithHandleSlot(second, SAR_DEVICE_REMOVED, [](SkfSlotUse&) -> ULONG { return SAR_OK; }),
              static_cast<ULONG>(SAR_DEVICE_REMOVED));
    EXPECT_EQ(SKF_CloseHandle(first), static_cast<ULONG>(SAR_INVALIDHANDLEERR));
    EXPECT_EQ(SKF_CloseHandle(second), static_cast<ULONG>(SAR_OK));
}

// The loop with scripted first answers and the real card doing the re-selection and re-opening.
class ReopenLoopTest : public FrameSlotTest {
protected:
    void SetUp() override {
        FrameSlotTest::SetUp();
        m_slot = PlugAndFind("bot");
        ASSERT_NE(m_slot, nullptr);
        m_device = DeviceHandle(*m_slot);
        ASSERT_EQ(WithHandleSlot(m_device, SAR_DEVICE_REMOVED,
                                 [&](SkfSlotUse& use) -> ULONG {
                                     uint16_t appId = 0;
                                     uint16_t conId = 0;
                                     if (use.token.OpenApplication(kAppName, &appId) != kSwSuccess)
                                         return SAR_APPLICATION_NOT_EXISTS;
                                     m_appId = appId;
                                     // Containers are made by the user.
                                     if (use.token.VerifyPin(USER_TYPE, appId, "12345678", 8) != kSwSuccess)
                                         return SAR_PIN_INCORRECT;
                                     return SarFromStatus(use.token.CreateContainer(appId, "frame-con", &conId));
                                 }),
                  static_cast<ULONG>(SAR_OK));
    }

    struct Case {
        const char* what;
        std::vector<TokenStatus> answers;
        const char* appName;
        const char* conName;
        ULONG result;
        size_t attempts;
    };

    void Run(const Case& c) {
        HANDLE container = nullptr;
        {
            const std::shared_ptr<GMHandle> handle = GMHandles::Table().Create(&container);
            handle->m_devName = m_slot->GetSlotName();
            handle->m_appName = c.appName;
            handle->m_appId = m_appId;
            handle->m_conName = c.conName;
        }
        size_t attempts = 0;
        const ULONG result = WithHandleSlot(container, SAR_DEVICE_REMOVED, [&](SkfSlotUse& use) {
            return RunWithReopen(use, [&] { return c.answers.at(attempts++); }, {{0x6A95, SAR_KEYNOTFOUNTERR}});
        });
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(attempts, c.attempts) << c.what;
    }

    CSlot* m_slot = nullptr;
    HANDLE m_device = nullptr;
    uint16_t m_appId = 0;
};

TEST_F(ReopenLoopTest, AttemptsAndResults) {
    const Case cases[] = {
        {"success at once", {0x9000}, kAppName, "frame-con", SAR_OK, 1},
        {"container re-opened", {0x6A94, 0x9000}, kAppName, "frame-con", SAR_OK, 2},
        {"application re-selected", {0x698A, 0x9000}, kAppName, "frame-con", SAR_OK, 2},
        {"re-open answer translated", {0x6A94, 0x6A88}, kAppName, "frame-con", SAR_OBJERR, 2},
        {"departure applies", {0x6A95}, kAppName, "frame-con", SAR_KEYNOTFOUNTERR, 1},
        {"second attempt needs a re-open again", {0x6A94, 0x6A94}, kAppName, "frame-con", SAR_FAIL, 2},
        {"re-selected then re-open needed", {0x698A, 0x6A94}, kAppName, "frame-con", SAR_FAIL, 2},
        {"application gone", {0x698A}, "NO-SUCH-APP", "frame-con", SAR_APPLICATION_NOT_EXISTS, 1},
        {"container gone", {0x6A94}, kAppName, "no-such-con", SAR_FILE_NOT_EXIST, 1},
        {"container gone after re-selection", {0x698A}, kAppName, "no-such-con", SAR_FILE_NOT_EXIST, 1},
        {"unknown status", {0x6F00}, kAppName, "frame-con", SAR_FAIL, 1},
    };
    for (const Case& c : cases)
        Run(c);
}

TEST_F(ReopenLoopTest, AFailingReopenOnTheCardEndsTheLoop) {
    // The card refuses the container selection itself.
    Fault(m_token, {"sw:INS=0x42,SW=0x6A88"});
    Run({"card refuses the re-open", {0x6A94, 0x9000}, kAppName, "frame-con", SAR_FILE_NOT_EXIST, 1});
}

} // namespace
} // namespace keycore
