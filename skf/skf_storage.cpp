#include "skf/skf_storage.h"

#include <algorithm>

namespace keycore {

ULONG TranslateWith(TokenStatus status, std::initializer_list<SkfStatusRow> table) {
    for (const SkfStatusRow& row : table) {
        if (row.status == status)
            return row.result;
    }
    return SAR_FAIL;
}

ULONG RunCloseCall(const void* value, const std::function<ULONG(SkfSlotUse&)>& close) {
    GMHandles& table = GMHandles::Table();
    const std::shared_ptr<GMHandle> handle = table.Find(value);
    if (!handle)
        return SAR_INVALIDHANDLEERR;
    CSlot* slot = FindSlotByDevName(handle->m_devName);
    if (slot == nullptr) {
        table.Remove(value);
        return SAR_OK;
    }
    CSlotLockHolder holder(*slot);
    if (holder.Result() != CKR_OK)
        return SAR_MEMORYERR;
    CTokenBase* token = slot->GetToken();
    if (token == nullptr) {
        table.Remove(value);
        return SAR_OK;
    }
    SkfSlotUse use{*handle, *slot, *token};
    const ULONG rv = close(use);
    if (rv == SAR_OK)
        table.Remove(value);
    return rv;
}

TokenStatus RunWithReselect(SkfSlotUse& use, std::initializer_list<TokenStatus> reselectOn, bool reopenContainer,
                            const std::function<TokenStatus()>& op, ULONG* pResult) {
    *pResult = SAR_OK;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const TokenStatus status = op();
        const bool reselect = std::find(reselectOn.begin(), reselectOn.end(), status) != reselectOn.end();
        const bool reopen = reopenContainer && (reselect || status == kSwContainerNotOpen);
        if (!reselect && !reopen)
            return status;
        if (reselect) {
            uint16_t appId = 0;
            if (use.token.OpenApplication(use.handle.m_appName.c_str(), &appId) != kSwSuccess) {
                *pResult = SAR_APPLICATION_NOT_EXISTS;
                return status;
            }
        }
        if (reopen) {
            uint16_t conId = 0;
            if (use.token.OpenContainer(AppIdOf(use), use.handle.m_conName.c_str(), &conId) != kSwSuccess) {
                *pResult = SAR_FILE_NOT_EXIST;
                return status;
            }
            use.handle.m_conId = conId;
        }
    }
    *pResult = SAR_FAIL;
    return kSwSuccess;
}

} // namespace keycore
