#pragma once
// The command and answer log of one token, in hex, one line each ("> 8050000000000008",
// "< 0102030405060708 9000" without the blank). Bounded: the oldest lines go first.
//
// On request the log also shows the USB frames that carry them, with a two-letter marker: "R>" and
// "R<" for HID reports, "W>" and "W<" for Bulk-Only command and status wrappers, "D>" and "D<" for
// Bulk-Only data stages. A frame line comes before the command it completes. Off by default, so
// the plain log reads the same with or without the frames switch ever used.

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
    // Logs one frame when frame lines are on; `marker` is 'R', 'W' or 'D', `out` the host's direction.
    void Frame(char marker, bool out, const uint8_t* bytes, size_t length);
    void SetFrames(bool on) { m_frames = on; }
    bool Frames() const { return m_frames; }
    // All lines, each ending in a newline.
    std::string Text() const;
    void Clear() { m_lines.clear(); }

private:
    void Add(char direction, const uint8_t* bytes, size_t length) { Add(nullptr, direction, bytes, length); }
    void Add(const char* marker, char direction, const uint8_t* bytes, size_t length);
    std::deque<std::string> m_lines;
    bool m_frames = false;
};

} // namespace vtoken
