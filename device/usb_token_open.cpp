#include "device/usb_token_open.h"

#include "device/token_base.h"
#include "device/usb_bus_lock.h"

namespace keycore {

CK_RV OpenUsbToken(CTokenBase& token, UsbOpenResult* pResult) {
    // The device found here belongs to the list just rebuilt; the lock keeps the monitor thread from
    // rebuilding (and freeing) it until the device is open.
    const CUsbBusListScan scan;
    struct usb_device* device = scan.FindDevice(token.GetDevicePath());
    if (!device)
        return CKR_DEVICE_ERROR;
    if (token.SelectEndpoints(device) != CKR_OK)
        return CKR_DEVICE_ERROR;
    usb_dev_handle* handle = usb_open(device);
    if (!handle)
        return CKR_DEVICE_ERROR;
    usb_detach_kernel_driver_np(handle, 0);
    pResult->handle = handle;
    pResult->idProduct = device->descriptor.idProduct;
    pResult->configTotalLength = device->config ? device->config[0].wTotalLength : 0;
    return CKR_OK;
}

} // namespace keycore
