// Mechanisms, random numbers, and the functions this library never supports.
#include "pkcs11/entry_frame.h"
#include "pkcs11/p11_env.h"
#include "pkcs11/p11_imp.h"
#include "pkcs11/p11_session.h"
#include "pkcs11/slot_mgr.h"

namespace keycore::p11 {

// The mechanism table is the token object's own and needs no device traffic, hence no slot lock.
CK_RV GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
    if (CK_RV rv = CheckInitialized(); rv != CKR_OK)
        return rv;
    CSlot* slot = KVCSP11Env::Instance()->SlotManager().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    CTokenBase* token = slot->GetToken();
    if (!slot->IsTokenPresent() || token == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    return token->GetMechanismList(pMechanismList, pulCount);
}

CK_RV GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
    if (CK_RV rv = CheckInitialized(); rv != CKR_OK)
        return rv;
    CSlot* slot = KVCSP11Env::Instance()->SlotManager().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    CTokenBase* token = slot->GetToken();
    if (!slot->IsTokenPresent() || token == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    return token->GetMechanismInfo(type, pInfo);
}

CK_RV GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen) {
    if (pRandomData == nullptr || ulRandomLen == 0)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = CheckInitialized(); rv != CKR_OK)
        return rv;
    KVCSP11Env* environment = KVCSP11Env::Instance();
    CP11Session* session = environment->SessionManager().FindSession(hSession);
    if (session == nullptr)
        return CKR_SESSION_HANDLE_INVALID;
    CSlot* slot = environment->SlotManager().GetSlot(session->GetSlotId());
    if (slot == nullptr)
        return CKR_SESSION_HANDLE_INVALID;
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    CTokenBase* token = slot->GetToken();
    if (!slot->IsTokenPresent() || token == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    return token->GenRandom(pRandomData, ulRandomLen) == kSwSuccess ? CKR_OK : CKR_GENERAL_ERROR;
}

// The token's generator takes no seed; accepting one and doing nothing is what callers expect.
CK_RV SeedRandom(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) {
    return CKR_OK;
}

CK_RV GetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV SetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV CopyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV GetObjectSize(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV DigestKey(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV DigestEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV DecryptDigestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV SignEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV DecryptVerifyUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV GetFunctionStatus(CK_SESSION_HANDLE) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV CancelFunction(CK_SESSION_HANDLE) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

} // namespace keycore::p11
