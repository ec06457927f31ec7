// The handle table, the device-name lookup, the status-word translation and the re-open step of the
// SKF functions.
#include "skf/skf_frame.h"

#include "pkcs11/p11_env.h"
#include "pkcs11/slot_mgr.h"
#include "runtime/secure_wipe.h"

namespace keycore {

namespace {

// Built during library load (before any slot can exist), destroyed at unload after the environment
// and its monitor thread are gone.
GMHandles g_handles;

struct StatusTranslation {
    TokenStatus status;
    ULONG result;
};

// The common translation of token status words.
constexpr StatusTranslation kStatusTable[] = {
    {0x9000, SAR_OK},
    {0x6581, SAR_DEVICE_REMOVED},
    {0x6700, SAR_INDATALENERR},
    {0x6982, SAR_USER_NOT_LOGGED_IN},
    {0x6983, SAR_PIN_LOCKED},
    {0x698A, SAR_APPLICATION_NOT_EXISTS},
    {0x6A80, SAR_INDATAERR},
    {0x6A81, SAR_NOTSUPPORTYETERR},
    {0x6A84, SAR_NO_ROOM},
    {0x6A88, SAR_OBJERR},
    {0x6A89, SAR_FILE_ALREADY_EXIST},
    {0x6A8B, SAR_APPLICATION_NOT_EXISTS},
    {0x6A8C, SAR_KEYNOTFOUNTERR},
    {0x6A91, SAR_FILE_NOT_EXIST},
    {0x6A93, SAR_FILE_NOT_EXIST},
    {0x6A94, SAR_FILE_NOT_EXIST},
    {0x6A95, SAR_OBJERR},
    {0x6A96, SAR_CERTNOTFOUNTERR},
    {0x6A9D, SAR_INVALIDPARAMERR},
    {CKR_BUFFER_TOO_SMALL, SAR_BUFFER_TOO_SMALL},
};

} // namespace

GMHandle::~GMHandle() {
    // Held-back input of a cipher or MAC operation is caller data that may be secret.
    SecureWipe(m_pending);
    SecureWipe(m_iv);
}

GMHandles::~GMHandles() = default;

GMHandles& GMHandles::Table() {
    return g_handles;
}

std::shared_ptr<GMHandle> GMHandles::Create(HANDLE* pValue) {
    auto handle = std::make_shared<GMHandle>();
    *pValue = Add(handle);
    return handle;
}

HANDLE GMHandles::Add(std::shared_ptr<GMHandle> handle) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const uintptr_t value = m_nextValue++;
    m_handles.emplace(value, std::move(handle));
    return reinterpret_cast<HANDLE>(value);
}

bool GMHandles::Contains(const void* value) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_handles.count(reinterpret_cast<uintptr_t>(value)) != 0;
}

std::shared_ptr<GMHandle> GMHandles::Find(const void* value) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = m_handles.find(reinterpret_cast<uintptr_t>(value));
    return found == m_handles.end() ? nullptr : found->second;
}

bool GMHandles::Remove(const void* value) {
    std::shared_ptr<GMHandle> removed;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        const auto found = m_handles.find(reinterpret_cast<uintptr_t>(value));
        if (found == m_handles.end())
            return false;
        removed = std::move(found->second);
        m_handles.erase(found);
    }
    // The object goes here (or with the last user still holding it), outside the table mutex.
    return true;
}

void GMHandles::RemoveByDevicePath(const std::string& devicePath) {
    std::shared_ptr<GMHandle> removed;
    std::lock_guard<std::mutex> guard(m_mutex);
    for (auto entry = m_handles.begin(); entry != m_handles.end(); ++entry) {
        if (entry->second->m_devPath == devicePath) {
            removed = std::move(entry->second);
            m_handles.erase(entry);
            return;
        }
    }
}

CSlot* FindSlotByDevName(const std::string& deviceName) {
    if (deviceName.empty())
        return nullptr;
    CSlotManager& manager = KVCSP11Env::Instance()->SlotManager();
    const size_t count = manager.GetSlotCount();
    for (CK_SLOT_ID slotId = 1; slotId <= count; ++slotId) {
        CSlot* slot = manager.GetSlot(slotId);
        if (slot == nullptr || !slot->IsDeviceName(deviceName))
            continue;
        return slot->IsTokenPresent() && slot->IsTokenReady() ? slot : nullptr;
    }
    return nullptr;
}

ULONG SarFromStatus(TokenStatus status) {
    for (const StatusTranslation& entry : kStatusTable) {
        if (entry.status == status)
            return entry.result;
    }
    return SAR_FAIL;
}

ULONG SarFromStatus(TokenStatus status, const SarDeparture* departures, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (departures[i].status == status)
            return departures[i].result;
    }
    return SarFromStatus(status);
}

ULONG ReselectAndReopen(SkfSlotUse& use, TokenStatus status) {
    if (status == 0x698A) {
        uint16_t appId = 0;
        if (use.token.OpenApplication(use.handle.m_appName.c_str(), &appId) != kSwSuccess)
            return SAR_APPLICATION_NOT_EXISTS;
    }
    uint16_t conId = 0;
    if (use.token.OpenContainer(static_cast<uint16_t>(use.handle.m_appId), use.handle.m_conName.c_str(), &conId) !=
        kSwSuccess)
        return SAR_FILE_NOT_EXIST;
    return SAR_OK;
}

} // namespace keycore
