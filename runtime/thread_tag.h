#pragma once
// Identity of the calling thread as a plain number, for the owner fields of the recursive locks.

#include <pthread.h>

#include <cstdint>

namespace keycore {

// 0 never names a thread; the locks use it for "no owner".
constexpr uint64_t kNoThread = 0;

// pthread_self() as a number. The whole value is kept rather than a truncated part, so that two
// live threads can never be taken for one another.
inline uint64_t CurrentThreadTag() {
    static_assert(sizeof(pthread_t) <= sizeof(uint64_t), "pthread_t must fit the owner field");
    return static_cast<uint64_t>(pthread_self());
}

} // namespace keycore
