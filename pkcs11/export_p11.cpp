// The exported PKCS#11 entry points: each one is a shell that runs its implementation (p11_imp.h)
// inside the entry frame, plus the function list that hands all of them out in the standard order.
#include "pkcs11/aux_functions.h"
#include "pkcs11/entry_frame.h"
#include "pkcs11/p11_imp.h"

#include <p11-kit/pkcs11.h>

#define KEYCORE_EXPORT extern "C" __attribute__((visibility("default")))

using keycore::RunP11Entry;
namespace p11 = keycore::p11;

KEYCORE_EXPORT CK_RV C_Initialize(CK_VOID_PTR pInitArgs) {
    return RunP11Entry(p11::Initialize, pInitArgs);
}

KEYCORE_EXPORT CK_RV C_Finalize(CK_VOID_PTR pReserved) {
    return RunP11Entry(p11::Finalize, pReserved);
}

KEYCORE_EXPORT CK_RV C_GetInfo(CK_INFO_PTR pInfo) {
    return RunP11Entry(p11::GetInfo, pInfo);
}

KEYCORE_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    return RunP11Entry(p11::GetFunctionList, ppFunctionList);
}

KEYCORE_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    return RunP11Entry(p11::GetSlotList, tokenPresent, pSlotList, pulCount);
}

KEYCORE_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
    return RunP11Entry(p11::GetSlotInfo, slotID, pInfo);
}

KEYCORE_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
    return RunP11Entry(p11::GetTokenInfo, slotID, pInfo);
}

KEYCORE_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList,
                                        CK_ULONG_PTR pulCount) {
    return RunP11Entry(p11::GetMechanismList, slotID, pMechanismList, pulCount);
}

KEYCORE_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
    return RunP11Entry(p11::GetMechanismInfo, slotID, type, pInfo);
}

KEYCORE_EXPORT CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel) {
    return RunP11Entry(p11::InitToken, slotID, pPin, ulPinLen, pLabel);
}

KEYCORE_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    return RunP11Entry(p11::InitPIN, hSession, pPin, ulPinLen);
}

KEYCORE_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,
                              CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen) {
    return RunP11Entry(p11::SetPIN, hSession, pOldPin, ulOldLen, pNewPin, ulNewLen);
}

KEYCORE_EXPORT CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,
                                   CK_SESSION_HANDLE_PTR phSession) {
    return RunP11Entry(p11::OpenSession, slotID, flags, pApplication, Notify, phSession);
}

KEYCORE_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
    return RunP11Entry(p11::CloseSession, hSession);
}

KEYCORE_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) {
    return RunP11Entry(p11::CloseAllSessions, slotID);
}

KEYCORE_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
    return RunP11Entry(p11::GetSessionInfo, hSession, pInfo);
}

KEYCORE_EXPORT CK_RV C_GetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                                         CK_ULONG_PTR pulOperationStateLen) {
    return RunP11Entry(p11::GetOperationState, hSession, pOperationState, pulOperationStateLen);
}

KEYCORE_EXPORT CK_RV C_SetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                                         CK_ULONG ulOperationStateLen, CK_OBJECT_HANDLE hEncryptionKey,
                                         CK_OBJECT_HANDLE hAuthenticationKey) {
    return RunP11Entry(p11::SetOperationState, hSession, pOperationState, ulOperationStateLen, hEncryptionKey,
                       hAuthenticationKey);
}

KEYCORE_EXPORT CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin,
                             CK_ULONG ulPinLen) {
    return RunP11Entry(p11::Login, hSession, userType, pPin, ulPinLen);
}

KEYCORE_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE hSession) {
    return RunP11Entry(p11::Logout, hSession);
}

KEYCORE_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                                    CK_OBJECT_HANDLE_PTR phObject) {
    return RunP11Entry(p11::CreateObject, hSession, pTemplate, ulCount, phObject);
}

KEYCORE_EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                  CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject) {
    return RunP11Entry(p11::CopyObject, hSession, hObject, pTemplate, ulCount, phNewObject);
}

KEYCORE_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
    return RunP11Entry(p11::DestroyObject, hSession, hObject);
}

KEYCORE_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize) {
    return RunP11Entry(p11::GetObjectSize, hSession, hObject, pulSize);
}

KEYCORE_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                         CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    return RunP11Entry(p11::GetAttributeValue, hSession, hObject, pTemplate, ulCount);
}

KEYCORE_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                         CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    return RunP11Entry(p11::SetAttributeValue, hSession, hObject, pTemplate, ulCount);
}

KEYCORE_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    return RunP11Entry(p11::FindObjectsInit, hSession, pTemplate, ulCount);
}

