#include "transport_test_support.h"

#include <cstring>

namespace keycore::test {

FrameResult Transmit(CTokenBase& token, const Bytes& command, CK_ULONG capacity) {
    constexpr size_t kGuard = 16;
    Bytes buffer(capacity + 2 * kGuard, 0xA5);
    CK_ULONG length = capacity;
    FrameResult result;
    result.rv = token.TransmitFrame(command.data(), command.size(), buffer.data() + kGuard, &length, kCommandTimeoutMs);
    for (size_t i = 0; i < kGuard; ++i) {
        EXPECT_EQ(buffer[i], 0xA5) << "written before the buffer";
        EXPECT_EQ(buffer[kGuard + capacity + i], 0xA5) << "written past the buffer";
    }
    if (result.rv == CKR_OK) {
        EXPECT_LE(length, capacity);
        result.answer.assign(buffer.begin() + kGuard,
                             buffer.begin() + kGuard + static_cast<std::ptrdiff_t>(std::min(length, capacity)));
    }
    return result;
}

Bytes PatternCommand(size_t dataLength) {
    return Bytes{0x80, 0xEE, static_cast<uint8_t>(dataLength >> 8), static_cast<uint8_t>(dataLength)};
}

Bytes PatternAnswer(size_t dataLength) {
    Bytes answer(dataLength);
    for (size_t i = 0; i < dataLength; ++i)
        answer[i] = static_cast<uint8_t>(i);
    answer.push_back(0x90);
    answer.push_back(0x00);
    return answer;
}

void TransportTest::Unplug(const PluggedToken& token) {
    ASSERT_EQ(vtoken::test::RunTool({"unplug", token.id}).exitCode, 0);
}

std::vector<std::string> TransportTest::Commands(const PluggedToken& token, bool clear) {
    std::vector<std::string> commands;
    for (const std::string& line : TraceLines(token, clear))
        if (line.rfind("> ", 0) == 0)
            commands.push_back(line.substr(2));
    return commands;
}

} // namespace keycore::test
