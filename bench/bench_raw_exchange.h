#pragma once
// GenRandom of 8 bytes sent by hand through the libusb 0.1 layer (the preloaded replacement), framed
// as each kind of token expects: the raw round trip the other benchmarks compare against.

#include <cstring>
#include <string>
#include <usb.h>

namespace bench_raw {

inline const unsigned char kGenRandom8[] = {0x80, 0x50, 0x00, 0x00, 0x00, 0x00, 0x08};

// The device whose "filename:dirname" is path, opened; null when the bus has none. usb_init() must
// have run in the process.
inline usb_dev_handle* OpenPath(const std::string& path) {
    usb_find_busses();
    usb_find_devices();
    for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next)
        for (struct usb_device* dev = bus->devices; dev != nullptr; dev = dev->next)
            if (std::string(dev->filename) + ":" + bus->dirname == path)
                return usb_open(dev);
    return nullptr;
}

// Command phase with the APDU, then a data-in phase for the answer; each phase ends with a status.
inline bool BulkOnlyGenRandom(usb_dev_handle* h) {
    // The fixed tag and command block the token's bulk-only transport expects in every wrapper.
    static const unsigned char kBlock[10] = {0xFF, 'O', 'R', 'V', 'E', 'X', 0, 0, 0, 0x55};
    unsigned char out[31] = {'U', 'S', 'B', 'C', 0x44, 0x33, 0x22, 0x11, sizeof kGenRandom8, 0, 0, 0, 0x00, 0, 10};
    std::memcpy(out + 15, kBlock, sizeof kBlock);
    unsigned char in[31];
    std::memcpy(in, out, sizeof out);
    in[8] = 0x40;
    in[9] = 0x10;
    in[12] = 0x80;
    char status[13];
    char data[4160];
    return usb_bulk_write(h, 0x02, reinterpret_cast<char*>(out), 31, 1000) == 31 &&
           usb_bulk_write(h, 0x02, const_cast<char*>(reinterpret_cast<const char*>(kGenRandom8)), 7, 1000) == 7 &&
           usb_bulk_read(h, 0x81, status, 13, 1000) == 13 &&
           usb_bulk_write(h, 0x02, reinterpret_cast<char*>(in), 31, 1000) == 31 &&
           usb_bulk_read(h, 0x81, data, sizeof data, 1000) == 10 && usb_bulk_read(h, 0x81, status, 13, 1000) == 13;
}

// One report out with the APDU, one report back with the 8 bytes and the status word.
inline bool HidGenRandom(usb_dev_handle* h) {
    char report[64] = {0, 7, 0, 0, 0, 7};
    std::memcpy(report + 6, kGenRandom8, sizeof kGenRandom8);
    char in[64];
    return usb_interrupt_write(h, 0x01, report, 64, 1000) == 64 && usb_interrupt_read(h, 0x81, in, 64, 1000) == 64 &&
           in[5] == 10;
}

} // namespace bench_raw
