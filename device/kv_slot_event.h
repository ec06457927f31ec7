#pragma once
// The slot event record: what the device monitor reports to its callback and what the slot manager
// queues and sends to the other processes.

#include <p11-kit/pkcs11.h>

#include <string>

namespace keycore {

// Event codes raised by the device monitor; the other codes belong to the slot manager.
inline constexpr CK_ULONG kSlotEventArrival = 1;
inline constexpr CK_ULONG kSlotEventRemoval = 2;

struct KV_SLOT_EVENT {
    CK_SLOT_ID slotId = 0;
    CK_ULONG ulEvent = 0;
    // Arrival: the device-type code; removal: no meaning.
    CK_ULONG ulParam = 0;
    // The device-type code.
    CK_ULONG ulValue = 0;
    // "%s:%s" of the libusb device file name and the bus directory name.
    std::string devicePath;
    std::string deviceName;
};

// The monitor calls it on its own thread; the callee does its own locking.
using KvSlotEventCallback = CK_RV (*)(void* pContext, KV_SLOT_EVENT& event);

} // namespace keycore
