#pragma once
// Holds a token's cross-process device lock for one exchange and releases it on every way out.

#include "device/token_base.h"

namespace keycore {

class CTokenLockHolder {
public:
    explicit CTokenLockHolder(CTokenBase& token) : m_token(token), m_result(token.Lock()) {}
    CTokenLockHolder(const CTokenLockHolder&) = delete;
    CTokenLockHolder& operator=(const CTokenLockHolder&) = delete;
    ~CTokenLockHolder() { Release(); }

    // The Lock result: 0 when the lock is held.
    CK_RV Result() const { return m_result; }

    // Releases early; the destructor then does nothing. The Unlock result, or 0 when nothing was held.
    CK_RV Release() {
        if (m_result != CKR_OK || m_released)
            return CKR_OK;
        m_released = true;
        return m_token.Unlock();
    }

private:
    CTokenBase& m_token;
    const CK_RV m_result;
    bool m_released = false;
};

} // namespace keycore
