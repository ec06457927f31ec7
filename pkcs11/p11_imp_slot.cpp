// Slots, tokens, PINs, login and slot events: C_GetSlotList, C_GetSlotInfo, C_GetTokenInfo,
// C_InitToken, C_InitPIN, C_SetPIN, C_Login, C_Logout and C_WaitForSlotEvent.
#include "pkcs11/entry_frame.h"
#include "pkcs11/p11_env.h"
#include "pkcs11/p11_imp.h"
#include "pkcs11/p11_session.h"
#include "pkcs11/slot_mgr.h"
#include "runtime/secure_wipe.h"

namespace keycore::p11 {

namespace {

// A private copy of a caller's PIN, wiped on every way out.
SecureBytes CopyPin(CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    if (pPin == nullptr || ulPinLen == 0)
        return SecureBytes();
    return SecureBytes(pPin, ulPinLen);
}

CK_UTF8CHAR_PTR PinData(SecureBytes& pin) {
    return pin.size() == 0 ? nullptr : pin.data();
}

struct SessionSlot {
    CP11Session* session = nullptr;
    CSlot* slot = nullptr;
};

// The session and its slot; CKR_SESSION_HANDLE_INVALID when either is unknown.
CK_RV FindSessionSlot(CK_SESSION_HANDLE hSession, SessionSlot& found) {
    KVCSP11Env* environment = KVCSP11Env::Instance();
    found.session = environment->SessionManager().FindSession(hSession);
    if (found.session == nullptr)
        return CKR_SESSION_HANDLE_INVALID;
    found.slot = environment->SlotManager().GetSlot(found.session->GetSlotId());
    if (found.slot == nullptr)
        return CKR_SESSION_HANDLE_INVALID;
    return CKR_OK;
}

CK_STATE SessionState(const SessionSlot& found) {
    CK_SESSION_INFO info{};
    found.slot->GetSessionState(found.session->IsReadWrite(), info);
    return info.state;
}

bool IsUserState(CK_STATE state) {
    return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS;
}

// The device keeps its label and serial number zero-filled; PKCS#11 callers compare and print these
// fields as blank-padded texts, so everything from the first zero byte on becomes a blank.
void BlankPadDeviceText(CK_UTF8CHAR* pField, size_t ulFieldSize) {
    bool ended = false;
    for (size_t i = 0; i < ulFieldSize; ++i) {
        ended = ended || pField[i] == 0;
        if (ended)
            pField[i] = ' ';
    }
}

void Broadcast(CSlot& slot, CK_ULONG ulEvent) {
    KVCSP11Env::Instance()->SlotManager().BroadcastSlotEvent(slot.GetSlotId(), ulEvent, 0, std::string(),
                                                             std::string(), 0);
}

} // namespace

CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    if (CK_RV rv = CheckInitialized(); rv != CKR_OK)
        return rv;
    return KVCSP11Env::Instance()->SlotManager().GetSlotList(tokenPresent, pSlotList, pulCount);
}

CK_RV GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
    if (pInfo == nullptr)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = CheckInitialized(); rv != CKR_OK)
        return rv;
    CSlot* slot = KVCSP11Env::Instance()->SlotManager().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    return slot->GetInfo(pInfo);
}

CK_RV GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
    if (pInfo == nullptr)
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = CheckInitialized(); rv != CKR_OK)
        return rv;
    CSlot* slot = KVCSP11Env::Instance()->SlotManager().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    CTokenBase* token = slot->GetToken();
    if (token == nullptr || !slot->IsTokenPresent())
        return CKR_TOKEN_NOT_PRESENT;
    if (CK_RV rv = token->LoadApplicationName(); rv != CKR_OK)
        return rv;
    if (CK_RV rv = token->EnsureApplication(); rv != CKR_OK)
        return rv;
    const CK_RV rv = token->GetTokenInfo(pInfo);
    if (rv == CKR_OK) {
        BlankPadDeviceText(pInfo->label, sizeof pInfo->label);
        BlankPadDeviceText(pInfo->serialNumber, sizeof pInfo->serialNumber);
    }
    return rv;
}

