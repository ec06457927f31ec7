#include "device/usb_bus_lock.h"

#include <usb.h>

namespace keycore {

ThreadMutex& UsbBusListMutex() {
    // Never destroyed: a monitor thread may still be ending while static destructors run.
    static ThreadMutex* const s_mutex = new ThreadMutex();
    return *s_mutex;
}

CUsbBusListScan::CUsbBusListScan() : m_holder(UsbBusListMutex()) {
    // Negative results mean "no buses" (a machine without a USB file system); the walk then finds
    // whatever libusb holds, which may be nothing.
    usb_find_busses();
    usb_find_devices();
}

struct usb_bus* CUsbBusListScan::Busses() const {
    return usb_get_busses();
}

struct usb_device* CUsbBusListScan::FindDevice(const std::string& devicePath) const {
    for (struct usb_bus* bus = Busses(); bus; bus = bus->next)
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next)
            if (FormatUsbDevicePath(dev->filename, bus->dirname) == devicePath)
                return dev;
    return nullptr;
}

std::string FormatUsbDevicePath(const char* fileName, const char* busName) {
    return std::string(fileName) + ":" + busName;
}

} // namespace keycore
