#include "runtime/fatal_assert.h"

#include <cstdio>
#include <cstdlib>

namespace keycore {

void AssertionFailed(const char* condition, const char* signature, const char* file, int line) noexcept {
    std::fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, signature, condition);
    std::fflush(stderr);
    std::abort();
}

} // namespace keycore
