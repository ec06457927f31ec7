#pragma once
// The RSA functions: key pairs generated in a container or handed to the caller, a wrapped key-pair
// import, signatures and their verification, a session key exported under a caller's public key, and
// raw operations with keys the caller supplies. The arithmetic always runs on the token.

#include "keycore/skf.h"

namespace keycore {

ULONG SkfGenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob);
ULONG SkfGenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob);
ULONG SkfImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                          BYTE* pbEncryptedData, ULONG ulEncryptedDataLen);
ULONG SkfRSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature, ULONG* pulSignLen);
ULONG SkfRSAVerify(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                   ULONG ulSignLen);
ULONG SkfRSAExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData,
                             ULONG* pulDataLen, HANDLE* phSessionKey);
ULONG SkfExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbInput, ULONG ulInputLen,
                               BYTE* pbOutput, ULONG* pulOutputLen);
ULONG SkfExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB* pRSAPriKeyBlob, BYTE* pbInput, ULONG ulInputLen,
                               BYTE* pbOutput, ULONG* pulOutputLen);

} // namespace keycore
