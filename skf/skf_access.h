#pragma once
// The access-control functions behind the exported SKF_* shells: random bytes, device
// authentication and its key, and the PINs of an application.

#include "keycore/skf.h"

namespace keycore {

ULONG SkfGenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen);
ULONG SkfDevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen);
ULONG SkfChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen);
ULONG SkfVerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount);
ULONG SkfChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin, ULONG* pulRetryCount);
ULONG SkfGetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                    BOOL* pbDefaultPin);
ULONG SkfUnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN, ULONG* pulRetryCount);
ULONG SkfClearSecureState(HAPPLICATION hApplication);

} // namespace keycore
