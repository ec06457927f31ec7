#include "pkcs11/p11_env.h"

#include "pkcs11/p11_session.h"
#include "pkcs11/slot_mgr.h"
#include "runtime/thread_mutex.h"

#include <cstdlib>
#include <cstring>

namespace keycore {

namespace {

// Set once an initialisation of the environment has succeeded; read without a lock by every entry.
std::atomic<bool> g_environmentReady{false};

// Serialises the initialisation attempts; constructed on first use like the environment.
ThreadMutex& InitialisationMutex() {
    static ThreadMutex mutex;
    return mutex;
}

// Static objects are destroyed at exit in the reverse order of their construction. Those that the
// monitor thread itself brings to life while it scans (inside the USB library, say) come after the
// environment and would be destroyed while the thread still runs; the monitor is therefore stopped
// by a handler registered once the environment is up, which runs before any of them goes.
void StopMonitorAtExit() {
    KVCSP11Env::Instance()->SlotManager().StopMonitor();
}

} // namespace

CP11Env::~CP11Env() = default;

LockP11EnvHolder::LockP11EnvHolder(CP11Env& env) : m_env(env), m_locked(env.Lock().Lock() == CKR_OK) {}

LockP11EnvHolder::~LockP11EnvHolder() {
    if (m_locked)
        m_env.Lock().Unlock();
}

KVCSP11Env::KVCSP11Env()
    : m_slotManager(std::make_unique<CSlotManager>()),
      m_sessionManager(std::make_unique<CP11SessionManager>(*m_slotManager)) {}

KVCSP11Env::~KVCSP11Env() {
    // The monitor thread calls into the slot manager, so it must end before anything goes.
    m_slotManager->StopMonitor();
    m_sessionManager->DeleteAllSessions();
    m_sessionManager.reset();
    m_slotManager.reset();
    m_env.DestroyLock();
}

bool KVCSP11Env::IsReady() {
    return g_environmentReady.load(std::memory_order_acquire);
}

KVCSP11Env* KVCSP11Env::Instance() {
    static KVCSP11Env environment;
    if (!g_environmentReady.load(std::memory_order_acquire)) {
        // A thread that arrives while another one initialises waits for the outcome instead of
        // running on a half-built slot manager. The mutex is recursive: an entry point reached from
        // inside the initialisation on the same thread finds `initialising` set and goes on.
        static bool initialising = false;
        ThreadMutexHolder holder(InitialisationMutex());
        if (!g_environmentReady.load(std::memory_order_acquire) && !initialising) {
            initialising = true;
            const bool ready = environment.Initialize();
            initialising = false;
            static bool stopRegistered = false;
            if (ready && !stopRegistered)
                stopRegistered = std::atexit(&StopMonitorAtExit) == 0;
            g_environmentReady.store(ready, std::memory_order_release);
        }
    }
    return &environment;
}

bool KVCSP11Env::Initialize() {
    m_env.CreateLock();
    if (!m_slotManager->IsInitialized() && m_slotManager->Initialize() != CKR_OK)
        return false;
    if (m_slotManager->StartMonitor() != CKR_OK)
        return false;
    return m_sessionManager->Initialize() == CKR_OK;
}

bool PadCopy(CK_UTF8CHAR* pField, size_t ulFieldSize, const char* pszText) {
    const size_t length = std::strlen(pszText);
    if (length > ulFieldSize)
        return false;
    std::memset(pField, ' ', ulFieldSize);
    std::memcpy(pField, pszText, length);
    return true;
}

} // namespace keycore
