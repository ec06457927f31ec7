#include "pkcs11/slot_mgr.h"

#include "device/unix_dev_chg_mon.h"
#include "pkcs11/notify_message.h"
#include "pkcs11/shared_slot_table.h"
#include "runtime/fatal_assert.h"
#include "runtime/process_notifier.h"

namespace keycore {

namespace {

// Identifiers that have a record in the shared table. The monitor may hand out others (above the
// table, or 0 when its own table is full); those never touch the shared table.
bool HasTableRecord(CK_SLOT_ID slotId) {
    return slotId >= 1 && slotId <= slot_table::kMaxRecords;
}

uint8_t* TableBytes(CShareMemory& table) {
    return static_cast<uint8_t*>(table.Data());
}

} // namespace

// ---- CCountingSemaphore ----

void CCountingSemaphore::Post() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_ulCount;
    }
    m_posted.notify_one();
}

bool CCountingSemaphore::Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_posted.wait(lock, [this] { return m_ulCount > 0 || m_bReleased; });
    if (m_bReleased)
        return false;
    --m_ulCount;
    return true;
}

void CCountingSemaphore::Release() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bReleased = true;
    }
    m_posted.notify_all();
}

void CCountingSemaphore::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ulCount = 0;
}

unsigned long CCountingSemaphore::Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ulCount;
}

// ---- CSlotManager ----

std::string CSlotManager::GlobalMutexName() {
    return std::string(kIpcNamePrefix) + "_global_mtx";
}

std::string CSlotManager::NotifyChannelName() {
    return std::string(kIpcNamePrefix) + "_process_notify";
}

CSlotManager::CSlotManager() = default;

CSlotManager::~CSlotManager() {
    // Threads still blocked in an event wait leave first, each keeping its own semaphore alive.
    ReleaseWaiters();
    StopMonitor();
    CProcessMutexHolder global(m_globalMutex);
    bool lastProcess = true;
    if (m_pNotifier) {
        m_pNotifier->Unregister();
        const int remaining = m_pNotifier->RegisteredCount();
        lastProcess = remaining == 0;
        // The listener calls into the slots: it ends (with the channel) before they go.
        m_pNotifier.reset();
    }
    {
        ThreadMutexHolder hold(m_slotMapLock);
        if (lastProcess && m_bInitialized) {
            for (auto& [id, slot] : m_slots) {
                slot->DropToken(true);
                slot->RemoveSlotLock();
            }
        }
        m_slots.clear();
    }
    {
        ThreadMutexHolder hold(m_managerLock);
        m_pP11Semaphore.reset();
        m_pSkfSemaphore.reset();
    }
    if (m_sharedTable.IsAttached()) {
        if (lastProcess)
            m_sharedTable.Destroy();
        else
            m_sharedTable.Close();
    }
    m_monitors.clear();
}

CK_RV CSlotManager::Initialize() {
    if (m_bInitialized)
        return CKR_OK;
    m_bFirstProcess = false;
    if (m_globalMutex.OpenOrCreate(GlobalMutexName()) != kIpcOk)
        return CKR_GENERAL_ERROR;
    CProcessMutexHolder global(m_globalMutex);
    if (!global.IsLocked())
        return CKR_GENERAL_ERROR;

    if (!m_pNotifier)
        m_pNotifier = std::make_unique<ProcessNotifier>();
    if (m_pNotifier->Open(NotifyChannelName().c_str()) != kIpcOk)
        return CKR_GENERAL_ERROR;
    uint32_t listeners = 0;
    if (m_pNotifier->CountListeners(&listeners) != kIpcOk)
        return CKR_GENERAL_ERROR;
    m_bFirstProcess = listeners == 0;
    const int registered = m_pNotifier->Register();
    if (registered != kIpcOk && registered != kIpcExists)
        return CKR_GENERAL_ERROR;

    if (m_sharedTable.Create(slot_table::TableName(), slot_table::kTableSize, m_bFirstProcess, nullptr) != kIpcOk)
        return CKR_GENERAL_ERROR;

    _InitSlotList();
    m_pNotifier->SetCallback(&CSlotManager::_NotifyCallback, this);
    m_bInitialized = true;
    return CKR_OK;
}

CDevMonBase* CSlotManager::EnsureMonitor() {
    auto it = m_monitors.find(0);
    if (it == m_monitors.end())
        it = m_monitors.emplace(0, std::make_unique<CUnixDevChgMon>()).first;
    return it->second.get();
}

