// The libusb 0.1 API over the vtoken daemon: every plugged virtual token appears on a virtual bus
// with its descriptors, and transfers go to the daemon. Preloaded in front of the real libusb 0.1,
// it serves the library and any other program unchanged.
//
// Lifetime rules are libusb's: usb_find_devices frees the nodes of devices that went away, so a
// program that keeps an old struct usb_device pointer holds a dangling one; usb_find_busses frees
// buses that went away and hold no devices. Bus and device lists are guarded by one mutex; each
// handle has its own mutex and daemon connection.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <usb.h>

#include "vtoken/usb/daemon_link.h"
#include "vtoken/usb/usb_descriptors.h"

struct usb_dev_handle {
    std::mutex mutex;
    vtoken::usb::DaemonConnection connection;
    struct usb_device* device = nullptr;
    uint32_t id = 0;
    vtoken::usb::DeviceEntry entry;   // a copy: descriptors stay readable after the node is freed
};

namespace {

using vtoken::usb::DeviceEntry;
using vtoken::usb::DeviceNode;
namespace wire = vtoken::wire;

std::mutex g_listMutex;
std::map<uint64_t, DeviceNode*> g_nodes;   // every node currently linked on a bus

thread_local char t_errorText[256] = "no error";

int Fail(int result, const char* what) {
    std::snprintf(t_errorText, sizeof t_errorText, "vtoken usb: %s: %s", what, std::strerror(-result));
    return result;
}

uint64_t KeyOf(uint32_t instance, uint32_t id) { return static_cast<uint64_t>(instance) << 32 | id; }

void LinkFront(struct usb_bus* bus, struct usb_device* device) {
    device->prev = nullptr;
    device->next = bus->devices;
    if (bus->devices)
        bus->devices->prev = device;
    bus->devices = device;
}

template <typename T> void Unlink(T** head, T* item) {
    if (item->prev)
        item->prev->next = item->next;
    else
        *head = item->next;
    if (item->next)
        item->next->prev = item->prev;
    item->next = item->prev = nullptr;
}

struct usb_bus* FindBus(uint8_t number) {
    for (struct usb_bus* bus = usb_busses; bus; bus = bus->next)
        if (bus->location == number)
            return bus;
    return nullptr;
}

// The bus numbers that exist now: bus 1 whenever a daemon answers, and every bus with a token.
std::set<uint8_t> CurrentBuses(const std::vector<DeviceEntry>& devices, bool daemonAnswers) {
    std::set<uint8_t> buses;
    if (daemonAnswers)
        buses.insert(1);
    for (const DeviceEntry& entry : devices)
        buses.insert(entry.bus);
    return buses;
}

int Transfer(usb_dev_handle* handle, wire::TransferType type, int endpoint, char* bytes, int size, bool read) {
    if (!handle)
        return Fail(-EINVAL, "no handle");
    if (size < 0 || (size > 0 && !bytes))
        return Fail(-EINVAL, "bad buffer");
    std::lock_guard<std::mutex> lock(handle->mutex);
    wire::Writer& request = handle->connection.Request();
    request.Reset();
    request.U8(static_cast<uint8_t>(wire::Op::kTransfer)).U32(handle->id).U8(static_cast<uint8_t>(type));
    request.U8(static_cast<uint8_t>(endpoint)).U32(static_cast<uint32_t>(size));
    if (!read)
        request.Bytes(reinterpret_cast<const uint8_t*>(bytes), static_cast<size_t>(size));
    if (!handle->connection.Call())
        return Fail(-ENODEV, "transfer");
    wire::Reader answer(handle->connection.Answer());
    const int32_t result = answer.I32();
    if (!answer.Ok())
        return Fail(-EIO, "transfer");
    if (result < 0)
        return Fail(result, "transfer");
    if (read) {
        const size_t count = std::min<size_t>(static_cast<size_t>(result), static_cast<size_t>(size));
        const uint8_t* data = answer.Bytes(count);
        if (!data)
            return Fail(-EIO, "transfer");
        std::memcpy(bytes, data, count);
        return static_cast<int>(count);
    }
    return result;
}

int SimpleHandleRequest(usb_dev_handle* handle, uint8_t endpoint, const char* what) {
    if (!handle)
        return Fail(-EINVAL, what);
    std::lock_guard<std::mutex> lock(handle->mutex);
    wire::Writer& request = handle->connection.Request();
    request.Reset();
    request.U8(static_cast<uint8_t>(wire::Op::kClearHalt)).U32(handle->id).U8(endpoint);
    if (!handle->connection.Call())
        return Fail(-ENODEV, what);
    wire::Reader answer(handle->connection.Answer());
    const int32_t result = answer.I32();
    if (!answer.Ok())
        return Fail(-EIO, what);
    return result < 0 ? Fail(result, what) : result;
}

} // namespace

