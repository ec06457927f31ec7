// MACs with a session key on the token: whole blocks go to the token as they come, the last partial
// block waits in the handle and is padded (0x80, then zeros) by the final.

#include "skf/skf_cipher.h"
#include "skf/skf_cipher_blocks.h"
#include "skf/skf_storage.h"

#include "runtime/secure_wipe.h"

#include <algorithm>
#include <cstring>

namespace keycore {

namespace {

constexpr ULONG kMacLen = 16;
constexpr ULONG kMaxIvLen = sizeof(BLOCKCIPHERPARAM::IV);

template <typename Body> ULONG WithMac(HANDLE hMac, Body body) {
    return WithKindSlot(FindMac(hMac), SAR_INVALIDHANDLEERR, body);
}

} // namespace

ULONG SkfMacInit(HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac) {
    if (hKey == nullptr || pMacParam == nullptr || phMac == nullptr || pMacParam->IVLen > kMaxIvLen)
        return SAR_INVALIDPARAMERR;
    const BLOCKCIPHERPARAM param = *pMacParam;
    return WithKindSlot(
        FindSessionKey(hKey), SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use, CSessionKeyHandle& key) -> ULONG {
            const ULONG rv = RunCipherCommandWithReselect(use, [&] {
                return use.token.MacInit(AppIdOf(key), ConIdOf(key), KeyIdOf(key), static_cast<uint32_t>(key.m_algId),
                                         param.IV, param.IVLen, param.PaddingType, param.FeedBitLen);
            });
            if (rv != SAR_OK)
                return rv;
            auto mac = std::make_shared<CMacHandle>();
            CopyContainerFields(key, mac.get());
            mac->m_keyId = key.m_keyId;
            mac->m_algId = key.m_algId;
            mac->m_iv.assign(param.IV, param.IV + param.IVLen);
            mac->m_ivLen = param.IVLen;
            mac->m_padding = param.PaddingType;
            *phMac = GMHandles::Table().Add(std::move(mac));
            return SAR_OK;
        });
}

ULONG SkfMacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen) {
    if (hMac == nullptr || pbData == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithMac(hMac, [&](SkfSlotUse& use, CMacHandle& mac) -> ULONG {
        BlockPlan plan;
        PlanMacUpdate(mac.m_pending, pbData, ulDataLen, &plan);
        SecureWipe(mac.m_pending);
        mac.m_pending.swap(plan.keep);
        if (plan.send.empty())
            return mac.m_pending.empty() ? SAR_FAIL : SAR_OK;
        for (size_t offset = 0; offset < plan.send.size(); offset += kCipherPiece) {
            const size_t piece = std::min(kCipherPiece, plan.send.size() - offset);
            const ULONG rv = RunCipherCommandWithReselect(use, [&] {
                return use.token.MacUpdate(AppIdOf(mac), ConIdOf(mac), KeyIdOf(mac), plan.send.data() + offset, piece);
            });
            if (rv != SAR_OK)
                return rv;
        }
        return SAR_OK;
    });
}

ULONG SkfMacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen) {
    if (hMac == nullptr || pulMacDataLen == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithMac(hMac, [&](SkfSlotUse& use, CMacHandle& mac) -> ULONG {
        if (*pulMacDataLen < kMacLen)
            return SAR_BUFFER_TOO_SMALL;
        *pulMacDataLen = kMacLen;
        if (pbMacData == nullptr)
            return SAR_OK;
        std::vector<unsigned char> last = MacFinalBlock(mac.m_pending);
        SecureWipe(mac.m_pending);
        mac.m_pending.clear();
        unsigned char answer[kMacLen] = {};
        CK_ULONG answerLen = 0;
        const ULONG rv = RunCipherCommandWithReselect(use, [&] {
            answerLen = sizeof answer;
            return use.token.MacFinal(AppIdOf(mac), ConIdOf(mac), KeyIdOf(mac), last.data(), last.size(), answer,
                                      &answerLen);
        });
        SecureWipe(last);
        if (rv != SAR_OK)
            return rv;
        if (answerLen != kMacLen)
            return SAR_FAIL;
        std::memcpy(pbMacData, answer, kMacLen);
        return SAR_OK;
    });
}

ULONG SkfMac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen) {
    if (hMac == nullptr || pbData == nullptr || ulDataLen == 0 || pulMacLen == nullptr)
        return SAR_INVALIDPARAMERR;
    if (pbMacData == nullptr) {
        if (!FindMac(hMac))
            return SAR_INVALIDHANDLEERR;
        *pulMacLen = kMacLen;
        return SAR_OK;
    }
    // Checked before the data go to the token, so that a short buffer does not spend the MAC.
    if (*pulMacLen < kMacLen)
        return SAR_BUFFER_TOO_SMALL;
    const ULONG rv = SkfMacUpdate(hMac, pbData, ulDataLen);
    if (rv != SAR_OK)
        return rv;
    return SkfMacFinal(hMac, pbMacData, pulMacLen);
}

} // namespace keycore
