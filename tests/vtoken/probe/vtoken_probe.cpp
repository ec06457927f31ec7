// vtoken_probe: an ordinary libusb 0.1 program. It lists the tokens it finds with their
// descriptors and sends one 8-byte GenRandom to each through the token's framing. Run under
// scripts/with-vtoken it shows that an unchanged libusb program sees and drives virtual tokens.
//   vtoken_probe [--expect N]    exit 0 when every token answered (and N tokens were found)

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <usb.h>
#include <vector>

#include "device/token_identity.h"

namespace {

namespace ti = keycore::token_identity;

const unsigned char kGenRandom[] = {0x80, 0x50, 0x00, 0x00, 0x00, 0x00, 0x08};

bool BulkOnlyGenRandom(usb_dev_handle* h, std::vector<unsigned char>* answer) {
    unsigned char cbw[31] = {'U', 'S', 'B', 'C', 0x44, 0x33, 0x22, 0x11, sizeof kGenRandom, 0, 0, 0, 0x00, 0, 10,
                             0xFF, 'O', 'R', 'V', 'E', 'X', 0, 0, 0, 0x55};
    char status[13];
    if (usb_bulk_write(h, 0x02, reinterpret_cast<char*>(cbw), 31, 1000) != 31 ||
        usb_bulk_write(h, 0x02, reinterpret_cast<const char*>(kGenRandom), sizeof kGenRandom, 1000) !=
            sizeof kGenRandom ||
        usb_bulk_read(h, 0x81, status, 13, 1000) != 13)
        return false;
    cbw[8] = 0x40;   // 4,160 = 0x1040
    cbw[9] = 0x10;
    cbw[12] = 0x80;
    char data[4160];
    if (usb_bulk_write(h, 0x02, reinterpret_cast<char*>(cbw), 31, 1000) != 31)
        return false;
    const int got = usb_bulk_read(h, 0x81, data, sizeof data, 1000);
    if (got <= 0 || usb_bulk_read(h, 0x81, status, 13, 1000) != 13)
        return false;
    answer->assign(data, data + got);
    return true;
}

bool HidGenRandom(usb_dev_handle* h, std::vector<unsigned char>* answer) {
    unsigned char report[64] = {0, sizeof kGenRandom, 0, 0, 0, sizeof kGenRandom};
    std::memcpy(report + 6, kGenRandom, sizeof kGenRandom);
    if (usb_interrupt_write(h, 0x01, reinterpret_cast<char*>(report), 64, 1000) != 64)
        return false;
    char in[64];
    if (usb_interrupt_read(h, 0x81, in, 64, 1000) != 64)
        return false;
    const unsigned length = static_cast<unsigned char>(in[5]);
    if (length > 58)
        return false;
    answer->assign(in + 6, in + 6 + length);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int expected = -1;
    if (argc == 3 && std::strcmp(argv[1], "--expect") == 0)
        expected = std::atoi(argv[2]);
    usb_init();
    usb_find_busses();
    usb_find_devices();
    int found = 0;
    bool ok = true;
    for (struct usb_bus* bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next) {
            const usb_device_descriptor& d = dev->descriptor;
            const int type = ti::DeviceTypeFor(d.idVendor, d.idProduct, d.bcdDevice);
            if (type == ti::kDeviceTypeNone)
                continue;
            ++found;
            const usb_interface_descriptor& alt = dev->config[0].interface[0].altsetting[0];
            std::printf("%s:%s %04x:%04x bcd %04x class %u/%u/%u total %u endpoints", dev->filename, bus->dirname,
                        d.idVendor, d.idProduct, d.bcdDevice, alt.bInterfaceClass, alt.bInterfaceSubClass,
                        alt.bInterfaceProtocol, dev->config[0].wTotalLength);
            for (int e = 0; e < alt.bNumEndpoints; ++e)
                std::printf(" %02x", alt.endpoint[e].bEndpointAddress);
            usb_dev_handle* h = usb_open(dev);
            std::vector<unsigned char> answer;
            const bool answered = h && (type == ti::kDeviceTypeHid ? HidGenRandom(h, &answer)
                                                                   : BulkOnlyGenRandom(h, &answer));
            const bool good = answered && answer.size() == 10 && answer[8] == 0x90 && answer[9] == 0x00;
            std::printf(" genrandom %s\n", good ? "ok" : "FAILED");
            ok = ok && good;
            if (h)
                usb_close(h);
        }
    }
    if (expected >= 0 && found != expected) {
        std::printf("found %d tokens, expected %d\n", found, expected);
        return 1;
    }
    return ok ? 0 : 1;
}
