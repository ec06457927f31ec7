// The exported SKF entry points of one family. Digests and MACs.
// Until the family is built its functions answer SAR_NOTSUPPORTYETERR.
#include "keycore/skf.h"
#include "skf/skf_frame.h"

#define KEYCORE_EXPORT extern "C" __attribute__((visibility("default")))

KEYCORE_EXPORT ULONG SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, BYTE* pbID, ULONG ulIDLen,
                                    HANDLE* phHash) {
    static_cast<void>(hDev), static_cast<void>(ulAlgID), static_cast<void>(pPubKey), static_cast<void>(pbID),
        static_cast<void>(ulIDLen), static_cast<void>(phHash);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen) {
    static_cast<void>(hHash), static_cast<void>(pbData), static_cast<void>(ulDataLen), static_cast<void>(pbHashData),
        static_cast<void>(pulHashLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen) {
    static_cast<void>(hHash), static_cast<void>(pbData), static_cast<void>(ulDataLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_DigestFinal(HANDLE hHash, BYTE* pbHashData, ULONG* pulHashLen) {
    static_cast<void>(hHash), static_cast<void>(pbHashData), static_cast<void>(pulHashLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_MacInit(HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac) {
    static_cast<void>(hKey), static_cast<void>(pMacParam), static_cast<void>(phMac);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen) {
    static_cast<void>(hMac), static_cast<void>(pbData), static_cast<void>(ulDataLen), static_cast<void>(pbMacData),
        static_cast<void>(pulMacLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen) {
    static_cast<void>(hMac), static_cast<void>(pbData), static_cast<void>(ulDataLen);
    return SAR_NOTSUPPORTYETERR;
}

KEYCORE_EXPORT ULONG SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen) {
    static_cast<void>(hMac), static_cast<void>(pbMacData), static_cast<void>(pulMacDataLen);
    return SAR_NOTSUPPORTYETERR;
}
