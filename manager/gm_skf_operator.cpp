#include "gm_skf_operator.h"

#include <cstdio>
#include <dlfcn.h>

namespace {

// Calls a bound entry with the arguments unchanged; an empty entry answers kSkfNotBound.
template <typename Fn, typename... Args> ULONG Forward(Fn entry, Args... args) {
    return entry != nullptr ? entry(args...) : kSkfNotBound;
}

} // namespace

void* CGMSKFOperator::LoadLibrary(char* path) {
    void* lib = dlopen(path, RTLD_NOW);
    if (lib == nullptr) {
        const char* why = dlerror();
        std::fprintf(stderr, "%s\n", why != nullptr ? why : "dlopen failed");
    }
    (void)dlerror();
    return lib;
}

void* CGMSKFOperator::GetProcAddress(void* lib, const char* name) {
    return dlsym(lib, name);
}

void CGMSKFOperator::UNLoadLibrary(void* lib) {
    dlclose(lib);
}

template <typename Fn> void CGMSKFOperator::Bind(Fn& entry, const char* name) {
    entry = reinterpret_cast<Fn>(GetProcAddress(m_hLib, name));
}

int CGMSKFOperator::LoadSKFAPI(char* path) {
    m_hLib = LoadLibrary(path);
    if (m_hLib == nullptr)
        return -1;
    // The binding list. The device-event cancel entry is asked for under the name "SKF_cCancelWaitForDevEvent"
    // and the lock and unlock entries are not asked for at all: peers of this binding expect exactly
    // these lookups, and nothing in the manager calls those three.
    Bind(m_pWaitForDevEvent, "SKF_WaitForDevEvent");
    Bind(m_pCancelWaitForDevEvent, "SKF_cCancelWaitForDevEvent");
    Bind(m_pEnumDev, "SKF_EnumDev");
    Bind(m_pConnectDev, "SKF_ConnectDev");
    Bind(m_pDisConnectDev, "SKF_DisConnectDev");
    Bind(m_pGetDevState, "SKF_GetDevState");
    Bind(m_pSetLabel, "SKF_SetLabel");
    Bind(m_pGetDevInfo, "SKF_GetDevInfo");
    Bind(m_pTransmit, "SKF_Transmit");
    Bind(m_pDevAuth, "SKF_DevAuth");
    Bind(m_pChangeDevAuthKey, "SKF_ChangeDevAuthKey");
    Bind(m_pChangePIN, "SKF_ChangePIN");
    Bind(m_pGetPINInfo, "SKF_GetPINInfo");
    Bind(m_pVerifyPIN, "SKF_VerifyPIN");
    Bind(m_pUnblockPIN, "SKF_UnblockPIN");
    Bind(m_pClearSecureState, "SKF_ClearSecureState");
    Bind(m_pCreateApplication, "SKF_CreateApplication");
    Bind(m_pEnumApplication, "SKF_EnumApplication");
    Bind(m_pDeleteApplication, "SKF_DeleteApplication");
    Bind(m_pOpenApplication, "SKF_OpenApplication");
    Bind(m_pCloseApplication, "SKF_CloseApplication");
    Bind(m_pCreateFile, "SKF_CreateFile");
    Bind(m_pDeleteFile, "SKF_DeleteFile");
    Bind(m_pEnumFiles, "SKF_EnumFiles");
    Bind(m_pGetFileInfo, "SKF_GetFileInfo");
    Bind(m_pReadFile, "SKF_ReadFile");
    Bind(m_pWriteFile, "SKF_WriteFile");
    Bind(m_pCreateContainer, "SKF_CreateContainer");
    Bind(m_pDeleteContainer, "SKF_DeleteContainer");
    Bind(m_pOpenContainer, "SKF_OpenContainer");
    Bind(m_pCloseContainer, "SKF_CloseContainer");
    Bind(m_pEnumContainer, "SKF_EnumContainer");
    Bind(m_pGetContainerType, "SKF_GetContainerType");
    Bind(m_pExtGetContainerInfo, "SKF_ExtGetContainerInfo");
    Bind(m_pImportCertificate, "SKF_ImportCertificate");
    Bind(m_pExportCertificate, "SKF_ExportCertificate");
    Bind(m_pGenRandom, "SKF_GenRandom");
    Bind(m_pRSASignData, "SKF_RSASignData");
    Bind(m_pRSAVerify, "SKF_RSAVerify");
    Bind(m_pGenECCKeyPair, "SKF_GenECCKeyPair");
    Bind(m_pImportECCKeyPair, "SKF_ImportECCKeyPair");
    Bind(m_pECCSignData, "SKF_ECCSignData");
    Bind(m_pECCVerify, "SKF_ECCVerify");
    Bind(m_pECCExportSessionKey, "SKF_ECCExportSessionKey");
    Bind(m_pExtECCEncrypt, "SKF_ExtECCEncrypt");
    Bind(m_pExtECCDecrypt, "SKF_ExtECCDecrypt");
    Bind(m_pExtECCSign, "SKF_ExtECCSign");
    Bind(m_pExtECCVerify, "SKF_ExtECCVerify");
    Bind(m_pGenerateAgreementDataWithECC, "SKF_GenerateAgreementDataWithECC");
    Bind(m_pGenerateAgreementDataAndKeyWithECC, "SKF_GenerateAgreementDataAndKeyWithECC");
    Bind(m_pGenerateKeyWithECC, "SKF_GenerateKeyWithECC");
    Bind(m_pExportPublicKey, "SKF_ExportPublicKey");
    Bind(m_pImportSessionKey, "SKF_ImportSessionKey");
    Bind(m_pSetSymmKey, "SKF_SetSymmKey");
    Bind(m_pEncryptInit, "SKF_EncryptInit");
    Bind(m_pEncrypt, "SKF_Encrypt");
    Bind(m_pEncryptUpdate, "SKF_EncryptUpdate");
    Bind(m_pEncryptFinal, "SKF_EncryptFinal");
    Bind(m_pDecryptInit, "SKF_DecryptInit");
    Bind(m_pDecrypt, "SKF_Decrypt");
    Bind(m_pDecryptUpdate, "SKF_DecryptUpdate");
    Bind(m_pDecryptFinal, "SKF_DecryptFinal");
    Bind(m_pDigestInit, "SKF_DigestInit");
    Bind(m_pDigest, "SKF_Digest");
    Bind(m_pDigestUpdate, "SKF_DigestUpdate");
    Bind(m_pDigestFinal, "SKF_DigestFinal");
    Bind(m_pMacInit, "SKF_MacInit");
    Bind(m_pMac, "SKF_Mac");
    Bind(m_pMacUpdate, "SKF_MacUpdate");
    Bind(m_pMacFinal, "SKF_MacFinal");
    Bind(m_pCloseHandle, "SKF_CloseHandle");
    return 0;
}