CK_RV CSlotManager::StartMonitor() {
    CDevMonBase* monitor = EnsureMonitor();
    if (monitor->Init(&CSlotManager::_SlotEventTokenChangeCallback, this) != CKR_OK)
        return CKR_GENERAL_ERROR;
    return monitor->Start();
}

void CSlotManager::StopMonitor() {
    const auto it = m_monitors.find(0);
    if (it != m_monitors.end())
        it->second->Stop();
}

CK_RV CSlotManager::_InitSlotList() {
    // The monitor reads the table through its own lock object, so it goes before ours is taken.
    CDevMonBase* monitor = EnsureMonitor();
    monitor->LoadSharedTable();
    const DeviceMap devices = monitor->GetDeviceMap();

    CShareMemoryHolder tableLock(m_sharedTable);
    if (!tableLock.IsLocked())
        return CKR_CANT_LOCK;
    if (devices.empty())
        return CKR_OK;

    uint8_t* table = TableBytes(m_sharedTable);
    const uint32_t tableSize = m_sharedTable.DataSize();
    if (m_sharedTable.GetCounter() == 0) {
        uint64_t count = 0;
        for (const auto& [id, device] : devices) {
            slot_table::Record record;
            record.slotId = device.slotId;
            record.deviceName = device.displayName;
            record.present = !device.devicePath.empty();
            record.devicePath = device.devicePath;
            record.deviceType = device.deviceType;
            if (slot_table::WriteRecord(table, tableSize, record))
                ++count;
        }
        slot_table::WriteCount(table, tableSize, count);
        m_ulTableGeneration = m_sharedTable.BumpCounter();
    }

    for (const slot_table::Record& record : slot_table::ReadRecords(table, tableSize)) {
        if (GetSlot(record.slotId) != nullptr)
            continue;
        auto slot = std::make_unique<CSlot>(record.slotId, record.deviceName, m_bFirstProcess);
        slot->AttachToken(record.devicePath, record.deviceType);
        KEYCORE_ASSERT(InsertSlot(std::move(slot)) != nullptr,
                       "!\"TODO:: m_slots insert error, I don't know how to do!\"");
    }
    return CKR_OK;
}

CSlot* CSlotManager::InsertSlot(std::unique_ptr<CSlot> slot) {
    ThreadMutexHolder hold(m_slotMapLock);
    const auto [it, inserted] = m_slots.emplace(slot->GetSlotId(), std::move(slot));
    return inserted ? it->second.get() : nullptr;
}

CSlot* CSlotManager::GetSlot(CK_SLOT_ID slotId) const {
    ThreadMutexHolder hold(m_slotMapLock);
    const auto it = m_slots.find(slotId);
    return it == m_slots.end() ? nullptr : it->second.get();
}

CSlot* CSlotManager::GetSlotByDeviceName(const std::string& deviceName) const {
    ThreadMutexHolder hold(m_slotMapLock);
    for (const auto& [id, slot] : m_slots)
        if (slot->IsDeviceName(deviceName))
            return slot.get();
    return nullptr;
}

size_t CSlotManager::GetSlotCount() const {
    ThreadMutexHolder hold(m_slotMapLock);
    return m_slots.size();
}

std::vector<CK_SLOT_ID> CSlotManager::GetSlotIds() const {
    ThreadMutexHolder hold(m_slotMapLock);
    std::vector<CK_SLOT_ID> ids;
    for (const auto& [id, slot] : m_slots)
        ids.push_back(id);
    return ids;
}

CK_RV CSlotManager::GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    CShareMemoryHolder tableLock(m_sharedTable);
    if (!tableLock.IsLocked())
        return CKR_CANT_LOCK;
    if (pulCount == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<CK_SLOT_ID> listed;
    {
        ThreadMutexHolder hold(m_slotMapLock);
        for (const auto& [id, slot] : m_slots)
            if (!tokenPresent || slot->IsTokenPresent())
                listed.push_back(id);
    }
    const CK_ULONG count = static_cast<CK_ULONG>(listed.size());
    if (pSlotList == nullptr) {
        *pulCount = count;
        return CKR_OK;
    }
    if (*pulCount < count) {
        *pulCount = count;
        return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; i < count; ++i)
        pSlotList[i] = listed[i];
    *pulCount = count;
    return CKR_OK;
}

