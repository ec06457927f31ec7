#pragma once
// The SKF functions of a library loaded at run time: one entry per function, filled by name when the
// library is loaded, and one forwarding method per function. A method whose entry is empty (the
// library does not export that name) does nothing and answers kSkfNotBound.

#include "skf_types.h"

class CGMSKFOperator {
public:
    CGMSKFOperator() = default;
    CGMSKFOperator(const CGMSKFOperator&) = delete;
    CGMSKFOperator& operator=(const CGMSKFOperator&) = delete;

    // dlopen(path, RTLD_NOW); a failure prints the loader's message to standard error. Null on failure.
    void* LoadLibrary(char* path);
    void* GetProcAddress(void* lib, const char* name);
    void UNLoadLibrary(void* lib);
    // Loads the library and binds every entry of the binding list (a name the library lacks leaves its
    // entry empty). 0, or -1 when the library cannot be loaded.
    int LoadSKFAPI(char* path);
    // 0 when every bound entry is filled, 1 otherwise.
    int IsValid() const;

    ULONG SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent);
    ULONG SKF_CancelWaitForDevEvent();
    ULONG SKF_EnumDev(BOOL bPresent, LPSTR szNameList, ULONG* pulSize);
    ULONG SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev);
    ULONG SKF_DisConnectDev(DEVHANDLE hDev);
    ULONG SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState);
    ULONG SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel);
    ULONG SKF_GetDevInfo(DEVHANDLE hDev, Struct_DEVINFO* pDevInfo);
    ULONG SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut);
    ULONG SKF_UnlockDev(DEVHANDLE hDev);
    ULONG SKF_Transmit(DEVHANDLE hDev, BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen);
    ULONG SKF_ChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen);
    ULONG SKF_DevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen);
    ULONG SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin,
                        ULONG* pulRetryCount);
    ULONG SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount,
                         ULONG* pulRemainRetryCount, BOOL* pbDefaultPin);
    ULONG SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount);
    ULONG SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN, ULONG* pulRetryCount);
    ULONG SKF_ClearSecureState(HAPPLICATION hApplication);
    ULONG SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount,
                                LPSTR szUserPin, DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,
                                HAPPLICATION* phApplication);
    ULONG SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize);
    ULONG SKF_DeleteApplication(DEVHANDLE hDev, LPSTR szAppName);
    ULONG SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication);
    ULONG SKF_CloseApplication(HAPPLICATION hApplication);
    ULONG SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                         ULONG ulWriteRights);
    ULONG SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName);
    ULONG SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize);
    ULONG SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, Struct_FILEATTRIBUTE* pFileInfo);
    ULONG SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                       ULONG* pulOutLen);
    ULONG SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData, ULONG ulSize);
    ULONG SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
    ULONG SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName);
    ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
    ULONG SKF_CloseContainer(HCONTAINER hContainer);
    ULONG SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize);
    ULONG SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType);
    ULONG SKF_ExtGetContainerInfo(HCONTAINER hContainer, Struct_ContainerInfo* pInfo);
    ULONG SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen);
    ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen);
    ULONG SKF_GenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen);
    ULONG SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, Struct_ECCPUBLICKEYBLOB* pBlob);
    ULONG SKF_ImportECCKeyPair(HCONTAINER hContainer, SKF_ENVELOPEDKEYBLOB* pEnvelopedKeyBlob);
    ULONG SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, Struct_ECCSIGNATUREBLOB* pSignature);
    ULONG SKF_ECCVerify(DEVHANDLE hDev, Struct_ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                        Struct_ECCSIGNATUREBLOB* pSignature);
    ULONG SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, Struct_ECCPUBLICKEYBLOB* pPubKey,
                                  Struct_ECCCIPHERBLOB* pData, HANDLE* phSessionKey);
    ULONG SKF_ExtECCEncrypt(DEVHANDLE hDev, Struct_ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText,
                            ULONG ulPlainTextLen, Struct_ECCCIPHERBLOB* pCipherText);
    ULONG SKF_ExtECCDecrypt(DEVHANDLE hDev, Struct_ECCPRIVATEKEYBLOB* pECCPriKeyBlob, Struct_ECCCIPHERBLOB* pCipherText,
                            BYTE* pbPlainText, ULONG* pulPlainTextLen);
    ULONG SKF_ExtECCSign(DEVHANDLE hDev, Struct_ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData, ULONG ulDataLen,
                         Struct_ECCSIGNATUREBLOB* pSignature);
    ULONG SKF_ExtECCVerify(DEVHANDLE hDev, Struct_ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                           Struct_ECCSIGNATUREBLOB* pSignature);
    ULONG SKF_GenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId,
                                           Struct_ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                           HANDLE* phAgreementHandle);
    ULONG SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId,
                                                 Struct_ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                                 Struct_ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                                 Struct_ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                                 BYTE* pbSponsorID, ULONG ulSponsorIDLen, HANDLE* phKeyHandle);
    ULONG SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, Struct_ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                                 Struct_ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                 HANDLE* phKeyHandle);
    ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen);
    ULONG SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen,
                               HANDLE* phKey);
    ULONG SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey);
    ULONG SKF_EncryptInit(HANDLE hKey, Struct_BLOCKCIPHERPARAM EncryptParam);
    ULONG SKF_Encrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen);
    ULONG SKF_EncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen);
    ULONG SKF_EncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen);
    ULONG SKF_DecryptInit(HANDLE hKey, Struct_BLOCKCIPHERPARAM DecryptParam);
    ULONG SKF_Decrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen);
    ULONG SKF_DecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen);
    ULONG SKF_DecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen);
    ULONG SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, Struct_ECCPUBLICKEYBLOB* pPubKey, BYTE* pbID, ULONG ulIDLen,
                         HANDLE* phHash);
    ULONG SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen);
    ULONG SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen);
    ULONG SKF_DigestFinal(HANDLE hHash, BYTE* pbHashData, ULONG* pulHashLen);
    ULONG SKF_MacInit(HANDLE hKey, Struct_BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac);
    ULONG SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen);
    ULONG SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen);
    ULONG SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen);
    ULONG SKF_CloseHandle(HANDLE hHandle);
    // Kept for callers of the signing interface; it signs nothing and answers 0.
    ULONG SKF_SignData(ULONG ulAlgId, HANDLE hHandle, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                       ULONG* pulSignLen);

