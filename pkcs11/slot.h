#pragma once
// One token position: the token object attached there, the per-slot lock that serialises all use of
// that device across processes, this process's login state towards the token, and the cache of
// PKCS#11 objects with their handles.
//
// Lock order: per-slot process lock (Lock), then the token's device lock (taken inside Lock), then the
// slot thread mutex. The slot manager never holds its own lock while calling into a slot.

#include "device/kv_slot_event.h"
#include "device/token_base.h"
#include "runtime/process_mutex.h"
#include "runtime/thread_mutex.h"

#include <p11-kit/pkcs11.h>

#include <atomic>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace keycore {

class CP11ObjBase;

enum class LoginState { Nobody, SO, User };

// Handle ranges of the object map.
inline constexpr CK_OBJECT_HANDLE kFirstPublicTokenHandle = 1;
inline constexpr CK_OBJECT_HANDLE kLastPublicTokenHandle = 0x8000;
inline constexpr CK_OBJECT_HANDLE kFirstPrivateTokenHandle = 0x8001;
inline constexpr CK_OBJECT_HANDLE kLastPrivateTokenHandle = 0xFFFD;
inline constexpr CK_OBJECT_HANDLE kFirstSessionObjectHandle = 0x60000001;

// Manufacturer text of the slot information.
inline constexpr char kSlotManufacturer[] = "Quorvel Technologies Co., Ltd.";

// Cached objects are shared so that the slot can own them without knowing their class: the object
// store creates each one and hands it over; the slot's copy goes when the entry is erased.
using ObjectMap = std::map<CK_OBJECT_HANDLE, std::shared_ptr<CP11ObjBase>>;

class CSlot {
public:
    // Number of further open attempts of a device that failed to open at attach.
    static constexpr int kOpenRetries = 5;

    CSlot(CK_SLOT_ID slotId, const std::string& deviceName, bool firstProcess);
    CSlot(const CSlot&) = delete;
    CSlot& operator=(const CSlot&) = delete;
    // Deletes the objects and the token and forgets the per-slot lock (RemoveSlotLock removes it from
    // the system first when this is the last process).
    virtual ~CSlot();

    // Name of the per-slot process lock.
    static std::string SlotMutexName(CK_SLOT_ID slotId);

    // Re-initialisation: stores the three values, clears token present and ready, logs out, restarts
    // the session-object handles, rewrites the slot information. Leaves the token and objects alone.
    void Reset(CK_SLOT_ID slotId, const std::string& deviceName, bool firstProcess);

    // Makes and opens the token object of the device type (8 HID, 9 SCSI-style) under the per-slot
    // lock. CKR_OK, CKR_CANT_LOCK, CKR_TOKEN_NOT_PRESENT (empty path), CKR_HOST_MEMORY (unknown type)
    // or CKR_DEVICE_ERROR (six failed opens).
    CK_RV AttachToken(const std::string& devicePath, CK_ULONG deviceType);
    // Clears the cache and the login; closes and deletes the token. Token present is cleared only
    // with clearPresent (a re-attach keeps it).
    void DropToken(bool clearPresent);

    // The slot lock of every entry point: per-slot process lock, then the token's device lock.
    // CKR_OK or CKR_CANT_LOCK. Recursive within a thread.
    CK_RV Lock();
    void Unlock();

    // Deletes the per-slot lock from the system (the last process does this before deleting slots).
    void RemoveSlotLock();

    // pInfo must not be null (the entry point checks it).
    CK_RV GetInfo(CK_SLOT_INFO_PTR pInfo);
    // Reaction to an event of another process (or a removal). Always CKR_OK.
    CK_RV OnSlotEvent(KV_SLOT_EVENT& event);

