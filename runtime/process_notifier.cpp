#include "runtime/process_notifier.h"

#include "runtime/ipc_result.h"
#include "runtime/notifier_fifo.h"
#include "runtime/notifier_registry.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace keycore {
namespace {

// What the stop routine writes into the own FIFO to wake the listener; never delivered.
const char kCancel[] = {'C', 'a', 'n', 'c', 'e', 'l'};

void CloseDescriptor(int* pFd) {
    if (*pFd >= 0)
        close(*pFd);
    *pFd = -1;
}

void DeleteFifoFile(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode))
        unlink(path.c_str());
}

bool ProcessIsGone(int32_t pid) {
    return pid <= 0 || (kill(pid, 0) == -1 && errno == ESRCH);
}

} // namespace

ProcessNotifier::ProcessNotifier() : m_ownPid(static_cast<int32_t>(getpid())) {}

ProcessNotifier::~ProcessNotifier() {
    Unregister();
    Close();
}

void ProcessNotifier::SetCallback(Callback pfnCallback, void* pContext) {
    m_pfnCallback = pfnCallback;
    m_pContext = pContext;
}

int ProcessNotifier::Open(const char* pszName) {
    if (pszName == nullptr || *pszName == '\0')
        return kIpcNoKey;
    // A creator that lost the race to another one adopts that segment and must not reset its counter,
    // so neither call writes the local counter.
    if (m_registry.Open(pszName, false) != kIpcOk &&
        m_registry.Create(pszName, kRegistrySize, false, nullptr) != kIpcOk)
        return kNotifierOpenFailed;
    m_channelName = pszName;
    return kIpcOk;
}

void ProcessNotifier::Prune(int32_t pid, const std::string& fifoPath) {
    DeleteFifoFile(fifoPath);
    CNotifierRegistry registry(m_registry.Data(), m_registry.DataSize());
    if (registry.RemoveFirst(pid))
        m_registry.BumpCounter();
}

int ProcessNotifier::CountListeners(uint32_t* pulCount) {
    if (pulCount == nullptr)
        return kIpcNoKey;
    CShareMemoryHolder hold(m_registry);
    if (!hold.IsLocked())
        return kIpcSystemError;
    CNotifierRegistry registry(m_registry.Data(), m_registry.DataSize());
    uint32_t live = 0;
    for (uint32_t i = registry.Count(); i-- > 0;) {
        const int32_t pid = registry.PidAt(i);
        const std::string path = NotifierFifoPath(m_channelName, pid);
        const int fd = OpenPeerFifo(path);
        if (fd >= 0)
            close(fd);
        if (fd < 0 || ProcessIsGone(pid))
            Prune(pid, path);
        else
            ++live;
    }
    if (live == 0)
        DeleteChannelFifos(m_channelName);
    *pulCount = live;
    return kIpcOk;
}

int ProcessNotifier::Register() {
    if (m_registered)
        return kIpcExists;
    CShareMemoryHolder hold(m_registry);
    if (!hold.IsLocked())
        return kIpcSystemError;
    CNotifierRegistry registry(m_registry.Data(), m_registry.DataSize());
    if (registry.Count() >= registry.Capacity())
        return kIpcTableFull;

    // The FIFO is open for reading before the pid is published, so no broadcast can find the new
    // listener without a reader and prune it.
    m_stopping = false;
    const std::string path = NotifierFifoPath(m_channelName, m_ownPid);
    if (OpenOwnFifo(path, &m_readFd, &m_writeFd) &&
        m_listener.Create(&ProcessNotifier::ListenerRoutine, &ProcessNotifier::StopRoutine, this) != 0) {
        CloseDescriptor(&m_readFd);
        CloseDescriptor(&m_writeFd);
        DeleteFifoFile(path);
        return kIpcSystemError;
    }
    registry.Append(m_ownPid);
    m_registry.BumpCounter();
    m_registered = true;
    return kIpcOk;
}

void ProcessNotifier::StopListener() {
    m_listener.Stop(Thread::kNoTimeout);
}

void ProcessNotifier::LeaveChannel() {
    StopListener();
    // A listener still inside the callback (the stop routine's wait ran out) sees the stop request
    // when the callback returns and never touches the descriptors again.
    CloseDescriptor(&m_readFd);
    CloseDescriptor(&m_writeFd);
    if (!m_channelName.empty())
        DeleteFifoFile(NotifierFifoPath(m_channelName, m_ownPid));
    m_registered = false;
}

int ProcessNotifier::Unregister() {
    if (!m_registered)
        return kIpcOk;
    {
        CShareMemoryHolder hold(m_registry);
        if (!hold.IsLocked())
            return kIpcSystemError;
        CNotifierRegistry registry(m_registry.Data(), m_registry.DataSize());
        if (registry.RemoveFirst(m_ownPid))
            m_registry.BumpCounter();
    }
    LeaveChannel();
    return kIpcOk;
}

