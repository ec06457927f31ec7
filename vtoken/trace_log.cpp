#include "vtoken/trace_log.h"

namespace vtoken {

void TraceLog::Add(char direction, const uint8_t* bytes, size_t length) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string line;
    line.reserve(2 + 2 * length);
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
