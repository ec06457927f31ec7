#pragma once
// Recursive lock for the threads of one process.

#include "runtime/thread_tag.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>

namespace keycore {

// A pthread mutex with default attributes made recursive by an owner and a depth kept beside it:
// the owning thread may lock again, and only its outermost Unlock releases the mutex. A failing
// pthread call is a programming error and stops the process.
class ThreadMutex {
public:
    ThreadMutex();
    ThreadMutex(const ThreadMutex&) = delete;
    ThreadMutex& operator=(const ThreadMutex&) = delete;
    // Must not be held by anyone.
    virtual ~ThreadMutex();

    void Lock();
    // Ignored unless the calling thread owns the mutex.
    void Unlock();

    // True when the calling thread holds the mutex.
    bool IsOwnedByCaller() const { return m_owner.load(std::memory_order_relaxed) == CurrentThreadTag(); }

private:
    pthread_mutex_t m_mutex;
    // Read by every thread, written only by the thread holding m_mutex.
    std::atomic<uint64_t> m_owner{kNoThread};
    // Touched only by the owner.
    int m_depth = 0;
};

// Holds a ThreadMutex for the lifetime of the holder.
class ThreadMutexHolder {
public:
    explicit ThreadMutexHolder(ThreadMutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }
    ThreadMutexHolder(const ThreadMutexHolder&) = delete;
    ThreadMutexHolder& operator=(const ThreadMutexHolder&) = delete;
    virtual ~ThreadMutexHolder() { m_mutex.Unlock(); }

private:
    ThreadMutex& m_mutex;
};

} // namespace keycore
