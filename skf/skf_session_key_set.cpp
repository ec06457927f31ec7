// Session keys from the caller: a plain key set on a device (in its first container when there is
// one) and a key wrapped under a container's exchange key pair.

#include "skf/skf_cipher.h"
#include "skf/skf_session_key_wrap.h"
#include "skf/skf_storage.h"

#include "runtime/secure_wipe.h"

#include <cstring>
#include <vector>

namespace keycore {

namespace {

constexpr size_t kSymmKeyBytes = 16;
constexpr size_t kNameListBuffer = 1024;

// The first name of a NUL-separated list; empty when the list holds none.
std::string FirstName(const char* list, size_t len) {
    return std::string(list, strnlen(list, len));
}

// A handle that SKF_SetSymmKey opened on its way is not handed out; it leaves the table again.
struct TransientHandle {
    HANDLE value = nullptr;
    ~TransientHandle() {
        if (value != nullptr)
            GMHandles::Table().Remove(value);
    }
};

ULONG SetSymmKeyStatus(TokenStatus status) {
    return TranslateWith(status, {{kSwSuccess, SAR_OK},
                                  {0x6A84, SAR_NO_ROOM},
                                  {0x6A88, SAR_OBJERR},
                                  {0x6A94, SAR_FILE_NOT_EXIST},
                                  {0x6A95, SAR_KEYNOTFOUNTERR}});
}

ULONG SetLooseKey(SkfSlotUse& use, const GMHandle& origin, const unsigned char* key, ULONG algId, HANDLE* phKey) {
    uint16_t keyIndex = 0;
    const ULONG rv =
        SetSymmKeyStatus(use.token.SetSymmKeyPlain(static_cast<uint32_t>(algId), key, kSymmKeyBytes, &keyIndex));
    if (rv != SAR_OK)
        return rv;
    *phKey = GMHandles::Table().Add(NewLooseSessionKey(origin, keyIndex, algId));
    return SAR_OK;
}

} // namespace

ULONG SkfSetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey) {
    if (hDev == nullptr || pbKey == nullptr || phKey == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& device) -> ULONG {
        char list[kNameListBuffer] = {};
        ULONG listLen = sizeof list;
        ULONG rv = SkfEnumApplication(hDev, list, &listLen);
        if (rv != SAR_OK)
            return rv;
        const std::string appName = FirstName(list, listLen);
        if (appName.empty())
            return SetLooseKey(device, device.handle, pbKey, ulAlgID, phKey);

        TransientHandle app;
        if ((rv = SkfOpenApplication(hDev, const_cast<LPSTR>(appName.c_str()), &app.value)) != SAR_OK)
            return rv;
        std::memset(list, 0, sizeof list);
        listLen = sizeof list;
        if ((rv = SkfEnumContainer(app.value, list, &listLen)) != SAR_OK)
            return rv;
        const std::shared_ptr<GMHandle> appHandle = GMHandles::Table().Find(app.value);
        if (!appHandle)
            return SAR_INVALIDHANDLEERR;
        const std::string conName = FirstName(list, listLen);
        if (conName.empty())
            return SetLooseKey(device, *appHandle, pbKey, ulAlgID, phKey);

        TransientHandle container;
        if ((rv = SkfOpenContainer(app.value, const_cast<LPSTR>(conName.c_str()), &container.value)) != SAR_OK)
            return rv;
        const std::shared_ptr<GMHandle> conHandle = GMHandles::Table().Find(container.value);
        if (!conHandle)
            return SAR_INVALIDHANDLEERR;
        uint16_t keyIndex = 0;
        rv = SetSymmKeyStatus(device.token.SetSymmKey(static_cast<uint16_t>(conHandle->m_appId),
                                                      static_cast<uint16_t>(conHandle->m_conId),
                                                      static_cast<uint32_t>(ulAlgID), pbKey, kSymmKeyBytes, &keyIndex));
        if (rv != SAR_OK)
            return rv;
        *phKey = AddContainerSessionKey(*conHandle, keyIndex, ulAlgID);
        return SAR_OK;
    });
}

ULONG SkfImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen, HANDLE* phKey) {
    if (hContainer == nullptr || pbWrapedData == nullptr || ulWrapedLen == 0 || phKey == nullptr)
        return SAR_INVALIDPARAMERR;
    std::vector<unsigned char> wrapped;
    const ULONG converted = WrappedKeyForToken(pbWrapedData, ulWrapedLen, &wrapped);
    if (converted != SAR_OK)
        return converted;

    const std::shared_ptr<GMHandle> container = GMHandles::Table().Find(hContainer);
    // Only a container handle names a container: the key kinds carry container fields too, but are no
    // container of their own.
    if (!container || container->m_conName.empty() || dynamic_cast<const CSessionKeyHandle*>(container.get()) ||
        dynamic_cast<const CMacHandle*>(container.get()))
        return SAR_INVALIDHANDLEERR;
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        uint16_t keyIndex = 0;
        const ULONG rv = RunWithReopen(use,
                                       [&] {
                                           return use.token.ImportSessionKey(static_cast<uint16_t>(use.handle.m_appId),
                                                                             static_cast<uint16_t>(use.handle.m_conId),
                                                                             static_cast<uint32_t>(ulAlgId),
                                                                             wrapped.data(), wrapped.size(), &keyIndex);
                                       },
                                       {{0x6A84, SAR_NO_ROOM}, {0x6A88, SAR_OBJERR}, {0x6A95, SAR_KEYNOTFOUNTERR}});
        if (rv != SAR_OK)
            return rv;
        *phKey = AddContainerSessionKey(use.handle, keyIndex, ulAlgId);
        return SAR_OK;
    });
}

} // namespace keycore
