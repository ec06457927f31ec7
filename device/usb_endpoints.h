#pragma once
// Endpoint selection shared by both transports.

#include <cstdint>

struct usb_device;

namespace keycore {

struct UsbEndpoints {
    uint64_t in = 0;
    uint64_t out = 0;
    uint64_t interfaceSubClass = 0;
};

// Walks the first alternate setting of every interface of the device's first configuration: an
// endpoint address above 0x80 is the IN endpoint, any other the OUT endpoint (later endpoints win),
// and the subclass is the last interface's. False when no IN endpoint was found.
bool ReadUsbEndpoints(const struct usb_device* pDevice, UsbEndpoints* pEndpoints);

} // namespace keycore
