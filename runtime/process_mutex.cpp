#include "runtime/process_mutex.h"

#include "runtime/ipc_key.h"

#include <pthread.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <cerrno>

namespace keycore {
namespace {

// The caller must define semun for semctl (see semctl(2)).
union SemArg {
    int val;
    semid_ds* buf;
    unsigned short* array;
};

constexpr int kOpenPolls = 100;
constexpr unsigned kOpenPollPauseMicros = 20;

// Keeps the calling thread from being cancelled inside a section that must finish, such as the
// release of a lock: a cancellation there would leave the lock held or unwind through a destructor.
class CancellationBlocker {
public:
    CancellationBlocker() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &m_previous); }
    CancellationBlocker(const CancellationBlocker&) = delete;
    CancellationBlocker& operator=(const CancellationBlocker&) = delete;
    ~CancellationBlocker() { pthread_setcancelstate(m_previous, nullptr); }

private:
    int m_previous = PTHREAD_CANCEL_ENABLE;
};

key_t KeyForName(const std::string& name) {
    return name.empty() ? kNoIpcKey : IpcKeyFromName(name);
}

} // namespace

int WaitForSemaphoreUse(int semId, int maxPolls, unsigned pauseMicros) {
    int polls = 0;
    while (polls < maxPolls) {
        semid_ds info{};
        SemArg arg{};
        arg.buf = &info;
        ++polls;
        if (semctl(semId, 0, IPC_STAT, arg) == -1)
            return -1;
        if (info.sem_otime != 0)
            break;
        usleep(pauseMicros);
    }
    return polls;
}

int CProcessMutex::Create(const std::string& name) {
    const key_t key = KeyForName(name);
    if (key == kNoIpcKey)
        return kIpcNoKey;
    const int semId = semget(key, 1, IPC_CREAT | IPC_EXCL | 0666);
    if (semId == -1)
        return errno == EEXIST ? kIpcExists : kIpcSystemError;
    unsigned short zero[1] = {0};
    SemArg arg{};
    arg.array = zero;
    if (semctl(semId, 0, SETALL, arg) == -1) {
        semctl(semId, 0, IPC_RMID);
        return kIpcSystemError;
    }
    m_semId = semId;
    m_created = true;
    return kIpcOk;
}

int CProcessMutex::Open(const std::string& name) {
    if (IsOpen())
        return kIpcOk;
    const key_t key = KeyForName(name);
    if (key == kNoIpcKey)
        return kIpcNoKey;
    const int semId = semget(key, 0, 0666);
    if (semId == -1)
        return kIpcMissing;
    // A creator that has not used its semaphore yet may still be initialising it; give it a moment.
    if (WaitForSemaphoreUse(semId, kOpenPolls, kOpenPollPauseMicros) < 0)
        return kIpcSystemError;
    m_semId = semId;
    return kIpcOk;
}

int CProcessMutex::OpenOrCreate(const std::string& name) {
    int res = Open(name);
    if (res != kIpcMissing)
        return res;
    res = Create(name);
    if (res != kIpcExists)
        return res;
    return Open(name);
}

int CProcessMutex::Acquire(bool wait) {
    if (!IsOpen())
        return kIpcNotOpen;
    const uint64_t self = CurrentThreadTag();
    if (m_owner.load(std::memory_order_relaxed) == self) {
        ++m_depth;
        return kIpcOk;
    }
    sembuf ops[2] = {};
    ops[0].sem_num = 0;
    ops[0].sem_op = 0;
    ops[0].sem_flg = wait ? 0 : IPC_NOWAIT;
    ops[1].sem_num = 0;
    ops[1].sem_op = 1;
    ops[1].sem_flg = SEM_UNDO;
    int res;
    do {
        res = semop(m_semId, ops, 2);
    } while (res == -1 && errno == EINTR);
    if (res == -1)
        return kIpcSystemError;
    m_owner.store(self, std::memory_order_relaxed);
    m_depth = 1;
    return kIpcOk;
}

int CProcessMutex::Lock() {
    return Acquire(true);
}

int CProcessMutex::TryLock() {
    return Acquire(false);
}

int CProcessMutex::Unlock() {
    if (!IsOpen())
        return kIpcNotOpen;
    if (m_owner.load(std::memory_order_relaxed) != CurrentThreadTag() || m_depth <= 0)
        return kIpcOk;
    if (--m_depth > 0)
        return kIpcOk;
    CancellationBlocker noCancel;
    m_owner.store(kNoThread, std::memory_order_relaxed);
    // IPC_NOWAIT: should the value have dropped to 0 behind our back, there is nothing to release and
    // blocking would hang for ever.
    sembuf op{};
    op.sem_num = 0;
    op.sem_op = -1;
    op.sem_flg = SEM_UNDO | IPC_NOWAIT;
    if (semop(m_semId, &op, 1) == -1)
        return errno == EAGAIN ? kIpcOk : kIpcSystemError;
    // No pause for waiters is needed: the kernel completes a blocked process's "wait for zero, then
    // take" operation within this release, so the lock passes to it before the caller could take it
    // again.
    return kIpcOk;
}

void CProcessMutex::Forget() {
    m_semId = -1;
    m_owner.store(kNoThread, std::memory_order_relaxed);
    m_depth = 0;
}

int CProcessMutex::Destroy() {
    if (!IsOpen())
        return kIpcOk;
    const int res = semctl(m_semId, 0, IPC_RMID);
    Forget();
    return res == -1 ? kIpcSystemError : kIpcOk;
}

int CProcessMutex::Remove(const std::string& name) {
    const key_t key = KeyForName(name);
    if (key == kNoIpcKey)
        return kIpcNoKey;
    const int semId = semget(key, 0, 0);
    if (semId == -1)
        return kIpcMissing;
    return semctl(semId, 0, IPC_RMID) == -1 ? kIpcSystemError : kIpcOk;
}

bool CProcessMutex::Probe(const std::string& name) {
    CProcessMutex probe;
    if (probe.OpenOrCreate(name) != kIpcOk)
        return false;
    if (probe.Lock() != kIpcOk)
        return false;
    return probe.Unlock() == kIpcOk;
}

int CProcessMutex::DepthForCaller() const {
    return m_owner.load(std::memory_order_relaxed) == CurrentThreadTag() ? m_depth : 0;
}

} // namespace keycore
