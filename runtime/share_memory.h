#pragma once
// A named shared segment with its own cross-process lock and a change counter.

#include "runtime/lock_holder.h"
#include "runtime/process_mutex.h"
#include "runtime/share_mem.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace keycore {

// Segment "<name>_shm" of data size + 8 bytes, guarded by the semaphore "<name>_mtx":
//   offset 0  data size      (uint32, native order)
//   offset 4  change counter (uint32, native order; 0 in a new segment)
//   offset 8  data           (zero-filled when the segment is new)
// Writers hold the lock (Lock/Unlock or a CShareMemoryHolder) and call BumpCounter after a change,
// so other processes notice it by comparing GetCounter with the counter they saw last.
//
// The header is written by whoever creates the segment, under the lock, so no process sees a
// half-written one. The data size a process uses always comes from the kernel's record of the
// segment size: a header that disagrees (a segment zeroed by its first new attacher, or damaged
// by another process) is rewritten under the lock instead of being trusted.
//
// Going out of scope detaches and forgets; Destroy removes the segment and its lock, which the last
// user does. Results are the codes of ipc_result.h.
class CShareMemory {
public:
    // Called by BumpCounter with the segment's base address.
    using ChangeCallback = void (*)(void* pBase);

    static constexpr size_t kHeaderSize = 8;

    CShareMemory() = default;
    CShareMemory(const CShareMemory&) = delete;
    CShareMemory& operator=(const CShareMemory&) = delete;
    ~CShareMemory() { Close(); }

    // Attaches the named segment, creating it (size data bytes) when it does not exist yet. With
    // writeCounter the local counter is written into an existing segment's header, otherwise the
    // header's counter is copied into the local one. 0 (also when already attached), 3 empty name or
    // size 0, 4 the lock or the segment could not be opened, created or locked.
    int Create(const std::string& name, uint32_t size, bool writeCounter, ChangeCallback callback);
    // Attaches an existing segment; counter handling as in Create. 0 (also when already attached),
    // 3 empty name, 4 lock or segment missing or not usable.
    int Open(const std::string& name, bool writeCounter);

    // 0, or 4 when the lock cannot be taken or released.
    int Lock();
    int Unlock();

    // The change counter in the segment (0 when not attached).
    uint32_t GetCounter() const;
    // Advances the segment's counter, copies it locally and calls the change callback. The caller
    // holds the lock. Returns the new counter (0 when not attached).
    uint32_t BumpCounter();

    void* Data() const { return m_pData; }
    uint32_t DataSize() const { return m_ulDataSize; }
    void* Base() const { return m_pBase; }
    uint32_t LocalCounter() const { return m_ulLocalCounter; }
    const std::string& Name() const { return m_name; }
    bool IsAttached() const { return m_pBase != nullptr; }
    int SegmentId() const { return m_shm.SegmentId(); }

    // Detaches, clears the addresses, size and name, and forgets the lock.
    void Close();
    // Detaches and removes the segment and its lock. 0, 4 not attached, 5 a removal failed.
    int Destroy();

private:
    int AdoptSegment(bool writeCounter);
    void Clear();
    uint32_t* HeaderWord(size_t index) const { return reinterpret_cast<uint32_t*>(m_pBase) + index; }

    CProcessMutex m_mutex;
    CShareMem m_shm;
    std::string m_name;
    uint8_t* m_pBase = nullptr;
    uint8_t* m_pData = nullptr;
    uint32_t m_ulDataSize = 0;
    uint32_t m_ulLocalCounter = 0;
    ChangeCallback m_pfnChanged = nullptr;
};

using CShareMemoryHolder = CLockHolder<CShareMemory>;

} // namespace keycore
