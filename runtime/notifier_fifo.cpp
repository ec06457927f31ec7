#include "runtime/notifier_fifo.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

namespace keycore {
namespace {

static_assert(kNotifyFrameHeader + kNotifyMaxMessage <= PIPE_BUF, "a framed message must be written atomically");

const char kFifoDirectory[] = "/tmp/";

bool IsFifo(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

// Keeps SIGPIPE from the process while a write to a pipe whose reader may vanish is under way. The
// signal is blocked for the calling thread only; one raised by our write is taken back before the
// old mask returns, one that was pending before is left for the host.
class CSigpipeBlock {
public:
    CSigpipeBlock() {
        sigemptyset(&m_pipeOnly);
        sigaddset(&m_pipeOnly, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        m_wasPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        m_blocked = pthread_sigmask(SIG_BLOCK, &m_pipeOnly, &m_old) == 0;
    }
    CSigpipeBlock(const CSigpipeBlock&) = delete;
    CSigpipeBlock& operator=(const CSigpipeBlock&) = delete;
    ~CSigpipeBlock() {
        if (!m_blocked)
            return;
        if (m_raised && !m_wasPending) {
            const timespec now{0, 0};
            while (sigtimedwait(&m_pipeOnly, nullptr, &now) == -1 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }

    void NoteResult(long written) {
        if (written < 0 && errno == EPIPE)
            m_raised = true;
    }

private:
    sigset_t m_pipeOnly;
    sigset_t m_old;
    bool m_wasPending = false;
    bool m_blocked = false;
    bool m_raised = false;
};

bool IsHexSuffix(const char* text) {
    if (*text == '\0')
        return false;
    for (; *text != '\0'; ++text) {
        if (!std::isxdigit(static_cast<unsigned char>(*text)))
            return false;
    }
    return true;
}

} // namespace

std::string NotifierFifoPath(const std::string& channel, int32_t pid) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_%08lx", static_cast<unsigned long>(static_cast<uint32_t>(pid)));
    return kFifoDirectory + channel + suffix;
}

bool OpenOwnFifo(const std::string& path, int* pReadFd, int* pKeepAliveFd) {
    *pReadFd = -1;
    *pKeepAliveFd = -1;
    if (mkfifo(path.c_str(), 0777) != 0 && errno != EEXIST)
        return false;
    // O_NOFOLLOW and the type check keep a planted link or plain file from being taken for our FIFO.
    const int readFd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (readFd < 0)
        return false;
    if (!IsFifo(readFd)) {
        close(readFd);
        return false;
    }
    // The mode is set on the descriptor rather than by clearing the process umask, which other
    // threads of the host may rely on at the same moment. A FIFO left by another user keeps its mode.
    (void)fchmod(readFd, 0777);
    const int keepAliveFd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (keepAliveFd < 0) {
        close(readFd);
        return false;
    }
    *pReadFd = readFd;
    *pKeepAliveFd = keepAliveFd;
    return true;
}

int OpenPeerFifo(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    if (!IsFifo(fd)) {
        close(fd);
        errno = ENXIO;
        return -1;
    }
    return fd;
}

long WriteWithoutSigpipe(int fd, const void* pData, size_t length) {
    CSigpipeBlock block;
    long written;
    do {
        written = static_cast<long>(write(fd, pData, length));
    } while (written < 0 && errno == EINTR);
    block.NoteResult(written);
    return written;
}

SendOutcome SendFramedMessage(int fd, const void* pMessage, uint32_t ulLength, int timeoutMs) {
    if (pMessage == nullptr || ulLength == 0 || ulLength > kNotifyMaxMessage)
        return SendOutcome::kFailed;
    uint8_t frame[kNotifyFrameHeader + kNotifyMaxMessage];
    std::memcpy(frame, &ulLength, kNotifyFrameHeader);
    std::memcpy(frame + kNotifyFrameHeader, pMessage, ulLength);
    const size_t frameLength = kNotifyFrameHeader + ulLength;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // A write of at most PIPE_BUF bytes on a non-blocking pipe is all or nothing.
        const long written = WriteWithoutSigpipe(fd, frame, frameLength);
        if (written == static_cast<long>(frameLength))
            return SendOutcome::kSent;
        if (written >= 0 || errno != EAGAIN)
            return SendOutcome::kFailed;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return SendOutcome::kTimedOut;
        pollfd pfd{fd, POLLOUT, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            return SendOutcome::kFailed;
        if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP)) != 0)
            return SendOutcome::kFailed;
    }
}

int DeleteChannelFifos(const std::string& channel) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(kFifoDirectory), &closedir);
    if (!dir)
        return 0;
    const std::string prefix = channel + "_";
    int removed = 0;
    while (const dirent* entry = readdir(dir.get())) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0 ||
            !IsHexSuffix(entry->d_name + prefix.size()))
            continue;
        const std::string path = kFifoDirectory + std::string(entry->d_name);
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode) && unlink(path.c_str()) == 0)
            ++removed;
    }
    return removed;
}

} // namespace keycore