int CGMSKFOperator::IsValid() const {
    const void* bound[] = {
        reinterpret_cast<const void*>(m_pWaitForDevEvent),
        reinterpret_cast<const void*>(m_pCancelWaitForDevEvent),
        reinterpret_cast<const void*>(m_pEnumDev),
        reinterpret_cast<const void*>(m_pConnectDev),
        reinterpret_cast<const void*>(m_pDisConnectDev),
        reinterpret_cast<const void*>(m_pGetDevState),
        reinterpret_cast<const void*>(m_pSetLabel),
        reinterpret_cast<const void*>(m_pGetDevInfo),
        reinterpret_cast<const void*>(m_pTransmit),
        reinterpret_cast<const void*>(m_pDevAuth),
        reinterpret_cast<const void*>(m_pChangeDevAuthKey),
        reinterpret_cast<const void*>(m_pChangePIN),
        reinterpret_cast<const void*>(m_pGetPINInfo),
        reinterpret_cast<const void*>(m_pVerifyPIN),
        reinterpret_cast<const void*>(m_pUnblockPIN),
        reinterpret_cast<const void*>(m_pClearSecureState),
        reinterpret_cast<const void*>(m_pCreateApplication),
        reinterpret_cast<const void*>(m_pEnumApplication),
        reinterpret_cast<const void*>(m_pDeleteApplication),
        reinterpret_cast<const void*>(m_pOpenApplication),
        reinterpret_cast<const void*>(m_pCloseApplication),
        reinterpret_cast<const void*>(m_pCreateFile),
        reinterpret_cast<const void*>(m_pDeleteFile),
        reinterpret_cast<const void*>(m_pEnumFiles),
        reinterpret_cast<const void*>(m_pGetFileInfo),
        reinterpret_cast<const void*>(m_pReadFile),
        reinterpret_cast<const void*>(m_pWriteFile),
        reinterpret_cast<const void*>(m_pCreateContainer),
        reinterpret_cast<const void*>(m_pDeleteContainer),
        reinterpret_cast<const void*>(m_pOpenContainer),
        reinterpret_cast<const void*>(m_pCloseContainer),
        reinterpret_cast<const void*>(m_pEnumContainer),
        reinterpret_cast<const void*>(m_pGetContainerType),
        reinterpret_cast<const void*>(m_pExtGetContainerInfo),
        reinterpret_cast<const void*>(m_pImportCertificate),
        reinterpret_cast<const void*>(m_pExportCertificate),
        reinterpret_cast<const void*>(m_pGenRandom),
        reinterpret_cast<const void*>(m_pRSASignData),
        reinterpret_cast<const void*>(m_pRSAVerify),
        reinterpret_cast<const void*>(m_pGenECCKeyPair),
        reinterpret_cast<const void*>(m_pImportECCKeyPair),
        reinterpret_cast<const void*>(m_pECCSignData),
        reinterpret_cast<const void*>(m_pECCVerify),
        reinterpret_cast<const void*>(m_pECCExportSessionKey),
        reinterpret_cast<const void*>(m_pExtECCEncrypt),
        reinterpret_cast<const void*>(m_pExtECCDecrypt),
        reinterpret_cast<const void*>(m_pExtECCSign),
        reinterpret_cast<const void*>(m_pExtECCVerify),
        reinterpret_cast<const void*>(m_pGenerateAgreementDataWithECC),
        reinterpret_cast<const void*>(m_pGenerateAgreementDataAndKeyWithECC),
        reinterpret_cast<const void*>(m_pGenerateKeyWithECC),
        reinterpret_cast<const void*>(m_pExportPublicKey),
        reinterpret_cast<const void*>(m_pImportSessionKey),
        reinterpret_cast<const void*>(m_pSetSymmKey),
        reinterpret_cast<const void*>(m_pEncryptInit),
        reinterpret_cast<const void*>(m_pEncrypt),
        reinterpret_cast<const void*>(m_pEncryptUpdate),
        reinterpret_cast<const void*>(m_pEncryptFinal),
        reinterpret_cast<const void*>(m_pDecryptInit),
        reinterpret_cast<const void*>(m_pDecrypt),
        reinterpret_cast<const void*>(m_pDecryptUpdate),
        reinterpret_cast<const void*>(m_pDecryptFinal),
        reinterpret_cast<const void*>(m_pDigestInit),
        reinterpret_cast<const void*>(m_pDigest),
        reinterpret_cast<const void*>(m_pDigestUpdate),
        reinterpret_cast<const void*>(m_pDigestFinal),
        reinterpret_cast<const void*>(m_pMacInit),
        reinterpret_cast<const void*>(m_pMac),
        reinterpret_cast<const void*>(m_pMacUpdate),
        reinterpret_cast<const void*>(m_pMacFinal),
        reinterpret_cast<const void*>(m_pCloseHandle),
    };
    for (const void* entry : bound) {
        if (entry == nullptr)
            return 1;
    }
    return 0;
}

