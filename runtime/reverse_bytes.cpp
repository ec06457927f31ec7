#include "runtime/reverse_bytes.h"

#include <algorithm>

namespace keycore {

void ReverseBytes(unsigned char* buffer, size_t length) {
    if (buffer == nullptr)
        return;
    std::reverse(buffer, buffer + length);
}

} // namespace keycore
