#pragma once
// The frame every exported function runs in: results are codes across the library's boundary, so
// nothing thrown inside may reach the caller.

#include <p11-kit/pkcs11.h>

#include <utility>

namespace keycore {

// Runs the implementation of one C_* function; any exception becomes CKR_GENERAL_ERROR.
template <typename Implementation, typename... Args>
CK_RV RunP11Entry(Implementation implementation, Args... args) noexcept {
    try {
        return implementation(args...);
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

// The initialisation check of the entry points that need C_Initialize: CKR_OK or
// CKR_CRYPTOKI_NOT_INITIALIZED. Builds the environment if it is not built yet.
CK_RV CheckInitialized();

} // namespace keycore
