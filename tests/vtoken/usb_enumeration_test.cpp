// What a libusb 0.1 program sees on the virtual buses: descriptors, positions, lifetimes.

#include <cerrno>
#include <cstring>

#include "device/token_identity.h"
#include "vtoken_test_support.h"

namespace vtoken::test {
namespace {

namespace ti = keycore::token_identity;

using UsbEnumeration = VtokenTest;

struct DescriptorCase {
    std::vector<std::string> plug;
    uint16_t product;
    uint8_t interfaceClass, subclass, protocol;
    uint8_t outEndpoint;
    uint8_t transferType;
    uint16_t totalLength;
};

TEST_F(UsbEnumeration, EachKindShowsItsDescriptors) {
    const DescriptorCase cases[] = {
        {{"--kind", "bot"}, ti::kProductIdBulkOnly, 8, 6, 0x50, 0x02, USB_ENDPOINT_TYPE_BULK, 32},
        {{"--kind", "hid"}, ti::kProductIdHid, 3, 0, 0, 0x01, USB_ENDPOINT_TYPE_INTERRUPT, 41},
        {{"--kind", "hid", "--large"}, ti::kProductIdHid, 3, 0, 0, 0x01, USB_ENDPOINT_TYPE_INTERRUPT, 65},
    };
    for (const DescriptorCase& c : cases) {
        SCOPED_TRACE(c.plug.back());
        const PluggedToken token = Plug(c.plug);
        struct usb_device* dev = FindDevice(token.path);
        ASSERT_NE(dev, nullptr);
        EXPECT_EQ(dev->descriptor.idVendor, ti::kVendorId);
        EXPECT_EQ(dev->descriptor.idProduct, c.product);
        EXPECT_EQ(dev->descriptor.bcdDevice, ti::kReleaseNumber);
        EXPECT_EQ(dev->descriptor.bNumConfigurations, 1);
        ASSERT_NE(dev->config, nullptr);
        EXPECT_EQ(dev->config[0].wTotalLength, c.totalLength);
        ASSERT_EQ(dev->config[0].bNumInterfaces, 1);
        ASSERT_EQ(dev->config[0].interface[0].num_altsetting, 1);
        const usb_interface_descriptor& alt = dev->config[0].interface[0].altsetting[0];
        EXPECT_EQ(alt.bInterfaceClass, c.interfaceClass);
        EXPECT_EQ(alt.bInterfaceSubClass, c.subclass);
        EXPECT_EQ(alt.bInterfaceProtocol, c.protocol);
        ASSERT_EQ(alt.bNumEndpoints, 2);
        EXPECT_EQ(alt.endpoint[0].bEndpointAddress, 0x81);
        EXPECT_EQ(alt.endpoint[1].bEndpointAddress, c.outEndpoint);
        EXPECT_EQ(alt.endpoint[0].bmAttributes, c.transferType);
        EXPECT_EQ(alt.endpoint[1].bmAttributes, c.transferType);
        EXPECT_EQ(ti::DeviceTypeFor(dev->descriptor.idVendor, dev->descriptor.idProduct, dev->descriptor.bcdDevice),
                  c.product == ti::kProductIdHid ? ti::kDeviceTypeHid : ti::kDeviceTypeBulkOnly);

        // The raw descriptors a GET_DESCRIPTOR request returns agree with the structures.
        usb_dev_handle* h = usb_open(dev);
        ASSERT_NE(h, nullptr);
        unsigned char raw[256];
        ASSERT_EQ(usb_get_descriptor(h, USB_DT_CONFIG, 0, raw, sizeof raw), c.totalLength);
        EXPECT_EQ(raw[2] | raw[3] << 8, c.totalLength);
        ASSERT_EQ(usb_get_descriptor(h, USB_DT_DEVICE, 0, raw, sizeof raw), 18);
        EXPECT_EQ(raw[8] | raw[9] << 8, ti::kVendorId);
        char serial[64];
        ASSERT_GT(usb_get_string_simple(h, dev->descriptor.iSerialNumber, serial, sizeof serial), 0);
        EXPECT_EQ(std::string(serial), token.serial);
        usb_close(h);
    }
}

TEST_F(UsbEnumeration, DevicePathsNameFileAndBusDirectory) {
    const PluggedToken first = Plug({"--bus", "2"});
    const PluggedToken second = Plug({"--bus", "2"});
    EXPECT_EQ(first.path, "001:002");
    EXPECT_EQ(second.path, "002:002");
    ASSERT_NE(FindDevice(second.path), nullptr);
    struct usb_device* dev = FindDevice(first.path);
    ASSERT_NE(dev, nullptr);
    EXPECT_STREQ(dev->bus->dirname, "002");
    EXPECT_STREQ(dev->filename, "001");
    // Bus 1 is always there, even without a token on it, in bus order.
    ASSERT_NE(usb_get_busses(), nullptr);
    EXPECT_STREQ(usb_get_busses()->dirname, "001");
    EXPECT_EQ(usb_busses, usb_get_busses());
}

TEST_F(UsbEnumeration, ReplugTakesTheNextDeviceNumberAndRescanReportsChanges) {
    const PluggedToken token = Plug();
    usb_find_busses();
    EXPECT_EQ(usb_find_devices(), 1) << "the new token";
    EXPECT_EQ(usb_find_devices(), 0) << "nothing changed since the last scan";
    ASSERT_EQ(RunTool({"unplug", token.id}).exitCode, 0);
    EXPECT_EQ(usb_find_devices(), 1);
    EXPECT_EQ(FindDevice(token.path), nullptr);
    const PluggedToken again = Plug({"--serial", token.serial});
    EXPECT_EQ(again.serial, token.serial);
    EXPECT_NE(again.path, token.path) << "a replugged device gets a new device number";
    EXPECT_NE(FindDevice(again.path), nullptr);
}

TEST_F(UsbEnumeration, OpenOfAVanishedDeviceFailsAndTransfersOnItsHandleGetENODEV) {
    const PluggedToken token = Plug();
    struct usb_device* dev = FindDevice(token.path);
    ASSERT_NE(dev, nullptr);
    usb_dev_handle* h = usb_open(dev);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(RunTool({"unplug", token.id}).exitCode, 0);

    // Not yet rescanned: the node is still valid memory, but the device is gone.
    EXPECT_EQ(usb_open(dev), nullptr);
    const Exchange exchange = BotTransmit(h, FromHex("80500000000008"));
    EXPECT_EQ(exchange.rc, -ENODEV);
    EXPECT_EQ(usb_clear_halt(h, kIn), -ENODEV);
    EXPECT_EQ(usb_close(h), 0);
}

TEST_F(UsbEnumeration, HandlesDoNotReachARestartedDaemon) {
    const PluggedToken token = Plug();
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    StopDaemon();
    StartDaemon();
    const PluggedToken again = Plug({"--serial", token.serial});
    EXPECT_EQ(BotTransmit(h, FromHex("80500000000008")).rc, -ENODEV);
    usb_close(h);

    // The new daemon's token is a new device even where ids and positions coincide.
    usb_dev_handle* fresh = Open(again);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(BotTransmit(fresh, FromHex("80500000000008")).rc, 0);
    usb_close(fresh);
}

TEST_F(UsbEnumeration, WithoutADaemonThereAreNoBuses) {
    Plug();
    ASSERT_NE(FindDevice("001:001"), nullptr);
    StopDaemon();
    usb_find_busses();
    usb_find_devices();
    usb_find_busses();
    EXPECT_EQ(usb_get_busses(), nullptr);
    unsetenv("VTOKEN_SOCKET");
    EXPECT_EQ(usb_find_busses(), 0);
    EXPECT_EQ(usb_find_devices(), 0);
    EXPECT_EQ(usb_get_busses(), nullptr);
    setenv("VTOKEN_SOCKET", m_socket.c_str(), 1);
    StartDaemon();
}

TEST_F(UsbEnumeration, HandleCallsCheckTheirArguments) {
    const PluggedToken token = Plug();
    usb_dev_handle* h = Open(token);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(usb_device(h), FindDevice(token.path));
    EXPECT_EQ(usb_claim_interface(h, 0), 0);
    EXPECT_LT(usb_claim_interface(h, 1), 0);
    EXPECT_EQ(usb_set_configuration(h, 1), 0);
    EXPECT_EQ(usb_detach_kernel_driver_np(h, 0), -ENODATA);
    EXPECT_EQ(usb_release_interface(h, 0), 0);
    EXPECT_EQ(usb_bulk_write(nullptr, kBotOut, "x", 1, kTimeout), -EINVAL);
    EXPECT_EQ(usb_bulk_read(h, kIn, nullptr, 13, kTimeout), -EINVAL);
    EXPECT_EQ(usb_bulk_write(h, 0x05, "x", 1, kTimeout), -EINVAL) << "no such endpoint";
    EXPECT_EQ(usb_interrupt_write(h, kBotOut, "x", 1, kTimeout), -EINVAL) << "a bulk endpoint";
    EXPECT_EQ(usb_control_msg(h, 0x40, 1, 0, 0, nullptr, 0, kTimeout), -EPIPE);
    EXPECT_NE(std::strlen(usb_strerror()), 0u);
    usb_close(h);
}

} // namespace
} // namespace vtoken::test
