#pragma once
// Upper-case hexadecimal rendering of byte strings (serial numbers, names, diagnostics).

#include <cstddef>

namespace keycore {

// Writes 2 * count upper-case digits and a NUL to output, which must hold 2 * count + 1 bytes.
// Returns 2 * count; returns 0 and writes nothing when output is null, and writes an empty text when
// bytes is null.
size_t HexEncode(char* output, const unsigned char* bytes, size_t count);

// Writes the 2 * count upper-case digits of bytes at the start of output and sets *capacity to
// 2 * count. A NUL follows when the capacity leaves room for it; a capacity of exactly 2 * count holds
// the digits alone (fixed-width fields such as a 32-byte serial number). Returns 1, or 0 without
// writing when an argument is null or *capacity is below 2 * count.
int HexEncodeBounded(const unsigned char* bytes, size_t count, char* output, size_t* capacity);

} // namespace keycore
