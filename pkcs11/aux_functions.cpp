#include "pkcs11/aux_functions.h"

#include "pkcs11/entry_frame.h"
#include "pkcs11/p11_env.h"
#include "pkcs11/p11_session.h"
#include "pkcs11/slot_mgr.h"

#include <cstring>
#include <vector>

namespace keycore {

namespace {

constexpr CK_ULONG kSlotValueLength = 8;

// Every entry runs inside the same frame as the C_* functions: nothing thrown leaves the library.
template <auto Core> struct Guarded;
template <typename... Args, CK_RV (*Core)(Args...)> struct Guarded<Core> {
    static CK_RV Call(Args... args) { return RunP11Entry(Core, args...); }
};

CSlotManager& Slots() {
    return KVCSP11Env::Instance()->SlotManager();
}

// P, then the application the token's PKCS#11 objects live in is opened.
CK_RV PrepareToken(CSlot& slot) {
    CTokenBase* token = slot.GetToken();
    if (!slot.IsTokenPresent() || token == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    if (CK_RV rv = token->LoadApplicationName(); rv != CKR_OK)
        return rv;
    return token->EnsureApplication();
}

// T; L; P and the application.
CK_RV OpenSlotApplication(CK_SLOT_ID slotID) {
    CSlot* slot = Slots().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    return PrepareToken(*slot);
}

CK_RV ClearCacheLocked(CSlot& slot) {
    if (CK_RV rv = PrepareToken(slot); rv != CKR_OK)
        return rv;
    if (KVCSP11Env::Instance()->SessionManager().CountSessions(slot.GetSlotId()) != 0)
        return CKR_SESSION_EXISTS;
    std::vector<CK_OBJECT_HANDLE> handles;
    for (const auto& entry : slot.Objects())
        handles.push_back(entry.first);
    for (CK_OBJECT_HANDLE handle : handles)
        slot.RemoveObject(handle);
    // The token forgets its login too, so that it matches the process's "nobody".
    slot.Logout();
    return CKR_OK;
}

// Entry 0: other processes hear of it as a token initialisation.
CK_RV ClearTokenCache(CK_SLOT_ID slotID, CK_VOID_PTR) {
    CSlotManager& slots = Slots();
    CSlot* slot = slots.GetSlot(slotID);
    if (slot == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    CK_RV rv = CKR_OK;
    CSlotEventNotifier notifier(slots, slotID, kSlotEventInitTokenBegin, 0, &rv, kSlotEventInitTokenDone, 0,
                                kSlotEventInitTokenFailed, 0);
    rv = ClearCacheLocked(*slot);
    return rv;
}

// Entry 1: the three values have no use beyond opening the application.
CK_RV OpenApplication(CK_SLOT_ID slotID, CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG ulFlag) {
    if (ulFlag == 0)
        return CKR_ARGUMENTS_BAD;
    return OpenSlotApplication(slotID);
}

// Entry 2: the PIN counters, with the token flags of the token information in the flags field.
CK_RV GetPinInfo(CK_SLOT_ID slotID, AUX_PIN_INFO_PTR pPinInfo) {
    if (pPinInfo == nullptr)
        return CKR_ARGUMENTS_BAD;
    CSlot* slot = Slots().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    if (CK_RV rv = PrepareToken(*slot); rv != CKR_OK)
        return rv;
    CTokenBase* token = slot->GetToken();
    const CK_RV rv = token->GetPinInfo(pPinInfo);
    CK_TOKEN_INFO info{};
    if (token->GetTokenInfo(&info) == CKR_OK)
        pPinInfo->ulTokenFlags = info.flags;
    return rv;
}

// Entry 3: the SKF event queue through the PKCS#11 conventions.
CK_RV WaitForDevEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_ULONG_PTR pulEvent, CK_ULONG_PTR pulArg,
                      CK_VOID_PTR pReserved) {
    if (pReserved != nullptr || pSlot == nullptr || (flags != 0 && flags != CKF_DONT_BLOCK))
        return CKR_ARGUMENTS_BAD;
    if (CK_RV rv = CheckInitialized(); rv != CKR_OK)
        return rv;
    CK_ULONG event = 0;
    CK_ULONG arg = 0;
    const CK_RV rv = Slots().WaitForDevEvent(flags, pSlot, &event, &arg);
    if (pulEvent != nullptr)
        *pulEvent = event;
    if (pulArg != nullptr)
        *pulArg = arg;
    return rv;
}

CK_RV NotSupported() {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

// Entries 5 and 6: the value has no use beyond opening the application.
CK_RV PrepareSlot(CK_SLOT_ID slotID, CK_ULONG) {
    return OpenSlotApplication(slotID);
}

// Entry 7: an 8-byte value, always 0 for a ready token.
CK_RV GetSlotValue(CK_SLOT_ID slotID, CK_ULONG ulFlag, CK_BYTE_PTR pValue, CK_ULONG_PTR pulValueLen) {
    if (ulFlag == 0 || pulValueLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    CSlot* slot = Slots().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    if (pValue == nullptr) {
        *pulValueLen = kSlotValueLength;
        return CKR_OK;
    }
    if (*pulValueLen < kSlotValueLength) {
        *pulValueLen = kSlotValueLength;
        return CKR_BUFFER_TOO_SMALL;
    }
    if (!slot->IsTokenPresent() || !slot->IsTokenReady())
        return CKR_TOKEN_NOT_PRESENT;
    std::memset(pValue, 0, kSlotValueLength);
    *pulValueLen = kSlotValueLength;
    return CKR_OK;
}

// Entry 9.
CK_RV CheckToken(CK_SLOT_ID slotID, CK_ULONG ulFlag) {
    if (ulFlag == 0)
        return CKR_ARGUMENTS_BAD;
    CSlot* slot = Slots().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_SLOT_ID_INVALID;
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    return slot->GetToken() != nullptr ? CKR_OK : CKR_TOKEN_NOT_PRESENT;
}

// Entries 14 and 16 let a caller hold the slot's cross-process lock over several calls.
CK_RV LockSlot(CK_SLOT_ID slotID) {
    CSlot* slot = Slots().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    return slot->Lock();
}

CK_RV UnlockSlot(CK_SLOT_ID slotID) {
    CSlot* slot = Slots().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    slot->Unlock();
    return CKR_OK;
}

// Entry 15: the token's reserved operation; the seven values are not passed on.
CK_RV ReservedOperation(CK_SLOT_ID slotID, CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG) {
    CSlot* slot = Slots().GetSlot(slotID);
    if (slot == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    CSlotLockHolder lock(*slot);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    CTokenBase* token = slot->GetToken();
    return token == nullptr ? CKR_TOKEN_NOT_PRESENT : token->Reserved4();
}

AUX_FUNC_LIST g_auxFunctionList = {
    {1, 0},
    &Guarded<ClearTokenCache>::Call,
    &Guarded<OpenApplication>::Call,
    &Guarded<GetPinInfo>::Call,
    &Guarded<WaitForDevEvent>::Call,
    &Guarded<NotSupported>::Call,
    &Guarded<PrepareSlot>::Call,
    &Guarded<PrepareSlot>::Call,
    &Guarded<GetSlotValue>::Call,
    nullptr,
    &Guarded<CheckToken>::Call,
    {nullptr, nullptr, nullptr, nullptr},
    &Guarded<LockSlot>::Call,
    &Guarded<ReservedOperation>::Call,
    &Guarded<UnlockSlot>::Call,
    {nullptr, nullptr, nullptr},
};

} // namespace

CK_RV GetAuxFunctionList(AUX_FUNC_LIST_PTR_PTR ppAuxFunc) {
    if (ppAuxFunc == nullptr)
        return CKR_ARGUMENTS_BAD;
    *ppAuxFunc = &g_auxFunctionList;
    return CKR_OK;
}

} // namespace keycore
