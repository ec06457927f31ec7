#include "device/usb_endpoints.h"

#include <usb.h>

namespace keycore {

bool ReadUsbEndpoints(const struct usb_device* pDevice, UsbEndpoints* pEndpoints) {
    *pEndpoints = UsbEndpoints();
    if (!pDevice || !pDevice->config)
        return false;
    const struct usb_config_descriptor& config = pDevice->config[0];
    for (int i = 0; i < config.bNumInterfaces && config.interface; ++i) {
        const struct usb_interface& iface = config.interface[i];
        if (iface.num_altsetting < 1 || !iface.altsetting)
            continue;
        const struct usb_interface_descriptor& setting = iface.altsetting[0];
        pEndpoints->interfaceSubClass = setting.bInterfaceSubClass;
        for (int e = 0; e < setting.bNumEndpoints && setting.endpoint; ++e) {
            const uint8_t address = setting.endpoint[e].bEndpointAddress;
            if (address > 0x80)
                pEndpoints->in = address;
            else
                pEndpoints->out = address;
        }
    }
    return pEndpoints->in != 0;
}

} // namespace keycore