KEYCORE_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                                   CK_ULONG_PTR pulObjectCount) {
    return RunP11Entry(p11::FindObjects, hSession, phObject, ulMaxObjectCount, pulObjectCount);
}

KEYCORE_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) {
    return RunP11Entry(p11::FindObjectsFinal, hSession);
}

KEYCORE_EXPORT CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return RunP11Entry(p11::EncryptInit, hSession, pMechanism, hKey);
}

KEYCORE_EXPORT CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                               CK_BYTE_PTR pEncryptedData, CK_ULONG_PTR pulEncryptedDataLen) {
    return RunP11Entry(p11::Encrypt, hSession, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen);
}

KEYCORE_EXPORT CK_RV C_EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                     CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen) {
    return RunP11Entry(p11::EncryptUpdate, hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen);
}

KEYCORE_EXPORT CK_RV C_EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart,
                                    CK_ULONG_PTR pulLastEncryptedPartLen) {
    return RunP11Entry(p11::EncryptFinal, hSession, pLastEncryptedPart, pulLastEncryptedPartLen);
}

KEYCORE_EXPORT CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return RunP11Entry(p11::DecryptInit, hSession, pMechanism, hKey);
}

KEYCORE_EXPORT CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
                               CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen) {
    return RunP11Entry(p11::Decrypt, hSession, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
}

KEYCORE_EXPORT CK_RV C_DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                     CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) {
    return RunP11Entry(p11::DecryptUpdate, hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen);
}

KEYCORE_EXPORT CK_RV C_DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen) {
    return RunP11Entry(p11::DecryptFinal, hSession, pLastPart, pulLastPartLen);
}

KEYCORE_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) {
    return RunP11Entry(p11::DigestInit, hSession, pMechanism);
}

KEYCORE_EXPORT CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
                              CK_ULONG_PTR pulDigestLen) {
    return RunP11Entry(p11::Digest, hSession, pData, ulDataLen, pDigest, pulDigestLen);
}

KEYCORE_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    return RunP11Entry(p11::DigestUpdate, hSession, pPart, ulPartLen);
}

KEYCORE_EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey) {
    return RunP11Entry(p11::DigestKey, hSession, hKey);
}

KEYCORE_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
    return RunP11Entry(p11::DigestFinal, hSession, pDigest, pulDigestLen);
}

KEYCORE_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return RunP11Entry(p11::SignInit, hSession, pMechanism, hKey);
}

KEYCORE_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                            CK_ULONG_PTR pulSignatureLen) {
    return RunP11Entry(p11::Sign, hSession, pData, ulDataLen, pSignature, pulSignatureLen);
}

KEYCORE_EXPORT CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    return RunP11Entry(p11::SignUpdate, hSession, pPart, ulPartLen);
}

KEYCORE_EXPORT CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    return RunP11Entry(p11::SignFinal, hSession, pSignature, pulSignatureLen);
}

KEYCORE_EXPORT CK_RV C_SignRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return RunP11Entry(p11::SignRecoverInit, hSession, pMechanism, hKey);
}

KEYCORE_EXPORT CK_RV C_SignRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                                   CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    return RunP11Entry(p11::SignRecover, hSession, pData, ulDataLen, pSignature, pulSignatureLen);
}

KEYCORE_EXPORT CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return RunP11Entry(p11::VerifyInit, hSession, pMechanism, hKey);
}

KEYCORE_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                              CK_ULONG ulSignatureLen) {
    return RunP11Entry(p11::Verify, hSession, pData, ulDataLen, pSignature, ulSignatureLen);
}

KEYCORE_EXPORT CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    return RunP11Entry(p11::VerifyUpdate, hSession, pPart, ulPartLen);
}

KEYCORE_EXPORT CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    return RunP11Entry(p11::VerifyFinal, hSession, pSignature, ulSignatureLen);
}

KEYCORE_EXPORT CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                         CK_OBJECT_HANDLE hKey) {
    return RunP11Entry(p11::VerifyRecoverInit, hSession, pMechanism, hKey);
}

KEYCORE_EXPORT CK_RV C_VerifyRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen,
                                     CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen) {
    return RunP11Entry(p11::VerifyRecover, hSession, pSignature, ulSignatureLen, pData, pulDataLen);
}

KEYCORE_EXPORT CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                           CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen) {
    return RunP11Entry(p11::DigestEncryptUpdate, hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen);
}

KEYCORE_EXPORT CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                           CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) {
    return RunP11Entry(p11::DecryptDigestUpdate, hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen);
}

KEYCORE_EXPORT CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                         CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen) {
    return RunP11Entry(p11::SignEncryptUpdate, hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen);
}

