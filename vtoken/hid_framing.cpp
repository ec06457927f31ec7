#include "vtoken/hid_framing.h"

#include <algorithm>
#include <utility>

namespace vtoken {

namespace {

uint16_t BigEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void PutBigEndian16(uint8_t* p, size_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

std::vector<uint8_t> Report(size_t total, size_t offset, const uint8_t* payload, size_t length) {
    std::vector<uint8_t> report(HidFraming::kReportSize, 0);
    PutBigEndian16(&report[0], total);
    PutBigEndian16(&report[2], offset);
    PutBigEndian16(&report[4], length);
    std::copy(payload, payload + length, report.begin() + HidFraming::kHeaderSize);
    return report;
}

} // namespace

std::vector<std::vector<uint8_t>> HidFraming::Fragment(const std::vector<uint8_t>& message) {
    std::vector<std::vector<uint8_t>> reports;
    for (size_t offset = 0; offset < message.size(); offset += kMaxPayload) {
        const size_t length = std::min(kMaxPayload, message.size() - offset);
        reports.push_back(Report(message.size(), offset, message.data() + offset, length));
    }
    return reports;
}

int HidFraming::Refuse() {
    m_message.clear();
    m_total = 0;
    return StallOut();
}

int HidFraming::DoWrite(const uint8_t* data, size_t length) {
    if (length != kReportSize)
        return Refuse();
    m_lastReport.assign(data, data + length);
    const size_t total = BigEndian16(data);
    const size_t offset = BigEndian16(data + 2);
    const size_t fragment = BigEndian16(data + 4);
    if (total == 0 || fragment == 0 || fragment > kMaxPayload || offset + fragment > total)
        return Refuse();
    if (offset == 0) {
        // A new command. Reports of an earlier answer that the host never read stay queued in front
        // of the new answer, as in the device's IN buffer: the host has to drain them itself.
        m_message.clear();
        m_total = total;
    } else if (m_total == 0 || total != m_total || offset != m_message.size()) {
        return Refuse();
    }
    m_message.insert(m_message.end(), data + kHeaderSize, data + kHeaderSize + fragment);
    if (m_message.size() == m_total) {
        m_total = 0;
        if (!UnplugBeforeExecute())
            QueueAnswer(m_engine->Execute(m_message.data(), m_message.size()));
        m_message.clear();
    }
    return static_cast<int>(length);
}

void HidFraming::QueueAnswer(const std::vector<uint8_t>& answer) {
    std::vector<std::vector<uint8_t>> reports;
    if (m_faults->disorder && !answer.empty()) {
        m_faults->disorder = false;
        if (answer.size() <= kMaxPayload && answer.size() >= 2) {
            // A one-report answer is sent as two fragments so that there is an order to break.
            const size_t half = answer.size() / 2;
            reports.push_back(Report(answer.size(), 0, answer.data(), half));
            reports.push_back(Report(answer.size(), half, answer.data() + half, answer.size() - half));
        } else {
            reports = Fragment(answer);
        }
        if (reports.size() >= 2)
            std::swap(reports[0], reports[1]);
    } else if (answer.empty()) {
        // An answer cut to nothing still goes out as one report announcing an empty message.
        reports.push_back(Report(0, 0, nullptr, 0));
    } else {
        reports = Fragment(answer);
    }
    m_outgoing.insert(m_outgoing.end(), std::make_move_iterator(reports.begin()),
                      std::make_move_iterator(reports.end()));
    m_echoesLeft = std::exchange(m_faults->echoes, 0u);
    m_busyLeft = std::exchange(m_faults->busyReplies, 0u);
}

int HidFraming::DoRead(size_t size, std::vector<uint8_t>* out) {
    if (m_outgoing.empty())
        return -ETIMEDOUT;
    if (m_faults->statusTimeout) {
        m_faults->statusTimeout = false;
        return -ETIMEDOUT;
    }
    if (m_busyLeft > 0) {
        --m_busyLeft;
        out->assign(2, 0);
        return 2;
    }
    if (size < kReportSize)
        return -EOVERFLOW;
    if (m_echoesLeft > 0) {
        --m_echoesLeft;
        *out = m_lastReport;
        return static_cast<int>(kReportSize);
    }
    *out = std::move(m_outgoing.front());
    m_outgoing.pop_front();
    return static_cast<int>(kReportSize);
}

void HidFraming::DoReset() {
    m_message.clear();
    m_total = 0;
    m_lastReport.clear();
    m_outgoing.clear();
    m_echoesLeft = 0;
    m_busyLeft = 0;
}

} // namespace vtoken
