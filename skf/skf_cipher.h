#pragma once
// The session-key, cipher, digest and MAC functions behind the exported SKF_* shells, and the pieces
// they share: the bracket of a handle of one kind, the status tables of the cipher, digest and MAC
// commands, and the token steps of a cipher on a session key.

#include "skf/skf_frame.h"
#include "skf/skf_session_key.h"

#include <functional>
#include <memory>
#include <vector>

namespace keycore {

ULONG SkfSetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey);
ULONG SkfImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen, HANDLE* phKey);

ULONG SkfCipherInit(HANDLE hKey, const BLOCKCIPHERPARAM& param, bool encrypt);
ULONG SkfEncrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen);
ULONG SkfEncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen);
ULONG SkfEncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen);
ULONG SkfDecrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen);
ULONG SkfDecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen);
ULONG SkfDecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen);

ULONG SkfDigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, BYTE* pbID, ULONG ulIDLen,
                    HANDLE* phHash);
ULONG SkfDigest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen);
ULONG SkfDigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen);
ULONG SkfDigestFinal(HANDLE hHash, BYTE* pbHashData, ULONG* pulHashLen);

ULONG SkfMacInit(HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac);
ULONG SkfMac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen);
ULONG SkfMacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen);
ULONG SkfMacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen);

// ---- shared by the families above ----

// The identifiers a key handle gives its token commands.
inline uint16_t AppIdOf(const GMHandle& key) {
    return static_cast<uint16_t>(key.m_appId);
}
inline uint16_t ConIdOf(const GMHandle& key) {
    return static_cast<uint16_t>(key.m_conId);
}
inline uint16_t KeyIdOf(const GMHandle& key) {
    return static_cast<uint16_t>(key.m_keyId);
}

// The common shape for a handle already found by kind (null: SAR_INVALIDHANDLEERR): its device present
// and ready (deviceGone otherwise), the slot lock (SAR_MEMORYERR), a token (SAR_INVALIDHANDLEERR).
template <typename Kind, typename Operation>
ULONG WithKindSlot(const std::shared_ptr<Kind>& handle, ULONG deviceGone, Operation operation) {
    if (!handle)
        return SAR_INVALIDHANDLEERR;
    return WithNamedSlot(handle->m_devName, deviceGone, [&](CSlot& slot, CTokenBase& token) -> ULONG {
        SkfSlotUse use{*handle, slot, token};
        return operation(use, *handle);
    });
}

// Status of a cipher command on a session key (and of the MAC commands): 0x6982, 0x6A88, 0x6A8C have
// their own codes, anything else is SAR_FAIL.
ULONG SarFromCipherStatus(TokenStatus status);

// Runs a cipher init or final command in the re-select loop of container-bound operations.
ULONG RunCipherCommandWithReselect(SkfSlotUse& use, const std::function<TokenStatus()>& command);

// One update step of a cipher over whole blocks: the data go to the token in pieces of at most
// kCipherPiece bytes (CipherUpdate for a key in a container, CipherUpdateWithIv for a loose key) and
// the output of each piece lands at the same offset of out, which holds data.size() bytes. An update
// is not retried: the application or container is made ready again for the next call and the call
// fails.
ULONG RunCipherUpdate(SkfSlotUse& use, const CSessionKeyHandle& key, bool encrypt,
                      const std::vector<unsigned char>& data, unsigned char* out);

// The final step (CipherFinal, or CipherFinalWithIv for a loose key) in the re-select loop: data is at
// most one block; the answer (at most one block) goes to answer.
ULONG RunCipherFinal(SkfSlotUse& use, const CSessionKeyHandle& key, bool encrypt,
                     const std::vector<unsigned char>& data, std::vector<unsigned char>* answer);

} // namespace keycore
