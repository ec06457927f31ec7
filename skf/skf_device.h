#pragma once
// The device functions behind the exported SKF_* shells: the device list, connecting, state and
// information, the label, raw commands and the wait for device events.

#include "keycore/skf.h"

#include <cstddef>

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

// Zeroes *pDevInfo and fills it from the token's device-information answer. The answer may have any
// length: bytes it does not reach read as zero.
void DevInfoFromAnswer(const unsigned char* pbAnswer, size_t ulAnswerLen, DEVINFO* pDevInfo);

} // namespace keycore
