// The exported SKF entry points of one family. SM2 keys: generation, import, signatures, session-key
// export, external-key operations, key agreement and public-key export.
#include "keycore/skf.h"
#include "skf/skf_ecc.h"
#include "skf/skf_frame.h"

#define KEYCORE_EXPORT extern "C" __attribute__((visibility("default")))

using keycore::RunSkfEntry;

KEYCORE_EXPORT ULONG SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob) {
    return RunSkfEntry([&] { return keycore::SkfGenECCKeyPair(hContainer, ulAlgId, pBlob); });
}

KEYCORE_EXPORT ULONG SKF_ImportECCKeyPair(HCONTAINER hContainer, PENVELOPEDKEYBLOB pEnvelopedKeyBlob) {
    return RunSkfEntry([&] { return keycore::SkfImportECCKeyPair(hContainer, pEnvelopedKeyBlob); });
}

KEYCORE_EXPORT ULONG SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen,
                                     PECCSIGNATUREBLOB pSignature) {
    return RunSkfEntry([&] { return keycore::SkfECCSignData(hContainer, pbData, ulDataLen, pSignature); });
}

KEYCORE_EXPORT ULONG SKF_ECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                   PECCSIGNATUREBLOB pSignature) {
    return RunSkfEntry([&] { return keycore::SkfECCVerify(hDev, pECCPubKeyBlob, pbData, ulDataLen, pSignature); });
}

KEYCORE_EXPORT ULONG SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey,
                                             PECCCIPHERBLOB pData, HANDLE* phSessionKey) {
    return RunSkfEntry(
        [&] { return keycore::SkfECCExportSessionKey(hContainer, ulAlgId, pPubKey, pData, phSessionKey); });
}

KEYCORE_EXPORT ULONG SKF_ExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText,
                                       ULONG ulPlainTextLen, PECCCIPHERBLOB pCipherText) {
    return RunSkfEntry(
        [&] { return keycore::SkfExtECCEncrypt(hDev, pECCPubKeyBlob, pbPlainText, ulPlainTextLen, pCipherText); });
}

KEYCORE_EXPORT ULONG SKF_ExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, PECCCIPHERBLOB pCipherText,
                                       BYTE* pbPlainText, ULONG* pulPlainTextLen) {
    return RunSkfEntry(
        [&] { return keycore::SkfExtECCDecrypt(hDev, pECCPriKeyBlob, pCipherText, pbPlainText, pulPlainTextLen); });
}

KEYCORE_EXPORT ULONG SKF_ExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                    PECCSIGNATUREBLOB pSignature) {
    return RunSkfEntry([&] { return keycore::SkfExtECCSign(hDev, pECCPriKeyBlob, pbData, ulDataLen, pSignature); });
}

// Verification with a given key is the same operation whoever holds the key.
KEYCORE_EXPORT ULONG SKF_ExtECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                      PECCSIGNATUREBLOB pSignature) {
    return RunSkfEntry([&] { return keycore::SkfECCVerify(hDev, pECCPubKeyBlob, pbData, ulDataLen, pSignature); });
}

KEYCORE_EXPORT ULONG SKF_GenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId,
                                                      ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                                      HANDLE* phAgreementHandle) {
    return RunSkfEntry([&] {
        return keycore::SkfGenerateAgreementDataWithECC(hContainer, ulAlgId, pTempECCPubKeyBlob, pbID, ulIDLen,
                                                        phAgreementHandle);
    });
}

KEYCORE_EXPORT ULONG SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId,
                                                            ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                                            ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                                            ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID,
                                                            ULONG ulIDLen, BYTE* pbSponsorID, ULONG ulSponsorIDLen,
                                                            HANDLE* phKeyHandle) {
    return RunSkfEntry([&] {
        return keycore::SkfGenerateAgreementDataAndKeyWithECC(hContainer, ulAlgId, pSponsorECCPubKeyBlob,
                                                              pSponsorTempECCPubKeyBlob, pTempECCPubKeyBlob, pbID,
                                                              ulIDLen, pbSponsorID, ulSponsorIDLen, phKeyHandle);
    });
}

KEYCORE_EXPORT ULONG SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                                            ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                            HANDLE* phKeyHandle) {
    return RunSkfEntry([&] {
        return keycore::SkfGenerateKeyWithECC(hAgreementHandle, pECCPubKeyBlob, pTempECCPubKeyBlob, pbID, ulIDLen,
                                              phKeyHandle);
    });
}

KEYCORE_EXPORT ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen) {
    return RunSkfEntry([&] { return keycore::SkfExportPublicKey(hContainer, bSignFlag, pbBlob, pulBlobLen); });
}