private:
    // Entry types: the public header's declarations where it has them.
    using PFN_WaitForDevEvent = decltype(&::SKF_WaitForDevEvent);
    using PFN_CancelWaitForDevEvent = decltype(&::SKF_CancelWaitForDevEvent);
    using PFN_EnumDev = decltype(&::SKF_EnumDev);
    using PFN_ConnectDev = decltype(&::SKF_ConnectDev);
    using PFN_DisConnectDev = decltype(&::SKF_DisConnectDev);
    using PFN_GetDevState = decltype(&::SKF_GetDevState);
    using PFN_SetLabel = decltype(&::SKF_SetLabel);
    using PFN_GetDevInfo = decltype(&::SKF_GetDevInfo);
    using PFN_LockDev = decltype(&::SKF_LockDev);
    using PFN_UnlockDev = decltype(&::SKF_UnlockDev);
    using PFN_Transmit = decltype(&::SKF_Transmit);
    using PFN_DevAuth = decltype(&::SKF_DevAuth);
    using PFN_ChangeDevAuthKey = decltype(&::SKF_ChangeDevAuthKey);
    using PFN_ChangePIN = decltype(&::SKF_ChangePIN);
    using PFN_GetPINInfo = decltype(&::SKF_GetPINInfo);
    using PFN_VerifyPIN = decltype(&::SKF_VerifyPIN);
    using PFN_UnblockPIN = decltype(&::SKF_UnblockPIN);
    using PFN_ClearSecureState = decltype(&::SKF_ClearSecureState);
    using PFN_CreateApplication = decltype(&::SKF_CreateApplication);
    using PFN_EnumApplication = decltype(&::SKF_EnumApplication);
    using PFN_DeleteApplication = decltype(&::SKF_DeleteApplication);
    using PFN_OpenApplication = decltype(&::SKF_OpenApplication);
    using PFN_CloseApplication = decltype(&::SKF_CloseApplication);
    using PFN_CreateFile = decltype(&::SKF_CreateFile);
    using PFN_DeleteFile = decltype(&::SKF_DeleteFile);
    using PFN_EnumFiles = decltype(&::SKF_EnumFiles);
    using PFN_GetFileInfo = decltype(&::SKF_GetFileInfo);
    using PFN_ReadFile = decltype(&::SKF_ReadFile);
    using PFN_WriteFile = decltype(&::SKF_WriteFile);
    using PFN_CreateContainer = decltype(&::SKF_CreateContainer);
    using PFN_DeleteContainer = decltype(&::SKF_DeleteContainer);
    using PFN_OpenContainer = decltype(&::SKF_OpenContainer);
    using PFN_CloseContainer = decltype(&::SKF_CloseContainer);
    using PFN_EnumContainer = decltype(&::SKF_EnumContainer);
    using PFN_GetContainerType = decltype(&::SKF_GetContainerType);
    using PFN_ExtGetContainerInfo = ULONG (*)(HCONTAINER, Struct_ContainerInfo*);
    using PFN_ImportCertificate = decltype(&::SKF_ImportCertificate);
    using PFN_ExportCertificate = decltype(&::SKF_ExportCertificate);
    using PFN_GenRandom = decltype(&::SKF_GenRandom);
    using PFN_RSASignData = decltype(&::SKF_RSASignData);
    using PFN_RSAVerify = decltype(&::SKF_RSAVerify);
    using PFN_GenECCKeyPair = decltype(&::SKF_GenECCKeyPair);
    using PFN_ImportECCKeyPair = decltype(&::SKF_ImportECCKeyPair);
    using PFN_ECCSignData = decltype(&::SKF_ECCSignData);
    using PFN_ECCVerify = decltype(&::SKF_ECCVerify);
    using PFN_ECCExportSessionKey = decltype(&::SKF_ECCExportSessionKey);
    using PFN_ExtECCEncrypt = decltype(&::SKF_ExtECCEncrypt);
    using PFN_ExtECCDecrypt = decltype(&::SKF_ExtECCDecrypt);
    using PFN_ExtECCSign = decltype(&::SKF_ExtECCSign);
    using PFN_ExtECCVerify = decltype(&::SKF_ExtECCVerify);
    using PFN_GenerateAgreementDataWithECC = decltype(&::SKF_GenerateAgreementDataWithECC);
    using PFN_GenerateAgreementDataAndKeyWithECC = decltype(&::SKF_GenerateAgreementDataAndKeyWithECC);
    using PFN_GenerateKeyWithECC = decltype(&::SKF_GenerateKeyWithECC);
    using PFN_ExportPublicKey = decltype(&::SKF_ExportPublicKey);
    using PFN_ImportSessionKey = decltype(&::SKF_ImportSessionKey);
    using PFN_SetSymmKey = decltype(&::SKF_SetSymmKey);
    using PFN_EncryptInit = decltype(&::SKF_EncryptInit);
    using PFN_Encrypt = decltype(&::SKF_Encrypt);
    using PFN_EncryptUpdate = decltype(&::SKF_EncryptUpdate);
    using PFN_EncryptFinal = decltype(&::SKF_EncryptFinal);
    using PFN_DecryptInit = decltype(&::SKF_DecryptInit);
    using PFN_Decrypt = decltype(&::SKF_Decrypt);
    using PFN_DecryptUpdate = decltype(&::SKF_DecryptUpdate);
    using PFN_DecryptFinal = decltype(&::SKF_DecryptFinal);
    using PFN_DigestInit = decltype(&::SKF_DigestInit);
    using PFN_Digest = decltype(&::SKF_Digest);
    using PFN_DigestUpdate = decltype(&::SKF_DigestUpdate);
    using PFN_DigestFinal = decltype(&::SKF_DigestFinal);
    using PFN_MacInit = decltype(&::SKF_MacInit);
    using PFN_Mac = decltype(&::SKF_Mac);
    using PFN_MacUpdate = decltype(&::SKF_MacUpdate);
    using PFN_MacFinal = decltype(&::SKF_MacFinal);
    using PFN_CloseHandle = decltype(&::SKF_CloseHandle);

    template <typename Fn> void Bind(Fn& entry, const char* name);

    void* m_hLib = nullptr;
    PFN_WaitForDevEvent m_pWaitForDevEvent = nullptr;
    PFN_CancelWaitForDevEvent m_pCancelWaitForDevEvent = nullptr;
    PFN_EnumDev m_pEnumDev = nullptr;
    PFN_ConnectDev m_pConnectDev = nullptr;
    PFN_DisConnectDev m_pDisConnectDev = nullptr;
    PFN_GetDevState m_pGetDevState = nullptr;
    PFN_SetLabel m_pSetLabel = nullptr;
    PFN_GetDevInfo m_pGetDevInfo = nullptr;
    PFN_LockDev m_pLockDev = nullptr;
    PFN_UnlockDev m_pUnlockDev = nullptr;
    PFN_Transmit m_pTransmit = nullptr;
    PFN_DevAuth m_pDevAuth = nullptr;
    PFN_ChangeDevAuthKey m_pChangeDevAuthKey = nullptr;
    PFN_ChangePIN m_pChangePIN = nullptr;
    PFN_GetPINInfo m_pGetPINInfo = nullptr;
    PFN_VerifyPIN m_pVerifyPIN = nullptr;
    PFN_UnblockPIN m_pUnblockPIN = nullptr;
    PFN_ClearSecureState m_pClearSecureState = nullptr;
    PFN_CreateApplication m_pCreateApplication = nullptr;
    PFN_EnumApplication m_pEnumApplication = nullptr;
    PFN_DeleteApplication m_pDeleteApplication = nullptr;
    PFN_OpenApplication m_pOpenApplication = nullptr;
    PFN_CloseApplication m_pCloseApplication = nullptr;
    PFN_CreateFile m_pCreateFile = nullptr;
    PFN_DeleteFile m_pDeleteFile = nullptr;
    PFN_EnumFiles m_pEnumFiles = nullptr;
    PFN_GetFileInfo m_pGetFileInfo = nullptr;
    PFN_ReadFile m_pReadFile = nullptr;
    PFN_WriteFile m_pWriteFile = nullptr;
    PFN_CreateContainer m_pCreateContainer = nullptr;
    PFN_DeleteContainer m_pDeleteContainer = nullptr;
    PFN_OpenContainer m_pOpenContainer = nullptr;
    PFN_CloseContainer m_pCloseContainer = nullptr;
    PFN_EnumContainer m_pEnumContainer = nullptr;
    PFN_GetContainerType m_pGetContainerType = nullptr;
    PFN_ExtGetContainerInfo m_pExtGetContainerInfo = nullptr;
    PFN_ImportCertificate m_pImportCertificate = nullptr;
    PFN_ExportCertificate m_pExportCertificate = nullptr;
    PFN_GenRandom m_pGenRandom = nullptr;
    PFN_RSASignData m_pRSASignData = nullptr;
    PFN_RSAVerify m_pRSAVerify = nullptr;
    PFN_GenECCKeyPair m_pGenECCKeyPair = nullptr;
    PFN_ImportECCKeyPair m_pImportECCKeyPair = nullptr;
    PFN_ECCSignData m_pECCSignData = nullptr;
    PFN_ECCVerify m_pECCVerify = nullptr;
    PFN_ECCExportSessionKey m_pECCExportSessionKey = nullptr;
    PFN_ExtECCEncrypt m_pExtECCEncrypt = nullptr;
    PFN_ExtECCDecrypt m_pExtECCDecrypt = nullptr;
    PFN_ExtECCSign m_pExtECCSign = nullptr;
    PFN_ExtECCVerify m_pExtECCVerify = nullptr;
    PFN_GenerateAgreementDataWithECC m_pGenerateAgreementDataWithECC = nullptr;
    PFN_GenerateAgreementDataAndKeyWithECC m_pGenerateAgreementDataAndKeyWithECC = nullptr;
    PFN_GenerateKeyWithECC m_pGenerateKeyWithECC = nullptr;
    PFN_ExportPublicKey m_pExportPublicKey = nullptr;
    PFN_ImportSessionKey m_pImportSessionKey = nullptr;
    PFN_SetSymmKey m_pSetSymmKey = nullptr;
    PFN_EncryptInit m_pEncryptInit = nullptr;
    PFN_Encrypt m_pEncrypt = nullptr;
    PFN_EncryptUpdate m_pEncryptUpdate = nullptr;
    PFN_EncryptFinal m_pEncryptFinal = nullptr;
    PFN_DecryptInit m_pDecryptInit = nullptr;
    PFN_Decrypt m_pDecrypt = nullptr;
    PFN_DecryptUpdate m_pDecryptUpdate = nullptr;
    PFN_DecryptFinal m_pDecryptFinal = nullptr;
    PFN_DigestInit m_pDigestInit = nullptr;
    PFN_Digest m_pDigest = nullptr;
    PFN_DigestUpdate m_pDigestUpdate = nullptr;
    PFN_DigestFinal m_pDigestFinal = nullptr;
    PFN_MacInit m_pMacInit = nullptr;
    PFN_Mac m_pMac = nullptr;
    PFN_MacUpdate m_pMacUpdate = nullptr;
    PFN_MacFinal m_pMacFinal = nullptr;
    PFN_CloseHandle m_pCloseHandle = nullptr;
};