KEYCORE_EXPORT CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                           CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) {
    return RunP11Entry(p11::DecryptVerifyUpdate, hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen);
}

KEYCORE_EXPORT CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                                   CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) {
    return RunP11Entry(p11::GenerateKey, hSession, pMechanism, pTemplate, ulCount, phKey);
}

KEYCORE_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                       CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                                       CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                                       CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey) {
    return RunP11Entry(p11::GenerateKeyPair, hSession, pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount,
                       pPrivateKeyTemplate, ulPrivateKeyAttributeCount, phPublicKey, phPrivateKey);
}

KEYCORE_EXPORT CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
                               CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen) {
    return RunP11Entry(p11::WrapKey, hSession, pMechanism, hWrappingKey, hKey, pWrappedKey, pulWrappedKeyLen);
}

KEYCORE_EXPORT CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                 CK_OBJECT_HANDLE hUnwrappingKey, CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen,
                                 CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
    return RunP11Entry(p11::UnwrapKey, hSession, pMechanism, hUnwrappingKey, pWrappedKey, ulWrappedKeyLen, pTemplate,
                       ulAttributeCount, phKey);
}

KEYCORE_EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                                 CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
    return RunP11Entry(p11::DeriveKey, hSession, pMechanism, hBaseKey, pTemplate, ulAttributeCount, phKey);
}

KEYCORE_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen) {
    return RunP11Entry(p11::SeedRandom, hSession, pSeed, ulSeedLen);
}

KEYCORE_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen) {
    return RunP11Entry(p11::GenerateRandom, hSession, pRandomData, ulRandomLen);
}

KEYCORE_EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE hSession) {
    return RunP11Entry(p11::GetFunctionStatus, hSession);
}

KEYCORE_EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE hSession) {
    return RunP11Entry(p11::CancelFunction, hSession);
}

KEYCORE_EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved) {
    return RunP11Entry(p11::WaitForSlotEvent, flags, pSlot, pReserved);
}

namespace {

// Version 2.40 and the 68 functions in the order of the standard's function list.
CK_FUNCTION_LIST g_functionList = {
    {2, 40},

    C_Initialize,

    C_Finalize,

    C_GetInfo,

    C_GetFunctionList,

    C_GetSlotList,

    C_GetSlotInfo,

    C_GetTokenInfo,

    C_GetMechanismList,

    C_GetMechanismInfo,

    C_InitToken,

    C_InitPIN,

    C_SetPIN,

    C_OpenSession,

    C_CloseSession,

    C_CloseAllSessions,

    C_GetSessionInfo,

    C_GetOperationState,

    C_SetOperationState,

    C_Login,

    C_Logout,

    C_CreateObject,

    C_CopyObject,

    C_DestroyObject,

    C_GetObjectSize,

    C_GetAttributeValue,

    C_SetAttributeValue,

    C_FindObjectsInit,

    C_FindObjects,

    C_FindObjectsFinal,

    C_EncryptInit,

    C_Encrypt,

    C_EncryptUpdate,

    C_EncryptFinal,

    C_DecryptInit,

    C_Decrypt,

    C_DecryptUpdate,

    C_DecryptFinal,

    C_DigestInit,

    C_Digest,

    C_DigestUpdate,

    C_DigestKey,

    C_DigestFinal,

    C_SignInit,

    C_Sign,

    C_SignUpdate,

    C_SignFinal,

    C_SignRecoverInit,

    C_SignRecover,

    C_VerifyInit,

    C_Verify,

    C_VerifyUpdate,

    C_VerifyFinal,

    C_VerifyRecoverInit,

    C_VerifyRecover,

    C_DigestEncryptUpdate,

    C_DecryptDigestUpdate,

    C_SignEncryptUpdate,

    C_DecryptVerifyUpdate,

    C_GenerateKey,

    C_GenerateKeyPair,

    C_WrapKey,

    C_UnwrapKey,

    C_DeriveKey,

    C_SeedRandom,

    C_GenerateRandom,

    C_GetFunctionStatus,

    C_CancelFunction,

    C_WaitForSlotEvent,

};

} // namespace

namespace keycore::p11 {

// Needs no C_Initialize and does not build the environment.
CK_RV GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    if (ppFunctionList == nullptr)
        return CKR_ARGUMENTS_BAD;
    *ppFunctionList = &g_functionList;
    return CKR_OK;
}

} // namespace keycore::p11

// The vendor table of slot-level extension functions.
KEYCORE_EXPORT CK_RV E_GetAuxFunctionList(keycore::AUX_FUNC_LIST_PTR_PTR ppAuxFunc) {
    return RunP11Entry(keycore::GetAuxFunctionList, ppAuxFunc);
}
