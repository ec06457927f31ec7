#pragma once
// The list of listening processes of a notification channel, kept in the channel's shared segment.

#include <cstddef>
#include <cstdint>

namespace keycore {

// A view over the data area of the channel's CShareMemory:
//   offset 0     2048 bytes not used by the channel
//   offset 2048  count of registered processes (uint32, native order)
//   offset 2052  the process ids (int32, native order), in registration order
// The caller holds the segment's lock for every call. The count in the segment is never trusted
// beyond the room the segment really has: a damaged count reads as the room available.
class CNotifierRegistry {
public:
    static constexpr size_t kCountOffset = 2048;
    static constexpr size_t kPidsOffset = 2052;
    static constexpr uint32_t kMaxProcesses = 500;

    // pData / ulDataSize: the segment's data area; an area too small for even the count has no room.
    CNotifierRegistry(void* pData, uint32_t ulDataSize);

    uint32_t Count() const;
    int32_t PidAt(uint32_t index) const;
    // False when the registry is full.
    bool Append(int32_t pid);
    // Removes the first entry equal to pid, moving the later ones down. False when it is not there.
    bool RemoveFirst(int32_t pid);
    bool Contains(int32_t pid) const;
    // Entries the segment has room for (at most kMaxProcesses).
    uint32_t Capacity() const { return m_capacity; }

private:
    uint32_t* CountWord() const;
    int32_t* Pids() const;

    uint8_t* m_pData;
    uint32_t m_capacity;
};

} // namespace keycore
