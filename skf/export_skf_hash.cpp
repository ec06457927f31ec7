// The exported SKF entry points of one family. Digests and MACs.
#include "keycore/skf.h"
#include "skf/skf_cipher.h"
#include "skf/skf_frame.h"

#define KEYCORE_EXPORT extern "C" __attribute__((visibility("default")))

using keycore::RunSkfEntry;

KEYCORE_EXPORT ULONG SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, BYTE* pbID, ULONG ulIDLen,
                                    HANDLE* phHash) {
    return RunSkfEntry([&] { return keycore::SkfDigestInit(hDev, ulAlgID, pPubKey, pbID, ulIDLen, phHash); });
}

KEYCORE_EXPORT ULONG SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen) {
    return RunSkfEntry([&] { return keycore::SkfDigest(hHash, pbData, ulDataLen, pbHashData, pulHashLen); });
}

KEYCORE_EXPORT ULONG SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen) {
    return RunSkfEntry([&] { return keycore::SkfDigestUpdate(hHash, pbData, ulDataLen); });
}

KEYCORE_EXPORT ULONG SKF_DigestFinal(HANDLE hHash, BYTE* pbHashData, ULONG* pulHashLen) {
    return RunSkfEntry([&] { return keycore::SkfDigestFinal(hHash, pbHashData, pulHashLen); });
}

KEYCORE_EXPORT ULONG SKF_MacInit(HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac) {
    return RunSkfEntry([&] { return keycore::SkfMacInit(hKey, pMacParam, phMac); });
}

KEYCORE_EXPORT ULONG SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen) {
    return RunSkfEntry([&] { return keycore::SkfMac(hMac, pbData, ulDataLen, pbMacData, pulMacLen); });
}

KEYCORE_EXPORT ULONG SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen) {
    return RunSkfEntry([&] { return keycore::SkfMacUpdate(hMac, pbData, ulDataLen); });
}

KEYCORE_EXPORT ULONG SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen) {
    return RunSkfEntry([&] { return keycore::SkfMacFinal(hMac, pbMacData, pulMacDataLen); });
}
