// The exported SKF entry points. Each one is a shell that runs its family's implementation inside the
// SKF entry frame; a function whose family is not built yet answers SAR_NOTSUPPORTYETERR.
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

KEYCORE_EXPORT ULONG SKF_GenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob) {
    static_cast<void>(hDev), static_cast<void>(ulBitsLen), static_cast<void>(pBlob);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob) {
    static_cast<void>(hContainer), static_cast<void>(ulBitsLen), static_cast<void>(pBlob);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE* pbWrappedKey,
                                          ULONG ulWrappedKeyLen, BYTE* pbEncryptedData, ULONG ulEncryptedDataLen) {
    static_cast<void>(hContainer), static_cast<void>(ulSymAlgId), static_cast<void>(pbWrappedKey),
        static_cast<void>(ulWrappedKeyLen), static_cast<void>(pbEncryptedData), static_cast<void>(ulEncryptedDataLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_RSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                                     ULONG* pulSignLen) {
    static_cast<void>(hContainer), static_cast<void>(pbData), static_cast<void>(ulDataLen),
        static_cast<void>(pbSignature), static_cast<void>(pulSignLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_RSAVerify(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                   BYTE* pbSignature, ULONG ulSignLen) {
    static_cast<void>(hDev), static_cast<void>(pRSAPubKeyBlob), static_cast<void>(pbData), static_cast<void>(ulDataLen),
        static_cast<void>(pbSignature), static_cast<void>(ulSignLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_RSAExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, RSAPUBLICKEYBLOB* pPubKey,
                                             BYTE* pbData, ULONG* pulDataLen, HANDLE* phSessionKey) {
    static_cast<void>(hContainer), static_cast<void>(ulAlgId), static_cast<void>(pPubKey), static_cast<void>(pbData),
        static_cast<void>(pulDataLen), static_cast<void>(phSessionKey);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbInput,
                                               ULONG ulInputLen, BYTE* pbOutput, ULONG* pulOutputLen) {
    static_cast<void>(hDev), static_cast<void>(pRSAPubKeyBlob), static_cast<void>(pbInput),
        static_cast<void>(ulInputLen), static_cast<void>(pbOutput), static_cast<void>(pulOutputLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB* pRSAPriKeyBlob, BYTE* pbInput,
                                               ULONG ulInputLen, BYTE* pbOutput, ULONG* pulOutputLen) {
    static_cast<void>(hDev), static_cast<void>(pRSAPriKeyBlob), static_cast<void>(pbInput),
        static_cast<void>(ulInputLen), static_cast<void>(pbOutput), static_cast<void>(pulOutputLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob) {
    static_cast<void>(hContainer), static_cast<void>(ulAlgId), static_cast<void>(pBlob);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ImportECCKeyPair(HCONTAINER hContainer, PENVELOPEDKEYBLOB pEnvelopedKeyBlob) {
    static_cast<void>(hContainer), static_cast<void>(pEnvelopedKeyBlob);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen,
                                     PECCSIGNATUREBLOB pSignature) {
    static_cast<void>(hContainer), static_cast<void>(pbData), static_cast<void>(ulDataLen),
        static_cast<void>(pSignature);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                   PECCSIGNATUREBLOB pSignature) {
    static_cast<void>(hDev), static_cast<void>(pECCPubKeyBlob), static_cast<void>(pbData), static_cast<void>(ulDataLen),
        static_cast<void>(pSignature);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey,
                                             PECCCIPHERBLOB pData, HANDLE* phSessionKey) {
    static_cast<void>(hContainer), static_cast<void>(ulAlgId), static_cast<void>(pPubKey), static_cast<void>(pData),
        static_cast<void>(phSessionKey);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText,
                                       ULONG ulPlainTextLen, PECCCIPHERBLOB pCipherText) {
    static_cast<void>(hDev), static_cast<void>(pECCPubKeyBlob), static_cast<void>(pbPlainText),
        static_cast<void>(ulPlainTextLen), static_cast<void>(pCipherText);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, PECCCIPHERBLOB pCipherText,
                                       BYTE* pbPlainText, ULONG* pulPlainTextLen) {
    static_cast<void>(hDev), static_cast<void>(pECCPriKeyBlob), static_cast<void>(pCipherText),
        static_cast<void>(pbPlainText), static_cast<void>(pulPlainTextLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                    PECCSIGNATUREBLOB pSignature) {
    static_cast<void>(hDev), static_cast<void>(pECCPriKeyBlob), static_cast<void>(pbData), static_cast<void>(ulDataLen),
        static_cast<void>(pSignature);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ExtECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                      PECCSIGNATUREBLOB pSignature) {
    static_cast<void>(hDev), static_cast<void>(pECCPubKeyBlob), static_cast<void>(pbData), static_cast<void>(ulDataLen),
        static_cast<void>(pSignature);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_GenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId,
                                                      ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                                      HANDLE* phAgreementHandle) {
    static_cast<void>(hContainer), static_cast<void>(ulAlgId), static_cast<void>(pTempECCPubKeyBlob),
        static_cast<void>(pbID), static_cast<void>(ulIDLen), static_cast<void>(phAgreementHandle);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId,
                                                            ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                                            ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                                            ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID,
                                                            ULONG ulIDLen, BYTE* pbSponsorID, ULONG ulSponsorIDLen,
                                                            HANDLE* phKeyHandle) {
    static_cast<void>(hContainer), static_cast<void>(ulAlgId), static_cast<void>(pSponsorECCPubKeyBlob),
        static_cast<void>(pSponsorTempECCPubKeyBlob), static_cast<void>(pTempECCPubKeyBlob), static_cast<void>(pbID),
        static_cast<void>(ulIDLen), static_cast<void>(pbSponsorID), static_cast<void>(ulSponsorIDLen),
        static_cast<void>(phKeyHandle);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                                            ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                            HANDLE* phKeyHandle) {
    static_cast<void>(hAgreementHandle), static_cast<void>(pECCPubKeyBlob), static_cast<void>(pTempECCPubKeyBlob),
        static_cast<void>(pbID), static_cast<void>(ulIDLen), static_cast<void>(phKeyHandle);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen) {
    static_cast<void>(hContainer), static_cast<void>(bSignFlag), static_cast<void>(pbBlob),
        static_cast<void>(pulBlobLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen,
                                          HANDLE* phKey) {
    static_cast<void>(hContainer), static_cast<void>(ulAlgId), static_cast<void>(pbWrapedData),
        static_cast<void>(ulWrapedLen), static_cast<void>(phKey);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey) {
    static_cast<void>(hDev), static_cast<void>(pbKey), static_cast<void>(ulAlgID), static_cast<void>(phKey);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_EncryptInit(HANDLE hKey, BLOCKCIPHERPARAM EncryptParam) {
    static_cast<void>(hKey), static_cast<void>(EncryptParam);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_Encrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                                 ULONG* pulEncryptedLen) {
    static_cast<void>(hKey), static_cast<void>(pbData), static_cast<void>(ulDataLen),
        static_cast<void>(pbEncryptedData), static_cast<void>(pulEncryptedLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_EncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                                       ULONG* pulEncryptedLen) {
    static_cast<void>(hKey), static_cast<void>(pbData), static_cast<void>(ulDataLen),
        static_cast<void>(pbEncryptedData), static_cast<void>(pulEncryptedLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_EncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen) {
    static_cast<void>(hKey), static_cast<void>(pbEncryptedData), static_cast<void>(pulEncryptedDataLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_DecryptInit(HANDLE hKey, BLOCKCIPHERPARAM DecryptParam) {
    static_cast<void>(hKey), static_cast<void>(DecryptParam);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_Decrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                                 ULONG* pulDataLen) {
    static_cast<void>(hKey), static_cast<void>(pbEncryptedData), static_cast<void>(ulEncryptedLen),
        static_cast<void>(pbData), static_cast<void>(pulDataLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_DecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                                       ULONG* pulDataLen) {
    static_cast<void>(hKey), static_cast<void>(pbEncryptedData), static_cast<void>(ulEncryptedLen),
        static_cast<void>(pbData), static_cast<void>(pulDataLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_DecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen) {
    static_cast<void>(hKey), static_cast<void>(pbDecryptedData), static_cast<void>(pulDecryptedDataLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, BYTE* pbID, ULONG ulIDLen,
                                    HANDLE* phHash) {
    static_cast<void>(hDev), static_cast<void>(ulAlgID), static_cast<void>(pPubKey), static_cast<void>(pbID),
        static_cast<void>(ulIDLen), static_cast<void>(phHash);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen) {
    static_cast<void>(hHash), static_cast<void>(pbData), static_cast<void>(ulDataLen), static_cast<void>(pbHashData),
        static_cast<void>(pulHashLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen) {
    static_cast<void>(hHash), static_cast<void>(pbData), static_cast<void>(ulDataLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_DigestFinal(HANDLE hHash, BYTE* pbHashData, ULONG* pulHashLen) {
    static_cast<void>(hHash), static_cast<void>(pbHashData), static_cast<void>(pulHashLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_MacInit(HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac) {
    static_cast<void>(hKey), static_cast<void>(pMacParam), static_cast<void>(phMac);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen) {
    static_cast<void>(hMac), static_cast<void>(pbData), static_cast<void>(ulDataLen), static_cast<void>(pbMacData),
        static_cast<void>(pulMacLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen) {
    static_cast<void>(hMac), static_cast<void>(pbData), static_cast<void>(ulDataLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen) {
    static_cast<void>(hMac), static_cast<void>(pbMacData), static_cast<void>(pulMacDataLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_CloseHandle(HANDLE hHandle) {
    return RunSkfEntry([&] { return keycore::GMHandles::Table().Remove(hHandle) ? SAR_OK : SAR_INVALIDHANDLEERR; });
}