ULONG CGMSKFOperator::SKF_SignData(ULONG, HANDLE, BYTE*, ULONG, BYTE*, ULONG*) {
    return 0;
}

ULONG CGMSKFOperator::SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent) {
    return Forward(m_pWaitForDevEvent, szDevName, pulDevNameLen, pulEvent);
}

ULONG CGMSKFOperator::SKF_CancelWaitForDevEvent() {
    return Forward(m_pCancelWaitForDevEvent);
}

ULONG CGMSKFOperator::SKF_EnumDev(BOOL bPresent, LPSTR szNameList, ULONG* pulSize) {
    return Forward(m_pEnumDev, bPresent, szNameList, pulSize);
}

ULONG CGMSKFOperator::SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev) {
    return Forward(m_pConnectDev, szName, phDev);
}

ULONG CGMSKFOperator::SKF_DisConnectDev(DEVHANDLE hDev) {
    return Forward(m_pDisConnectDev, hDev);
}

ULONG CGMSKFOperator::SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState) {
    return Forward(m_pGetDevState, szDevName, pulDevState);
}

ULONG CGMSKFOperator::SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel) {
    return Forward(m_pSetLabel, hDev, szLabel);
}

ULONG CGMSKFOperator::SKF_GetDevInfo(DEVHANDLE hDev, Struct_DEVINFO* pDevInfo) {
    return Forward(m_pGetDevInfo, hDev, pDevInfo);
}

