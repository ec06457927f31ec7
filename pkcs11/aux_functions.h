#pragma once
// The vendor table of slot-level extension functions handed out by E_GetAuxFunctionList.

#include "device/token_base.h"

#include <p11-kit/pkcs11.h>

#include <cstddef>

namespace keycore {

inline constexpr size_t kAuxFunctionCount = 20;

using AuxClearTokenCache = CK_RV (*)(CK_SLOT_ID slotID, CK_VOID_PTR pReserved);
using AuxOpenApplication = CK_RV (*)(CK_SLOT_ID slotID, CK_ULONG ulUnused1, CK_ULONG ulUnused2, CK_ULONG ulUnused3,
                                     CK_ULONG ulFlag);
using AuxGetPinInfo = CK_RV (*)(CK_SLOT_ID slotID, AUX_PIN_INFO_PTR pPinInfo);
using AuxWaitForDevEvent = CK_RV (*)(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_ULONG_PTR pulEvent, CK_ULONG_PTR pulArg,
                                     CK_VOID_PTR pReserved);
using AuxNotSupported = CK_RV (*)();
using AuxSlotValue = CK_RV (*)(CK_SLOT_ID slotID, CK_ULONG ulValue);
using AuxGetSlotValue = CK_RV (*)(CK_SLOT_ID slotID, CK_ULONG ulFlag, CK_BYTE_PTR pValue, CK_ULONG_PTR pulValueLen);
using AuxSlotOnly = CK_RV (*)(CK_SLOT_ID slotID);
using AuxReservedOperation = CK_RV (*)(CK_SLOT_ID slotID, CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG,
                                       CK_ULONG);

// 162 packed bytes: version 1.0, then 20 entries (function pointers or NULL). Callers index the
// entries by position; the layout is fixed.
#pragma pack(push, 1)
struct AUX_FUNC_LIST {
    CK_VERSION version;
    AuxClearTokenCache pClearTokenCache;     // 0
    AuxOpenApplication pOpenApplication;     // 1
    AuxGetPinInfo pGetPinInfo;               // 2
    AuxWaitForDevEvent pWaitForDevEvent;     // 3
    AuxNotSupported pNotSupported;           // 4
    AuxSlotValue pPrepareSlot5;              // 5
    AuxSlotValue pPrepareSlot6;              // 6
    AuxGetSlotValue pGetSlotValue;           // 7
    void* pUnused8;                          // 8
    AuxSlotValue pCheckToken;                // 9
    void* pUnused10[4];                      // 10 ... 13
    AuxSlotOnly pLockSlot;                   // 14
    AuxReservedOperation pReservedOperation; // 15
    AuxSlotOnly pUnlockSlot;                 // 16
    void* pUnused17[3];                      // 17 ... 19
};
#pragma pack(pop)
static_assert(sizeof(AUX_FUNC_LIST) == 2 + 8 * kAuxFunctionCount, "the vendor table is 162 packed bytes");
using AUX_FUNC_LIST_PTR = AUX_FUNC_LIST*;
using AUX_FUNC_LIST_PTR_PTR = AUX_FUNC_LIST**;

// NULL: CKR_ARGUMENTS_BAD; else the address of the one static table.
CK_RV GetAuxFunctionList(AUX_FUNC_LIST_PTR_PTR ppAuxFunc);

} // namespace keycore
