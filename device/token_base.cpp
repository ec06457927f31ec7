#include "device/token_base.h"

#include "runtime/secure_wipe.h"

#include <cstring>

namespace keycore {

usb_dev_handle* NoUsbHandle() {
    // An address no allocation can return: a handle compared against it is never mistaken for a
    // real one, and a null handle from libusb stays distinguishable from "not open".
    static char sentinel;
    return reinterpret_cast<usb_dev_handle*>(&sentinel);
}

CTokenBase::CTokenBase(CSlot* pSlot, const std::string& devicePath)
    : m_pSlot(pSlot), m_devicePath(devicePath), m_hUsb(NoUsbHandle()) {
    std::memset(&m_tokenInfo, 0, sizeof(m_tokenInfo));
    std::memset(m_soPinCache, 0, sizeof(m_soPinCache));
}

CTokenBase::~CTokenBase() {
    SecureWipe(m_soPinCache, sizeof(m_soPinCache));
}

} // namespace keycore
