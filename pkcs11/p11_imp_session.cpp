// C_OpenSession, C_CloseSession, C_CloseAllSessions and C_GetSessionInfo.
#include "pkcs11/entry_frame.h"
#include "pkcs11/p11_env.h"
#include "pkcs11/p11_imp.h"
#include "pkcs11/p11_session.h"
#include "pkcs11/slot_mgr.h"

namespace keycore::p11 {

// pApplication and Notify are not used: the library makes no callbacks.
CK_RV OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR phSession) {
    if ((flags & CKF_SERIAL_SESSION) == 0 || phSession == nullptr)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = CheckInitialized(); rv != CKR_OK)
        return rv;
    KVCSP11Env* environment = KVCSP11Env::Instance();
    CSlot* slot = environment->SlotManager().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    CTokenBase* token = slot->GetToken();
    if (!slot->IsTokenPresent() || token == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    if (CK_RV rv = token->LoadApplicationName(); rv != CKR_OK)
        return rv;
    if (CK_RV rv = token->EnsureApplication(); rv != CKR_OK)
        return rv;
    CP11SessionManager& sessions = environment->SessionManager();
    if (slot->IsSOLoggedIn() && (flags & CKF_RW_SESSION) == 0 && sessions.CountRWSessions(slotID) > 0)
        return CKR_SESSION_READ_WRITE_SO_EXISTS;
    return sessions.CreateSession(slotID, flags, phSession);
}

CK_RV CloseSession(CK_SESSION_HANDLE hSession) {
    return KVCSP11Env::Instance()->SessionManager().CloseSession(hSession);
}

CK_RV CloseAllSessions(CK_SLOT_ID slotID) {
    if (CK_RV rv = CheckInitialized(); rv != CKR_OK)
        return rv;
    KVCSP11Env* environment = KVCSP11Env::Instance();
    CSlot* slot = environment->SlotManager().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    return environment->SessionManager().CloseAllSessions(slotID);
}

CK_RV GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
    CP11Session* session = KVCSP11Env::Instance()->SessionManager().FindSession(hSession);
    if (session == nullptr)
        return CKR_SESSION_HANDLE_INVALID;
    return session->GetSessionInfo(pInfo);
}

} // namespace keycore::p11