ULONG CGMSKFOperator::SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut) {
    return Forward(m_pLockDev, hDev, ulTimeOut);
}

ULONG CGMSKFOperator::SKF_UnlockDev(DEVHANDLE hDev) {
    return Forward(m_pUnlockDev, hDev);
}

ULONG CGMSKFOperator::SKF_Transmit(DEVHANDLE hDev, BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData,
                                   ULONG* pulDataLen) {
    return Forward(m_pTransmit, hDev, pbCommand, ulCommandLen, pbData, pulDataLen);
}

ULONG CGMSKFOperator::SKF_ChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen) {
    return Forward(m_pChangeDevAuthKey, hDev, pbKeyValue, ulKeyLen);
}

ULONG CGMSKFOperator::SKF_DevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen) {
    return Forward(m_pDevAuth, hDev, pbAuthData, ulLen);
}

ULONG CGMSKFOperator::SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin,
                                    ULONG* pulRetryCount) {
    return Forward(m_pChangePIN, hApplication, ulPINType, szOldPin, szNewPin, pulRetryCount);
}

ULONG CGMSKFOperator::SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount,
                                     ULONG* pulRemainRetryCount, BOOL* pbDefaultPin) {
    return Forward(m_pGetPINInfo, hApplication, ulPINType, pulMaxRetryCount, pulRemainRetryCount, pbDefaultPin);
}

ULONG CGMSKFOperator::SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount) {
    return Forward(m_pVerifyPIN, hApplication, ulPINType, szPIN, pulRetryCount);
}

ULONG CGMSKFOperator::SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN,
                                     ULONG* pulRetryCount) {
    return Forward(m_pUnblockPIN, hApplication, szAdminPIN, szNewUserPIN, pulRetryCount);
}

ULONG CGMSKFOperator::SKF_ClearSecureState(HAPPLICATION hApplication) {
    return Forward(m_pClearSecureState, hApplication);
}

ULONG CGMSKFOperator::SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin,
                                            DWORD dwAdminPinRetryCount, LPSTR szUserPin, DWORD dwUserPinRetryCount,
                                            DWORD dwCreateFileRights, HAPPLICATION* phApplication) {
    return Forward(m_pCreateApplication, hDev, szAppName, szAdminPin, dwAdminPinRetryCount, szUserPin,
                   dwUserPinRetryCount, dwCreateFileRights, phApplication);
}

