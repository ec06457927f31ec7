#pragma once
// One plugged token: its card (TokenApplet), its framing state machine, its armed faults and its
// trace. Every operation takes the device's mutex, so the commands of all clients reach the card
// one at a time, as they would reach one physical device.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vtoken/apdu_engine.h"
#include "vtoken/fault_rules.h"
#include "vtoken/framing.h"
#include "vtoken/trace_log.h"
#include "vtoken/wire_protocol.h"

namespace vtoken {

class TokenApplet;

struct DeviceIdentity {
    uint32_t id = 0;                 // the daemon's handle for this plug-in; never reused
    wire::TokenKind kind = wire::TokenKind::kBulkOnly;
    bool large = false;              // HID: 65-byte configuration descriptor
    uint8_t bus = 1;
    uint8_t devnum = 1;
    std::string serial;
    // USB ids the device shows; 0 stands for the family's own (vendor, product of the kind). Other
    // ids plug a device the library must not take for a token.
    uint16_t vendor = 0;
    uint16_t product = 0;

    // "007:002": device file name, then bus directory, as the library names it.
    std::string Path() const;
};

class VirtualDevice {
public:
    // The HID token sends at most this many data bytes in one answer; longer answers are chained
    // with 61xx. The Bulk-Only data stage carries 4,160 bytes, so that framing never needs to.
    static constexpr size_t kHidSendBuffer = 2048;

    VirtualDevice(const DeviceIdentity& identity, std::unique_ptr<TokenApplet> applet);
    ~VirtualDevice();

    const DeviceIdentity& Identity() const { return m_identity; }

    // 0, or a negative errno: -ENODEV once unplugged, -EIO for an armed open failure.
    int Open();
    int Write(wire::TransferType type, uint8_t endpoint, const uint8_t* data, size_t length);
    int Read(wire::TransferType type, uint8_t endpoint, size_t size, std::vector<uint8_t>* out);
    int ClearHalt(uint8_t endpoint);
    // A bus reset: the framing forgets the exchange in progress and its halts.
    int ResetPort();

    // Leaves the bus: volatile card state is lost, the card image is closed. Idempotent.
    void Unplug();
    bool Present() const;

    bool ArmFaults(const std::vector<std::string>& rules, std::string* error);
    std::string ArmedFaults() const;
    std::string Trace(bool clear);
    // Frame lines in the trace (see TraceLog).
    void SetTraceFrames(bool on);

private:
    int AfterTransfer(int result);
    void TraceFrame(bool out, const uint8_t* data, size_t length);
    void UnplugLocked();

    const DeviceIdentity m_identity;
    mutable std::mutex m_mutex;
    std::unique_ptr<TokenApplet> m_applet;
    FaultRules m_faults;
    TraceLog m_trace;
    ApduEngine m_engine;
    std::unique_ptr<Framing> m_framing;
    bool m_present = true;
};

} // namespace vtoken
