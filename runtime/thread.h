#pragma once
// A background thread with a cooperative stop.

#include <pthread.h>

#include <memory>

namespace keycore {

// Runs one start routine on its own POSIX thread.
//
// Ownership: the thread that calls Create owns the object; it alone calls Create, Stop, WaitForEnd
// and destroys the object. The started thread may call IsStopRequested (and read its user data) but
// must not delete its own Thread (Stop and WaitForEnd from the thread itself are harmless: they
// never wait for or cancel the caller). Everything the started thread touches after its routine
// returns lives in a block it shares with the object, so the owner may destroy the object as soon
// as the routine has returned.
//
// Stopping: Stop asks the thread to end (IsStopRequested turns true) and, when there is a stop
// routine, lets it wake the thread; a stop routine that fails makes Stop cancel the thread. Without
// one, Stop waits up to its timeout and cancels a thread that is still running. Stop never waits for
// the end of a thread whose stop routine reported success: a stop routine that wants prompt teardown
// wakes the thread and calls WaitForEnd itself. The object stays valid until the thread has ended:
// the destructor stops it, waits (kEndGraceMs) for it to end, cancels it if it has not, and joins it.
class Thread {
public:
    // Runs on the new thread.
    using StartRoutine = void (*)(Thread& thread, void* pUserData);
    // Runs on the thread calling Stop; returns true when it has made the thread end (or will soon).
    using StopRoutine = bool (*)(void* pUserData);

    // How long the destructor waits for a thread that has been asked to stop before cancelling it.
    static constexpr int kEndGraceMs = 2000;
    // Timeout meaning "no limit".
    static constexpr int kNoTimeout = -1;

    Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    virtual ~Thread();

    // Starts startRoutine(*this, pUserData). 0, or 1 when the thread cannot be created or this object
    // still has a thread that has not ended.
    int Create(StartRoutine startRoutine, StopRoutine stopRoutine, void* pUserData);

    // Asks the thread to end; see the class comment. timeoutMs < 0 waits without limit. Does nothing
    // when the thread is not running. Called from the thread itself it only sets the request (and
    // runs the stop routine) and never waits or cancels.
    void Stop(int timeoutMs);

    // Waits until the thread has ended (timeoutMs < 0: without limit) and reaps it. True when it has
    // ended, also when there never was a thread. From the thread itself: false at once.
    bool WaitForEnd(int timeoutMs);

    // Set by Stop; the start routine polls it to know when to return.
    bool IsStopRequested() const;
    // True from Create until the start routine ends or a successful stop routine marked it stopped.
    bool IsRunning() const;
    // True once the start routine has returned or the thread was cancelled.
    bool HasEnded() const;
    // True when called on the thread this object started.
    bool IsCurrentThread() const;

private:
    struct Shared;
    struct StartContext;
    static void* Trampoline(void* pContext);
    void Cancel();
    void ReapIfEnded();

    std::shared_ptr<Shared> m_shared;
    pthread_t m_threadId{};
    bool m_hasThread = false;
    StopRoutine m_stopRoutine = nullptr;
    void* m_pUserData = nullptr;
};

} // namespace keycore