ULONG CGMSKFOperator::SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize) {
    return Forward(m_pEnumApplication, hDev, szAppName, pulSize);
}

ULONG CGMSKFOperator::SKF_DeleteApplication(DEVHANDLE hDev, LPSTR szAppName) {
    return Forward(m_pDeleteApplication, hDev, szAppName);
}

ULONG CGMSKFOperator::SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication) {
    return Forward(m_pOpenApplication, hDev, szAppName, phApplication);
}

ULONG CGMSKFOperator::SKF_CloseApplication(HAPPLICATION hApplication) {
    return Forward(m_pCloseApplication, hApplication);
}

ULONG CGMSKFOperator::SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                                     ULONG ulWriteRights) {
    return Forward(m_pCreateFile, hApplication, szFileName, ulFileSize, ulReadRights, ulWriteRights);
}

ULONG CGMSKFOperator::SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName) {
    return Forward(m_pDeleteFile, hApplication, szFileName);
}

ULONG CGMSKFOperator::SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize) {
    return Forward(m_pEnumFiles, hApplication, szFileList, pulSize);
}

ULONG CGMSKFOperator::SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, Struct_FILEATTRIBUTE* pFileInfo) {
    return Forward(m_pGetFileInfo, hApplication, szFileName, pFileInfo);
}

ULONG CGMSKFOperator::SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize,
                                   BYTE* pbOutData, ULONG* pulOutLen) {
    return Forward(m_pReadFile, hApplication, szFileName, ulOffset, ulSize, pbOutData, pulOutLen);
}

ULONG CGMSKFOperator::SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData,
                                    ULONG ulSize) {
    return Forward(m_pWriteFile, hApplication, szFileName, ulOffset, pbData, ulSize);
}

ULONG CGMSKFOperator::SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer) {
    return Forward(m_pCreateContainer, hApplication, szContainerName, phContainer);
}

ULONG CGMSKFOperator::SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName) {
    return Forward(m_pDeleteContainer, hApplication, szContainerName);
}

ULONG CGMSKFOperator::SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer) {
    return Forward(m_pOpenContainer, hApplication, szContainerName, phContainer);
}

ULONG CGMSKFOperator::SKF_CloseContainer(HCONTAINER hContainer) {
    return Forward(m_pCloseContainer, hContainer);
}

ULONG CGMSKFOperator::SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize) {
    return Forward(m_pEnumContainer, hApplication, szContainerName, pulSize);
}

ULONG CGMSKFOperator::SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType) {
    return Forward(m_pGetContainerType, hContainer, pulContainerType);
}

ULONG CGMSKFOperator::SKF_ExtGetContainerInfo(HCONTAINER hContainer, Struct_ContainerInfo* pInfo) {
    return Forward(m_pExtGetContainerInfo, hContainer, pInfo);
}

ULONG CGMSKFOperator::SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen) {
    return Forward(m_pImportCertificate, hContainer, bSignFlag, pbCert, ulCertLen);
}

ULONG CGMSKFOperator::SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen) {
    return Forward(m_pExportCertificate, hContainer, bSignFlag, pbCert, pulCertLen);
}

ULONG CGMSKFOperator::SKF_GenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen) {
    return Forward(m_pGenRandom, hDev, pbRandom, ulRandomLen);
}

ULONG CGMSKFOperator::SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, Struct_ECCPUBLICKEYBLOB* pBlob) {
    return Forward(m_pGenECCKeyPair, hContainer, ulAlgId, pBlob);
}

ULONG CGMSKFOperator::SKF_ImportECCKeyPair(HCONTAINER hContainer, SKF_ENVELOPEDKEYBLOB* pEnvelopedKeyBlob) {
    return Forward(m_pImportECCKeyPair, hContainer, pEnvelopedKeyBlob);
}

