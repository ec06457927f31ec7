// The exported SKF entry points of one family. SM2 keys: generation, import, signatures, session-key
// export, external-key operations, key agreement and public-key export.
// Until the family is built its functions answer SAR_NOTSUPPORTYETERR.
#include "keycore/skf.h"
#include "skf/skf_frame.h"

#define KEYCORE_EXPORT extern "C" __attribute__((visibility("default")))

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
