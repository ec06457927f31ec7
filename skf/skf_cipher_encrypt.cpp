// Encryption and decryption with a session key, in one call or in init/update/final steps. The
// cipher runs on the token; the held-back bytes between calls, the padding and the pieces are ours.

#include "skf/skf_answer.h"
#include "skf/skf_cipher.h"
#include "skf/skf_cipher_blocks.h"

#include "runtime/secure_wipe.h"

#include <cstring>

namespace keycore {

namespace {

using Operation = CSessionKeyHandle::Operation;

constexpr ULONG kMaxIvLen = sizeof(BLOCKCIPHERPARAM::IV);

// The cipher handle lookup: a value that is not a session key is no handle for these functions.
template <typename Body> ULONG WithSessionKey(HANDLE hKey, Body body) {
    return WithKindSlot(FindSessionKey(hKey), SAR_INVALIDHANDLEERR, body);
}

bool PaddingOn(const CSessionKeyHandle& key) {
    return key.m_padding != 0;
}

void ReplacePending(CSessionKeyHandle& key, std::vector<unsigned char>& bytes) {
    SecureWipe(key.m_pending);
    key.m_pending.swap(bytes);
}

void EndOperation(CSessionKeyHandle& key) {
    SecureWipe(key.m_pending);
    key.m_pending.clear();
    key.m_updated = 0;
    key.m_operation = Operation::None;
}

ULONG EncryptUpdateLocked(SkfSlotUse& use, CSessionKeyHandle& key, const unsigned char* pbData, ULONG ulDataLen,
                          unsigned char* pbOut, ULONG* pulOutLen) {
    if (key.m_operation != Operation::Encrypt)
        return SAR_FAIL;
    const bool padding = PaddingOn(key);
    const size_t outLen = EncryptUpdateLength(key.m_pending, ulDataLen, padding);
    ULONG early = SAR_OK;
    if (AnsweredWithLength(pbOut, pulOutLen, outLen, &early))
        return early;
    BlockPlan plan;
    const ULONG planned = PlanEncryptUpdate(key.m_pending, pbData, ulDataLen, padding, &plan);
    if (planned != SAR_OK)
        return planned;
    ReplacePending(key, plan.keep);
    key.m_updated = 0;
    const ULONG rv = RunCipherUpdate(use, key, true, plan.send, pbOut);
    if (rv != SAR_OK)
        return rv;
    *pulOutLen = static_cast<ULONG>(plan.send.size());
    return SAR_OK;
}

ULONG EncryptFinalLocked(SkfSlotUse& use, CSessionKeyHandle& key, unsigned char* pbOut, ULONG* pulOutLen) {
    if (key.m_operation != Operation::Encrypt)
        return SAR_FAIL;
    std::vector<unsigned char> last = EncryptFinalBlock(key.m_pending, PaddingOn(key));
    ULONG early = SAR_OK;
    if (AnsweredWithLength(pbOut, pulOutLen, last.size(), &early)) {
        SecureWipe(last);
        return early;
    }
    EndOperation(key);
    std::vector<unsigned char> answer;
    const ULONG rv = RunCipherFinal(use, key, true, last, &answer);
    SecureWipe(last);
    if (rv != SAR_OK)
        return rv;
    if (answer.size() > *pulOutLen)
        return SAR_FAIL;
    if (!answer.empty())
        std::memcpy(pbOut, answer.data(), answer.size());
    *pulOutLen = static_cast<ULONG>(answer.size());
    return SAR_OK;
}

// The one-shot forms: the update writes to the front of the caller's room (updateRoom of the whole
// room bytes), the final to what the update left; *pulOutLen receives both together.
template <typename Update, typename Final>
ULONG UpdateThenFinal(BYTE* out, ULONG updateRoom, size_t room, ULONG* pulOutLen, Update update, Final finish) {
    ULONG updateLen = updateRoom;
    ULONG rv = update(&updateLen);
    if (rv != SAR_OK)
        return rv;
    ULONG finalLen = static_cast<ULONG>(room - updateLen);
    rv = finish(out + updateLen, &finalLen);
    if (rv != SAR_OK)
        return rv;
    *pulOutLen = updateLen + finalLen;
    return SAR_OK;
}

// The length a decryption of the input leaves for its final step: the held-back bytes.
size_t DecryptFinalLength(const CSessionKeyHandle& key, size_t dataLen) {
    return key.m_pending.size() + dataLen - DecryptUpdateLength(key.m_pending.size(), dataLen, PaddingOn(key));
}

ULONG DecryptUpdateLocked(SkfSlotUse& use, CSessionKeyHandle& key, const unsigned char* pbData, ULONG ulDataLen,
                          unsigned char* pbOut, ULONG* pulOutLen) {
    if (key.m_operation != Operation::Decrypt)
        return SAR_FAIL;
    const bool padding = PaddingOn(key);
    const size_t outLen = DecryptUpdateLength(key.m_pending.size(), ulDataLen, padding);
    ULONG early = SAR_OK;
    if (AnsweredWithLength(pbOut, pulOutLen, outLen, &early))
        return early;
    BlockPlan plan;
    const ULONG planned = PlanDecryptUpdate(key.m_pending, pbData, ulDataLen, padding, &plan);
    if (planned != SAR_OK)
        return planned;
    ReplacePending(key, plan.keep);
    if (plan.send.empty()) {
        *pulOutLen = 0;
        return SAR_OK;
    }
    SecureBytes work(plan.send.size());
    const ULONG rv = RunCipherUpdate(use, key, false, plan.send, work.data());
    if (rv != SAR_OK)
        return rv;
    std::memcpy(pbOut, work.data(), work.size());
    *pulOutLen = static_cast<ULONG>(work.size());
    return SAR_OK;
}

ULONG DecryptFinalLocked(SkfSlotUse& use, CSessionKeyHandle& key, unsigned char* pbOut, ULONG* pulOutLen) {
    if (key.m_operation != Operation::Decrypt)
        return SAR_FAIL;
    // The held-back bytes bound the output; the caller's buffer must hold that much before the last
    // block is spent on the token.
    const size_t bound = key.m_pending.size();
    ULONG early = SAR_OK;
    if (AnsweredWithLength(pbOut, pulOutLen, bound, &early))
        return early;
    std::vector<unsigned char> last;
    last.swap(key.m_pending);
    const bool padding = PaddingOn(key);
    EndOperation(key);
    std::vector<unsigned char> answer;
    const ULONG rv = RunCipherFinal(use, key, false, last, &answer);
    SecureWipe(last);
    if (rv != SAR_OK)
        return rv;
    const size_t plainLen = padding ? UnpaddedLength(answer.data(), answer.size()) : answer.size();
    if (plainLen > *pulOutLen) {
        SecureWipe(answer);
        return SAR_FAIL;
    }
    if (plainLen != 0)
        std::memcpy(pbOut, answer.data(), plainLen);
    *pulOutLen = static_cast<ULONG>(plainLen);
    SecureWipe(answer);
    return SAR_OK;
}

bool MissingStreamArgument(HANDLE hKey, const BYTE* pbIn, ULONG ulInLen, const ULONG* pulOutLen) {
    return hKey == nullptr || pbIn == nullptr || ulInLen == 0 || pulOutLen == nullptr;
}

} // namespace

ULONG SkfCipherInit(HANDLE hKey, const BLOCKCIPHERPARAM& param, bool encrypt) {
    if (hKey == nullptr || param.IVLen > kMaxIvLen || param.PaddingType > 1)
        return SAR_INVALIDPARAMERR;
    return WithSessionKey(hKey, [&](SkfSlotUse& use, CSessionKeyHandle& key) -> ULONG {
        if (!IsLooseKey(key)) {
            const ULONG rv = RunCipherCommandWithReselect(use, [&] {
                return use.token.CipherInit(encrypt, static_cast<uint16_t>(key.m_appId),
                                            static_cast<uint16_t>(key.m_conId), static_cast<uint16_t>(key.m_keyId),
                                            static_cast<uint32_t>(key.m_algId), param.IV, param.IVLen,
                                            param.PaddingType, param.FeedBitLen);
            });
            if (rv != SAR_OK) {
                // Whatever ran before is gone on the token too.
                EndOperation(key);
                return rv;
            }
        }
        EndOperation(key);
        SecureWipe(key.m_iv);
        key.m_iv.assign(param.IV, param.IV + param.IVLen);
        key.m_ivLen = param.IVLen;
        key.m_padding = param.PaddingType;
        key.m_operation = encrypt ? Operation::Encrypt : Operation::Decrypt;
        return SAR_OK;
    });
}

ULONG SkfEncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen) {
    if (MissingStreamArgument(hKey, pbData, ulDataLen, pulEncryptedLen))
        return SAR_INVALIDPARAMERR;
    return WithSessionKey(hKey, [&](SkfSlotUse& use, CSessionKeyHandle& key) {
        return EncryptUpdateLocked(use, key, pbData, ulDataLen, pbEncryptedData, pulEncryptedLen);
    });
}