ULONG CGMSKFOperator::SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen,
                                      Struct_ECCSIGNATUREBLOB* pSignature) {
    return Forward(m_pECCSignData, hContainer, pbData, ulDataLen, pSignature);
}

ULONG CGMSKFOperator::SKF_ECCVerify(DEVHANDLE hDev, Struct_ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData,
                                    ULONG ulDataLen, Struct_ECCSIGNATUREBLOB* pSignature) {
    return Forward(m_pECCVerify, hDev, pECCPubKeyBlob, pbData, ulDataLen, pSignature);
}

ULONG CGMSKFOperator::SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, Struct_ECCPUBLICKEYBLOB* pPubKey,
                                              Struct_ECCCIPHERBLOB* pData, HANDLE* phSessionKey) {
    return Forward(m_pECCExportSessionKey, hContainer, ulAlgId, pPubKey, pData, phSessionKey);
}

ULONG CGMSKFOperator::SKF_ExtECCEncrypt(DEVHANDLE hDev, Struct_ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText,
                                        ULONG ulPlainTextLen, Struct_ECCCIPHERBLOB* pCipherText) {
    return Forward(m_pExtECCEncrypt, hDev, pECCPubKeyBlob, pbPlainText, ulPlainTextLen, pCipherText);
}

ULONG CGMSKFOperator::SKF_ExtECCDecrypt(DEVHANDLE hDev, Struct_ECCPRIVATEKEYBLOB* pECCPriKeyBlob,
                                        Struct_ECCCIPHERBLOB* pCipherText, BYTE* pbPlainText, ULONG* pulPlainTextLen) {
    return Forward(m_pExtECCDecrypt, hDev, pECCPriKeyBlob, pCipherText, pbPlainText, pulPlainTextLen);
}

ULONG CGMSKFOperator::SKF_ExtECCSign(DEVHANDLE hDev, Struct_ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData,
                                     ULONG ulDataLen, Struct_ECCSIGNATUREBLOB* pSignature) {
    return Forward(m_pExtECCSign, hDev, pECCPriKeyBlob, pbData, ulDataLen, pSignature);
}

ULONG CGMSKFOperator::SKF_ExtECCVerify(DEVHANDLE hDev, Struct_ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData,
                                       ULONG ulDataLen, Struct_ECCSIGNATUREBLOB* pSignature) {
    return Forward(m_pExtECCVerify, hDev, pECCPubKeyBlob, pbData, ulDataLen, pSignature);
}

ULONG CGMSKFOperator::SKF_GenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId,
                                                       Struct_ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID,
                                                       ULONG ulIDLen, HANDLE* phAgreementHandle) {
    return Forward(m_pGenerateAgreementDataWithECC, hContainer, ulAlgId, pTempECCPubKeyBlob, pbID, ulIDLen,
                   phAgreementHandle);
}

ULONG CGMSKFOperator::SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId,
                                                             Struct_ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                                             Struct_ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                                             Struct_ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID,
                                                             ULONG ulIDLen, BYTE* pbSponsorID, ULONG ulSponsorIDLen,
                                                             HANDLE* phKeyHandle) {
    return Forward(m_pGenerateAgreementDataAndKeyWithECC, hContainer, ulAlgId, pSponsorECCPubKeyBlob,
                   pSponsorTempECCPubKeyBlob, pTempECCPubKeyBlob, pbID, ulIDLen, pbSponsorID, ulSponsorIDLen,
                   phKeyHandle);
}

ULONG CGMSKFOperator::SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, Struct_ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                                             Struct_ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                             HANDLE* phKeyHandle) {
    return Forward(m_pGenerateKeyWithECC, hAgreementHandle, pECCPubKeyBlob, pTempECCPubKeyBlob, pbID, ulIDLen,
                   phKeyHandle);
}

