#pragma once
// The environment lock: one recursive thread mutex behind the PKCS#11 result convention.

#include "runtime/thread_mutex.h"

#include <p11-kit/pkcs11.h>

#include <memory>

namespace keycore {

// Owns its ThreadMutex from Create to Destroy. Until Create (or after Destroy) there is nothing to
// take, and Lock answers CKR_CANT_LOCK instead of pretending to serialise.
class P11Mutex {
public:
    P11Mutex() = default;
    P11Mutex(const P11Mutex&) = delete;
    P11Mutex& operator=(const P11Mutex&) = delete;
    virtual ~P11Mutex();

    // Makes the mutex if it is missing; a second Create keeps the first.
    void Create();
    // Deletes the mutex; it must not be held.
    void Destroy();
    bool IsCreated() const { return m_mutex != nullptr; }

    CK_RV Lock();
    CK_RV Unlock();

private:
    std::unique_ptr<ThreadMutex> m_mutex;
};

} // namespace keycore
