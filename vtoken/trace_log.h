#pragma once
// The command and answer log of one token, in hex, one line each ("> 8050000000000008",
// "< 0102030405060708 9000" without the blank). Bounded: the oldest lines go first.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace vtoken {

class TraceLog {
public:
    static constexpr size_t kMaxLines = 8192;

    void Command(const uint8_t* apdu, size_t length) { Add('>', apdu, length); }
    void Answer(const uint8_t* answer, size_t length) { Add('<', answer, length); }
    // All lines, each ending in a newline.
    std::string Text() const;
    void Clear() { m_lines.clear(); }

private:
    void Add(char direction, const uint8_t* bytes, size_t length);
    std::deque<std::string> m_lines;
};

} // namespace vtoken
