#include "runtime/share_memory.h"

#include "runtime/ipc_result.h"

#include <limits>

namespace keycore {
namespace {

constexpr size_t kSizeWord = 0;
constexpr size_t kCounterWord = 1;

std::string LockName(const std::string& name) {
    return name + "_mtx";
}

std::string SegmentName(const std::string& name) {
    return name + "_shm";
}

// Header words are read by other processes without the lock, so they are accessed whole.
uint32_t LoadWord(const uint32_t* word) {
    return __atomic_load_n(word, __ATOMIC_ACQUIRE);
}

void StoreWord(uint32_t* word, uint32_t value) {
    __atomic_store_n(word, value, __ATOMIC_RELEASE);
}

} // namespace

void CShareMemory::Clear() {
    m_name.clear();
    m_pBase = nullptr;
    m_pData = nullptr;
    m_ulDataSize = 0;
}

int CShareMemory::AdoptSegment(bool writeCounter) {
    const size_t segmentSize = m_shm.SegmentSize();
    if (segmentSize <= kHeaderSize || segmentSize - kHeaderSize > std::numeric_limits<uint32_t>::max()) {
        m_shm.Detach();
        return kIpcNotOpen;
    }
    m_pBase = static_cast<uint8_t*>(m_shm.Address());
    m_pData = m_pBase + kHeaderSize;
    m_ulDataSize = static_cast<uint32_t>(segmentSize - kHeaderSize);

    if (writeCounter || LoadWord(HeaderWord(kSizeWord)) != m_ulDataSize) {
        CProcessMutexHolder hold(m_mutex);
        if (!hold.IsLocked()) {
            m_shm.Detach();
            Clear();
            return kIpcNotOpen;
        }
        if (LoadWord(HeaderWord(kSizeWord)) != m_ulDataSize)
            StoreWord(HeaderWord(kSizeWord), m_ulDataSize);
        if (writeCounter)
            StoreWord(HeaderWord(kCounterWord), m_ulLocalCounter);
    }
    if (!writeCounter)
        m_ulLocalCounter = LoadWord(HeaderWord(kCounterWord));
    return kIpcOk;
}

int CShareMemory::Create(const std::string& name, uint32_t size, bool writeCounter, ChangeCallback callback) {
    m_pfnChanged = callback;
    if (name.empty() || size == 0)
        return kIpcNoKey;
    if (IsAttached())
        return kIpcOk;
    if (m_mutex.OpenOrCreate(LockName(name)) != kIpcOk)
        return kIpcNotOpen;

    int res = kIpcOk;
    if (m_shm.Open(SegmentName(name)) == kIpcOk) {
        res = AdoptSegment(writeCounter);
    } else {
        CProcessMutexHolder hold(m_mutex);
        if (!hold.IsLocked()) {
            res = kIpcNotOpen;
        } else {
            res = m_shm.Create(SegmentName(name), size_t{size} + kHeaderSize);
            if (res == kIpcOk) {
                m_pBase = static_cast<uint8_t*>(m_shm.Address());
                m_pData = m_pBase + kHeaderSize;
                m_ulDataSize = size;
                StoreWord(HeaderWord(kSizeWord), size);
                StoreWord(HeaderWord(kCounterWord), m_ulLocalCounter);
            } else if (res == kIpcExists && m_shm.Open(SegmentName(name)) == kIpcOk) {
                // Another process created it between our Open and Create; its header is complete
                // because it wrote it under the lock we now hold.
                res = AdoptSegment(writeCounter);
            } else {
                m_shm.Detach();
                res = kIpcNotOpen;
            }
        }
    }
    if (res != kIpcOk) {
        m_mutex.Forget();
        return res;
    }
    m_name = name;
    return kIpcOk;
}

int CShareMemory::Open(const std::string& name, bool writeCounter) {
    if (name.empty())
        return kIpcNoKey;
    if (IsAttached())
        return kIpcOk;
    if (m_mutex.Open(LockName(name)) != kIpcOk)
        return kIpcNotOpen;
    if (m_shm.Open(SegmentName(name)) != kIpcOk) {
        m_mutex.Forget();
        return kIpcNotOpen;
    }
    const int res = AdoptSegment(writeCounter);
    if (res != kIpcOk) {
        m_mutex.Forget();
        return res;
    }
    m_name = name;
    return kIpcOk;
}

int CShareMemory::Lock() {
    return m_mutex.Lock() == kIpcOk ? kIpcOk : kIpcNotOpen;
}

int CShareMemory::Unlock() {
    return m_mutex.Unlock() == kIpcOk ? kIpcOk : kIpcNotOpen;
}

uint32_t CShareMemory::GetCounter() const {
    return IsAttached() ? LoadWord(HeaderWord(kCounterWord)) : 0;
}

uint32_t CShareMemory::BumpCounter() {
    if (!IsAttached())
        return 0;
    const uint32_t counter = LoadWord(HeaderWord(kCounterWord)) + 1;
    StoreWord(HeaderWord(kCounterWord), counter);
    m_ulLocalCounter = counter;
    if (m_pfnChanged != nullptr)
        m_pfnChanged(m_pBase);
    return counter;
}

void CShareMemory::Close() {
    m_shm.Detach();
    Clear();
    m_mutex.Forget();
}

int CShareMemory::Destroy() {
    if (!IsAttached())
        return kIpcNotOpen;
    const int segment = m_shm.Destroy();
    Clear();
    const int lock = m_mutex.Destroy();
    return segment != kIpcOk ? segment : lock;
}

} // namespace keycore
