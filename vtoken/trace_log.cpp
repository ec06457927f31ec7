#include "vtoken/trace_log.h"

namespace vtoken {

void TraceLog::Frame(char marker, bool out, const uint8_t* bytes, size_t length) {
    if (!m_frames)
        return;
    const char prefix[2] = {marker, '\0'};
    Add(prefix, out ? '>' : '<', bytes, length);
}

void TraceLog::Add(const char* marker, char direction, const uint8_t* bytes, size_t length) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string line;
    line.reserve(3 + 2 * length);
    if (marker)
        line += marker;
    line += direction;
    line += ' ';
    for (size_t i = 0; i < length; ++i) {
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 0x0F];
    }
    if (m_lines.size() == kMaxLines)
        m_lines.pop_front();
    m_lines.push_back(std::move(line));
}

std::string TraceLog::Text() const {
    std::string text;
    for (const std::string& line : m_lines) {
        text += line;
        text += '\n';
    }
    return text;
}

} // namespace vtoken
