#pragma once
// What one virtual token looks like on the bus: its libusb 0.1 structures, laid out exactly as
// Debian's <usb.h> has them, and the raw descriptor bytes a GET_DESCRIPTOR request returns.

#include <cstdint>
#include <string>
#include <usb.h>
#include <vector>

#include "vtoken/usb/daemon_link.h"

namespace vtoken::usb {

// One device node. `device` comes first so that the usb_device pointer handed to the program is
// the node itself; device.dev points back to it as well.
struct DeviceNode {
    struct usb_device device;
    uint64_t key = 0;          // daemon instance and token id
    DeviceEntry entry;
    usb_config_descriptor config;
    usb_interface interface;
    usb_interface_descriptor altsetting;
    usb_endpoint_descriptor endpoints[2];
    unsigned char configExtra[24];      // the vendor block that makes a large HID configuration 65 bytes
    unsigned char hidDescriptor[9];
};

// Allocates a node with every descriptor filled in for the token; the caller links it to a bus.
DeviceNode* NewDeviceNode(const DeviceEntry& entry, uint64_t key, struct usb_bus* bus);

// The raw descriptor of the given type and index (device, configuration, string), as the device
// would send it; empty when it has none (the request then stalls).
std::vector<uint8_t> RawDescriptor(const DeviceNode& node, uint8_t type, uint8_t index);

} // namespace vtoken::usb
