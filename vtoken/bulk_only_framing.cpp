#include "vtoken/bulk_only_framing.h"

#include <algorithm>
#include <cstring>

namespace vtoken {

namespace {

constexpr uint8_t kCommandSignature[4] = {'U', 'S', 'B', 'C'};
constexpr uint8_t kTag[4] = {0x44, 0x33, 0x22, 0x11};
constexpr uint8_t kVendorBlock[10] = {0xFF, 'O', 'R', 'V', 'E', 'X', 0x00, 0x00, 0x00, 0x55};
constexpr uint8_t kGoodStatus[BulkOnlyFraming::kStatusSize] = {0x55, 0x53, 0x42, 0x53, 0x44, 0x33, 0x22,
                                                                0x11, 0x00, 0x00, 0x00, 0x00, 0x00};

uint32_t LittleEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

bool AllZero(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

} // namespace

int BulkOnlyFraming::DoWrite(const uint8_t* data, size_t length) {
    if (m_phase == Phase::kCommandData) {
        if (length > m_expected - m_command.size()) {
            m_phase = Phase::kIdle;
            return StallOut();
        }
        m_command.insert(m_command.end(), data, data + length);
        if (m_command.size() == m_expected) {
            m_phase = Phase::kStatus;
            UnplugBeforeExecute();
        }
        return static_cast<int>(length);
    }
    // In any other phase the host starts over with a wrapper; an exchange it abandoned is dropped.
    return AcceptWrapper(data, length);
}

int BulkOnlyFraming::AcceptWrapper(const uint8_t* data, size_t length) {
    const Phase previous = m_phase;
    m_phase = Phase::kIdle;
    if (length != kWrapperSize || std::memcmp(data, kCommandSignature, 4) != 0 || std::memcmp(data + 4, kTag, 4) != 0 ||
        data[13] != 0 || data[14] != sizeof kVendorBlock ||
        std::memcmp(data + 15, kVendorBlock, sizeof kVendorBlock) != 0 || !AllZero(data + 25, 6))
        return StallOut();

    const uint32_t transferLength = LittleEndian32(data + 8);
    const uint8_t flags = data[12];
    if (flags == 0x00 && transferLength >= 1 && transferLength <= kMaxCommand) {
        m_expected = transferLength;
        m_command.clear();
        m_answer.clear();
        m_phase = Phase::kCommandData;
        return static_cast<int>(length);
    }
    if (flags == 0x80 && transferLength == kDataInLength && previous == Phase::kAnswerReady) {
        m_sent = 0;
        m_emptyDataFirst = m_faults->emptyDataStage;
        m_faults->emptyDataStage = false;
        m_phase = Phase::kDataIn;
        return static_cast<int>(length);
    }
    return StallOut();
}

int BulkOnlyFraming::DoRead(size_t size, std::vector<uint8_t>* out) {
    switch (m_phase) {
    case Phase::kStatus:
        return ReadStatus(size, out);
    case Phase::kDataIn:
        return ReadData(size, out);
    case Phase::kFinalStatus:
        if (size < kStatusSize)
            return -EOVERFLOW;
        out->assign(kGoodStatus, kGoodStatus + kStatusSize);
        m_phase = Phase::kIdle;
        return static_cast<int>(kStatusSize);
    default:
        // Nothing to send: the device keeps NAKing until the host gives up.
        return -ETIMEDOUT;
    }
}

int BulkOnlyFraming::ReadStatus(size_t size, std::vector<uint8_t>* out) {
    if (size < kStatusSize)
        return -EOVERFLOW;
    if (m_faults->statusTimeout) {
        // The command is lost: the host sends all of it again.
        m_faults->statusTimeout = false;
        m_phase = Phase::kIdle;
        return -ETIMEDOUT;
    }
    m_answer = m_engine->Execute(m_command.data(), m_command.size());
    m_phase = Phase::kAnswerReady;
    out->assign(kGoodStatus, kGoodStatus + kStatusSize);
    return static_cast<int>(kStatusSize);
}

int BulkOnlyFraming::ReadData(size_t size, std::vector<uint8_t>* out) {
    if (m_emptyDataFirst) {
        m_emptyDataFirst = false;
        if (size < kStatusSize)
            return -EOVERFLOW;
        out->assign(kGoodStatus, kGoodStatus + kStatusSize);
        return static_cast<int>(kStatusSize);
    }
    const size_t count = std::min(size, m_answer.size() - m_sent);
    out->assign(m_answer.begin() + static_cast<std::ptrdiff_t>(m_sent),
                m_answer.begin() + static_cast<std::ptrdiff_t>(m_sent + count));
    m_sent += count;
    if (m_sent == m_answer.size())
        m_phase = Phase::kFinalStatus;
    return static_cast<int>(count);
}

void BulkOnlyFraming::DoReset() {
    m_phase = Phase::kIdle;
    m_command.clear();
    m_answer.clear();
    m_sent = 0;
    m_emptyDataFirst = false;
}

} // namespace vtoken
