#pragma once
// A named System V shared-memory segment.

#include <cstddef>
#include <string>

namespace keycore {

// Attaches one segment found by name (the name -> key rule of ipc_key.h). The first process to
// attach a segment zeroes it, so a segment left behind by processes that all went away starts
// clean. The segment outlives every process until Destroy; the object only detaches when it goes
// out of scope. Results are the codes of ipc_result.h.
class CShareMem {
public:
    CShareMem() = default;
    CShareMem(const CShareMem&) = delete;
    CShareMem& operator=(const CShareMem&) = delete;
    ~CShareMem() { Detach(); }

    // New segment of size bytes. 0, 1 already attached or exists, 3 empty name, size 0 or no key,
    // 5 a system call failed (a segment that could not be attached is removed again).
    int Create(const std::string& name, size_t size);
    // Existing segment. 0, 1 already attached, 3 empty name or no key, 5 missing or a system call
    // failed.
    int Open(const std::string& name);
    // 0 (also when not attached), or 5 when shmdt fails.
    int Detach();
    // Detaches and removes the segment. 0, or 5 when there is none or shmctl fails.
    int Destroy();

    bool IsAttached() const { return m_pAddress != nullptr; }
    void* Address() const { return m_pAddress; }
    int SegmentId() const { return m_shmId; }
    // Size of the attached segment as the kernel records it; 0 when not attached.
    size_t SegmentSize() const { return m_segmentSize; }

private:
    int Attach(int shmId);

    int m_shmId = -1;
    void* m_pAddress = nullptr;
    size_t m_segmentSize = 0;
};

} // namespace keycore