    CTokenBase* GetToken() const { return m_pToken.get(); }
    bool IsTokenPresent() const { return m_bTokenPresent; }
    bool IsTokenReady() const { return m_bTokenReady; }
    CK_SLOT_ID GetSlotId() const { return m_slotId; }
    const std::string& GetSlotName() const { return m_deviceName; }
    const std::string& GetDevicePath() const { return m_devicePath; }
    CK_ULONG GetDeviceType() const { return m_ulDeviceType; }
    bool IsSOLoggedIn() const { return m_loginState == LoginState::SO; }
    bool IsUserLoggedIn() const { return m_loginState == LoginState::User; }
    LoginState GetLoginState() const { return m_loginState; }
    // True when both names are non-empty and equal.
    bool IsDeviceName(const std::string& name) const;
    time_t GetCreationTime() const { return m_creationTime; }

    // Session state from the session's read/write flag and the login state: sets info.state and adds
    // CKF_RW_SESSION to info.flags for a read/write session.
    void GetSessionState(bool bReadWrite, CK_SESSION_INFO& info) const;

    // Login core: PIN length against the token's range, then the token login. The caller holds the
    // slot lock and owns (and wipes) the PIN buffer.
    CK_RV Login(CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen);
    // Local log-out: clears the token's security state of the current application, then nobody.
    void Logout();
    // The token's initialise operation with the cache and login effects. ulOpenSessions is the number
    // of sessions this process has open on the slot (any: CKR_SESSION_EXISTS).
    CK_RV InitToken(CK_ULONG ulOpenSessions, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel);

    // ---- object map ----
    std::shared_ptr<CP11ObjBase> GetObject(CK_OBJECT_HANDLE hObject) const;
    // Inserts under the handle; true also when the handle is already taken (nothing inserted then).
    bool InsertObject(CK_OBJECT_HANDLE hObject, std::shared_ptr<CP11ObjBase> object);
    // False when the handle is not in the map.
    bool RemoveObject(CK_OBJECT_HANDLE hObject);
    const ObjectMap& Objects() const { return m_objects; }
    // A handle for a new token object (public 1..0x8000, private 0x8001..0xFFFD). CKR_OK or
    // CKR_GENERAL_ERROR when the range is full.
    CK_RV AllocateTokenHandle(bool bPrivate, CK_OBJECT_HANDLE* phObject) const;
    // The next session-object handle (0x60000001 upward).
    CK_OBJECT_HANDLE AllocateSessionHandle();

    // The allocation rule over any map: the largest taken handle of the range + 1, the lowest of the
    // range when none is taken, and the smallest free one only once the top is taken.
    static CK_RV PickTokenHandle(const ObjectMap& objects, bool bPrivate, CK_OBJECT_HANDLE* phObject);

private:
    void WriteSlotInfo();
    void ClearObjects();
    CK_RV EnsureSlotLock();

    CK_SLOT_ID m_slotId;
    std::string m_deviceName;
    std::string m_devicePath;
    CK_ULONG m_ulDeviceType = 0;
    CK_SLOT_INFO m_slotInfo{};
    // Read by application threads while the monitor and listener threads change them.
    std::atomic<bool> m_bTokenPresent{false};
    std::atomic<bool> m_bTokenReady{false};
    std::unique_ptr<CProcessMutex> m_pSlotLock;
    std::atomic<LoginState> m_loginState{LoginState::Nobody};
    bool m_bFirstProcess;
    ObjectMap m_objects;
    // Guards the token pointer while it is unlocked or dropped.
    mutable ThreadMutex m_slotThreadMutex;
    bool m_bContainerListStale = true;
    std::unique_ptr<CTokenBase> m_pToken;
    CK_OBJECT_HANDLE m_hNextSessionObject = kFirstSessionObjectHandle;
    time_t m_creationTime = 0;
    std::vector<std::string> m_containerNames;
    std::vector<std::string> m_tokenFileNames;
};

// Holds the slot lock of an entry point for its whole call.
class CSlotLockHolder {
public:
    explicit CSlotLockHolder(CSlot& slot) : m_slot(slot), m_result(slot.Lock()) {}
    CSlotLockHolder(const CSlotLockHolder&) = delete;
    CSlotLockHolder& operator=(const CSlotLockHolder&) = delete;
    ~CSlotLockHolder() {
        if (m_result == CKR_OK)
            m_slot.Unlock();
    }
    CK_RV Result() const { return m_result; }

private:
    CSlot& m_slot;
    const CK_RV m_result;
};

} // namespace keycore
