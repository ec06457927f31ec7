#include "runtime/secure_wipe.h"

#include <cstring>

namespace keycore {

void SecureWipe(void* p, size_t len) noexcept {
    if (p == nullptr || len == 0)
        return;
    std::memset(p, 0, len);
    // The barrier tells the compiler the zeroed memory is still read, so the memset stays.
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

} // namespace keycore
