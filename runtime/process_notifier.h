#pragma once
// The channel that carries short messages from one process to every other process using the library.

#include "runtime/share_memory.h"
#include "runtime/thread.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace keycore {

// A registry of listening process ids in a shared segment named by the channel, and one FIFO per
// listening process ("/tmp/<channel>_%08lx" of its pid) carrying length-prefixed messages of 1 to
// 2,048 bytes. A registered process runs one listener thread that reads its own FIFO and hands every
// message to the callback; a broadcast writes the message into the FIFO of every other registered
// process. A process that dies without unregistering leaves its pid and FIFO behind; the next
// Broadcast or CountListeners of any process prunes them.
//
// Threads: one owner thread calls every method but the callback, which runs on the listener thread
// and does its own locking. The registry lock (recursive for its owner thread) serialises registry
// changes and whole broadcasts across processes. Results are the codes of ipc_result.h, plus
// kNotifierOpenFailed.
class ProcessNotifier {
public:
    // Called on the listener thread with the context given to SetCallback and one whole message.
    using Callback = void (*)(void* pContext, const void* pMessage, uint32_t ulLength);

    static constexpr int kNotifierOpenFailed = 7;
    // Size of the registry segment's data area.
    static constexpr uint32_t kRegistrySize = 4096;
    // How long a broadcast waits for room in the pipe of a peer that has stopped reading.
    static constexpr int kSendTimeoutMs = 1000;
    // How long the stop routine waits for the listener to end (the old fixed pauses added up to this).
    static constexpr int kStopWaitMs = 200;

    ProcessNotifier();
    ProcessNotifier(const ProcessNotifier&) = delete;
    ProcessNotifier& operator=(const ProcessNotifier&) = delete;
    // Unregister, then Close; the listener is stopped and reaped before the members go.
    ~ProcessNotifier();

    // Set it before Register, or while no message can arrive: the listener reads it unlocked.
    void SetCallback(Callback pfnCallback, void* pContext);

    // Attaches the channel's registry, creating it when it does not exist. 0, 3 null or empty name,
    // kNotifierOpenFailed when the registry can be neither opened nor created.
    int Open(const char* pszName);

    // Prunes dead entries (their FIFOs are deleted) and stores the number of live listeners. When
    // none is live, every FIFO of the channel is deleted. 0, 3 null pointer, 5 registry lock failed.
    int CountListeners(uint32_t* pulCount);

    // Opens this process's FIFO, starts the listener and adds the own pid. 0, 1 already registered,
    // 5 lock or thread failure, 6 registry full. When the FIFO cannot be made the process is still
    // registered but deaf (peers prune it), as a process that cannot listen must not fail its host.
    int Register();

    // Stops the listener, removes the own pid, closes the descriptors and deletes the own FIFO.
    // 0 (also when not registered), or 5 when the registry cannot be locked.
    int Unregister();

    // Sends the message to pid ulTargetPid, or to every other registered process when it is 0, the
    // last registered first. Dead or non-reading peers are pruned; a live peer whose pipe stays full
    // for kSendTimeoutMs is skipped this time. 0, 3 null or empty or over-long message or a target
    // equal to the own pid, 5 registry lock failed.
    int Broadcast(int32_t ulTargetPid, const void* pMessage, uint32_t ulLength);

    // Number of registered processes, or 5 when the registry cannot be locked.
    int RegisteredCount();

    // Unregisters if still registered, then detaches from the registry, or removes it (segment and
    // lock) when no process is registered any more.
    void Close();

    bool IsRegistered() const { return m_registered; }
    const std::string& ChannelName() const { return m_channelName; }
    int32_t OwnPid() const { return m_ownPid; }

private:
    static void ListenerRoutine(Thread& thread, void* pUserData);
    static bool StopRoutine(void* pUserData);
    void Listen();
    bool WaitReadable();
    bool ReadExactly(uint8_t* pBuffer, size_t length);
    void DropBufferedBytes();
    void StopListener();
    void LeaveChannel();
    // Removes a dead peer: deletes its FIFO and its pid. The caller holds the registry lock.
    void Prune(int32_t pid, const std::string& fifoPath);

    Callback m_pfnCallback = nullptr;
    void* m_pContext = nullptr;
    int m_readFd = -1;
    int m_writeFd = -1;
    int32_t m_ownPid;
    std::string m_channelName;
    CShareMemory m_registry;
    std::atomic<bool> m_stopping{false};
    bool m_registered = false;
    // Declared last so that it is destroyed first, while everything its routine uses still exists.
    Thread m_listener;
};

} // namespace keycore