int ProcessNotifier::Broadcast(int32_t ulTargetPid, const void* pMessage, uint32_t ulLength) {
    if (pMessage == nullptr || ulLength == 0 || ulLength > kNotifyMaxMessage || ulTargetPid == m_ownPid)
        return kIpcNoKey;
    CShareMemoryHolder hold(m_registry);
    if (!hold.IsLocked())
        return kIpcSystemError;
    CNotifierRegistry registry(m_registry.Data(), m_registry.DataSize());
    // From the last to the first: pruning entry i moves only entries already visited.
    for (uint32_t i = registry.Count(); i-- > 0;) {
        const int32_t pid = registry.PidAt(i);
        if (pid == m_ownPid || (ulTargetPid != 0 && pid != ulTargetPid))
            continue;
        const std::string path = NotifierFifoPath(m_channelName, pid);
        const int fd = OpenPeerFifo(path);
        if (fd < 0) {
            Prune(pid, path);
            continue;
        }
        // A reader may be a child that inherited the descriptor from a process that has since died.
        if (ProcessIsGone(pid)) {
            close(fd);
            Prune(pid, path);
            continue;
        }
        // The descriptor that proved a reader exists is the one written to: a second, blocking open
        // would hang for good if the peer died in between.
        SendFramedMessage(fd, pMessage, ulLength, kSendTimeoutMs);
        close(fd);
        if (ulTargetPid != 0)
            break;
    }
    return kIpcOk;
}

int ProcessNotifier::RegisteredCount() {
    CShareMemoryHolder hold(m_registry);
    if (!hold.IsLocked())
        return kIpcSystemError;
    return static_cast<int>(CNotifierRegistry(m_registry.Data(), m_registry.DataSize()).Count());
}

void ProcessNotifier::Close() {
    if (m_registered && Unregister() != kIpcOk)
        LeaveChannel(); // our pid stays behind; peers prune it as they would a dead process's
    if (m_registry.IsAttached()) {
        bool removeRegistry = false;
        if (m_registry.Lock() == kIpcOk) {
            removeRegistry = CNotifierRegistry(m_registry.Data(), m_registry.DataSize()).Count() == 0;
            // Removed while held: nobody can register between the check and the removal.
            if (!removeRegistry)
                m_registry.Unlock();
        }
        if (removeRegistry)
            m_registry.Destroy();
        else
            m_registry.Close();
    }
    m_channelName.clear();
}

void ProcessNotifier::ListenerRoutine(Thread& /*thread*/, void* pUserData) {
    static_cast<ProcessNotifier*>(pUserData)->Listen();
}

bool ProcessNotifier::StopRoutine(void* pUserData) {
    auto* self = static_cast<ProcessNotifier*>(pUserData);
    self->m_stopping = true;
    // Non-blocking: with the listener already gone there is no reader and the open fails at once.
    if (self->m_writeFd == -1 && !self->m_channelName.empty())
        self->m_writeFd = OpenPeerFifo(NotifierFifoPath(self->m_channelName, self->m_ownPid));
    // A full pipe refuses the bytes, but then the listener has data to wake it anyway.
    if (self->m_writeFd != -1)
        WriteWithoutSigpipe(self->m_writeFd, kCancel, sizeof kCancel);
    self->m_listener.WaitForEnd(kStopWaitMs);
    return true;
}

bool ProcessNotifier::WaitReadable() {
    for (;;) {
        if (m_stopping)
            return false;
        pollfd pfd{m_readFd, POLLIN, 0};
        const int ready = poll(&pfd, 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (pfd.revents & (POLLERR | POLLNVAL)) != 0)
            return false;
        return !m_stopping;
    }
}

bool ProcessNotifier::ReadExactly(uint8_t* pBuffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t got = read(m_readFd, pBuffer + done, length - done);
        if (got > 0) {
            done += static_cast<size_t>(got);
            continue;
        }
        // End of file cannot happen while our own writer is open; treat it as the fault it is
        // rather than spin on it.
        if (got == 0 || (errno != EAGAIN && errno != EINTR))
            return false;
        if (errno == EAGAIN && !WaitReadable())
            return false;
    }
    return true;
}

void ProcessNotifier::DropBufferedBytes() {
    // A length beyond the limit means the stream has lost its framing: whatever is in the pipe now
    // belongs to the broken message or cannot be told apart from it. Messages written later start
    // on a clean frame.
    uint8_t scratch[4096];
    for (;;) {
        const ssize_t got = read(m_readFd, scratch, sizeof scratch);
        if (got > 0)
            continue;
        if (got < 0 && errno == EINTR)
            continue;
        return;
    }
}

void ProcessNotifier::Listen() {
    uint8_t message[kNotifyMaxMessage];
    while (!m_stopping) {
        uint32_t length = 0;
        if (!ReadExactly(reinterpret_cast<uint8_t*>(&length), sizeof length) || m_stopping)
            return;
        if (length == 0 || length > kNotifyMaxMessage) {
            DropBufferedBytes();
            continue;
        }
        if (!ReadExactly(message, length) || m_stopping)
            return;
        const Callback callback = m_pfnCallback;
        if (callback != nullptr)
            callback(m_pContext, message, length);
    }
}

} // namespace keycore
