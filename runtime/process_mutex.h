#pragma once
// Recursive lock shared by every process of the machine, on a named System V semaphore.

#include "runtime/ipc_result.h"
#include "runtime/lock_holder.h"
#include "runtime/thread_tag.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace keycore {

// One semaphore of value 0 (free) or 1 (held). Lock waits for 0 and adds 1 in one atomic semop with
// SEM_UNDO, so the kernel releases the lock of a process that dies holding it. Recursion is counted
// here (owner thread and depth), never in the semaphore: only the outermost Unlock touches it. A
// thread of this process that is not the owner blocks in semop exactly as another process would.
//
// The semaphore outlives every process: the object only forgets it when it goes out of scope;
// Destroy or Remove deletes it, which the last user does. The usual way in is Open, and Create when
// Open reports it missing (OpenOrCreate does both and survives a race between two creators).
class CProcessMutex {
public:
    CProcessMutex() = default;
    CProcessMutex(const CProcessMutex&) = delete;
    CProcessMutex& operator=(const CProcessMutex&) = delete;
    // Forgets the semaphore; never removes it.
    ~CProcessMutex() { Forget(); }

    // New semaphore for the name, value 0. 0, 1 exists, 3 no key or empty name, 5 system call failed.
    int Create(const std::string& name);
    // Existing semaphore. 0 (also when already open), 2 missing, 3 no key or empty name, 5 failed.
    // Waits (briefly, bounded) until the creator has used the semaphore at least once.
    int Open(const std::string& name);
    // Open, else Create, else (another process won the race to create it) Open again.
    int OpenOrCreate(const std::string& name);

    // 0, 4 not open, 5 semop failed (for instance the semaphore was removed).
    int Lock();
    // As Lock, but 5 at once when another thread or process holds the lock.
    int TryLock();
    // 0 (also, doing nothing, when the caller is not the owner), 4 not open, 5 semop failed.
    int Unlock();

    // Marks the object not open without touching the semaphore.
    void Forget();
    // Removes the semaphore if open. 0, or 5 when semctl fails; the object is not open afterwards.
    int Destroy();

    // Removes the named semaphore. 0, 2 missing, 3 no key or empty name, 5 semctl failed.
    static int Remove(const std::string& name);
    // True when the named semaphore could be opened (or created), locked and unlocked.
    static bool Probe(const std::string& name);

    bool IsOpen() const { return m_semId != -1; }
    bool IsCreated() const { return m_created; }
    int SemaphoreId() const { return m_semId; }
    // Recursion depth of the calling thread: 0 when it does not hold the lock.
    int DepthForCaller() const;

private:
    int Acquire(bool wait);

    int m_semId = -1;
    // Written only by the owner; read by every thread to tell recursion from contention.
    std::atomic<uint64_t> m_owner{kNoThread};
    int m_depth = 0;
    bool m_created = false;
};

using CProcessMutexHolder = CLockHolder<CProcessMutex>;

// Polls IPC_STAT of the semaphore up to maxPolls times, pausing pauseMicros between polls, until
// its last-operation time is set. Returns the number of polls made, or -1 when semctl fails.
int WaitForSemaphoreUse(int semId, int maxPolls, unsigned pauseMicros);

} // namespace keycore
