// Applications: create, list, delete, open and close.

#include "skf/skf_storage.h"

#include <cstring>
#include <memory>
#include <vector>

namespace keycore {

namespace {

constexpr size_t kMaxApplicationName = 32;
// The token's application list never exceeds 512 bytes; the answer area is larger so that an
// oversized answer is cut rather than refused.
constexpr CK_ULONG kApplicationListMax = 512;

// Retry counts and rights travel as one byte each on the wire; a larger value cannot be represented.
constexpr DWORD kMaxByteField = 0xFF;

} // namespace

ULONG OpenApplicationLocked(SkfSlotUse& device, const char* szAppName, HAPPLICATION* phApplication) {
    uint16_t appId = 0;
    const TokenStatus status = device.token.OpenApplication(szAppName, &appId);
    if (status != kSwSuccess) {
        return TranslateWith(status, {{0x6700, SAR_INDATALENERR},
                                      {0x6982, SAR_USER_NOT_LOGGED_IN},
                                      {0x6A84, SAR_NO_ROOM},
                                      {0x6A8B, SAR_APPLICATION_NOT_EXISTS}});
    }
    auto handle = std::make_shared<GMHandle>();
    handle->m_devName = device.handle.m_devName;
    handle->m_appName = szAppName;
    handle->m_appId = appId;
    *phApplication = GMHandles::Table().Add(std::move(handle));
    return SAR_OK;
}

ULONG SkfCreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount,
                           LPSTR szUserPin, DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,
                           HAPPLICATION* phApplication) {
    if (szAppName == nullptr || szAdminPin == nullptr || szUserPin == nullptr || phApplication == nullptr)
        return SAR_INVALIDPARAMERR;
    if (std::strlen(szAppName) > kMaxApplicationName)
        return SAR_INDATAERR;
    if (dwAdminPinRetryCount > kMaxByteField || dwUserPinRetryCount > kMaxByteField ||
        dwCreateFileRights > kMaxByteField)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        const TokenStatus status = call.token.CreateApplication(
            szAppName, szAdminPin, static_cast<uint8_t>(dwAdminPinRetryCount), szUserPin,
            static_cast<uint8_t>(dwUserPinRetryCount), static_cast<uint8_t>(dwCreateFileRights));
        if (status != kSwSuccess) {
            return TranslateWith(status, {{0x6700, SAR_INDATALENERR},
                                          {0x6982, SAR_USER_NOT_LOGGED_IN},
                                          {0x6A84, SAR_NO_ROOM},
                                          {0x6A89, SAR_FILE_ALREADY_EXIST}});
        }
        return OpenApplicationLocked(call, szAppName, phApplication);
    });
}

ULONG SkfEnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize) {
    if (pulSize == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        std::vector<char> list(kApduAnswerCapacity);
        CK_ULONG listLen = list.size();
        if (call.token.EnumApplication(list.data(), &listLen) != kSwSuccess)
            return SAR_FAIL;
        if (listLen > kApplicationListMax)
            listLen = kApplicationListMax;
        if (szAppName == nullptr) {
            *pulSize = static_cast<ULONG>(listLen);
            return SAR_OK;
        }
        if (*pulSize < listLen)
            return SAR_BUFFER_TOO_SMALL;
        std::memcpy(szAppName, list.data(), listLen);
        *pulSize = static_cast<ULONG>(listLen);
        return SAR_OK;
    });
}

ULONG SkfDeleteApplication(DEVHANDLE hDev, LPSTR szAppName) {
    if (szAppName == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        const TokenStatus status = call.token.DeleteApplication(szAppName);
        if (status == kSwSuccess)
            return SAR_OK;
        return TranslateWith(status, {{0x6700, SAR_INDATALENERR},
                                      {0x6982, SAR_USER_NOT_LOGGED_IN},
                                      {0x6A84, SAR_NO_ROOM},
                                      {0x6A8B, SAR_APPLICATION_NOT_EXISTS}});
    });
}

ULONG SkfOpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication) {
    if (szAppName == nullptr || szAppName[0] == '\0' || phApplication == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        return OpenApplicationLocked(call, szAppName, phApplication);
    });
}

ULONG SkfCloseApplication(HAPPLICATION hApplication) {
    return RunCloseCall(hApplication, [](SkfSlotUse& call) -> ULONG {
        const TokenStatus status = call.token.CloseApplication(AppIdOf(call));
        if (status == kSwSuccess)
            return SAR_OK;
        return TranslateWith(status, {{0x6700, SAR_INDATALENERR},
                                      {0x6982, SAR_USER_NOT_LOGGED_IN},
                                      {0x6A84, SAR_NO_ROOM},
                                      {0x6A88, SAR_INVALIDHANDLEERR}});
    });
}

} // namespace keycore
