#include "runtime/share_mem.h"

#include "runtime/ipc_key.h"
#include "runtime/ipc_result.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstring>

namespace keycore {

int CShareMem::Attach(int shmId) {
    void* address = shmat(shmId, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1))
        return kIpcSystemError;
    shmid_ds info{};
    if (shmctl(shmId, IPC_STAT, &info) == -1) {
        shmdt(address);
        return kIpcSystemError;
    }
    if (info.shm_nattch == 1)
        std::memset(address, 0, info.shm_segsz);
    m_shmId = shmId;
    m_pAddress = address;
    m_segmentSize = info.shm_segsz;
    return kIpcOk;
}

int CShareMem::Create(const std::string& name, size_t size) {
    if (IsAttached())
        return kIpcExists;
    if (name.empty() || size == 0)
        return kIpcNoKey;
    const key_t key = IpcKeyFromName(name);
    if (key == kNoIpcKey)
        return kIpcNoKey;
    const int shmId = shmget(key, size, IPC_CREAT | IPC_EXCL | 0666);
    if (shmId == -1)
        return errno == EEXIST ? kIpcExists : kIpcSystemError;
    const int res = Attach(shmId);
    if (res != kIpcOk)
        shmctl(shmId, IPC_RMID, nullptr);
    return res;
}

int CShareMem::Open(const std::string& name) {
    if (IsAttached())
        return kIpcExists;
    if (name.empty())
        return kIpcNoKey;
    const key_t key = IpcKeyFromName(name);
    if (key == kNoIpcKey)
        return kIpcNoKey;
    const int shmId = shmget(key, 0, 0666);
    if (shmId == -1)
        return kIpcSystemError;
    return Attach(shmId);
}

int CShareMem::Detach() {
    if (!IsAttached())
        return kIpcOk;
    const int res = shmdt(m_pAddress);
    m_pAddress = nullptr;
    m_segmentSize = 0;
    return res == -1 ? kIpcSystemError : kIpcOk;
}

int CShareMem::Destroy() {
    const int detached = Detach();
    if (m_shmId == -1)
        return kIpcSystemError;
    const int removed = shmctl(m_shmId, IPC_RMID, nullptr);
    m_shmId = -1;
    if (removed == -1)
        return kIpcSystemError;
    return detached;
}

} // namespace keycore
