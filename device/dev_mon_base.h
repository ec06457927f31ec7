#pragma once
// The device monitor: finds the tokens on the USB buses, gives each one a slot identifier that every
// process agrees on, and reports arrivals (event 1) and removals (event 2) through one callback.

#include "device/kv_slot_event.h"

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <map>
#include <string>

namespace keycore {

// What a monitor knows about one slot identifier.
struct DeviceRecord {
    static constexpr uint64_t kPresent = 32;
    static constexpr uint64_t kAbsent = 16;

    uint64_t slotId = 0;
    uint8_t deviceType = 0;
    uint64_t state = kAbsent;
    // As last read from the shared slot table: an identifier whose shared state is kAbsent may be
    // given to a new device.
    uint64_t sharedState = kAbsent;
    std::string displayName;
    // Empty while the device is absent.
    std::string devicePath;
};

using DeviceMap = std::map<uint64_t, DeviceRecord>;

class CDevMonBase {
public:
    CDevMonBase() = default;
    CDevMonBase(const CDevMonBase&) = delete;
    CDevMonBase& operator=(const CDevMonBase&) = delete;
    // Implementations stop their threads in their own destructor.
    virtual ~CDevMonBase() = default;

    // Starts scanning and returns once the scanning process (this one or another) has finished its
    // first full pass. 0 or CKR_GENERAL_ERROR.
    virtual CK_RV Start() = 0;
    // Ends the scanning thread; teardown may continue once it returns. 0.
    virtual CK_RV Stop() = 0;
    // Stores the callback and its context and sets up the cross-process objects. 0 or CKR_GENERAL_ERROR.
    virtual CK_RV Init(KvSlotEventCallback pfnCallback, void* pContext) = 0;
    virtual DeviceMap GetDeviceMap() = 0;
    // Rebuilds the device map from the shared slot table. 0 (also when there is no table), -1 when it
    // cannot be read.
    virtual int LoadSharedTable() = 0;
    // Type code (9, 8 or 0) of the device last matched by the scan.
    virtual int GetDeviceType() = 0;
    // The identifier for a device path; 0 when none can be given.
    virtual CK_SLOT_ID GetSlotIdByPath(const std::string& devicePath) = 0;
    virtual void OnDevicePresent(const std::string& devicePath, int notify, uint64_t reserved1, uint64_t reserved2) = 0;
    virtual void OnDeviceRemoved(const std::string& devicePath) = 0;
};

} // namespace keycore
