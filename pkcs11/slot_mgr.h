#pragma once
// The slots of the process and their life across processes: the shared slot table every process
// sees, the device monitor's callback, the notification channel to the other processes, and the two
// event queues behind C_WaitForSlotEvent and SKF_WaitForDevEvent.
//
// Threads: application threads (lists, waits, lookups), the monitor thread (device events) and the
// channel's listener thread (peer notifications). Lock order: shared-table lock, then the manager
// lock; slot locks are taken inside slot operations and never while the manager lock is held.
// Slots are never removed while the manager lives, so a CSlot* from GetSlot stays valid.

#include "device/dev_mon_base.h"
#include "device/kv_slot_event.h"
#include "pkcs11/slot.h"
#include "runtime/process_mutex.h"
#include "runtime/share_memory.h"
#include "runtime/thread_mutex.h"

#include <p11-kit/pkcs11.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace keycore {

class ProcessNotifier;

// Event codes of the slot manager besides the monitor's arrival (1) and removal (2).
inline constexpr CK_ULONG kSlotEventObjectWritten = 3;
inline constexpr CK_ULONG kSlotEventPinChanged = 6;
inline constexpr CK_ULONG kSlotEventPinLocked = 7;
inline constexpr CK_ULONG kSlotEventLoginFailed = 9;
inline constexpr CK_ULONG kSlotEventObjectWriteBegin = 0x103;
inline constexpr CK_ULONG kSlotEventObjectWriteDone = 0x104;
inline constexpr CK_ULONG kSlotEventObjectWriteFailed = 0x105;
inline constexpr CK_ULONG kSlotEventKeyGenBegin = 0x106;
inline constexpr CK_ULONG kSlotEventKeyGenDone = 0x107;
inline constexpr CK_ULONG kSlotEventKeyGenFailed = 0x108;
inline constexpr CK_ULONG kSlotEventInitTokenBegin = 0x109;
inline constexpr CK_ULONG kSlotEventInitTokenDone = 0x10A;
inline constexpr CK_ULONG kSlotEventInitTokenFailed = 0x10B;
inline constexpr CK_ULONG kSlotEventTokenBusy = 0x112;
// With slot identifier 0: wakes and ends every SKF wait.
inline constexpr CK_ULONG kSlotEventStop = 0x114;

// The SKF queue is emptied when a peer's event would make it longer than this.
inline constexpr size_t kMaxDeviceEvents = 500;

// A process-local counting semaphore.
class CCountingSemaphore {
public:
    CCountingSemaphore() = default;
    CCountingSemaphore(const CCountingSemaphore&) = delete;
    CCountingSemaphore& operator=(const CCountingSemaphore&) = delete;
    virtual ~CCountingSemaphore() = default;

    void Post();
    // Returns true once a post is taken; false at once (taking nothing) after Release, so that a
    // released waiter can leave without touching whatever owned the semaphore.
    bool Wait();
    // Drops every post not yet consumed.
    void Reset();
    // Wakes every waiter, present and future.
    void Release();
    unsigned long Count();

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    unsigned long m_ulCount = 0;
    bool m_bReleased = false;
};

class CSlotManager {
public:
    CSlotManager();
    CSlotManager(const CSlotManager&) = delete;
    CSlotManager& operator=(const CSlotManager&) = delete;
    // Leaves the channel; the last process also removes the per-slot locks and the shared table.
    // The environment stops the monitor before this runs.
    virtual ~CSlotManager();

    static std::string GlobalMutexName();
    static std::string NotifyChannelName();

    // Process-wide lock, notification channel, shared table, first slot list. CKR_OK or
    // CKR_GENERAL_ERROR; may be called again after a failure.
    CK_RV Initialize();
    // Creates the monitor if missing, hands it the device callback and starts it.
    CK_RV StartMonitor();
    void StopMonitor();

    // Builds the slots from the shared table (writing it first when nobody has). CKR_OK or
    // CKR_CANT_LOCK.
    CK_RV _InitSlotList();

    CSlot* GetSlot(CK_SLOT_ID slotId) const;
    // The slot whose device name is the given (non-empty) name, or null.
    CSlot* GetSlotByDeviceName(const std::string& deviceName) const;
    size_t GetSlotCount() const;
    // Identifiers of every slot, ascending.
    std::vector<CK_SLOT_ID> GetSlotIds() const;

    CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount);
    CK_RV WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot);
    // The SKF queue: the oldest record gives (slot identifier, event code, argument).
    CK_RV WaitForDevEvent(CK_FLAGS flags, CK_SLOT_ID* pSlotId, CK_ULONG* pulEvent, CK_ULONG* pulArg);
    // Sets finalising (never cleared) and posts both semaphores that exist.
    void ReleaseWaiters();

    // Sends one message to every other process. Slot identifier or event 0 is a programming error.
    void BroadcastSlotEvent(CK_SLOT_ID slotId, CK_ULONG ulEvent, CK_ULONG arg, const std::string& path,
                            const std::string& name, CK_ULONG value);

    bool IsTableChanged();
    void SyncGeneration();
    bool IsFirstProcess() const { return m_bFirstProcess; }
    bool IsInitialized() const { return m_bInitialized; }

    // The monitor's callback; pArg is the manager.
    static CK_RV _SlotEventTokenChangeCallback(void* pArg, KV_SLOT_EVENT& event);
    // The channel's callback with the raw message bytes; pArg is the manager.
    static void _NotifyCallback(void* pArg, const void* pMessage, uint32_t ulLength);

private:
    CK_RV OnDeviceEvent(KV_SLOT_EVENT& event);
    void OnPeerEvent(KV_SLOT_EVENT& event);
    CSlot* InsertSlot(std::unique_ptr<CSlot> slot);
    CDevMonBase* EnsureMonitor();
    void ResyncMonitor();
    void PostDeviceEvent(const KV_SLOT_EVENT& event);
    void ReleaseSharedObjects(bool lastProcess);

    // Guards the slot map: the callbacks insert while application threads look up.
    mutable ThreadMutex m_slotMapLock;
    std::map<CK_SLOT_ID, std::unique_ptr<CSlot>> m_slots;
    std::map<int, std::unique_ptr<CDevMonBase>> m_monitors;
    // Guards both queues and the semaphore pointers.
    ThreadMutex m_managerLock;
    // Shared with the threads waiting on them: a waiter keeps its semaphore alive while the manager
    // goes away under it (an application ending while a thread still waits for a device event).
    std::shared_ptr<CCountingSemaphore> m_pP11Semaphore;
    std::shared_ptr<CCountingSemaphore> m_pSkfSemaphore;
    std::atomic<bool> m_bFinalizing{false};
    bool m_bFirstProcess = false;
    std::map<CK_SLOT_ID, CK_SLOT_ID> m_pendingSlots;
    std::deque<KV_SLOT_EVENT> m_deviceEvents;
    CShareMemory m_sharedTable;
    std::atomic<uint32_t> m_ulTableGeneration{0};
    std::unique_ptr<ProcessNotifier> m_pNotifier;
    CProcessMutex m_globalMutex;
    bool m_bInitialized = false;
};

// Broadcasts a begin code at once and, when it goes out of scope, the success or failure code
// according to the result variable (CKR_OK: success). Without a result variable only the begin code
// is sent.
class CSlotEventNotifier {
public:
    CSlotEventNotifier(CSlotManager& manager, CK_SLOT_ID slotId, CK_ULONG ulBeginEvent, CK_ULONG ulBeginArg,
                       const CK_RV* pResult, CK_ULONG ulSuccessEvent, CK_ULONG ulSuccessArg, CK_ULONG ulFailureEvent,
                       CK_ULONG ulFailureArg, const std::string& path = std::string(),
                       const std::string& name = std::string(), CK_ULONG value = 0);
    CSlotEventNotifier(const CSlotEventNotifier&) = delete;
    CSlotEventNotifier& operator=(const CSlotEventNotifier&) = delete;
    virtual ~CSlotEventNotifier();

private:
    CSlotManager& m_manager;
    CK_SLOT_ID m_slotId;
    const CK_RV* m_pResult;
    CK_ULONG m_ulSuccessEvent;
    CK_ULONG m_ulSuccessArg;
    CK_ULONG m_ulFailureEvent;
    CK_ULONG m_ulFailureArg;
    std::string m_path;
    std::string m_name;
    CK_ULONG m_ulValue;
};

} // namespace keycore
