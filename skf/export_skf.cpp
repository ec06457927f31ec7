// The exported SKF entry points of devices, access control, applications, files, containers and
// certificates; each one is a shell that runs its family's implementation inside the SKF entry frame.
// The key families live in export_skf_rsa.cpp, export_skf_ecc.cpp, export_skf_cipher.cpp, export_skf_hash.cpp.
#include "keycore/skf.h"
#include "skf/skf_access.h"
#include "skf/skf_device.h"
#include "skf/skf_frame.h"
#include "skf/skf_storage.h"

#define KEYCORE_EXPORT extern "C" __attribute__((visibility("default")))

using keycore::RunSkfEntry;

KEYCORE_EXPORT ULONG SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent) {
    return keycore::SkfWaitForDevEvent(szDevName, pulDevNameLen, pulEvent);
}

KEYCORE_EXPORT ULONG SKF_CancelWaitForDevEvent(void) {
    return keycore::SkfCancelWaitForDevEvent();
}

KEYCORE_EXPORT ULONG SKF_EnumDev(BOOL bPresent, LPSTR szNameList, ULONG* pulSize) {
    return keycore::SkfEnumDev(bPresent, szNameList, pulSize);
}

KEYCORE_EXPORT ULONG SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev) {
    return keycore::SkfConnectDev(szName, phDev);
}

KEYCORE_EXPORT ULONG SKF_DisConnectDev(DEVHANDLE hDev) {
    return keycore::SkfDisConnectDev(hDev);
}

KEYCORE_EXPORT ULONG SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState) {
    return keycore::SkfGetDevState(szDevName, pulDevState);
}

KEYCORE_EXPORT ULONG SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel) {
    return keycore::SkfSetLabel(hDev, szLabel);
}

KEYCORE_EXPORT ULONG SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo) {
    return keycore::SkfGetDevInfo(hDev, pDevInfo);
}

KEYCORE_EXPORT ULONG SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut) {
    return keycore::SkfLockDev(hDev, ulTimeOut);
}

KEYCORE_EXPORT ULONG SKF_UnlockDev(DEVHANDLE hDev) {
    return keycore::SkfUnlockDev(hDev);
}

KEYCORE_EXPORT ULONG SKF_Transmit(DEVHANDLE hDev, BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData,
                                  ULONG* pulDataLen) {
    return keycore::SkfTransmit(hDev, pbCommand, ulCommandLen, pbData, pulDataLen);
}

KEYCORE_EXPORT ULONG SKF_ChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen) {
    return keycore::SkfChangeDevAuthKey(hDev, pbKeyValue, ulKeyLen);
}

KEYCORE_EXPORT ULONG SKF_DevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen) {
    return keycore::SkfDevAuth(hDev, pbAuthData, ulLen);
}

KEYCORE_EXPORT ULONG SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin,
                                   ULONG* pulRetryCount) {
    return keycore::SkfChangePIN(hApplication, ulPINType, szOldPin, szNewPin, pulRetryCount);
}

KEYCORE_EXPORT ULONG SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount,
                                    ULONG* pulRemainRetryCount, BOOL* pbDefaultPin) {
    return keycore::SkfGetPINInfo(hApplication, ulPINType, pulMaxRetryCount, pulRemainRetryCount, pbDefaultPin);
}

KEYCORE_EXPORT ULONG SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount) {
    return keycore::SkfVerifyPIN(hApplication, ulPINType, szPIN, pulRetryCount);
}

KEYCORE_EXPORT ULONG SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN,
                                    ULONG* pulRetryCount) {
    return keycore::SkfUnblockPIN(hApplication, szAdminPIN, szNewUserPIN, pulRetryCount);
}

KEYCORE_EXPORT ULONG SKF_ClearSecureState(HAPPLICATION hApplication) {
    return keycore::SkfClearSecureState(hApplication);
}

KEYCORE_EXPORT ULONG SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin,
                                           DWORD dwAdminPinRetryCount, LPSTR szUserPin, DWORD dwUserPinRetryCount,
                                           DWORD dwCreateFileRights, HAPPLICATION* phApplication) {
    return RunSkfEntry([&] {
        return keycore::SkfCreateApplication(hDev, szAppName, szAdminPin, dwAdminPinRetryCount, szUserPin,
                                             dwUserPinRetryCount, dwCreateFileRights, phApplication);
    });
}

