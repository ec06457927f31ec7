#pragma once
// The process-wide PKCS#11 environment: the one object through which every entry point, PKCS#11 and
// SKF, reaches the slots and sessions.

#include "pkcs11/p11_mutex.h"
#include "runtime/process_mutex.h"

#include <p11-kit/pkcs11.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace keycore {

class CSlotManager;
class CP11SessionManager;

// The PKCS#11 initialisation counter and the lock that serialises its changes. Every C_Initialize
// adds one (also when it answers "already initialised") and every accepted C_Finalize takes one
// away; the library counts as initialised while the counter is above 0.
class CP11Env {
public:
    CP11Env() = default;
    CP11Env(const CP11Env&) = delete;
    CP11Env& operator=(const CP11Env&) = delete;
    virtual ~CP11Env();

    // Makes and deletes the thread mutex of the environment lock.
    void CreateLock() { m_lock.Create(); }
    void DestroyLock() { m_lock.Destroy(); }
    P11Mutex& Lock() { return m_lock; }

    // Read without the lock, as every entry frame does.
    bool IsInitialized() const { return m_counter.load(std::memory_order_acquire) > 0; }
    int64_t Counter() const { return m_counter.load(std::memory_order_acquire); }

    // Both must be called with the environment lock held; they return the new value.
    int64_t Increment() { return m_counter.fetch_add(1, std::memory_order_acq_rel) + 1; }
    int64_t Decrement() { return m_counter.fetch_sub(1, std::memory_order_acq_rel) - 1; }

private:
    std::atomic<int64_t> m_counter{0};
    P11Mutex m_lock;
};

// Holds the environment lock of a CP11Env for its own lifetime.
class LockP11EnvHolder {
public:
    explicit LockP11EnvHolder(CP11Env& env);
    LockP11EnvHolder(const LockP11EnvHolder&) = delete;
    LockP11EnvHolder& operator=(const LockP11EnvHolder&) = delete;
    virtual ~LockP11EnvHolder();

    // False when the lock could not be taken (it does not exist yet).
    bool IsLocked() const { return m_locked; }

private:
    CP11Env& m_env;
    bool m_locked;
};

// The one environment of the process. Instance() builds it on first use and (re)runs its
// initialisation until one succeeds: slot manager, device monitor, session manager. It is torn
// down by static destruction at exit: the monitor stops first, then the sessions close, then the
// slot manager goes, then the environment lock, last the connection lock.
class KVCSP11Env {
public:
    // Never null; the initialisation may have failed (see IsReady).
    static KVCSP11Env* Instance();

    KVCSP11Env(const KVCSP11Env&) = delete;
    KVCSP11Env& operator=(const KVCSP11Env&) = delete;
    virtual ~KVCSP11Env();

    // Inter-process lock of the SKF device connection functions; opened by them.
    CProcessMutex& ConnectionLock() { return m_connectionLock; }
    CP11Env& Env() { return m_env; }
    CSlotManager& SlotManager() { return *m_slotManager; }
    CP11SessionManager& SessionManager() { return *m_sessionManager; }

    // True once an initialisation has succeeded; it then stays so for the life of the process.
    static bool IsReady();

private:
    KVCSP11Env();
    // One attempt of the environment initialisation; false leaves it to be retried.
    bool Initialize();

    // Destroyed in the reverse order of declaration, which is the teardown order above.
    CProcessMutex m_connectionLock;
    CP11Env m_env;
    std::unique_ptr<CSlotManager> m_slotManager;
    std::unique_ptr<CP11SessionManager> m_sessionManager;
};

// Fills a fixed-width text field of a PKCS#11 structure: spaces, then the text at its start, no
// terminating zero. A text longer than the field leaves the field untouched and gives false.
bool PadCopy(CK_UTF8CHAR* pField, size_t ulFieldSize, const char* pszText);

} // namespace keycore