CK_RV CSlotManager::_SlotEventTokenChangeCallback(void* pArg, KV_SLOT_EVENT& event) {
    if (pArg == nullptr)
        return CKR_ARGUMENTS_BAD;
    return static_cast<CSlotManager*>(pArg)->OnDeviceEvent(event);
}

CK_RV CSlotManager::OnDeviceEvent(KV_SLOT_EVENT& event) {
    if (event.ulEvent == kSlotEventStop && event.slotId == 0) {
        ThreadMutexHolder hold(m_managerLock);
        m_pendingSlots.clear();
        m_deviceEvents.clear();
        if (m_pP11Semaphore) {
            m_pendingSlots[0] = 0;
            m_pP11Semaphore->Post();
        }
        if (m_pSkfSemaphore) {
            m_deviceEvents.push_back(event);
            m_pSkfSemaphore->Post();
        }
        return CKR_OK;
    }
    // Slot 0 has no place anywhere: it is the stop marker of the queues and is never broadcast.
    if (event.slotId == 0)
        return CKR_SLOT_ID_INVALID;

    CShareMemoryHolder tableLock(m_sharedTable);
    if (!tableLock.IsLocked())
        return CKR_CANT_LOCK;
    uint8_t* table = TableBytes(m_sharedTable);
    const uint32_t tableSize = m_sharedTable.DataSize();
    uint64_t count = slot_table::ReadCount(table, tableSize);
    const bool recorded = HasTableRecord(event.slotId);
    CSlot* slot = GetSlot(event.slotId);

    if (event.ulEvent == kSlotEventArrival) {
        if (slot != nullptr && slot->IsTokenPresent())
            return CKR_OK;
        if (slot != nullptr) {
            slot->Reset(event.slotId, event.deviceName, m_bFirstProcess);
            slot->AttachToken(event.devicePath, event.ulValue);
        } else {
            auto created = std::make_unique<CSlot>(event.slotId, event.deviceName, m_bFirstProcess);
            created->AttachToken(event.devicePath, event.ulValue);
            if (InsertSlot(std::move(created)) == nullptr)
                return CKR_HOST_MEMORY;
            // Peers read the records up to the count, so the count covers every identifier written.
            if (recorded && count < event.slotId) {
                count = event.slotId;
                slot_table::WriteCount(table, tableSize, count);
            }
        }
    } else if (slot != nullptr) {
        slot->OnSlotEvent(event);
        if (event.ulEvent == kSlotEventRemoval)
            slot->DropToken(true);
    }

    if (count == 0 && recorded)
        return CKR_OK;

    if (recorded && (event.ulEvent == kSlotEventArrival || event.ulEvent == kSlotEventRemoval)) {
        slot_table::Record record;
        record.slotId = event.slotId;
        record.deviceType = event.ulValue;
        if (event.ulEvent == kSlotEventArrival) {
            record.present = true;
            record.devicePath = event.devicePath;
            record.deviceName = event.deviceName;
        }
        slot_table::WriteRecord(table, tableSize, record);
        m_ulTableGeneration = m_sharedTable.BumpCounter();
    }

    {
        ThreadMutexHolder hold(m_managerLock);
        if (m_pP11Semaphore) {
            m_pendingSlots[event.slotId] = event.slotId;
            m_pP11Semaphore->Post();
        }
        if (m_pSkfSemaphore) {
            m_deviceEvents.push_back(event);
            m_pSkfSemaphore->Post();
        }
    }
    tableLock.Release();
    BroadcastSlotEvent(event.slotId, event.ulEvent, 0, event.devicePath, event.deviceName, event.ulValue);
    return CKR_OK;
}

void CSlotManager::_NotifyCallback(void* pArg, const void* pMessage, uint32_t ulLength) {
    if (pArg == nullptr || pMessage == nullptr)
        return;
    KV_SLOT_EVENT event;
    if (!notify_message::Parse(static_cast<const uint8_t*>(pMessage), ulLength, event))
        return;
    static_cast<CSlotManager*>(pArg)->OnPeerEvent(event);
}

void CSlotManager::ResyncMonitor() {
    const auto it = m_monitors.find(0);
    if (it != m_monitors.end())
        it->second->LoadSharedTable();
    SyncGeneration();
}