ULONG SkfEncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen) {
    if (hKey == nullptr || pulEncryptedDataLen == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithSessionKey(hKey, [&](SkfSlotUse& use, CSessionKeyHandle& key) {
        return EncryptFinalLocked(use, key, pbEncryptedData, pulEncryptedDataLen);
    });
}

ULONG SkfEncrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen) {
    if (MissingStreamArgument(hKey, pbData, ulDataLen, pulEncryptedLen))
        return SAR_INVALIDPARAMERR;
    return WithSessionKey(hKey, [&](SkfSlotUse& use, CSessionKeyHandle& key) -> ULONG {
        if (key.m_operation != Operation::Encrypt)
            return SAR_FAIL;
        const bool padding = PaddingOn(key);
        const size_t total = HeldBackDataLength(key.m_pending, padding) + ulDataLen;
        if (!padding && total % kCipherBlock != 0)
            return SAR_INDATAERR;
        const size_t needed = total - total % kCipherBlock + (padding ? kCipherBlock : 0);
        if (pbEncryptedData != nullptr && *pulEncryptedLen < needed) {
            *pulEncryptedLen = static_cast<ULONG>(needed);
            return SAR_BUFFER_TOO_SMALL;
        }
        *pulEncryptedLen = static_cast<ULONG>(needed);
        if (pbEncryptedData == nullptr)
            return SAR_OK;
        return UpdateThenFinal(
            pbEncryptedData, static_cast<ULONG>(needed), needed, pulEncryptedLen,
            [&](ULONG* len) { return EncryptUpdateLocked(use, key, pbData, ulDataLen, pbEncryptedData, len); },
            [&](BYTE* out, ULONG* len) { return EncryptFinalLocked(use, key, out, len); });
    });
}

