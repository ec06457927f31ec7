// C_Initialize, C_Finalize and C_GetInfo.
#include "pkcs11/p11_env.h"
#include "pkcs11/p11_imp.h"
#include "pkcs11/slot_mgr.h"

#include <atomic>

namespace keycore::p11 {

namespace {

constexpr char kManufacturer[] = "Quorvel Technologies Co., Ltd.";
constexpr char kLibraryDescription[] = "Quorvel PKCS#11 Library.";

// Arguments are validated until one call has passed; later calls answer by the counter alone.
std::atomic<bool> g_initArgsValidated{false};

CK_RV ValidateInitArgs(const CK_C_INITIALIZE_ARGS* pArgs) {
    if (pArgs == nullptr)
        return CKR_OK;
    if (pArgs->pReserved != nullptr)
        return CKR_ARGUMENTS_BAD;
    if (pArgs->flags != 0 && (pArgs->flags & (CKF_LIBRARY_CANT_CREATE_OS_THREADS | CKF_OS_LOCKING_OK)) == 0)
        return CKR_ARGUMENTS_BAD;
    const int callbacks = (pArgs->CreateMutex != nullptr) + (pArgs->DestroyMutex != nullptr) +
                          (pArgs->LockMutex != nullptr) + (pArgs->UnlockMutex != nullptr);
    if (callbacks != 0 && callbacks != 4)
        return CKR_ARGUMENTS_BAD;
    return CKR_OK;
}

} // namespace

// Whatever the arguments say, the library locks with its own mutexes and runs its own threads;
// the application's callbacks are never called.
CK_RV Initialize(CK_VOID_PTR pInitArgs) {
    KVCSP11Env* environment = KVCSP11Env::Instance();
    if (!g_initArgsValidated.load(std::memory_order_acquire)) {
        const CK_RV rv = ValidateInitArgs(static_cast<const CK_C_INITIALIZE_ARGS*>(pInitArgs));
        if (rv != CKR_OK)
            return rv;
        g_initArgsValidated.store(true, std::memory_order_release);
    }
    LockP11EnvHolder holder(environment->Env());
    if (!holder.IsLocked())
        return CKR_CANT_LOCK;
    return environment->Env().Increment() == 1 ? CKR_OK : CKR_CRYPTOKI_ALREADY_INITIALIZED;
}

CK_RV Finalize(CK_VOID_PTR pReserved) {
    if (pReserved != nullptr)
        return CKR_ARGUMENTS_BAD;
    KVCSP11Env* environment = KVCSP11Env::Instance();
    if (!environment->Env().IsInitialized())
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    environment->SlotManager().ReleaseWaiters();
    LockP11EnvHolder holder(environment->Env());
    if (!holder.IsLocked())
        return CKR_CANT_LOCK;
    // Two threads may both have passed the check above; only one of them may take the last count,
    // so the counter never goes below 0 and the next C_Initialize answers CKR_OK again.
    if (environment->Env().Counter() <= 0)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    environment->Env().Decrement();
    return CKR_OK;
}

CK_RV GetInfo(CK_INFO_PTR pInfo) {
    if (pInfo == nullptr)
        return CKR_ARGUMENTS_BAD;
    if (!KVCSP11Env::Instance()->Env().IsInitialized())
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    pInfo->cryptokiVersion.major = 2;
    pInfo->cryptokiVersion.minor = 40;
    PadCopy(pInfo->manufacturerID, sizeof pInfo->manufacturerID, kManufacturer);
    pInfo->flags = 0;
    PadCopy(pInfo->libraryDescription, sizeof pInfo->libraryDescription, kLibraryDescription);
    pInfo->libraryVersion.major = 1;
    pInfo->libraryVersion.minor = 20;
    return CKR_OK;
}

} // namespace keycore::p11
