#include "runtime/thread_mutex.h"

#include "runtime/fatal_assert.h"

namespace keycore {

ThreadMutex::ThreadMutex() {
    const int res = pthread_mutex_init(&m_mutex, nullptr);
    KEYCORE_ASSERT(res == 0, "ThreadMutex::ThreadMutex()");
}

ThreadMutex::~ThreadMutex() {
    const int res = pthread_mutex_destroy(&m_mutex);
    KEYCORE_ASSERT(res == 0, "virtual ThreadMutex::~ThreadMutex()");
}

void ThreadMutex::Lock() {
    const uint64_t self = CurrentThreadTag();
    if (m_owner.load(std::memory_order_relaxed) == self) {
        ++m_depth;
        return;
    }
    const int res = pthread_mutex_lock(&m_mutex);
    KEYCORE_ASSERT(res == 0, "void ThreadMutex::Lock()");
    m_owner.store(self, std::memory_order_relaxed);
    m_depth = 1;
}

void ThreadMutex::Unlock() {
    if (m_owner.load(std::memory_order_relaxed) != CurrentThreadTag() || m_depth <= 0)
        return;
    if (--m_depth > 0)
        return;
    m_owner.store(kNoThread, std::memory_order_relaxed);
    const int res = pthread_mutex_unlock(&m_mutex);
    KEYCORE_ASSERT(res == 0, "void ThreadMutex::Unlock()");
}

} // namespace keycore
