// The exported SKF entry points of one family. Session keys and the symmetric ciphers that use them.
#include "keycore/skf.h"
#include "skf/skf_cipher.h"
#include "skf/skf_frame.h"

#define KEYCORE_EXPORT extern "C" __attribute__((visibility("default")))

using keycore::RunSkfEntry;

KEYCORE_EXPORT ULONG SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen,
                                          HANDLE* phKey) {
    return RunSkfEntry(
        [&] { return keycore::SkfImportSessionKey(hContainer, ulAlgId, pbWrapedData, ulWrapedLen, phKey); });
}

KEYCORE_EXPORT ULONG SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey) {
    return RunSkfEntry([&] { return keycore::SkfSetSymmKey(hDev, pbKey, ulAlgID, phKey); });
}

KEYCORE_EXPORT ULONG SKF_EncryptInit(HANDLE hKey, BLOCKCIPHERPARAM EncryptParam) {
    return RunSkfEntry([&] { return keycore::SkfCipherInit(hKey, EncryptParam, true); });
}

KEYCORE_EXPORT ULONG SKF_Encrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                                 ULONG* pulEncryptedLen) {
    return RunSkfEntry([&] { return keycore::SkfEncrypt(hKey, pbData, ulDataLen, pbEncryptedData, pulEncryptedLen); });
}

KEYCORE_EXPORT ULONG SKF_EncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                                       ULONG* pulEncryptedLen) {
    return RunSkfEntry(
        [&] { return keycore::SkfEncryptUpdate(hKey, pbData, ulDataLen, pbEncryptedData, pulEncryptedLen); });
}

KEYCORE_EXPORT ULONG SKF_EncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen) {
    return RunSkfEntry([&] { return keycore::SkfEncryptFinal(hKey, pbEncryptedData, pulEncryptedDataLen); });
}

KEYCORE_EXPORT ULONG SKF_DecryptInit(HANDLE hKey, BLOCKCIPHERPARAM DecryptParam) {
    return RunSkfEntry([&] { return keycore::SkfCipherInit(hKey, DecryptParam, false); });
}

KEYCORE_EXPORT ULONG SKF_Decrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                                 ULONG* pulDataLen) {
    return RunSkfEntry([&] { return keycore::SkfDecrypt(hKey, pbEncryptedData, ulEncryptedLen, pbData, pulDataLen); });
}

KEYCORE_EXPORT ULONG SKF_DecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                                       ULONG* pulDataLen) {
    return RunSkfEntry(
        [&] { return keycore::SkfDecryptUpdate(hKey, pbEncryptedData, ulEncryptedLen, pbData, pulDataLen); });
}

KEYCORE_EXPORT ULONG SKF_DecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen) {
    return RunSkfEntry([&] { return keycore::SkfDecryptFinal(hKey, pbDecryptedData, pulDecryptedDataLen); });
}
