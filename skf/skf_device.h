#pragma once
// The device functions behind the exported SKF_* shells: the device list, connecting, state and
// information, the label, raw commands and the wait for device events.

#include "keycore/skf.h"

namespace keycore {

ULONG SkfEnumDev(BOOL bPresent, LPSTR szNameList, ULONG* pulSize);
ULONG SkfConnectDev(LPSTR szName, DEVHANDLE* phDev);
ULONG SkfDisConnectDev(DEVHANDLE hDev);
ULONG SkfGetDevState(LPSTR szDevName, ULONG* pulDevState);
ULONG SkfSetLabel(DEVHANDLE hDev, LPSTR szLabel);
ULONG SkfGetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo);
ULONG SkfLockDev(DEVHANDLE hDev, ULONG ulTimeOut);
ULONG SkfUnlockDev(DEVHANDLE hDev);
ULONG SkfTransmit(DEVHANDLE hDev, BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen);
ULONG SkfWaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent);
ULONG SkfCancelWaitForDevEvent();

} // namespace keycore
