// The token steps shared by the cipher functions: pieces of an update, the final in the re-select
// loop, and the status tables of the cipher commands.

#include "skf/skf_cipher.h"
#include "skf/skf_cipher_blocks.h"
#include "skf/skf_storage.h"

#include "runtime/secure_wipe.h"

#include <algorithm>
#include <cstring>

namespace keycore {

namespace {

constexpr TokenStatus kSwApplicationNeedsSelect = 0x6984;

// After a failed update: the token is made ready for the next call, this one fails.
ULONG AfterFailedUpdate(SkfSlotUse& use, TokenStatus status) {
    if (status == kSwApplicationNeedsSelect) {
        uint16_t appId = 0;
        if (use.token.OpenApplication(use.handle.m_appName.c_str(), &appId) != kSwSuccess)
            return SAR_APPLICATION_NOT_EXISTS;
        return SAR_FAIL;
    }
    if (status == kSwApplicationNotSelected || status == kSwContainerNotOpen) {
        uint16_t conId = 0;
        if (use.token.OpenContainer(AppIdOf(use.handle), use.handle.m_conName.c_str(), &conId) != kSwSuccess)
            return SAR_FILE_NOT_EXIST;
        return SAR_FAIL;
    }
    return SarFromCipherStatus(status);
}

} // namespace

ULONG SarFromCipherStatus(TokenStatus status) {
    return TranslateWith(
        status,
        {{kSwSuccess, SAR_OK}, {0x6982, SAR_USER_NOT_LOGGED_IN}, {0x6A88, SAR_OBJERR}, {0x6A8C, SAR_KEYNOTFOUNTERR}});
}

ULONG RunCipherCommandWithReselect(SkfSlotUse& use, const std::function<TokenStatus()>& command) {
    ULONG result = SAR_OK;
    const TokenStatus status = RunWithReselect(use, {kSwApplicationNotSelected}, true, command, &result);
    if (result != SAR_OK)
        return result;
    return SarFromCipherStatus(status);
}

ULONG RunCipherUpdate(SkfSlotUse& use, const CSessionKeyHandle& key, bool encrypt,
                      const std::vector<unsigned char>& data, unsigned char* out) {
    const uint32_t algId = static_cast<uint32_t>(key.m_algId);
    for (size_t offset = 0; offset < data.size(); offset += kCipherPiece) {
        const size_t piece = std::min(kCipherPiece, data.size() - offset);
        CK_ULONG outLen = piece;
        const TokenStatus status =
            IsLooseKey(key) ? use.token.CipherUpdateWithIv(encrypt, algId, key.m_iv.data(), key.m_iv.size(),
                                                           data.data() + offset, piece, out + offset, &outLen)
                            : use.token.CipherUpdate(encrypt, AppIdOf(key), ConIdOf(key), KeyIdOf(key),
                                                     data.data() + offset, piece, out + offset, &outLen);
        if (status != kSwSuccess)
            return AfterFailedUpdate(use, status);
        // Block ciphers give back as many bytes as they take; any other answer is not ours to pass on.
        if (outLen != piece)
            return SAR_FAIL;
    }
    return SAR_OK;
}

ULONG RunCipherFinal(SkfSlotUse& use, const CSessionKeyHandle& key, bool encrypt,
                     const std::vector<unsigned char>& data, std::vector<unsigned char>* answer) {
    const uint32_t algId = static_cast<uint32_t>(key.m_algId);
    unsigned char block[kCipherBlock] = {};
    CK_ULONG blockLen = 0;
    // A loose key's chain is ended with the final sub-command in both directions, so that the next
    // operation with the same key and IV starts afresh on the token.
    const ULONG rv = RunCipherCommandWithReselect(use, [&] {
        blockLen = sizeof block;
        return IsLooseKey(key) ? use.token.CipherFinalWithIv(encrypt, algId, key.m_iv.data(), key.m_iv.size(),
                                                             data.data(), data.size(), block, &blockLen)
                               : use.token.CipherFinal(encrypt, AppIdOf(key), ConIdOf(key), KeyIdOf(key), data.data(),
                                                       data.size(), block, &blockLen);
    });
    if (rv == SAR_OK)
        answer->assign(block, block + blockLen);
    SecureWipe(block, sizeof block);
    return rv;
}

} // namespace keycore