KEYCORE_EXPORT ULONG SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize) {
    return RunSkfEntry([&] { return keycore::SkfEnumApplication(hDev, szAppName, pulSize); });
}

KEYCORE_EXPORT ULONG SKF_DeleteApplication(DEVHANDLE hDev, LPSTR szAppName) {
    return RunSkfEntry([&] { return keycore::SkfDeleteApplication(hDev, szAppName); });
}

KEYCORE_EXPORT ULONG SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication) {
    return RunSkfEntry([&] { return keycore::SkfOpenApplication(hDev, szAppName, phApplication); });
}

KEYCORE_EXPORT ULONG SKF_CloseApplication(HAPPLICATION hApplication) {
    return RunSkfEntry([&] { return keycore::SkfCloseApplication(hApplication); });
}

KEYCORE_EXPORT ULONG SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                                    ULONG ulWriteRights) {
    return RunSkfEntry(
        [&] { return keycore::SkfCreateFile(hApplication, szFileName, ulFileSize, ulReadRights, ulWriteRights); });
}

KEYCORE_EXPORT ULONG SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName) {
    return RunSkfEntry([&] { return keycore::SkfDeleteFile(hApplication, szFileName); });
}

KEYCORE_EXPORT ULONG SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize) {
    return RunSkfEntry([&] { return keycore::SkfEnumFiles(hApplication, szFileList, pulSize); });
}

KEYCORE_EXPORT ULONG SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo) {
    return RunSkfEntry([&] { return keycore::SkfGetFileInfo(hApplication, szFileName, pFileInfo); });
}

KEYCORE_EXPORT ULONG SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize,
                                  BYTE* pbOutData, ULONG* pulOutLen) {
    return RunSkfEntry(
        [&] { return keycore::SkfReadFile(hApplication, szFileName, ulOffset, ulSize, pbOutData, pulOutLen); });
}

KEYCORE_EXPORT ULONG SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData,
                                   ULONG ulSize) {
    return RunSkfEntry([&] { return keycore::SkfWriteFile(hApplication, szFileName, ulOffset, pbData, ulSize); });
}

KEYCORE_EXPORT ULONG SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer) {
    return RunSkfEntry([&] { return keycore::SkfCreateContainer(hApplication, szContainerName, phContainer); });
}

KEYCORE_EXPORT ULONG SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName) {
    return RunSkfEntry([&] { return keycore::SkfDeleteContainer(hApplication, szContainerName); });
}

KEYCORE_EXPORT ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer) {
    return RunSkfEntry([&] { return keycore::SkfOpenContainer(hApplication, szContainerName, phContainer); });
}

KEYCORE_EXPORT ULONG SKF_CloseContainer(HCONTAINER hContainer) {
    return RunSkfEntry([&] { return keycore::SkfCloseContainer(hContainer); });
}

KEYCORE_EXPORT ULONG SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize) {
    return RunSkfEntry([&] { return keycore::SkfEnumContainer(hApplication, szContainerName, pulSize); });
}

KEYCORE_EXPORT ULONG SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType) {
    return RunSkfEntry([&] { return keycore::SkfGetContainerType(hContainer, pulContainerType); });
}

KEYCORE_EXPORT ULONG SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen) {
    return RunSkfEntry([&] { return keycore::SkfImportCertificate(hContainer, bSignFlag, pbCert, ulCertLen); });
}

KEYCORE_EXPORT ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen) {
    return RunSkfEntry([&] { return keycore::SkfExportCertificate(hContainer, bSignFlag, pbCert, pulCertLen); });
}

KEYCORE_EXPORT ULONG SKF_GenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen) {
    return keycore::SkfGenRandom(hDev, pbRandom, ulRandomLen);
}

KEYCORE_EXPORT ULONG SKF_CloseHandle(HANDLE hHandle) {
    return RunSkfEntry([&] { return keycore::GMHandles::Table().Remove(hHandle) ? SAR_OK : SAR_INVALIDHANDLEERR; });
}
