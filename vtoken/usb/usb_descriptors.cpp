#include "vtoken/usb/usb_descriptors.h"

#include <cstdio>
#include <cstring>

#include "device/token_identity.h"

namespace vtoken::usb {

namespace ti = keycore::token_identity;

namespace {

constexpr uint16_t kBulkOnlyConfigLength = 9 + 9 + 7 + 7;
constexpr uint16_t kHidConfigLength = 9 + 9 + 9 + 7 + 7;
constexpr uint16_t kLargeHidConfigLength = 65;
constexpr uint16_t kReportDescriptorLength = 34;

void FillEndpoint(usb_endpoint_descriptor* endpoint, uint8_t address, bool interrupt) {
    std::memset(endpoint, 0, sizeof *endpoint);
    endpoint->bLength = USB_DT_ENDPOINT_SIZE;
    endpoint->bDescriptorType = USB_DT_ENDPOINT;
    endpoint->bEndpointAddress = address;
    endpoint->bmAttributes = interrupt ? USB_ENDPOINT_TYPE_INTERRUPT : USB_ENDPOINT_TYPE_BULK;
    endpoint->wMaxPacketSize = interrupt ? 64 : 512;
    endpoint->bInterval = interrupt ? 1 : 0;
}

void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

std::vector<uint8_t> StringDescriptor(const std::string& text) {
    std::vector<uint8_t> out{static_cast<uint8_t>(2 + 2 * text.size()), USB_DT_STRING};
    for (char c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

} // namespace

DeviceNode* NewDeviceNode(const DeviceEntry& entry, uint64_t key, struct usb_bus* bus) {
    auto* node = new DeviceNode();
    std::memset(&node->device, 0, sizeof node->device);
    node->key = key;
    node->entry = entry;
    const bool hid = entry.kind == wire::TokenKind::kHid;

    struct usb_device& device = node->device;
    std::snprintf(device.filename, sizeof device.filename, "%03u", entry.devnum);
    device.bus = bus;
    device.dev = node;
    device.devnum = entry.devnum;

    usb_device_descriptor& descriptor = device.descriptor;
    descriptor.bLength = USB_DT_DEVICE_SIZE;
    descriptor.bDescriptorType = USB_DT_DEVICE;
    descriptor.bcdUSB = 0x0200;
    descriptor.bMaxPacketSize0 = 64;
    descriptor.idVendor = entry.vendor != 0 ? entry.vendor : ti::kVendorId;
    descriptor.idProduct = entry.product != 0 ? entry.product : hid ? ti::kProductIdHid : ti::kProductIdBulkOnly;
    descriptor.bcdDevice = ti::kReleaseNumber;
    descriptor.iManufacturer = 1;
    descriptor.iProduct = 2;
    descriptor.iSerialNumber = 3;
    descriptor.bNumConfigurations = 1;

    // Bulk-Only: IN 0x81 and OUT 0x02. HID: interrupt IN 0x81 and OUT 0x01.
    FillEndpoint(&node->endpoints[0], 0x81, hid);
    FillEndpoint(&node->endpoints[1], hid ? 0x01 : 0x02, hid);

    usb_interface_descriptor& alt = node->altsetting;
    std::memset(&alt, 0, sizeof alt);
    alt.bLength = USB_DT_INTERFACE_SIZE;
    alt.bDescriptorType = USB_DT_INTERFACE;
    alt.bNumEndpoints = 2;
    alt.bInterfaceClass = hid ? USB_CLASS_HID : USB_CLASS_MASS_STORAGE;
    alt.bInterfaceSubClass = hid ? 0 : 6;
    alt.bInterfaceProtocol = hid ? 0 : 0x50;
    alt.endpoint = node->endpoints;
    if (hid) {
        const unsigned char hidDescriptor[9] = {9, USB_DT_HID, 0x10, 0x01, 0, 1, USB_DT_REPORT,
                                                kReportDescriptorLength, 0};
        std::memcpy(node->hidDescriptor, hidDescriptor, sizeof hidDescriptor);
        alt.extra = node->hidDescriptor;
        alt.extralen = sizeof hidDescriptor;
    }

    node->interface.altsetting = &node->altsetting;
    node->interface.num_altsetting = 1;

    usb_config_descriptor& config = node->config;
    std::memset(&config, 0, sizeof config);
    config.bLength = USB_DT_CONFIG_SIZE;
    config.bDescriptorType = USB_DT_CONFIG;
    config.wTotalLength = !hid ? kBulkOnlyConfigLength : entry.large ? kLargeHidConfigLength : kHidConfigLength;
    config.bNumInterfaces = 1;
    config.bConfigurationValue = 1;
    config.bmAttributes = 0x80;
    config.MaxPower = 50;
    config.interface = &node->interface;
    if (hid && entry.large) {
        std::memset(node->configExtra, 0, sizeof node->configExtra);
        node->configExtra[0] = sizeof node->configExtra;
        node->configExtra[1] = 0xFF;   // vendor-specific descriptor type
        config.extra = node->configExtra;
        config.extralen = sizeof node->configExtra;
    }
    device.config = &node->config;
    return node;
}

std::vector<uint8_t> RawDescriptor(const DeviceNode& node, uint8_t type, uint8_t index) {
    std::vector<uint8_t> out;
    if (type == USB_DT_DEVICE && index == 0) {
        const usb_device_descriptor& d = node.device.descriptor;
        out = {d.bLength, d.bDescriptorType};
        PutLe16(out, d.bcdUSB);
        out.insert(out.end(), {d.bDeviceClass, d.bDeviceSubClass, d.bDeviceProtocol, d.bMaxPacketSize0});
        PutLe16(out, d.idVendor);
        PutLe16(out, d.idProduct);
        PutLe16(out, d.bcdDevice);
        out.insert(out.end(), {d.iManufacturer, d.iProduct, d.iSerialNumber, d.bNumConfigurations});
    } else if (type == USB_DT_CONFIG && index == 0) {
        const usb_config_descriptor& c = node.config;
        out = {c.bLength, c.bDescriptorType};
        PutLe16(out, c.wTotalLength);
        out.insert(out.end(), {c.bNumInterfaces, c.bConfigurationValue, c.iConfiguration, c.bmAttributes, c.MaxPower});
        out.insert(out.end(), c.extra, c.extra + c.extralen);
        const usb_interface_descriptor& a = node.altsetting;
        out.insert(out.end(), {a.bLength, a.bDescriptorType, a.bInterfaceNumber, a.bAlternateSetting,
                               a.bNumEndpoints, a.bInterfaceClass, a.bInterfaceSubClass, a.bInterfaceProtocol,
                               a.iInterface});
        out.insert(out.end(), a.extra, a.extra + a.extralen);
        for (const usb_endpoint_descriptor& e : node.endpoints) {
            out.insert(out.end(), {e.bLength, e.bDescriptorType, e.bEndpointAddress, e.bmAttributes});
            PutLe16(out, e.wMaxPacketSize);
            out.push_back(e.bInterval);
        }
    } else if (type == USB_DT_STRING) {
        switch (index) {
        case 0:
            out = {4, USB_DT_STRING, 0x09, 0x04};   // US English only
            break;
        case 1:
            out = StringDescriptor("vtoken");
            break;
        case 2:
            out = StringDescriptor(node.entry.kind == wire::TokenKind::kHid ? "Virtual token (HID)"
                                                                             : "Virtual token (Bulk-Only)");
            break;
        case 3:
            out = StringDescriptor(node.entry.serial);
            break;
        default:
            break;
        }
    }
    return out;
}

} // namespace vtoken::usb
