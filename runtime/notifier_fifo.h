#pragma once
// The named pipes of a notification channel: one per listening process under /tmp.

#include <cstddef>
#include <cstdint>
#include <string>

namespace keycore {

// Longest message a channel carries, and the size of one framed message (4-byte length + body).
// A framed message never exceeds PIPE_BUF, so the kernel writes it whole and never interleaves it
// with another writer's.
constexpr uint32_t kNotifyMaxMessage = 2048;
constexpr size_t kNotifyFrameHeader = 4;

// "/tmp/" + channel + "_%08lx" of the process id.
std::string NotifierFifoPath(const std::string& channel, int32_t pid);

// Creates (or reuses) the FIFO at path, world-writable so that the processes of every user reach it,
// and opens it for this process: *pReadFd non-blocking for reading, and *pKeepAliveFd for writing.
// Holding a writer of its own means the reader never sees end of file when the peers close theirs,
// so the listener can sleep in poll until the next message. False (nothing left open) when the path
// cannot be made a FIFO or opened.
bool OpenOwnFifo(const std::string& path, int* pReadFd, int* pKeepAliveFd);

// Opens a peer's FIFO for writing without blocking. -1 with errno ENXIO when nobody reads it (the
// peer is gone), or another errno (also ENXIO for a path that is not a FIFO).
int OpenPeerFifo(const std::string& path);

enum class SendOutcome { kSent, kTimedOut, kFailed };

// Writes one framed message (length, then the bytes) in a single write. Waits up to timeoutMs for
// room when the peer's pipe is full instead of blocking forever behind a peer that stopped reading.
// A reader that vanishes meanwhile is a failure, never a SIGPIPE for the host process.
SendOutcome SendFramedMessage(int fd, const void* pMessage, uint32_t ulLength, int timeoutMs);

// Writes raw bytes, with SIGPIPE kept from the process; the write result (or -1).
long WriteWithoutSigpipe(int fd, const void* pData, size_t length);

// Removes every FIFO of the channel under /tmp (names "<channel>_<hex digits>"); other files are
// left alone. Returns the number removed.
int DeleteChannelFifos(const std::string& channel);

} // namespace keycore
