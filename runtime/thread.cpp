#include "runtime/thread.h"

#include <cxxabi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace keycore {

// State the started thread shares with its Thread object; it lives as long as either of them.
struct Thread::Shared {
    std::mutex mutex;
    std::condition_variable endedChanged;
    bool running = false;
    bool ended = true;
    std::atomic<bool> stopRequested{false};
    std::atomic<uint64_t> threadTag{0};
};

struct Thread::StartContext {
    std::shared_ptr<Shared> shared;
    Thread* thread;
    StartRoutine start;
    void* pUserData;
};

Thread::Thread() : m_shared(std::make_shared<Shared>()) {}

Thread::~Thread() {
    if (IsCurrentThread()) {
        // Deleted by its own thread (which the class forbids): nobody can join it, so at least let
        // it reap itself rather than wait for itself.
        pthread_detach(pthread_self());
        return;
    }
    Stop(kNoTimeout);
    if (!WaitForEnd(kEndGraceMs)) {
        Cancel();
        WaitForEnd(kNoTimeout);
    }
}

void* Thread::Trampoline(void* pContext) {
    // Marks the thread ended however the start routine leaves: by returning, by an exception, or by
    // the unwinding of a cancellation.
    class EndMarker {
    public:
        explicit EndMarker(Shared& shared) : m_shared(shared) {}
        EndMarker(const EndMarker&) = delete;
        EndMarker& operator=(const EndMarker&) = delete;
        ~EndMarker() {
            std::lock_guard<std::mutex> lock(m_shared.mutex);
            m_shared.running = false;
            m_shared.ended = true;
            m_shared.endedChanged.notify_all();
        }

    private:
        Shared& m_shared;
    };

    std::unique_ptr<StartContext> context(static_cast<StartContext*>(pContext));
    context->shared->threadTag = static_cast<uint64_t>(pthread_self());
    EndMarker marker(*context->shared);
    try {
        context->start(*context->thread, context->pUserData);
    } catch (...) {
        // A C++ exception escaping a thread would end the whole process, so it stops here. Anything
        // else (the forced unwinding of a cancellation has no C++ type) must go on to the end of
        // the thread.
        if (abi::__cxa_current_exception_type() == nullptr)
            throw;
    }
    return nullptr;
}

int Thread::Create(StartRoutine startRoutine, StopRoutine stopRoutine, void* pUserData) {
    if (startRoutine == nullptr)
        return 1;
    ReapIfEnded();
    if (m_hasThread)
        return 1;
    m_stopRoutine = stopRoutine;
    m_pUserData = pUserData;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        // Running from now on, not from when the new thread first gets the processor: a Stop that
        // comes in between must still see a running thread.
        m_shared->running = true;
        m_shared->ended = false;
        m_shared->stopRequested = false;
    }
    auto* context = new StartContext{m_shared, this, startRoutine, pUserData};
    pthread_t threadId;
    if (pthread_create(&threadId, nullptr, &Thread::Trampoline, context) != 0) {
        delete context;
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->running = false;
        m_shared->ended = true;
        return 1;
    }
    m_threadId = threadId;
    m_shared->threadTag = static_cast<uint64_t>(threadId);
    m_hasThread = true;
    return 0;
}

void Thread::Stop(int timeoutMs) {
    if (!IsRunning()) {
        ReapIfEnded();
        return;
    }
    m_shared->stopRequested = true;
    const bool self = IsCurrentThread();

    if (m_stopRoutine != nullptr) {
        if (!m_stopRoutine(m_pUserData)) {
            if (!self)
                Cancel();
            return;
        }
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->running = false;
        return;
    }
    if (self)
        return;

    {
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        auto stopped = [this] { return !m_shared->running; };
        if (timeoutMs < 0)
            m_shared->endedChanged.wait(lock, stopped);
        else
            m_shared->endedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), stopped);
    }
    if (IsRunning())
        Cancel();
    else
        ReapIfEnded();
}

bool Thread::WaitForEnd(int timeoutMs) {
    // The owner's fields are not for the started thread to read: ask who is calling first.
    if (IsCurrentThread())
        return false;
    if (!m_hasThread)
        return true;
    {
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        auto ended = [this] { return m_shared->ended; };
        if (timeoutMs < 0)
            m_shared->endedChanged.wait(lock, ended);
        else if (!m_shared->endedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended))
            return false;
    }
    ReapIfEnded();
    return true;
}

void Thread::ReapIfEnded() {
    if (IsCurrentThread() || !m_hasThread || !HasEnded())
        return;
    // The end marker is the thread's last act, so this join returns at once.
    pthread_join(m_threadId, nullptr);
    m_hasThread = false;
    m_shared->threadTag = 0;
}

void Thread::Cancel() {
    if (!IsCurrentThread() && m_hasThread && !HasEnded())
        pthread_cancel(m_threadId);
}

bool Thread::IsStopRequested() const {
    return m_shared->stopRequested;
}

bool Thread::IsRunning() const {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->running;
}

bool Thread::HasEnded() const {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->ended;
}

bool Thread::IsCurrentThread() const {
    const uint64_t tag = m_shared->threadTag;
    return tag != 0 && tag == static_cast<uint64_t>(pthread_self());
}

} // namespace keycore
