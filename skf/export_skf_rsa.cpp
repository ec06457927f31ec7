// The exported SKF entry points of one family. RSA keys: generation, import, signatures, session-key
// export and raw operations with external keys.
// Until the family is built its functions answer SAR_NOTSUPPORTYETERR.
#include "keycore/skf.h"
#include "skf/skf_frame.h"

#define KEYCORE_EXPORT extern "C" __attribute__((visibility("default")))

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
