#include "vtoken/framing.h"

#include <cerrno>

namespace vtoken {

bool Framing::CheckEndpoint(wire::TransferType type, uint8_t endpoint, uint8_t expected) const {
    // usbfs turns a bulk transfer on an interrupt endpoint into an interrupt transfer, but refuses
    // an interrupt transfer on a bulk endpoint.
    if (type == wire::TransferType::kInterrupt && !m_interrupt)
        return false;
    return endpoint == expected;
}

int Framing::Write(wire::TransferType type, uint8_t endpoint, const uint8_t* data, size_t length) {
    if (m_unplugRequested)
        return -ENODEV;
    if (!CheckEndpoint(type, endpoint, m_outEndpoint))
        return -EINVAL;
    if (m_outHalted)
        return -EPIPE;
    return DoWrite(data, length);
}

int Framing::Read(wire::TransferType type, uint8_t endpoint, size_t size, std::vector<uint8_t>* out) {
    out->clear();
    if (m_unplugRequested)
        return -ENODEV;
    if (!CheckEndpoint(type, endpoint, kInEndpoint))
        return -EINVAL;
    if (m_inHalted)
        return -EPIPE;
    if (m_faults->stall) {
        m_faults->stall = false;
        return StallIn();
    }
    return DoRead(size, out);
}

int Framing::ClearHalt(uint8_t endpoint) {
    if (m_unplugRequested)
        return -ENODEV;
    if (endpoint == m_outEndpoint)
        m_outHalted = false;
    else if (endpoint == kInEndpoint)
        m_inHalted = false;
    else
        return -EINVAL;
    return 0;
}

void Framing::Reset() {
    m_outHalted = false;
    m_inHalted = false;
    m_engine->Reset();
    DoReset();
}

bool Framing::UnplugBeforeExecute() {
    if (!m_faults->unplugMidExchange)
        return false;
    m_faults->unplugMidExchange = false;
    m_unplugRequested = true;
    return true;
}

} // namespace vtoken
