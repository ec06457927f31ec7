// The exported SKF entry points of one family. Session keys and the symmetric ciphers that use them.
// Until the family is built its functions answer SAR_NOTSUPPORTYETERR.
#include "keycore/skf.h"
#include "skf/skf_frame.h"

#define KEYCORE_EXPORT extern "C" __attribute__((visibility("default")))

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