ULONG CGMSKFOperator::SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen) {
    return Forward(m_pExportPublicKey, hContainer, bSignFlag, pbBlob, pulBlobLen);
}

ULONG CGMSKFOperator::SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen,
                                           HANDLE* phKey) {
    return Forward(m_pImportSessionKey, hContainer, ulAlgId, pbWrapedData, ulWrapedLen, phKey);
}

ULONG CGMSKFOperator::SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey) {
    return Forward(m_pSetSymmKey, hDev, pbKey, ulAlgID, phKey);
}

ULONG CGMSKFOperator::SKF_EncryptInit(HANDLE hKey, Struct_BLOCKCIPHERPARAM EncryptParam) {
    return Forward(m_pEncryptInit, hKey, EncryptParam);
}

ULONG CGMSKFOperator::SKF_Encrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                                  ULONG* pulEncryptedLen) {
    return Forward(m_pEncrypt, hKey, pbData, ulDataLen, pbEncryptedData, pulEncryptedLen);
}

ULONG CGMSKFOperator::SKF_EncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                                        ULONG* pulEncryptedLen) {
    return Forward(m_pEncryptUpdate, hKey, pbData, ulDataLen, pbEncryptedData, pulEncryptedLen);
}

ULONG CGMSKFOperator::SKF_EncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen) {
    return Forward(m_pEncryptFinal, hKey, pbEncryptedData, pulEncryptedDataLen);
}

ULONG CGMSKFOperator::SKF_DecryptInit(HANDLE hKey, Struct_BLOCKCIPHERPARAM DecryptParam) {
    return Forward(m_pDecryptInit, hKey, DecryptParam);
}

ULONG CGMSKFOperator::SKF_Decrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                                  ULONG* pulDataLen) {
    return Forward(m_pDecrypt, hKey, pbEncryptedData, ulEncryptedLen, pbData, pulDataLen);
}

ULONG CGMSKFOperator::SKF_DecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                                        ULONG* pulDataLen) {
    return Forward(m_pDecryptUpdate, hKey, pbEncryptedData, ulEncryptedLen, pbData, pulDataLen);
}

ULONG CGMSKFOperator::SKF_DecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen) {
    return Forward(m_pDecryptFinal, hKey, pbDecryptedData, pulDecryptedDataLen);
}

ULONG CGMSKFOperator::SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, Struct_ECCPUBLICKEYBLOB* pPubKey, BYTE* pbID,
                                     ULONG ulIDLen, HANDLE* phHash) {
    return Forward(m_pDigestInit, hDev, ulAlgID, pPubKey, pbID, ulIDLen, phHash);
}

ULONG CGMSKFOperator::SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen) {
    return Forward(m_pDigest, hHash, pbData, ulDataLen, pbHashData, pulHashLen);
}

ULONG CGMSKFOperator::SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen) {
    return Forward(m_pDigestUpdate, hHash, pbData, ulDataLen);
}

ULONG CGMSKFOperator::SKF_DigestFinal(HANDLE hHash, BYTE* pbHashData, ULONG* pulHashLen) {
    return Forward(m_pDigestFinal, hHash, pbHashData, pulHashLen);
}

ULONG CGMSKFOperator::SKF_MacInit(HANDLE hKey, Struct_BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac) {
    return Forward(m_pMacInit, hKey, pMacParam, phMac);
}

ULONG CGMSKFOperator::SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen) {
    return Forward(m_pMac, hMac, pbData, ulDataLen, pbMacData, pulMacLen);
}

ULONG CGMSKFOperator::SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen) {
    return Forward(m_pMacUpdate, hMac, pbData, ulDataLen);
}

ULONG CGMSKFOperator::SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen) {
    return Forward(m_pMacFinal, hMac, pbMacData, pulMacDataLen);
}

ULONG CGMSKFOperator::SKF_CloseHandle(HANDLE hHandle) {
    return Forward(m_pCloseHandle, hHandle);
}
