#include "device/unix_dev_chg_mon.h"

#include "device/token_identity.h"
#include "device/usb_bus_lock.h"
#include "pkcs11/shared_slot_table.h"
#include "runtime/share_memory.h"

#include <usb.h>

#include <chrono>
#include <set>
#include <unistd.h>

namespace keycore {

namespace ti = token_identity;

namespace {

constexpr int kRunCompleteOpenRetries = 10;
constexpr useconds_t kRunCompleteOpenPauseMicros = 300000;
constexpr int kThreadStopLimitMs = 300000;
constexpr size_t kMaxDeviceRecords = 256;
// Start waits this long for its scan thread to hold the run complete mutex (or to find another
// process scanning) before it looks at that mutex itself.
constexpr auto kScanReadyWait = std::chrono::seconds(2);

thread_local bool t_onScanThread = false;

} // namespace

bool CUnixDevChgMon::IsFamilyDevice(const UsbIdentity& identity) {
    return identity.idVendor == ti::kVendorId && (identity.bcdDevice == ti::kReleaseNumber || identity.bcdDevice == 0);
}

CUnixDevChgMon::~CUnixDevChgMon() {
    Stop();
}

std::string CUnixDevChgMon::ModelName(int deviceType) {
    if (deviceType == ti::kDeviceTypeBulkOnly || deviceType == ti::kDeviceTypeHid)
        return "Orvex5100GM-G VCR";
    return std::string();
}

std::string CUnixDevChgMon::StartMutexName() {
    return std::string(kIpcNamePrefix) + "5100gm_g2_monitor_start_mtx";
}

std::string CUnixDevChgMon::RunCompleteMutexName() {
    return std::string(kIpcNamePrefix) + "kv_monitor_run_complete_mtx";
}

CK_RV CUnixDevChgMon::Init(KvSlotEventCallback pfnCallback, void* pContext) {
    m_pfnCallback = pfnCallback;
    m_pContext = pContext;
    if (m_startMutex.OpenOrCreate(StartMutexName()) != kIpcOk)
        return CKR_GENERAL_ERROR;

    const CK_SLOT_ID placeholderId = GetSlotIdByPath(std::string());
    {
        ThreadMutexHolder hold(m_mapLock);
        if (m_devices.empty()) {
            DeviceRecord record;
            record.slotId = placeholderId;
            record.deviceType = ti::kDeviceTypeNone;
            record.state = record.sharedState = DeviceRecord::kAbsent;
            record.displayName = "Quorvel GM " + std::to_string(placeholderId);
            m_devices[placeholderId] = record;
        }
    }
    usb_init();
    return CKR_OK;
}

CK_RV CUnixDevChgMon::Start() {
    if (m_threads.empty()) {
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            m_stopRequested = false;
            m_scanReady = false;
            m_scanEnded = false;
        }
        auto thread = std::make_unique<Thread>();
        if (thread->Create(&CUnixDevChgMon::ScanThreadMain, &CUnixDevChgMon::StopScanThread, this) != 0) {
            MarkScanEnded();
            return CKR_GENERAL_ERROR;
        }
        m_threads.push_back(std::move(thread));
    }
    {
        // The scan thread says when it holds the run complete mutex or has found another process
        // scanning; without this, the lock below could slip in before the thread takes the mutex.
        std::unique_lock<std::mutex> lock(m_stateMutex);
        m_stateChanged.wait_for(lock, kScanReadyWait, [this] { return m_scanReady || m_scanEnded; });
    }

    CProcessMutex runComplete;
    int rc = runComplete.Open(RunCompleteMutexName());
    for (int retry = 0; rc != kIpcOk && retry < kRunCompleteOpenRetries; ++retry) {
        usleep(kRunCompleteOpenPauseMicros);
        rc = runComplete.Open(RunCompleteMutexName());
    }
    if (rc != kIpcOk)
        return CKR_GENERAL_ERROR;
    usleep(1000);
    CProcessMutexHolder firstPass(runComplete);
    return firstPass.IsLocked() ? CKR_OK : CKR_GENERAL_ERROR;
}

CK_RV CUnixDevChgMon::Stop() {
    for (std::unique_ptr<Thread>& thread : m_threads) {
        thread->Stop(kThreadStopLimitMs);
        thread.reset();
    }
    m_threads.clear();
    return CKR_OK;
}

void CUnixDevChgMon::ScanThreadMain(Thread&, void* pUserData) {
    t_onScanThread = true;
    static_cast<CUnixDevChgMon*>(pUserData)->ScanLoop();
}

