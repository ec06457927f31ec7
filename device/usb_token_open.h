#pragma once
// The part of opening a token that both transports share.

#include <p11-kit/pkcs11.h>
#include <usb.h>

#include <cstdint>

namespace keycore {

class CTokenBase;

struct UsbOpenResult {
    usb_dev_handle* handle = nullptr;
    uint16_t idProduct = 0;
    // wTotalLength of the first configuration descriptor (0 when the device has none).
    uint16_t configTotalLength = 0;
};

// Rebuilds libusb's bus list (under the bus-list lock), finds the device of the token's path, lets
// the token select its endpoints, opens the device and detaches a kernel driver from interface 0.
// 0, or CKR_DEVICE_ERROR when the device is not there, has no IN endpoint or cannot be opened.
CK_RV OpenUsbToken(CTokenBase& token, UsbOpenResult* pResult);

} // namespace keycore