ULONG SkfDecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen) {
    if (MissingStreamArgument(hKey, pbEncryptedData, ulEncryptedLen, pulDataLen))
        return SAR_INVALIDPARAMERR;
    return WithSessionKey(hKey, [&](SkfSlotUse& use, CSessionKeyHandle& key) {
        return DecryptUpdateLocked(use, key, pbEncryptedData, ulEncryptedLen, pbData, pulDataLen);
    });
}

ULONG SkfDecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen) {
    if (hKey == nullptr || pulDecryptedDataLen == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithSessionKey(hKey, [&](SkfSlotUse& use, CSessionKeyHandle& key) {
        return DecryptFinalLocked(use, key, pbDecryptedData, pulDecryptedDataLen);
    });
}

ULONG SkfDecrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen) {
    if (MissingStreamArgument(hKey, pbEncryptedData, ulEncryptedLen, pulDataLen))
        return SAR_INVALIDPARAMERR;
    return WithSessionKey(hKey, [&](SkfSlotUse& use, CSessionKeyHandle& key) -> ULONG {
        if (key.m_operation != Operation::Decrypt)
            return SAR_FAIL;
        // Room for everything the update and the final may give back, checked before the token is
        // asked, so that a short buffer never costs the caller the last block.
        const size_t updateLen = DecryptUpdateLength(key.m_pending.size(), ulEncryptedLen, PaddingOn(key));
        const size_t bound = updateLen + DecryptFinalLength(key, ulEncryptedLen);
        ULONG early = SAR_OK;
        if (AnsweredWithLength(pbData, pulDataLen, bound, &early))
            return early;
        return UpdateThenFinal(
            pbData, static_cast<ULONG>(updateLen), bound, pulDataLen,
            [&](ULONG* len) { return DecryptUpdateLocked(use, key, pbEncryptedData, ulEncryptedLen, pbData, len); },
            [&](BYTE* out, ULONG* len) { return DecryptFinalLocked(use, key, out, len); });
    });
}

} // namespace keycore
