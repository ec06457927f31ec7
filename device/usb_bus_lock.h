#pragma once
// libusb 0.1 keeps one bus and device list per process. usb_find_busses and usb_find_devices rebuild
// it and free the devices that went away, so a `struct usb_device *` read from the list is only valid
// until the next rebuild. Every walk of the list (the monitor's scan pass, the search of OpenDevice)
// holds this lock from the rebuild until it is done with the devices it found.

#include "runtime/thread_mutex.h"

#include <string>

struct usb_bus;
struct usb_device;

namespace keycore {

ThreadMutex& UsbBusListMutex();

// The device path: "%s:%s" of the device file name and the bus directory name ("007:002").
std::string FormatUsbDevicePath(const char* fileName, const char* busName);

// Holds the bus-list lock and rebuilds the list on construction.
class CUsbBusListScan {
public:
    CUsbBusListScan();
    CUsbBusListScan(const CUsbBusListScan&) = delete;
    CUsbBusListScan& operator=(const CUsbBusListScan&) = delete;
    ~CUsbBusListScan() = default;

    // The first bus of the list just rebuilt (null when there is none).
    struct usb_bus* Busses() const;
    // The device whose path is devicePath, or null. Valid while this object lives.
    struct usb_device* FindDevice(const std::string& devicePath) const;

private:
    ThreadMutexHolder m_holder;
};

} // namespace keycore
