#pragma once
// Scope holder for the locks whose Lock and Unlock report a result code (the cross-process mutex and
// the shared segments). Unlike a thread mutex such a lock may fail to be taken, so the holder keeps
// the result and releases only what it really took.

namespace keycore {

template <typename Lockable> class CLockHolder {
public:
    explicit CLockHolder(Lockable& lock) : m_lock(lock), m_result(lock.Lock()) {}
    CLockHolder(const CLockHolder&) = delete;
    CLockHolder& operator=(const CLockHolder&) = delete;
    ~CLockHolder() { Release(); }

    bool IsLocked() const { return m_result == 0 && !m_released; }
    // Result of the Lock call: 0 when the lock was taken.
    int Result() const { return m_result; }

    // Releases early; the destructor then does nothing. Returns the Unlock result, or 0 when
    // there was nothing to release.
    int Release() {
        if (!IsLocked())
            return 0;
        m_released = true;
        return m_lock.Unlock();
    }

private:
    Lockable& m_lock;
    const int m_result;
    bool m_released = false;
};

} // namespace keycore