void CSlotManager::OnPeerEvent(KV_SLOT_EVENT& event) {
    // The queues use 0 as their stop marker; no peer event may take its place.
    if (event.slotId == 0 && event.ulEvent != kSlotEventStop)
        return;
    CSlot* slot = event.slotId == 0 ? nullptr : GetSlot(event.slotId);
    bool dropAtEnd = false;
    if (event.ulEvent == kSlotEventArrival) {
        if (slot != nullptr) {
            if (slot->IsTokenPresent() && slot->GetToken() != nullptr)
                return;
            slot->Reset(event.slotId, event.deviceName, m_bFirstProcess);
            if (slot->AttachToken(event.devicePath, event.ulValue) != CKR_OK)
                return;
            ResyncMonitor();
        } else {
            if (event.devicePath.empty())
                return;
            auto created = std::make_unique<CSlot>(event.slotId, event.deviceName, m_bFirstProcess);
            if (created->AttachToken(event.devicePath, event.ulValue) != CKR_OK) {
                created->DropToken(true);
                return;
            }
            slot = InsertSlot(std::move(created));
            if (slot == nullptr)
                return;
            ResyncMonitor();
        }
    } else if (event.ulEvent == kSlotEventRemoval && slot != nullptr) {
        dropAtEnd = true;
    }

    if (slot == nullptr) {
        ThreadMutexHolder hold(m_managerLock);
        if (m_pSkfSemaphore)
            m_pSkfSemaphore->Post();
        return;
    }

    slot->OnSlotEvent(event);
    PostDeviceEvent(event);

    if (dropAtEnd) {
        slot->DropToken(true);
        m_ulTableGeneration = m_sharedTable.GetCounter();
    }
}

void CSlotManager::PostDeviceEvent(const KV_SLOT_EVENT& event) {
    ThreadMutexHolder hold(m_managerLock);
    if (m_pSkfSemaphore) {
        m_deviceEvents.push_back(event);
        if (m_deviceEvents.size() > kMaxDeviceEvents) {
            // Nobody collects them: start again empty rather than grow without bound. The semaphore
            // is kept (a waiter may be blocked on it) and only its count is dropped.
            m_deviceEvents.clear();
            m_pSkfSemaphore->Reset();
        } else {
            m_pSkfSemaphore->Post();
        }
    }
    if (event.ulEvent == kSlotEventArrival || event.ulEvent == kSlotEventRemoval) {
        if (m_pP11Semaphore) {
            m_pendingSlots[event.slotId] = event.slotId;
            m_pP11Semaphore->Post();
        }
    }
}

void CSlotManager::BroadcastSlotEvent(CK_SLOT_ID slotId, CK_ULONG ulEvent, CK_ULONG arg, const std::string& path,
                                      const std::string& name, CK_ULONG value) {
    KEYCORE_ASSERT(0 != slotId && 0 != ulEvent,
                   "void CSlotManager::BroadcastSlotEvent(CK_SLOT_ID, CK_ULONG, CK_ULONG, const string&, const "
                   "string&, CK_ULONG)");
    if (!m_pNotifier)
        return;
    KV_SLOT_EVENT event;
    event.slotId = slotId;
    event.ulEvent = ulEvent;
    event.ulParam = arg;
    event.ulValue = value;
    event.devicePath = path;
    event.deviceName = name;
    const std::vector<uint8_t> message = notify_message::Serialize(event);
    if (message.empty())
        return;
    m_pNotifier->Broadcast(0, message.data(), static_cast<uint32_t>(message.size()));
}

CK_RV CSlotManager::WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot) {
    if (m_bFinalizing)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    std::shared_ptr<CCountingSemaphore> semaphore;
    {
        ThreadMutexHolder hold(m_managerLock);
        if (!m_pP11Semaphore)
            m_pP11Semaphore = std::make_shared<CCountingSemaphore>();
        semaphore = m_pP11Semaphore;
        if (!m_pendingSlots.empty() && m_pendingSlots.begin()->first != 0) {
            *pSlot = m_pendingSlots.begin()->first;
            m_pendingSlots.erase(m_pendingSlots.begin());
            return CKR_OK;
        }
    }
    if (flags & CKF_DONT_BLOCK)
        return CKR_NO_EVENT;
    for (;;) {
        // Released: the manager may be gone already, so nothing of it is read.
        if (!semaphore->Wait() || m_bFinalizing)
            return CKR_CRYPTOKI_NOT_INITIALIZED;
        ThreadMutexHolder hold(m_managerLock);
        if (m_pendingSlots.empty())
            continue;
        const CK_SLOT_ID slotId = m_pendingSlots.begin()->first;
        if (slotId == 0)
            return CKR_GENERAL_ERROR;
        *pSlot = slotId;
        m_pendingSlots.erase(m_pendingSlots.begin());
        return CKR_OK;
    }
}

