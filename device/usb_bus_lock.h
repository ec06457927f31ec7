#pragma once
// libusb 0.1 keeps one bus and device list per process. usb_find_busses and usb_find_devices rebuild
// it and free the devices that went away, so a `struct usb_device *` read from the list is only valid
// until the next rebuild. Every walk of the list (the monitor's scan pass, the search of OpenDevice)
// holds this lock from the rebuild until it is done with the devices it found.

#include "runtime/thread_mutex.h"

struct usb_bus;

namespace keycore {

ThreadMutex& UsbBusListMutex();

// Holds the bus-list lock and rebuilds the list on construction.
class CUsbBusListScan {
public:
    CUsbBusListScan();
    CUsbBusListScan(const CUsbBusListScan&) = delete;
    CUsbBusListScan& operator=(const CUsbBusListScan&) = delete;
    ~CUsbBusListScan() = default;

    // The first bus of the list just rebuilt (null when there is none).
    struct usb_bus* Busses() const;

private:
    ThreadMutexHolder m_holder;
};

} // namespace keycore
