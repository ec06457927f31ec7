#include "runtime/notifier_registry.h"

#include <algorithm>
#include <cstring>

namespace keycore {

CNotifierRegistry::CNotifierRegistry(void* pData, uint32_t ulDataSize)
    : m_pData(static_cast<uint8_t*>(pData)), m_capacity(0) {
    if (m_pData != nullptr && ulDataSize >= kPidsOffset) {
        const size_t room = (ulDataSize - kPidsOffset) / sizeof(int32_t);
        m_capacity = static_cast<uint32_t>(std::min<size_t>(room, kMaxProcesses));
    }
    // Without room for the count word there is nothing to read or write at all.
    if (m_pData != nullptr && ulDataSize < kPidsOffset)
        m_pData = nullptr;
}

uint32_t* CNotifierRegistry::CountWord() const {
    return reinterpret_cast<uint32_t*>(m_pData + kCountOffset);
}

int32_t* CNotifierRegistry::Pids() const {
    return reinterpret_cast<int32_t*>(m_pData + kPidsOffset);
}

uint32_t CNotifierRegistry::Count() const {
    if (m_pData == nullptr)
        return 0;
    return std::min(*CountWord(), Capacity());
}

int32_t CNotifierRegistry::PidAt(uint32_t index) const {
    return index < Count() ? Pids()[index] : 0;
}

bool CNotifierRegistry::Append(int32_t pid) {
    const uint32_t count = Count();
    if (count >= Capacity())
        return false;
    Pids()[count] = pid;
    *CountWord() = count + 1;
    return true;
}

bool CNotifierRegistry::RemoveFirst(int32_t pid) {
    const uint32_t count = Count();
    int32_t* pids = Pids();
    for (uint32_t i = 0; i < count; ++i) {
        if (pids[i] != pid)
            continue;
        std::memmove(pids + i, pids + i + 1, (count - i - 1) * sizeof(int32_t));
        *CountWord() = count - 1;
        return true;
    }
    return false;
}

bool CNotifierRegistry::Contains(int32_t pid) const {
    const uint32_t count = Count();
    for (uint32_t i = 0; i < count; ++i) {
        if (Pids()[i] == pid)
            return true;
    }
    return false;
}

} // namespace keycore
