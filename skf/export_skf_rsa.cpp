// The exported SKF entry points of one family. RSA keys: generation, import, signatures, session-key
// export and raw operations with external keys.
#include "keycore/skf.h"
#include "skf/skf_frame.h"
#include "skf/skf_rsa.h"

#define KEYCORE_EXPORT extern "C" __attribute__((visibility("default")))

using keycore::RunSkfEntry;

KEYCORE_EXPORT ULONG SKF_GenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob) {
    return RunSkfEntry([&] { return keycore::SkfGenExtRSAKey(hDev, ulBitsLen, pBlob); });
}

KEYCORE_EXPORT ULONG SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob) {
    return RunSkfEntry([&] { return keycore::SkfGenRSAKeyPair(hContainer, ulBitsLen, pBlob); });
}

KEYCORE_EXPORT ULONG SKF_ImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE* pbWrappedKey,
                                          ULONG ulWrappedKeyLen, BYTE* pbEncryptedData, ULONG ulEncryptedDataLen) {
    return RunSkfEntry([&] {
        return keycore::SkfImportRSAKeyPair(hContainer, ulSymAlgId, pbWrappedKey, ulWrappedKeyLen, pbEncryptedData,
                                            ulEncryptedDataLen);
    });
}

KEYCORE_EXPORT ULONG SKF_RSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                                     ULONG* pulSignLen) {
    return RunSkfEntry([&] { return keycore::SkfRSASignData(hContainer, pbData, ulDataLen, pbSignature, pulSignLen); });
}

KEYCORE_EXPORT ULONG SKF_RSAVerify(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                   BYTE* pbSignature, ULONG ulSignLen) {
    return RunSkfEntry(
        [&] { return keycore::SkfRSAVerify(hDev, pRSAPubKeyBlob, pbData, ulDataLen, pbSignature, ulSignLen); });
}

KEYCORE_EXPORT ULONG SKF_RSAExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, RSAPUBLICKEYBLOB* pPubKey,
                                             BYTE* pbData, ULONG* pulDataLen, HANDLE* phSessionKey) {
    return RunSkfEntry([&] {
        return keycore::SkfRSAExportSessionKey(hContainer, ulAlgId, pPubKey, pbData, pulDataLen, phSessionKey);
    });
}

KEYCORE_EXPORT ULONG SKF_ExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbInput,
                                               ULONG ulInputLen, BYTE* pbOutput, ULONG* pulOutputLen) {
    return RunSkfEntry([&] {
        return keycore::SkfExtRSAPubKeyOperation(hDev, pRSAPubKeyBlob, pbInput, ulInputLen, pbOutput, pulOutputLen);
    });
}

KEYCORE_EXPORT ULONG SKF_ExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB* pRSAPriKeyBlob, BYTE* pbInput,
                                               ULONG ulInputLen, BYTE* pbOutput, ULONG* pulOutputLen) {
    return RunSkfEntry([&] {
        return keycore::SkfExtRSAPriKeyOperation(hDev, pRSAPriKeyBlob, pbInput, ulInputLen, pbOutput, pulOutputLen);
    });
}