CK_RV InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel) {
    if (pPin == nullptr || ulPinLen == 0 || pLabel == nullptr)
        return CKR_ARGUMENTS_BAD;
    KVCSP11Env* environment = KVCSP11Env::Instance();
    CSlotManager& slots = environment->SlotManager();
    CSlot* slot = slots.GetSlot(slotID);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    SecureBytes pin = CopyPin(pPin, ulPinLen);
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    CK_RV rv = CKR_GENERAL_ERROR;
    CSlotEventNotifier notifier(slots, slotID, kSlotEventInitTokenBegin, 0, &rv, kSlotEventInitTokenDone, 0,
                                kSlotEventInitTokenFailed, 0);
    rv = slot->InitToken(environment->SessionManager().CountSessions(slotID), PinData(pin), ulPinLen, pLabel);
    return rv;
}

CK_RV InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    KVCSP11Env* environment = KVCSP11Env::Instance();
    CP11Session* session = environment->SessionManager().FindSession(hSession);
    if (session == nullptr)
        return CKR_SESSION_HANDLE_INVALID;
    CSlot* slot = environment->SlotManager().GetSlot(session->GetSlotId());
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    if (!slot->IsTokenPresent())
        return CKR_TOKEN_NOT_PRESENT;
    if (slot->GetToken() == nullptr)
        return CKR_TOKEN_NOT_RECOGNIZED;
    SecureBytes pin = CopyPin(pPin, ulPinLen);
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    CK_SESSION_INFO info{};
    slot->GetSessionState(session->IsReadWrite(), info);
    if (info.state != CKS_RW_SO_FUNCTIONS)
        return CKR_USER_NOT_LOGGED_IN;
    CTokenBase* token = slot->GetToken();
    if (token == nullptr)
        return CKR_TOKEN_NOT_RECOGNIZED;
    const CK_RV rv = token->InitPin(PinData(pin), ulPinLen);
    if (rv != CKR_OK)
        return rv;
    CK_FLAGS flags = token->GetTokenFlags();
    flags &= ~static_cast<CK_FLAGS>(CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED);
    flags |= CKF_USER_PIN_TO_BE_CHANGED;
    token->SetTokenFlags(flags);
    Broadcast(*slot, kSlotEventPinChanged);
    return CKR_OK;
}

CK_RV SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
             CK_ULONG ulNewLen) {
    KVCSP11Env* environment = KVCSP11Env::Instance();
    CP11Session* session = environment->SessionManager().FindSession(hSession);
    if (session == nullptr)
        return CKR_SESSION_HANDLE_INVALID;
    CSlot* slot = environment->SlotManager().GetSlot(session->GetSlotId());
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    SecureBytes oldPin = CopyPin(pOldPin, ulOldLen);
    SecureBytes newPin = CopyPin(pNewPin, ulNewLen);
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    CTokenBase* token = slot->GetToken();
    if (token == nullptr || !slot->IsTokenPresent())
        return CKR_TOKEN_NOT_PRESENT;
    CK_TOKEN_INFO info{};
    if (CK_RV rv = token->GetTokenInfo(&info); rv != CKR_OK)
        return rv;
    if (ulOldLen < info.ulMinPinLen || ulOldLen > info.ulMaxPinLen || ulNewLen < info.ulMinPinLen ||
        ulNewLen > info.ulMaxPinLen)
        return CKR_PIN_LEN_RANGE;

    CK_SESSION_INFO state{};
    slot->GetSessionState(session->IsReadWrite(), state);
    CK_USER_TYPE userType;
    CK_FLAGS clear;
    CK_FLAGS set;
    switch (state.state) {
    case CKS_RW_SO_FUNCTIONS:
        userType = CKU_SO;
        clear = CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY | CKF_SO_PIN_LOCKED | CKF_SO_PIN_TO_BE_CHANGED;
        set = CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED;
        break;
    case CKS_RW_PUBLIC_SESSION:
    case CKS_RW_USER_FUNCTIONS:
        userType = CKU_USER;
        clear = CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED | CKF_USER_PIN_TO_BE_CHANGED;
        set = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
        break;
    default:
        return CKR_SESSION_READ_ONLY;
    }
    const CK_RV rv = token->SetPin(userType, PinData(oldPin), ulOldLen, PinData(newPin), ulNewLen);
    CK_FLAGS flags = info.flags;
    if (rv == CKR_OK) {
        Broadcast(*slot, kSlotEventPinChanged);
        flags = (flags & ~clear) | set;
    } else {
        flags |= token->GetTokenFlags();
        slot->Logout();
    }
    token->SetTokenFlags(flags);
    return rv;
}

