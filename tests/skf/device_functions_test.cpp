// The device functions over a virtual token: the device list and its sizes, connecting, state,
// information and label, raw commands, and the handles a device removal takes away.
#include "storage_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace keycore::test {
namespace {

constexpr uint8_t kInsSetLabel = 0x02;
constexpr uint8_t kInsGetDevInfo = 0x04;

using vtoken::test::Bytes;

class SkfDeviceTest : public SkfStorageTest, public ::testing::WithParamInterface<const char*> {
protected:
    std::vector<std::string> PlugOptions() const override { return {"--kind", GetParam()}; }
    bool OpenDefaultApplication() const override { return false; }

    DEVINFO DevInfo() {
        DEVINFO info;
        std::memset(&info, 0xA5, sizeof info);
        EXPECT_EQ(SKF_GetDevInfo(m_dev, &info), SAR_OK);
        return info;
    }
};

// No token at all: the list is one NUL byte.
class SkfNoDeviceTest : public vtoken::test::VtokenTest {};

TEST_F(SkfNoDeviceTest, EmptyListIsOneNulByte) {
    ULONG size = 0;
    ASSERT_EQ(SKF_EnumDev(1, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 1u);
    char list[4] = {'x', 'x', 'x', 'x'};
    size = sizeof list;
    ASSERT_EQ(SKF_EnumDev(0, list, &size), SAR_OK);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(list[0], '\0');
    EXPECT_EQ(list[1], 'x') << "nothing is written past the list";
    EXPECT_EQ(SKF_EnumDev(1, list, nullptr), SAR_INVALIDPARAMERR);
}

TEST_P(SkfDeviceTest, ListSizeIsExactAndAShortBufferIsRefusedWithTheSizeNeeded) {
    const vtoken::test::PluggedToken second = Plug({"--kind", "hid"});
    ASSERT_FALSE(WaitForDeviceCount(2).empty());
    ULONG needed = 0;
    ASSERT_EQ(SKF_EnumDev(1, nullptr, &needed), SAR_OK);

    std::vector<char> list(needed + 1, 'x');
    ULONG size = needed - 1;
    EXPECT_EQ(SKF_EnumDev(1, list.data(), &size), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(list[0], 'x') << "a refused buffer is left alone";

    size = needed;
    ASSERT_EQ(SKF_EnumDev(1, list.data(), &size), SAR_OK);
    EXPECT_EQ(size, needed);
    const std::vector<std::string> names = SplitNameList(list.data(), size);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], m_devName);
    EXPECT_EQ(needed, names[0].size() + names[1].size() + 3);
    EXPECT_EQ(list[needed - 1], '\0');
    EXPECT_EQ(list[needed - 2], '\0');
    EXPECT_EQ(list[needed], 'x');
}

TEST_P(SkfDeviceTest, ConnectChecksItsArgumentsInOrder) {
    DEVHANDLE dev = reinterpret_cast<DEVHANDLE>(0x1234);
    struct Case {
        LPSTR name;
        DEVHANDLE* out;
        ULONG expected;
    } cases[] = {
        {nullptr, nullptr, SAR_NAMELENERR},
        {nullptr, &dev, SAR_NAMELENERR},
        {Text(m_devName.c_str()), nullptr, SAR_INVALIDPARAMERR},
        {Text(""), &dev, SAR_INDATALENERR},
        {Text("no-such-device"), &dev, SAR_DEVICE_REMOVED},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SKF_ConnectDev(c.name, c.out), c.expected) << (c.name ? c.name : "(null)");
    EXPECT_EQ(dev, nullptr) << "an unknown device leaves no stale value behind";

    DEVHANDLE second = nullptr;
    ASSERT_EQ(SKF_ConnectDev(Text(m_devName.c_str()), &second), SAR_OK);
    EXPECT_NE(second, m_dev) << "every connection is a handle of its own";
}

TEST_P(SkfDeviceTest, DevStateIsOneOnlyForAPresentDevice) {
    ULONG state = 7;
    ASSERT_EQ(SKF_GetDevState(Text(m_devName.c_str()), &state), SAR_OK);
    EXPECT_EQ(state, 1u);
    for (const char* name : {"", "no-such-device"}) {
        state = 7;
        ASSERT_EQ(SKF_GetDevState(Text(name), &state), SAR_OK);
        EXPECT_EQ(state, 0u) << name;
    }
    EXPECT_EQ(SKF_GetDevState(Text(m_devName.c_str()), nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_GetDevState(nullptr, &state), SAR_INVALIDPARAMERR);
    Unplug();
    ASSERT_EQ(SKF_GetDevState(Text(m_devName.c_str()), &state), SAR_OK);
    EXPECT_EQ(state, 0u);
}

TEST_P(SkfDeviceTest, DevInfoHasTheTokenTextsAndTheFixedBufferSizes) {
    const DEVINFO info = DevInfo();
    EXPECT_STREQ(std::string(info.Label, strnlen(info.Label, sizeof info.Label)).c_str(), "vtoken");
    EXPECT_EQ(std::string(info.SerialNumber, strnlen(info.SerialNumber, sizeof info.SerialNumber)), m_token.serial);
    EXPECT_EQ(ULONG{info.MaxECCBufferSize}, 955u);
    EXPECT_EQ(ULONG{info.MaxBufferSize}, 1024u);
    EXPECT_GT(ULONG{info.TotalSpace}, 0u);
    EXPECT_LE(ULONG{info.FreeSpace}, ULONG{info.TotalSpace});
    EXPECT_EQ(ULONG{info.DevAuthAlgId}, 0x401u) << "the capabilities arrive big-endian";
    for (BYTE b : info.Reserved)
        ASSERT_EQ(b, 0) << "the whole structure is zeroed first";
}

TEST_P(SkfDeviceTest, DevInfoErrors) {
    EXPECT_EQ(SKF_GetDevInfo(m_dev, nullptr), SAR_INVALIDPARAMERR);
    DEVINFO info;
    EXPECT_EQ(SKF_GetDevInfo(reinterpret_cast<DEVHANDLE>(0x10), &info), SAR_INVALIDHANDLEERR);
    ForceStatus(kInsGetDevInfo, 0x6A88);
    EXPECT_EQ(SKF_GetDevInfo(m_dev, &info), SAR_FAIL);
}

TEST_P(SkfDeviceTest, LabelOf31CharactersIsStoredAnd32AreRefused) {
    const std::string longest(31, 'L');
    ASSERT_EQ(SKF_SetLabel(m_dev, Text(longest.c_str())), SAR_OK);
    const DEVINFO info = DevInfo();
    EXPECT_EQ(std::string(info.Label, strnlen(info.Label, sizeof info.Label)), longest);

    const std::string tooLong(32, 'M');
    EXPECT_EQ(SKF_SetLabel(m_dev, Text(tooLong.c_str())), SAR_INDATAERR);
    const DEVINFO after = DevInfo();
    EXPECT_EQ(std::string(after.Label, strnlen(after.Label, sizeof after.Label)), longest);
}

TEST_P(SkfDeviceTest, LabelErrors) {
    EXPECT_EQ(SKF_SetLabel(m_dev, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_SetLabel(nullptr, Text("x")), SAR_INVALIDHANDLEERR);
    ForceStatus(kInsSetLabel, 0x6A80);
    EXPECT_EQ(SKF_SetLabel(m_dev, Text("refused")), SAR_FAIL);
}

TEST_P(SkfDeviceTest, TransmitReturnsTheAnswerWithItsStatusWord) {
    BYTE getRandom[] = {0x80, 0x50, 0x00, 0x00, 0x00, 0x00, 0x08};
    BYTE answer[64] = {};
    ULONG len = sizeof answer;
    ASSERT_EQ(SKF_Transmit(m_dev, getRandom, sizeof getRandom, answer, &len), SAR_OK);
    ASSERT_EQ(len, 10u);
    EXPECT_EQ(answer[8], 0x90);
    EXPECT_EQ(answer[9], 0x00);

    // A command the token refuses still succeeds here; the caller reads the status word.
    BYTE unknown[] = {0x80, 0xEE, 0x00, 0x00, 0x00};
    len = sizeof answer;
    ASSERT_EQ(SKF_Transmit(m_dev, unknown, sizeof unknown, answer, &len), SAR_OK);
    ASSERT_EQ(len, 2u);
    EXPECT_NE(answer[0], 0x90);
    EXPECT_EQ(answer[0] & 0xF0, 0x60);
}

TEST_P(SkfDeviceTest, TransmitArgumentAndSizeErrors) {
    BYTE getRandom[] = {0x80, 0x50, 0x00, 0x00, 0x00, 0x00, 0x08};
    BYTE answer[16] = {};
    ULONG len = 2;
    EXPECT_EQ(SKF_Transmit(m_dev, getRandom, sizeof getRandom, answer, &len), SAR_INVALIDPARAMERR);
    len = sizeof answer;
    EXPECT_EQ(SKF_Transmit(m_dev, nullptr, sizeof getRandom, answer, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_Transmit(m_dev, getRandom, sizeof getRandom, nullptr, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_Transmit(m_dev, getRandom, sizeof getRandom, answer, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_Transmit(reinterpret_cast<DEVHANDLE>(0x10), getRandom, sizeof getRandom, answer, &len),
              SAR_INVALIDHANDLEERR);

    // Eight random bytes and the status word need 10; an answer that does not fit is never reported
    // as received.
    len = 9;
    std::memset(answer, 0xEE, sizeof answer);
    EXPECT_EQ(SKF_Transmit(m_dev, getRandom, sizeof getRandom, answer, &len), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 10u);
    EXPECT_EQ(answer[9], 0xEE);
}

TEST_P(SkfDeviceTest, LockAndUnlockDoNothingWhateverTheHandle) {
    EXPECT_EQ(SKF_LockDev(m_dev, 100), SAR_OK);
    EXPECT_EQ(SKF_UnlockDev(m_dev), SAR_OK);
    EXPECT_EQ(SKF_LockDev(reinterpret_cast<DEVHANDLE>(0x10), 0), SAR_OK);
    EXPECT_EQ(SKF_UnlockDev(nullptr), SAR_OK);
}

TEST_P(SkfDeviceTest, DisconnectClosesOnceAndTheApplicationHandleOutlivesIt) {
    HAPPLICATION app = nullptr;
    ASSERT_EQ(SKF_OpenApplication(m_dev, Text(kDefaultApp), &app), SAR_OK);
    ASSERT_EQ(SKF_DisConnectDev(m_dev), SAR_OK);
    EXPECT_EQ(SKF_DisConnectDev(m_dev), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(SKF_DisConnectDev(nullptr), SAR_INVALIDHANDLEERR);
    DEVINFO info;
    EXPECT_EQ(SKF_GetDevInfo(m_dev, &info), SAR_INVALIDHANDLEERR);
    ULONG retry = 0;
    EXPECT_EQ(SKF_VerifyPIN(app, kUserPinType, Text(kDefaultPinText), &retry), SAR_OK);
}

TEST_P(SkfDeviceTest, RemovalTakesTheFirstDeviceHandleAndLeavesTheOthersDeviceGone) {
    DEVHANDLE second = nullptr;
    ASSERT_EQ(SKF_ConnectDev(Text(m_devName.c_str()), &second), SAR_OK);
    HAPPLICATION app = nullptr;
    ASSERT_EQ(SKF_OpenApplication(m_dev, Text(kDefaultApp), &app), SAR_OK);
    Unplug();

    EXPECT_EQ(SKF_DisConnectDev(m_dev), SAR_INVALIDHANDLEERR) << "the first handle left with the device";
    DEVINFO info;
    EXPECT_EQ(SKF_GetDevInfo(second, &info), SAR_DEVICE_REMOVED);
    EXPECT_EQ(SKF_SetLabel(second, Text("gone")), SAR_DEVICE_REMOVED);
    BYTE command[] = {0x80, 0x50, 0x00, 0x00, 0x00, 0x00, 0x08};
    BYTE answer[16];
    ULONG len = sizeof answer;
    EXPECT_EQ(SKF_Transmit(second, command, sizeof command, answer, &len), SAR_INVALIDHANDLEERR);
    BYTE random[8];
    EXPECT_EQ(SKF_GenRandom(second, random, sizeof random), SAR_INVALIDHANDLEERR);
    ULONG retry = 0;
    EXPECT_EQ(SKF_VerifyPIN(app, kUserPinType, Text(kDefaultPinText), &retry), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(SKF_ConnectDev(Text(m_devName.c_str()), &second), SAR_DEVICE_REMOVED);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(SKF_DisConnectDev(app), SAR_OK) << "the application handle stays in the table";
}

// Both transports: the SCSI-style one and HID.
INSTANTIATE_TEST_SUITE_P(Transports, SkfDeviceTest, ::testing::Values("bot", "hid"));

} // namespace
} // namespace keycore::test
