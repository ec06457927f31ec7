// The device-information answer turned into DEVINFO, from hand-made answers: field positions, the
// big-endian capabilities, the serial number of the firmware that sends it as raw bytes, short answers.
#include "keycore/skf.h"
#include "skf/skf_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace keycore {
namespace {

// An answer with every byte set to its own offset (mod 251, so no field repeats another's pattern),
// and the firmware major version given.
std::vector<unsigned char> Answer(unsigned char firmwareMajor, size_t length = 512) {
    std::vector<unsigned char> answer(length);
    for (size_t i = 0; i < length; ++i)
        answer[i] = static_cast<unsigned char>(i % 251);
    if (length > 198)
        answer[198] = firmwareMajor;
    return answer;
}

DEVINFO Parse(const std::vector<unsigned char>& answer) {
    DEVINFO info;
    std::memset(&info, 0xA5, sizeof info);
    DevInfoFromAnswer(answer.data(), answer.size(), &info);
    return info;
}

TEST(DevInfoAnswerTest, FieldsComeFromTheirOffsets) {
    const std::vector<unsigned char> answer = Answer(0x02);
    const DEVINFO info = Parse(answer);
    EXPECT_EQ(info.Version.major, 0);
    EXPECT_EQ(info.Version.minor, 1);
    EXPECT_EQ(std::memcmp(info.Manufacturer, &answer[4], 64), 0);
    EXPECT_EQ(std::memcmp(info.Issuer, &answer[68], 64), 0);
    EXPECT_EQ(std::memcmp(info.Label, &answer[132], 32), 0);
    EXPECT_EQ(std::memcmp(info.SerialNumber, &answer[164], 32), 0);
    EXPECT_EQ(info.HWVersion.major, 196);
    EXPECT_EQ(info.HWVersion.minor, 197);
    EXPECT_EQ(info.FirmwareVersion.major, 0x02);
    EXPECT_EQ(info.FirmwareVersion.minor, 199);
    struct Capability {
        ULONG value;
        size_t offset;
    } capabilities[] = {{info.AlgSymCap, 200},    {info.AlgAsymCap, 204}, {info.AlgHashCap, 208},
                        {info.DevAuthAlgId, 212}, {info.TotalSpace, 216}, {info.FreeSpace, 220}};
    for (const Capability& c : capabilities) {
        const ULONG bigEndian = (ULONG(answer[c.offset]) << 24) | (ULONG(answer[c.offset + 1]) << 16) |
                                (ULONG(answer[c.offset + 2]) << 8) | ULONG(answer[c.offset + 3]);
        EXPECT_EQ(c.value, bigEndian) << c.offset;
    }
    EXPECT_EQ(ULONG{info.MaxECCBufferSize}, 955u);
    EXPECT_EQ(ULONG{info.MaxBufferSize}, 1024u);
    for (BYTE b : info.Reserved)
        ASSERT_EQ(b, 0);
}

TEST(DevInfoAnswerTest, Firmware0x10SendsTheSerialAsSixteenBytesShownInHex) {
    std::vector<unsigned char> answer = Answer(0x10);
    const unsigned char serial[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                      0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    std::memcpy(&answer[164], serial, sizeof serial);
    const DEVINFO info = Parse(answer);
    EXPECT_EQ(std::string(info.SerialNumber, sizeof info.SerialNumber), "0123456789ABCDEFFEDCBA9876543210");
    EXPECT_EQ(info.HWVersion.major, 196) << "the digits fill the field exactly and spill nowhere";
}

TEST(DevInfoAnswerTest, ShortOrMissingAnswersLeaveZeroes) {
    for (size_t length : {size_t{0}, size_t{1}, size_t{150}, size_t{201}}) {
        const std::vector<unsigned char> answer = Answer(0x10, length);
        const DEVINFO info = Parse(answer);
        EXPECT_EQ(ULONG{info.FreeSpace}, 0u) << length;
        EXPECT_EQ(ULONG{info.MaxBufferSize}, 1024u) << length;
        if (length < 164) {
            EXPECT_EQ(info.SerialNumber[0], '\0') << length;
        }
    }
    DEVINFO info;
    DevInfoFromAnswer(nullptr, 300, &info);
    EXPECT_EQ(info.Version.major, 0);
    EXPECT_EQ(ULONG{info.MaxECCBufferSize}, 955u);
}

} // namespace
} // namespace keycore
