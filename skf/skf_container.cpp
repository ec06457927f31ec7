// Containers inside an application: create, open, close, list, delete and their key type.

#include "skf/skf_storage.h"

#include <cstring>
#include <memory>
#include <vector>

namespace keycore {

namespace {

constexpr size_t kMaxContainerName = 64;
constexpr CK_ULONG kContainerListMax = 4446;

} // namespace

ULONG OpenContainerLocked(SkfSlotUse& app, const char* szContainerName, HCONTAINER* phContainer) {
    uint16_t conId = 0;
    ULONG result = SAR_OK;
    const TokenStatus status = RunWithReselect(
        app, {kSwApplicationNotSelected}, false,
        [&] { return app.token.OpenContainer(AppIdOf(app), szContainerName, &conId); }, &result);
    if (result != SAR_OK)
        return result;
    if (status != kSwSuccess) {
        return TranslateWith(status,
                             {{0x6982, SAR_USER_NOT_LOGGED_IN}, {0x6A88, SAR_OBJERR}, {0x6A91, SAR_FILE_NOT_EXIST}});
    }
    auto handle = std::make_shared<GMHandle>();
    handle->m_devName = app.handle.m_devName;
    handle->m_appName = app.handle.m_appName;
    handle->m_appId = app.handle.m_appId;
    handle->m_conName = szContainerName;
    handle->m_conId = conId;
    *phContainer = GMHandles::Table().Add(std::move(handle));
    return SAR_OK;
}

ULONG SkfCreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer) {
    if (hApplication == nullptr || szContainerName == nullptr || phContainer == nullptr ||
        std::strlen(szContainerName) > kMaxContainerName)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        uint16_t conId = 0;
        ULONG result = SAR_OK;
        const TokenStatus status = RunWithReselect(
            call, {kSwApplicationNotSelected}, false,
            [&] { return call.token.CreateContainer(AppIdOf(call), szContainerName, &conId); }, &result);
        if (result != SAR_OK)
            return result;
        if (status != kSwSuccess) {
            return TranslateWith(
                status, {{0x6982, SAR_USER_NOT_LOGGED_IN}, {0x6A88, SAR_OBJERR}, {0x6E02, SAR_FILE_ALREADY_EXIST}});
        }
        return OpenContainerLocked(call, szContainerName, phContainer);
    });
}

ULONG SkfOpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer) {
    if (hApplication == nullptr || szContainerName == nullptr || phContainer == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        return OpenContainerLocked(call, szContainerName, phContainer);
    });
}

ULONG SkfCloseContainer(HCONTAINER hContainer) {
    if (hContainer == nullptr)
        return SAR_INVALIDPARAMERR;
    return RunCloseCall(hContainer, [](SkfSlotUse& call) -> ULONG {
        ULONG result = SAR_OK;
        // A container the token does not know in the current application is treated like an
        // application that is not selected.
        const TokenStatus status = RunWithReselect(
            call, {kSwApplicationNotSelected, 0x6A88}, false,
            [&] { return call.token.CloseContainer(AppIdOf(call), ConIdOf(call)); }, &result);
        if (result != SAR_OK)
            return result;
        if (status == kSwSuccess)
            return SAR_OK;
        return TranslateWith(status, {{0x6A91, SAR_FILE_NOT_EXIST}});
    });
}

ULONG SkfEnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize) {
    if (hApplication == nullptr || pulSize == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        std::vector<char> list(kApduAnswerCapacity);
        CK_ULONG listLen = 0;
        ULONG result = SAR_OK;
        const TokenStatus status = RunWithReselect(
            call, {kSwApplicationNotSelected}, false,
            [&] {
                listLen = list.size();
                return call.token.EnumContainer(AppIdOf(call), list.data(), &listLen);
            },
            &result);
        if (result != SAR_OK)
            return result;
        if (status != kSwSuccess)
            return TranslateWith(status, {{kLibraryBufferTooSmall, SAR_BUFFER_TOO_SMALL}});
        if (listLen > kContainerListMax)
            listLen = kContainerListMax;
        if (szContainerName == nullptr) {
            *pulSize = static_cast<ULONG>(listLen);
            return SAR_OK;
        }
        if (*pulSize < listLen)
            return SAR_BUFFER_TOO_SMALL;
        std::memcpy(szContainerName, list.data(), listLen);
        *pulSize = static_cast<ULONG>(listLen);
        return SAR_OK;
    });
}

ULONG SkfDeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName) {
    if (hApplication == nullptr || szContainerName == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        ULONG result = SAR_OK;
        const TokenStatus status = RunWithReselect(
            call, {kSwApplicationNotSelected}, false,
            [&] { return call.token.DeleteContainer(AppIdOf(call), szContainerName); }, &result);
        if (result != SAR_OK)
            return result;
        if (status == kSwSuccess)
            return SAR_OK;
        return TranslateWith(status, {{0x6982, SAR_USER_NOT_LOGGED_IN},
                                      {0x6A84, SAR_NO_ROOM},
                                      {0x6A88, SAR_OBJERR},
                                      {0x6A93, SAR_FILE_NOT_EXIST}});
    });
}

ULONG SkfGetContainerType(HCONTAINER hContainer, ULONG* pulContainerType) {
    if (hContainer == nullptr || pulContainerType == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        uint32_t type = 0;
        ULONG result = SAR_OK;
        const TokenStatus status = RunWithReselect(
            call, {kSwApplicationNotSelected}, false,
            [&] { return call.token.GetContainerType(AppIdOf(call), call.handle.m_conName.c_str(), &type); }, &result);
        if (result != SAR_OK)
            return result;
        if (status != kSwSuccess)
            return TranslateWith(status, {{0x6A88, SAR_OBJERR}, {0x6A91, SAR_FILE_NOT_EXIST}});
        *pulContainerType = type;
        return SAR_OK;
    });
}

} // namespace keycore
