#pragma once
// Checks shared by the command builders: names and lengths that must fit the fields the token reads.

#include <cstddef>
#include <cstring>

namespace keycore {

// The length of a NUL-terminated name when it is present, not empty and at most maxLen bytes.
inline bool NameLength(const char* pszName, size_t maxLen, size_t* pLen) {
    if (pszName == nullptr)
        return false;
    const size_t len = strnlen(pszName, maxLen + 1);
    if (len == 0 || len > maxLen)
        return false;
    *pLen = len;
    return true;
}

// The two bytes of a 16-bit id or offset, as template arguments.
inline unsigned long Hi(unsigned long v) {
    return (v >> 8) & 0xFF;
}
inline unsigned long Lo(unsigned long v) {
    return v & 0xFF;
}

// Names travel with a one-byte length; the container and file records hold at most 32 bytes (a
// longer name is refused before anything is sent).
constexpr size_t kMaxShortName = 255 - 8;
constexpr size_t kMaxRecordName = 32;
// Data fields with a two-byte length.
constexpr size_t kMaxDataField = 0xFFFF;

} // namespace keycore