bool CUnixDevChgMon::StopScanThread(void* pUserData) {
    auto* self = static_cast<CUnixDevChgMon*>(pUserData);
    std::unique_lock<std::mutex> lock(self->m_stateMutex);
    self->m_stopRequested = true;
    self->m_running = false;
    self->m_stateChanged.notify_all();
    // Teardown goes on only once the thread has left the loop (it uses this object until then). A
    // callback that stops the monitor from the scan thread itself cannot wait for its own end.
    if (!t_onScanThread)
        self->m_stateChanged.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                                      [self] { return self->m_scanEnded; });
    return true;
}

bool CUnixDevChgMon::StopRequested() {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_stopRequested;
}

bool CUnixDevChgMon::PauseUnlessStopped(int micros) {
    std::unique_lock<std::mutex> lock(m_stateMutex);
    m_stateChanged.wait_for(lock, std::chrono::microseconds(micros), [this] { return m_stopRequested; });
    return !m_stopRequested;
}

void CUnixDevChgMon::SignalReady() {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_scanReady = true;
    m_stateChanged.notify_all();
}

void CUnixDevChgMon::MarkScanEnded() {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_scanEnded = true;
    m_stateChanged.notify_all();
}

bool CUnixDevChgMon::AcquireStartMutex() {
    // Waiting in small steps instead of one blocking lock lets Stop end a thread that waits while
    // another process scans. The kernel still hands the mutex over when the scanning process dies.
    while (!StopRequested()) {
        const int rc = m_startMutex.TryLock();
        if (rc == kIpcOk)
            return true;
        if (rc == kIpcNotOpen)
            return false;
        SignalReady();
        PauseUnlessStopped(kTakeOverPollMicros);
    }
    return false;
}

void CUnixDevChgMon::ScanLoop() {
    if (!AcquireStartMutex()) {
        MarkScanEnded();
        return;
    }
    m_running = true;
    if (m_runCompleteMutex.OpenOrCreate(RunCompleteMutexName()) != kIpcOk || m_runCompleteMutex.Lock() != kIpcOk) {
        m_running = false;
        m_startMutex.Unlock();
        MarkScanEnded();
        return;
    }
    SignalReady();

    bool firstPassDone = false;
    while (!StopRequested()) {
        ScanPass();
        PauseUnlessStopped(kPassPauseMicros);
        if (!firstPassDone) {
            m_runCompleteMutex.Unlock();
            firstPassDone = true;
        }
    }
    if (!firstPassDone)
        m_runCompleteMutex.Unlock();
    m_running = false;
    m_startMutex.Unlock();
    MarkScanEnded();
}

std::vector<CUnixDevChgMon::FoundDevice> CUnixDevChgMon::WalkBuses() {
    std::vector<FoundDevice> found;
    const CUsbBusListScan scan;
    for (struct usb_bus* bus = scan.Busses(); bus; bus = bus->next) {
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next) {
            if (StopRequested())
                return {};
            const UsbIdentity identity{dev->descriptor.idVendor, dev->descriptor.idProduct, dev->descriptor.bcdDevice};
            if (!IsFamilyDevice(identity))
                continue;
            found.push_back({FormatUsbDevicePath(dev->filename, bus->dirname), identity});
        }
    }
    return found;
}

void CUnixDevChgMon::ScanPass() {
    // The callback runs outside the bus-list lock: the slot manager opens tokens from it, and other
    // threads open tokens under slot locks that the callback may take.
    const std::vector<FoundDevice> found = WalkBuses();
    if (StopRequested())
        return;
    std::set<std::string> seen;
    for (const FoundDevice& device : found) {
        if (StopRequested())
            return;
        {
            ThreadMutexHolder hold(m_mapLock);
            m_lastMatched = device.identity;
            m_hasLastMatched = true;
        }
        const int type =
            ti::DeviceTypeFor(device.identity.idVendor, device.identity.idProduct, device.identity.bcdDevice);
        if (type == ti::kDeviceTypeBulkOnly || type == ti::kDeviceTypeHid) {
            seen.insert(device.path);
            OnDevicePresent(device.path, 1, 0, 0);
        }
    }

    std::vector<std::string> gone;
    {
        ThreadMutexHolder hold(m_mapLock);
        for (const auto& [id, record] : m_devices)
            if (!record.devicePath.empty() && seen.count(record.devicePath) == 0)
                gone.push_back(record.devicePath);
    }
    for (const std::string& path : gone)
        OnDeviceRemoved(path);
}

