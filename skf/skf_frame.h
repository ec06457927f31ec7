#pragma once
// What every SKF function shares: the handle objects and the process-wide table that issues their
// values, the way a handle finds the slot that serves its device, the bracket a token operation runs
// in, and the translation of token status words into result codes.

#include "device/token_base.h"
#include "keycore/skf.h"
#include "pkcs11/slot.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace keycore {

// Container identifier of a session key that is bound to no container.
inline constexpr uint64_t kNoContainerId = 0xFFFF;

// One SKF handle, whatever its kind; the kind shows in which fields its creator filled.
class GMHandle {
public:
    GMHandle() = default;
    GMHandle(const GMHandle&) = delete;
    GMHandle& operator=(const GMHandle&) = delete;
    virtual ~GMHandle();

    std::string m_devPath;
    std::string m_devName;
    std::string m_appName;
    std::string m_conName;
    uint64_t m_appId = 0;
    uint64_t m_conId = 0;
    uint64_t m_keyId = 0;
    uint64_t m_algId = 0;
    std::vector<unsigned char> m_iv;
    uint64_t m_ivLen = 0;
    uint64_t m_padding = 0;
    std::vector<unsigned char> m_pending;
    uint8_t m_updated = 0;
};

// The process-wide handle table. Handle values are numbers issued once and never again, so a closed
// or foreign value is recognised by lookup alone and is never dereferenced. The objects are shared:
// a thread still working on a handle keeps its object alive while another thread closes it.
class GMHandles {
public:
    GMHandles() = default;
    GMHandles(const GMHandles&) = delete;
    GMHandles& operator=(const GMHandles&) = delete;
    // Destroys every handle still in the table.
    virtual ~GMHandles();

    // The table of the process. It is built when the library is loaded, before any slot exists, so
    // it outlives the device-event path that removes handles from it.
    static GMHandles& Table();

    // Appends a new empty handle; *pValue receives the value the caller hands out.
    std::shared_ptr<GMHandle> Create(HANDLE* pValue);
    // Appends a handle whose fields the caller has already filled, so that no other thread (the
    // device-removal path, say) ever sees it half-made; returns the value to hand out.
    HANDLE Add(std::shared_ptr<GMHandle> handle);
    bool Contains(const void* value) const;
    // The handle of a value, or null when the table does not hold it.
    std::shared_ptr<GMHandle> Find(const void* value) const;
    // False when the value is not in the table.
    bool Remove(const void* value);
    // Removes the first handle (in creation order) whose device path equals the path; only that one.
    void RemoveByDevicePath(const std::string& devicePath);

private:
    mutable std::mutex m_mutex;
    // Keyed by the issued value; values only grow, so the key order is the creation order.
    std::map<uintptr_t, std::shared_ptr<GMHandle>> m_handles;
    uintptr_t m_nextValue = 0x10000;
};

// The slot serving a device name when its token is present and ready; null otherwise (also for the
// empty name).
CSlot* FindSlotByDevName(const std::string& deviceName);

// ---- status words ----

// A function's own translation of a status word, checked before the common table.
struct SarDeparture {
    TokenStatus status;
    ULONG result;
};

// The common translation of a token status word; unknown words give SAR_FAIL. 0x698A and 0x6A94 give
// what their retry gives when the re-selection fails (SAR_APPLICATION_NOT_EXISTS, SAR_FILE_NOT_EXIST).
ULONG SarFromStatus(TokenStatus status);
ULONG SarFromStatus(TokenStatus status, const SarDeparture* departures, size_t count);
inline ULONG SarFromStatus(TokenStatus status, std::initializer_list<SarDeparture> departures) {
    return SarFromStatus(status, departures.begin(), departures.size());
}
template <size_t N> ULONG SarFromStatus(TokenStatus status, const SarDeparture (&departures)[N]) {
    return SarFromStatus(status, departures, N);
}

// Departures of the session-key functions (SKF_SetSymmKey, SKF_ImportSessionKey).
inline constexpr SarDeparture kSessionKeyDepartures[] = {{0x6A95, SAR_KEYNOTFOUNTERR}};

// ---- the common shape ----

// The outermost bracket of every exported function: anything thrown becomes SAR_UNKNOWNERR. Scope
// holders inside the body have released the slot by the time the exception arrives here.
template <typename Body> ULONG RunSkfEntry(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return SAR_UNKNOWNERR;
    }
}

// What a token operation works with once its handle has been resolved and its slot taken.
struct SkfSlotUse {
    GMHandle& handle;
    CSlot& slot;
    CTokenBase& token;
};

// Steps 2 to 7 of a function on a handle: the handle must be in the table (SAR_INVALIDHANDLEERR),
// its device present and ready (deviceGone otherwise), the slot lock taken (SAR_MEMORYERR) and a token
// attached (SAR_INVALIDHANDLEERR). operation(SkfSlotUse&) runs under the slot lock, which is released
// on every way out.
template <typename Operation> ULONG WithHandleSlot(const void* value, ULONG deviceGone, Operation operation) {
    const std::shared_ptr<GMHandle> handle = GMHandles::Table().Find(value);
    if (!handle)
        return SAR_INVALIDHANDLEERR;
    CSlot* slot = FindSlotByDevName(handle->m_devName);
    if (slot == nullptr)
        return deviceGone;
    CSlotLockHolder holder(*slot);
    if (holder.Result() != CKR_OK)
        return SAR_MEMORYERR;
    CTokenBase* token = slot->GetToken();
    if (token == nullptr)
        return SAR_INVALIDHANDLEERR;
    SkfSlotUse use{*handle, *slot, *token};
    return operation(use);
}

// The same for a function given a device name instead of a handle.
template <typename Operation>
ULONG WithNamedSlot(const std::string& deviceName, ULONG deviceGone, Operation operation) {
    CSlot* slot = FindSlotByDevName(deviceName);
    if (slot == nullptr)
        return deviceGone;
    CSlotLockHolder holder(*slot);
    if (holder.Result() != CKR_OK)
        return SAR_MEMORYERR;
    CTokenBase* token = slot->GetToken();
    if (token == nullptr)
        return SAR_INVALIDHANDLEERR;
    return operation(*slot, *token);
}

// The re-select and re-open loop of operations on a key or object inside a container: at most two
// attempts of operation() (which returns the token status); 0x698A selects the application again by
// name, 0x6A94 (or a successful re-selection) opens the container again by name, and any other status
// is translated with the departures. Two attempts that both needed a re-open give SAR_FAIL. The caller
// holds the slot lock.
template <typename Operation>
ULONG RunWithReopen(SkfSlotUse& use, Operation operation, std::initializer_list<SarDeparture> departures = {});

// Non-template core of RunWithReopen: the recovery after one attempt. SAR_OK means "retry".
ULONG ReselectAndReopen(SkfSlotUse& use, TokenStatus status);

template <typename Operation>
ULONG RunWithReopen(SkfSlotUse& use, Operation operation, std::initializer_list<SarDeparture> departures) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const TokenStatus status = operation();
        if (status != 0x698A && status != 0x6A94)
            return SarFromStatus(status, departures);
        const ULONG recovered = ReselectAndReopen(use, status);
        if (recovered != SAR_OK)
            return recovered;
    }
    return SAR_FAIL;
}

} // namespace keycore