#pragma GCC visibility push(default)

struct usb_bus* usb_busses = nullptr;

extern "C" {

void usb_init(void) {}

void usb_set_debug(int) {}

char* usb_strerror(void) { return t_errorText; }

struct usb_bus* usb_get_busses(void) { return usb_busses; }

int usb_find_busses(void) {
    std::vector<DeviceEntry> devices;
    uint32_t instance = 0;
    const bool answered = vtoken::usb::ListDevices(&devices, &instance);
    std::lock_guard<std::mutex> lock(g_listMutex);
    const std::set<uint8_t> wanted = CurrentBuses(devices, answered);
    int changes = 0;
    for (struct usb_bus* bus = usb_busses; bus;) {
        struct usb_bus* next = bus->next;
        if (!wanted.count(static_cast<uint8_t>(bus->location)) && !bus->devices) {
            Unlink(&usb_busses, bus);
            delete bus;
            ++changes;
        }
        bus = next;
    }
    for (uint8_t number : wanted) {
        if (FindBus(number))
            continue;
        auto* bus = new usb_bus();
        std::memset(bus, 0, sizeof *bus);
        std::snprintf(bus->dirname, sizeof bus->dirname, "%03u", number);
        bus->location = number;
        // Keep the list in bus order, as a directory scan would give it.
        struct usb_bus** link = &usb_busses;
        struct usb_bus* prev = nullptr;
        while (*link && (*link)->location < number) {
            prev = *link;
            link = &(*link)->next;
        }
        bus->next = *link;
        bus->prev = prev;
        if (*link)
            (*link)->prev = bus;
        *link = bus;
        ++changes;
    }
    return changes;
}

int usb_find_devices(void) {
    std::vector<DeviceEntry> devices;
    uint32_t instance = 0;
    vtoken::usb::ListDevices(&devices, &instance);
    std::lock_guard<std::mutex> lock(g_listMutex);
    std::set<uint64_t> present;
    int changes = 0;
    for (const DeviceEntry& entry : devices) {
        const uint64_t key = KeyOf(instance, entry.id);
        struct usb_bus* bus = FindBus(entry.bus);
        if (!bus)
            continue;   // its bus appears with the next usb_find_busses
        present.insert(key);
        if (g_nodes.count(key))
            continue;
        DeviceNode* node = vtoken::usb::NewDeviceNode(entry, key, bus);
        LinkFront(bus, &node->device);
        g_nodes[key] = node;
        ++changes;
    }
    for (auto it = g_nodes.begin(); it != g_nodes.end();) {
        if (present.count(it->first)) {
            ++it;
            continue;
        }
        DeviceNode* node = it->second;
        Unlink(&node->device.bus->devices, &node->device);
        delete node;
        it = g_nodes.erase(it);
        ++changes;
    }
    return changes;
}

struct usb_device* usb_device(usb_dev_handle* dev) { return dev ? dev->device : nullptr; }

usb_dev_handle* usb_open(struct usb_device* dev) {
    if (!dev || !dev->dev) {
        Fail(-EINVAL, "usb_open");
        return nullptr;
    }
    auto* node = static_cast<DeviceNode*>(dev->dev);
    auto* handle = new usb_dev_handle();
    handle->device = dev;
    handle->id = node->entry.id;
    handle->entry = node->entry;
    if (!handle->connection.Connect()) {
        Fail(-ENODEV, "usb_open");
        delete handle;
        return nullptr;
    }
    handle->connection.Request().Reset();
    handle->connection.Request().U8(static_cast<uint8_t>(wire::Op::kOpen)).U32(handle->id);
    int32_t result = -ENODEV;
    if (handle->connection.Call()) {
        wire::Reader answer(handle->connection.Answer());
        result = answer.I32();
        if (!answer.Ok())
            result = -EIO;
    }
    if (result < 0) {
        Fail(result, "usb_open");
        delete handle;
        return nullptr;
    }
    return handle;
}

int usb_close(usb_dev_handle* dev) {
    if (!dev)
        return Fail(-EINVAL, "usb_close");
    delete dev;
    return 0;
}

int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int) {
    return Transfer(dev, wire::TransferType::kBulk, ep, const_cast<char*>(bytes), size, false);
}

int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int) {
    return Transfer(dev, wire::TransferType::kBulk, ep | USB_ENDPOINT_IN, bytes, size, true);
}

int usb_interrupt_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int) {
    return Transfer(dev, wire::TransferType::kInterrupt, ep, const_cast<char*>(bytes), size, false);
}

int usb_interrupt_read(usb_dev_handle* dev, int ep, char* bytes, int size, int) {
    return Transfer(dev, wire::TransferType::kInterrupt, ep | USB_ENDPOINT_IN, bytes, size, true);
}

