#pragma once
// The Linux device monitor: polls libusb 0.1 from a thread of its own. Only one process of the
// machine scans at a time: its scan thread holds the monitor start mutex (released by the kernel when
// the process dies, so a waiting process takes over). The run complete mutex, held by the scanning
// thread through its first pass, lets Start in any process wait until the device list is known.

#include "device/dev_mon_base.h"
#include "runtime/process_mutex.h"
#include "runtime/thread.h"
#include "runtime/thread_mutex.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace keycore {

class CUnixDevChgMon : public CDevMonBase {
public:
    // Pause between two passes of the scan.
    static constexpr int kPassPauseMicros = 5000;
    // How often a waiting scan thread tries the start mutex (and notices a stop).
    static constexpr int kTakeOverPollMicros = 5000;
    // Longest wait of Stop for the scan thread to end.
    static constexpr int kStopWaitMs = 1000;

    CUnixDevChgMon() = default;
    ~CUnixDevChgMon() override;

    CK_RV Start() override;
    CK_RV Stop() override;
    CK_RV Init(KvSlotEventCallback pfnCallback, void* pContext) override;
    DeviceMap GetDeviceMap() override;
    int LoadSharedTable() override;
    int GetDeviceType() override;
    CK_SLOT_ID GetSlotIdByPath(const std::string& devicePath) override;
    void OnDevicePresent(const std::string& devicePath, int notify, uint64_t reserved1, uint64_t reserved2) override;
    void OnDeviceRemoved(const std::string& devicePath) override;

    // Display name of a device type ("" when the type is not a model of the family).
    static std::string ModelName(int deviceType);
    static std::string StartMutexName();
    static std::string RunCompleteMutexName();

private:
    // The identity of a USB device, copied out of libusb's list: the list is rebuilt (and its devices
    // freed) by every pass and by OpenDevice, so no `usb_device` pointer is kept past a walk.
    struct UsbIdentity {
        uint16_t idVendor = 0;
        uint16_t idProduct = 0;
        uint16_t bcdDevice = 0;
    };
    struct FoundDevice {
        std::string path;
        UsbIdentity identity;
    };

    // The vendor and release rule; the product id then selects the type (or none).
    static bool IsFamilyDevice(const UsbIdentity& identity);
    static void ScanThreadMain(Thread& thread, void* pUserData);
    static bool StopScanThread(void* pUserData);

    void ScanLoop();
    bool AcquireStartMutex();
    void ScanPass();
    std::vector<FoundDevice> WalkBuses();
    // Sleeps up to micros, or less when a stop is requested. True while no stop is requested.
    bool PauseUnlessStopped(int micros);
    bool StopRequested();
    void SignalReady();
    void MarkScanEnded();

    ThreadMutex m_mapLock;
    DeviceMap m_devices;
    KvSlotEventCallback m_pfnCallback = nullptr;
    void* m_pContext = nullptr;
    CProcessMutex m_startMutex;
    // Used only by the scan thread (Start opens its own object on the same semaphore).
    CProcessMutex m_runCompleteMutex;
    std::vector<std::unique_ptr<Thread>> m_threads;
    std::atomic<bool> m_running{false};
    // Guarded by m_mapLock.
    bool m_hasLastMatched = false;
    UsbIdentity m_lastMatched;

    // The scan thread's life, for Start and the stop routine.
    std::mutex m_stateMutex;
    std::condition_variable m_stateChanged;
    bool m_stopRequested = false;
    bool m_scanReady = false;
    bool m_scanEnded = true;
};

} // namespace keycore
