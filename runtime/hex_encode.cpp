#include "runtime/hex_encode.h"

namespace keycore {

namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";

void WriteDigits(const unsigned char* bytes, size_t count, char* output) {
    for (size_t i = 0; i < count; ++i) {
        output[2 * i] = kUpperDigits[bytes[i] >> 4];
        output[2 * i + 1] = kUpperDigits[bytes[i] & 0xF];
    }
}

} // namespace

size_t HexEncode(char* output, const unsigned char* bytes, size_t count) {
    if (output == nullptr)
        return 0;
    if (bytes == nullptr) {
        output[0] = '\0';
        return 0;
    }
    WriteDigits(bytes, count, output);
    output[2 * count] = '\0';
    return 2 * count;
}

int HexEncodeBounded(const unsigned char* bytes, size_t count, char* output, size_t* capacity) {
    if (bytes == nullptr || output == nullptr || capacity == nullptr)
        return 0;
    if (count > *capacity / 2)
        return 0;
    WriteDigits(bytes, count, output);
    if (*capacity > 2 * count)
        output[2 * count] = '\0';
    *capacity = 2 * count;
    return 1;
}

} // namespace keycore
