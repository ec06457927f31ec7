#include "pkcs11/p11_mutex.h"

namespace keycore {

P11Mutex::~P11Mutex() {
    Destroy();
}

void P11Mutex::Create() {
    if (m_mutex == nullptr)
        m_mutex = std::make_unique<ThreadMutex>();
}

void P11Mutex::Destroy() {
    m_mutex.reset();
}

CK_RV P11Mutex::Lock() {
    if (m_mutex == nullptr)
        return CKR_CANT_LOCK;
    m_mutex->Lock();
    return CKR_OK;
}

CK_RV P11Mutex::Unlock() {
    if (m_mutex == nullptr)
        return CKR_CANT_LOCK;
    m_mutex->Unlock();
    return CKR_OK;
}

} // namespace keycore