int CUnixDevChgMon::GetDeviceType() {
    ThreadMutexHolder hold(m_mapLock);
    if (!m_hasLastMatched)
        return ti::kDeviceTypeNone;
    return ti::DeviceTypeFor(m_lastMatched.idVendor, m_lastMatched.idProduct, m_lastMatched.bcdDevice);
}

DeviceMap CUnixDevChgMon::GetDeviceMap() {
    ThreadMutexHolder hold(m_mapLock);
    return m_devices;
}

int CUnixDevChgMon::LoadSharedTable() {
    CShareMemory table;
    if (table.Open(slot_table::TableName(), false) != kIpcOk)
        return 0;
    CShareMemoryHolder tableLock(table);
    if (!tableLock.IsLocked())
        return -1;
    const std::vector<slot_table::Record> records =
        slot_table::ReadRecords(static_cast<const uint8_t*>(table.Data()), table.DataSize());

    ThreadMutexHolder hold(m_mapLock);
    m_devices.clear();
    for (const slot_table::Record& shared : records) {
        if (ModelName(static_cast<int>(shared.deviceType)).empty())
            continue;
        DeviceRecord record;
        record.slotId = shared.slotId;
        record.deviceType = static_cast<uint8_t>(shared.deviceType);
        record.state = record.sharedState = shared.present ? DeviceRecord::kPresent : DeviceRecord::kAbsent;
        record.displayName = shared.deviceName;
        record.devicePath = shared.devicePath;
        m_devices.emplace(record.slotId, record);
    }
    return 0;
}

CK_SLOT_ID CUnixDevChgMon::GetSlotIdByPath(const std::string& devicePath) {
    // A table that exists but cannot be read gives no identifier, rather than an identifier made of
    // the error code.
    if (LoadSharedTable() != 0)
        return 0;
    const DeviceMap devices = GetDeviceMap();
    if (devices.empty())
        return 1;
    for (const auto& [id, record] : devices)
        if (record.devicePath == devicePath)
            return id;
    for (const auto& [id, record] : devices)
        if (record.sharedState == DeviceRecord::kAbsent)
            return id;
    if (devices.size() < kMaxDeviceRecords)
        return devices.size() + 1;
    return 0;
}

void CUnixDevChgMon::OnDevicePresent(const std::string& devicePath, int notify, uint64_t, uint64_t) {
    {
        ThreadMutexHolder hold(m_mapLock);
        for (const auto& [id, record] : m_devices)
            if (record.devicePath == devicePath)
                return;
    }
    const int type = GetDeviceType();
    if (type == ti::kDeviceTypeNone)
        return;
    // Without an identifier there is no slot to report; the next pass tries again.
    const CK_SLOT_ID slotId = GetSlotIdByPath(devicePath);
    if (slotId == 0)
        return;

    DeviceRecord record;
    record.devicePath = devicePath;
    record.state = record.sharedState = DeviceRecord::kPresent;
    record.deviceType = static_cast<uint8_t>(type);
    record.slotId = slotId;
    const std::string model = ModelName(type);
    record.displayName = model.empty() ? devicePath : model + " " + std::to_string(slotId);

    KV_SLOT_EVENT event;
    event.slotId = slotId;
    event.ulEvent = kSlotEventArrival;
    event.ulParam = event.ulValue = static_cast<CK_ULONG>(type);
    event.devicePath = devicePath;
    event.deviceName = record.displayName;
    if (m_pfnCallback && notify == 1)
        m_pfnCallback(m_pContext, event);

    ThreadMutexHolder hold(m_mapLock);
    m_devices[slotId] = record;
}

void CUnixDevChgMon::OnDeviceRemoved(const std::string& devicePath) {
    KV_SLOT_EVENT event;
    {
        ThreadMutexHolder hold(m_mapLock);
        auto it = m_devices.begin();
        while (it != m_devices.end() && it->second.devicePath != devicePath)
            ++it;
        if (it == m_devices.end())
            return;
        event.slotId = it->first;
        event.ulEvent = kSlotEventRemoval;
        event.ulValue = it->second.deviceType;
        event.devicePath = devicePath;
        event.deviceName = it->second.displayName;
    }
    if (m_pfnCallback)
        m_pfnCallback(m_pContext, event);

    ThreadMutexHolder hold(m_mapLock);
    for (auto& [id, record] : m_devices) {
        if (record.devicePath == devicePath) {
            record.devicePath.clear();
            record.state = DeviceRecord::kAbsent;
            break;
        }
    }
}

} // namespace keycore
