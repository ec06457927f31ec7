#include "vtoken/apdu_engine.h"

#include <algorithm>

#include "vtoken/applet/token_applet.h"

namespace vtoken {

namespace {

constexpr uint16_t kNoPendingAnswer = 0x6985;   // GET RESPONSE with nothing waiting

bool IsGetResponse(const uint8_t* apdu, size_t length) {
    return length == 5 && apdu[0] == 0x00 && apdu[1] == 0xC0 && apdu[2] == 0 && apdu[3] == 0;
}

std::vector<uint8_t> StatusOnly(uint16_t statusWord) {
    return {static_cast<uint8_t>(statusWord >> 8), static_cast<uint8_t>(statusWord)};
}

// 61xx announces what is left; 00 stands for 256 bytes or more.
uint8_t RemainingByte(size_t remaining) { return remaining >= 256 ? 0 : static_cast<uint8_t>(remaining); }

} // namespace

std::vector<uint8_t> ApduEngine::Execute(const uint8_t* apdu, size_t length) {
    m_trace->Command(apdu, length);
    std::vector<uint8_t> answer = Run(apdu, length);
    if (m_faults->truncate) {
        m_faults->truncate = false;
        if (answer.size() > m_faults->truncateTo)
            answer.resize(m_faults->truncateTo);
    }
    m_trace->Answer(answer.data(), answer.size());
    return answer;
}

std::vector<uint8_t> ApduEngine::Run(const uint8_t* apdu, size_t length) {
    if (IsGetResponse(apdu, length))
        return m_pending.empty() ? StatusOnly(kNoPendingAnswer) : NextChunk(apdu[4] == 0 ? 256 : apdu[4]);
    m_pending.clear();

    if (length >= 2) {
        auto& forced = m_faults->forcedStatus;
        auto it = std::find_if(forced.begin(), forced.end(), [&](const ForcedStatus& f) { return f.ins == apdu[1]; });
        if (it != forced.end()) {
            const uint16_t statusWord = it->statusWord;
            forced.erase(it);
            return StatusOnly(statusWord);
        }
    }

    std::vector<uint8_t> answer = m_applet->Execute(apdu, length);
    const size_t data = answer.size() >= 2 ? answer.size() - 2 : 0;
    if (m_faults->chainAfter != 0 && data > m_faults->chainAfter) {
        const size_t limit = m_faults->chainAfter;
        m_faults->chainAfter = 0;
        return Chain(std::move(answer), limit);
    }
    if (m_sendBuffer != 0 && data > m_sendBuffer)
        return Chain(std::move(answer), m_sendBuffer);
    return answer;
}

std::vector<uint8_t> ApduEngine::Chain(std::vector<uint8_t> answer, size_t limit) {
    m_pending.assign(answer.begin() + static_cast<std::ptrdiff_t>(limit), answer.end());
    answer.resize(limit);
    answer.push_back(0x61);
    answer.push_back(RemainingByte(m_pending.size() - 2));
    return answer;
}

std::vector<uint8_t> ApduEngine::NextChunk(size_t expected) {
    const size_t remaining = m_pending.size() - 2;
    if (m_sendBuffer != 0)
        expected = std::min(expected, m_sendBuffer);
    const size_t take = std::min(expected, remaining);
    std::vector<uint8_t> chunk(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(take));
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(take));
    if (m_pending.size() > 2) {
        chunk.push_back(0x61);
        chunk.push_back(RemainingByte(m_pending.size() - 2));
    } else {
        chunk.insert(chunk.end(), m_pending.begin(), m_pending.end());
        m_pending.clear();
    }
    return chunk;
}

} // namespace vtoken