CK_RV Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    SessionSlot found;
    if (CK_RV rv = FindSessionSlot(hSession, found); rv != CKR_OK)
        return rv;
    CSlot& slot = *found.slot;
    if (slot.GetToken() == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    const CK_STATE state = SessionState(found);
    switch (userType) {
    case CKU_SO:
        if (KVCSP11Env::Instance()->SessionManager().HasROSession(slot.GetSlotId()))
            return CKR_SESSION_READ_ONLY_EXISTS;
        if (state == CKS_RW_SO_FUNCTIONS)
            return CKR_USER_ALREADY_LOGGED_IN;
        if (IsUserState(state))
            return CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
        break;
    case CKU_USER:
        if (state == CKS_RW_SO_FUNCTIONS)
            return CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
        if (IsUserState(state))
            return CKR_USER_ALREADY_LOGGED_IN;
        break;
    case CKU_CONTEXT_SPECIFIC:
        // The private-key operations are the ones that ask for the PIN again; their keys are
        // private until the operations themselves say otherwise.
        if ((found.session->GetOperationFlags() & (kSessionOpSign | kSessionOpDecrypt)) == 0)
            return CKR_OPERATION_NOT_INITIALIZED;
        break;
    default:
        return CKR_ARGUMENTS_BAD;
    }

    CSlotLockHolder lock(slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    CTokenBase* token = slot.GetToken();
    if (token == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    if (CK_RV rv = token->LoadApplicationName(); rv != CKR_OK)
        return rv;
    if (CK_RV rv = token->EnsureApplication(); rv != CKR_OK)
        return rv;

    SecureBytes pin = CopyPin(pPin, ulPinLen);
    const CK_RV rv = slot.Login(userType, PinData(pin), ulPinLen);
    if (rv == CKR_OK) {
        if (userType == CKU_CONTEXT_SPECIFIC)
            found.session->SetReauthenticated(true);
        return CKR_OK;
    }
    if (rv == CKR_PIN_LOCKED)
        Broadcast(slot, kSlotEventPinLocked);
    if (rv != CKR_TOKEN_NOT_RECOGNIZED && rv != CKR_PIN_LEN_RANGE && rv != CKR_ARGUMENTS_BAD)
        Broadcast(slot, kSlotEventLoginFailed);
    return rv == CKR_PIN_LEN_RANGE ? CKR_PIN_INCORRECT : rv;
}

CK_RV Logout(CK_SESSION_HANDLE hSession) {
    SessionSlot found;
    if (CK_RV rv = FindSessionSlot(hSession, found); rv != CKR_OK)
        return rv;
    CSlotLockHolder lock(*found.slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    const CK_STATE state = SessionState(found);
    if (state == CKS_RO_PUBLIC_SESSION || state == CKS_RW_PUBLIC_SESSION)
        return CKR_USER_NOT_LOGGED_IN;
    found.slot->Logout();
    return CKR_OK;
}

CK_RV WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved) {
    if (pReserved != nullptr || pSlot == nullptr || (flags != 0 && flags != CKF_DONT_BLOCK))
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = CheckInitialized(); rv != CKR_OK)
        return rv;
    return KVCSP11Env::Instance()->SlotManager().WaitForSlotEvent(flags, pSlot);
}

} // namespace keycore::p11