int usb_clear_halt(usb_dev_handle* dev, unsigned int ep) {
    if (ep == 0)
        return 0;   // the control endpoint never stalls here
    return SimpleHandleRequest(dev, static_cast<uint8_t>(ep), "usb_clear_halt");
}

int usb_resetep(usb_dev_handle* dev, unsigned int ep) { return usb_clear_halt(dev, ep); }

int usb_reset(usb_dev_handle* dev) { return SimpleHandleRequest(dev, 0, "usb_reset"); }

int usb_set_configuration(usb_dev_handle* dev, int configuration) {
    if (!dev)
        return Fail(-EINVAL, "usb_set_configuration");
    return configuration == 1 ? 0 : Fail(-EINVAL, "usb_set_configuration");
}

int usb_claim_interface(usb_dev_handle* dev, int interface) {
    if (!dev)
        return Fail(-EINVAL, "usb_claim_interface");
    return interface == 0 ? 0 : Fail(-ENOENT, "usb_claim_interface");
}

int usb_release_interface(usb_dev_handle* dev, int interface) {
    if (!dev)
        return Fail(-EINVAL, "usb_release_interface");
    return interface == 0 ? 0 : Fail(-ENOENT, "usb_release_interface");
}

int usb_set_altinterface(usb_dev_handle* dev, int alternate) {
    if (!dev)
        return Fail(-EINVAL, "usb_set_altinterface");
    return alternate == 0 ? 0 : Fail(-EINVAL, "usb_set_altinterface");
}

// No kernel driver is bound to a virtual token.
int usb_get_driver_np(usb_dev_handle* dev, int, char*, unsigned int) {
    return Fail(dev ? -ENODATA : -EINVAL, "usb_get_driver_np");
}

int usb_detach_kernel_driver_np(usb_dev_handle* dev, int) {
    return Fail(dev ? -ENODATA : -EINVAL, "usb_detach_kernel_driver_np");
}

int usb_control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int, char* bytes, int size,
                    int) {
    if (!dev || size < 0 || (size > 0 && !bytes))
        return Fail(-EINVAL, "usb_control_msg");
    // Standard GET_DESCRIPTOR is answered from the descriptors; other requests stall, as a device
    // does with a request it does not know.
    if (requesttype != USB_ENDPOINT_IN || request != USB_REQ_GET_DESCRIPTOR)
        return Fail(-EPIPE, "usb_control_msg");
    std::vector<uint8_t> descriptor;
    {
        std::lock_guard<std::mutex> lock(dev->mutex);
        DeviceNode* node = vtoken::usb::NewDeviceNode(dev->entry, 0, nullptr);
        descriptor = vtoken::usb::RawDescriptor(*node, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value));
        delete node;
    }
    if (descriptor.empty())
        return Fail(-EPIPE, "usb_control_msg");
    const size_t count = std::min(descriptor.size(), static_cast<size_t>(size));
    std::memcpy(bytes, descriptor.data(), count);
    return static_cast<int>(count);
}

int usb_get_descriptor(usb_dev_handle* udev, unsigned char type, unsigned char index, void* buf, int size) {
    return usb_control_msg(udev, USB_ENDPOINT_IN, USB_REQ_GET_DESCRIPTOR, (type << 8) + index, 0,
                           static_cast<char*>(buf), size, 1000);
}

int usb_get_descriptor_by_endpoint(usb_dev_handle* udev, int, unsigned char type, unsigned char index, void* buf,
                                   int size) {
    return usb_get_descriptor(udev, type, index, buf, size);
}

int usb_get_string(usb_dev_handle* dev, int index, int, char* buf, size_t buflen) {
    return usb_control_msg(dev, USB_ENDPOINT_IN, USB_REQ_GET_DESCRIPTOR, (USB_DT_STRING << 8) + index, 0, buf,
                           static_cast<int>(std::min<size_t>(buflen, 255)), 1000);
}

int usb_get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen) {
    if (!buf || buflen == 0)
        return Fail(-EINVAL, "usb_get_string_simple");
    char raw[255];
    const int length = usb_get_string(dev, index, 0x0409, raw, sizeof raw);
    if (length < 0)
        return length;
    if (length < 2 || raw[1] != USB_DT_STRING)
        return Fail(-EIO, "usb_get_string_simple");
    // UTF-16LE to ASCII, '?' for what does not fit.
    size_t out = 0;
    for (int i = 2; i + 1 < length && out + 1 < buflen; i += 2)
        buf[out++] = raw[i + 1] == 0 && (raw[i] & 0x80) == 0 ? raw[i] : '?';
    buf[out] = '\0';
    return static_cast<int>(out);
}

} // extern "C"

#pragma GCC visibility pop
