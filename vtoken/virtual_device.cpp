#include "vtoken/virtual_device.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "vtoken/applet/token_applet.h"
#include "vtoken/bulk_only_framing.h"
#include "vtoken/hid_framing.h"

namespace vtoken {

std::string DeviceIdentity::Path() const {
    char path[16];
    std::snprintf(path, sizeof path, "%03u:%03u", devnum, bus);
    return path;
}

VirtualDevice::VirtualDevice(const DeviceIdentity& identity, std::unique_ptr<TokenApplet> applet)
    : m_identity(identity), m_applet(std::move(applet)),
      m_engine(m_applet.get(), &m_faults, &m_trace, identity.kind == wire::TokenKind::kHid ? kHidSendBuffer : 0) {
    if (identity.kind == wire::TokenKind::kHid)
        m_framing = std::make_unique<HidFraming>(&m_engine, &m_faults);
    else
        m_framing = std::make_unique<BulkOnlyFraming>(&m_engine, &m_faults);
}

VirtualDevice::~VirtualDevice() = default;

int VirtualDevice::Open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present)
        return -ENODEV;
    if (m_faults.openFailures > 0) {
        --m_faults.openFailures;
        return -EIO;
    }
    return 0;
}

int VirtualDevice::AfterTransfer(int result) {
    if (m_framing->UnplugRequested())
        UnplugLocked();
    return result;
}

void VirtualDevice::TraceFrame(bool out, const uint8_t* data, size_t length) {
    if (!m_trace.Frames())
        return;
    char marker = 'R';
    if (m_identity.kind == wire::TokenKind::kBulkOnly) {
        const bool wrapper = out ? length == BulkOnlyFraming::kWrapperSize && std::memcmp(data, "USBC", 4) == 0
                                 : length == BulkOnlyFraming::kStatusSize && std::memcmp(data, "USBS", 4) == 0;
        marker = wrapper ? 'W' : 'D';
    }
    m_trace.Frame(marker, out, data, length);
}

int VirtualDevice::Write(wire::TransferType type, uint8_t endpoint, const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present)
        return -ENODEV;
    // Logged as sent, also when the device then refuses it: the host did put it on the wire.
    TraceFrame(true, data, length);
    return AfterTransfer(m_framing->Write(type, endpoint, data, length));
}

int VirtualDevice::Read(wire::TransferType type, uint8_t endpoint, size_t size, std::vector<uint8_t>* out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present)
        return -ENODEV;
    const int result = m_framing->Read(type, endpoint, size, out);
    if (result > 0)
        TraceFrame(false, out->data(), static_cast<size_t>(result));
    return AfterTransfer(result);
}

int VirtualDevice::ClearHalt(uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present)
        return -ENODEV;
    return m_framing->ClearHalt(endpoint);
}

int VirtualDevice::ResetPort() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present)
        return -ENODEV;
    m_framing->Reset();
    return 0;
}

void VirtualDevice::Unplug() {
    std::lock_guard<std::mutex> lock(m_mutex);
    UnplugLocked();
}

void VirtualDevice::UnplugLocked() {
    if (!m_present)
        return;
    m_present = false;
    m_framing->Reset();
    m_applet->PowerCycle();
    m_applet.reset();
}

bool VirtualDevice::Present() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_present;
}

bool VirtualDevice::ArmFaults(const std::vector<std::string>& rules, std::string* error) {
    // All or nothing: a bad rule arms none of the list.
    std::lock_guard<std::mutex> lock(m_mutex);
    FaultRules staged = m_faults;
    for (const std::string& rule : rules)
        if (!staged.Arm(rule, error))
            return false;
    m_faults = staged;
    return true;
}

std::string VirtualDevice::ArmedFaults() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_faults.Describe();
}

void VirtualDevice::SetTraceFrames(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trace.SetFrames(on);
}

std::string VirtualDevice::Trace(bool clear) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string text = m_trace.Text();
    if (clear)
        m_trace.Clear();
    return text;
}

} // namespace vtoken
