#pragma once
// The SM2 functions behind the exported names: container key pairs, signatures, session keys wrapped
// under a public key, operations with keys the caller supplies, the key agreement and the export of a
// container's public key.

#include "keycore/skf.h"

namespace keycore {

ULONG SkfGenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob);
ULONG SkfImportECCKeyPair(HCONTAINER hContainer, ENVELOPEDKEYBLOB* pEnvelopedKeyBlob);
ULONG SkfECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, ECCSIGNATUREBLOB* pSignature);
ULONG SkfECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                   ECCSIGNATUREBLOB* pSignature);
ULONG SkfECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey, ECCCIPHERBLOB* pData,
                             HANDLE* phSessionKey);
ULONG SkfExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText, ULONG ulPlainTextLen,
                       ECCCIPHERBLOB* pCipherText);
ULONG SkfExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, ECCCIPHERBLOB* pCipherText, BYTE* pbPlainText,
                       ULONG* pulPlainTextLen);
ULONG SkfExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData, ULONG ulDataLen,
                    ECCSIGNATUREBLOB* pSignature);
ULONG SkfGenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pTempECCPubKeyBlob,
                                      BYTE* pbID, ULONG ulIDLen, HANDLE* phAgreementHandle);
ULONG SkfGenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                            ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                            ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                            BYTE* pbSponsorID, ULONG ulSponsorIDLen, HANDLE* phKeyHandle);
ULONG SkfGenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                            ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen, HANDLE* phKeyHandle);
ULONG SkfExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen);

} // namespace keycore