CK_RV CSlotManager::WaitForDevEvent(CK_FLAGS flags, CK_SLOT_ID* pSlotId, CK_ULONG* pulEvent, CK_ULONG* pulArg) {
    if (m_bFinalizing)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    // Takes the oldest record: CKR_OK, CKR_GENERAL_ERROR for the stop record (left in place so that
    // every waiter sees it), CKR_NO_EVENT when there is none.
    auto take = [&]() -> CK_RV {
        if (m_deviceEvents.empty())
            return CKR_NO_EVENT;
        const KV_SLOT_EVENT& oldest = m_deviceEvents.front();
        if (oldest.slotId == 0 && oldest.ulEvent == kSlotEventStop)
            return CKR_GENERAL_ERROR;
        if (pSlotId)
            *pSlotId = oldest.slotId;
        if (pulEvent)
            *pulEvent = oldest.ulEvent;
        if (pulArg)
            *pulArg = oldest.ulParam;
        m_deviceEvents.pop_front();
        return CKR_OK;
    };
    std::shared_ptr<CCountingSemaphore> semaphore;
    {
        ThreadMutexHolder hold(m_managerLock);
        if (!m_pSkfSemaphore)
            m_pSkfSemaphore = std::make_shared<CCountingSemaphore>();
        semaphore = m_pSkfSemaphore;
        const CK_RV rv = take();
        if (rv != CKR_NO_EVENT)
            return rv;
    }
    if (flags & CKF_DONT_BLOCK)
        return CKR_NO_EVENT;
    for (;;) {
        // Released: the manager may be gone already, so nothing of it is read.
        if (!semaphore->Wait() || m_bFinalizing)
            return CKR_CRYPTOKI_NOT_INITIALIZED;
        ThreadMutexHolder hold(m_managerLock);
        const CK_RV rv = take();
        if (rv != CKR_NO_EVENT)
            return rv;
    }
}

void CSlotManager::ReleaseWaiters() {
    m_bFinalizing = true;
    ThreadMutexHolder hold(m_managerLock);
    // Every blocked waiter must wake, not only one per post.
    if (m_pP11Semaphore)
        m_pP11Semaphore->Release();
    if (m_pSkfSemaphore)
        m_pSkfSemaphore->Release();
}

bool CSlotManager::IsTableChanged() {
    return m_sharedTable.GetCounter() != m_ulTableGeneration;
}

void CSlotManager::SyncGeneration() {
    m_ulTableGeneration = m_sharedTable.GetCounter();
}

// ---- CSlotEventNotifier ----

CSlotEventNotifier::CSlotEventNotifier(CSlotManager& manager, CK_SLOT_ID slotId, CK_ULONG ulBeginEvent,
                                       CK_ULONG ulBeginArg, const CK_RV* pResult, CK_ULONG ulSuccessEvent,
                                       CK_ULONG ulSuccessArg, CK_ULONG ulFailureEvent, CK_ULONG ulFailureArg,
                                       const std::string& path, const std::string& name, CK_ULONG value)
    : m_manager(manager), m_slotId(slotId), m_pResult(pResult), m_ulSuccessEvent(ulSuccessEvent),
      m_ulSuccessArg(ulSuccessArg), m_ulFailureEvent(ulFailureEvent), m_ulFailureArg(ulFailureArg), m_path(path),
      m_name(name), m_ulValue(value) {
    m_manager.BroadcastSlotEvent(m_slotId, ulBeginEvent, ulBeginArg, m_path, m_name, m_ulValue);
}

CSlotEventNotifier::~CSlotEventNotifier() {
    if (m_pResult == nullptr)
        return;
    if (*m_pResult == CKR_OK)
        m_manager.BroadcastSlotEvent(m_slotId, m_ulSuccessEvent, m_ulSuccessArg, m_path, m_name, m_ulValue);
    else
        m_manager.BroadcastSlotEvent(m_slotId, m_ulFailureEvent, m_ulFailureArg, m_path, m_name, m_ulValue);
}

} // namespace keycore
