#pragma once
// The token's end of the USB pipes: turns the transfers the host makes into command APDUs for the
// ApduEngine and its answers back into transfers. A framing is the device's one state machine,
// shared by every handle open on the token, exactly as on hardware.
//
// Results follow libusb 0.1: a byte count, or a negative errno (-EPIPE for a stalled endpoint,
// -ETIMEDOUT when the device has nothing to send, -EINVAL for an endpoint the device lacks).
// A frame the token cannot accept stalls the endpoint it came on: that transfer and every later
// one on the endpoint fail with -EPIPE until the host clears the halt.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vtoken/apdu_engine.h"
#include "vtoken/fault_rules.h"
#include "vtoken/wire_protocol.h"

namespace vtoken {

class Framing {
public:
    Framing(ApduEngine* engine, FaultRules* faults, uint8_t outEndpoint, bool interruptEndpoints)
        : m_engine(engine), m_faults(faults), m_outEndpoint(outEndpoint), m_interrupt(interruptEndpoints) {}
    virtual ~Framing() = default;
    Framing(const Framing&) = delete;
    Framing& operator=(const Framing&) = delete;

    static constexpr uint8_t kInEndpoint = 0x81;

    int Write(wire::TransferType type, uint8_t endpoint, const uint8_t* data, size_t length);
    int Read(wire::TransferType type, uint8_t endpoint, size_t size, std::vector<uint8_t>* out);
    int ClearHalt(uint8_t endpoint);
    // Power loss or bus reset: every exchange in progress and every halt is forgotten.
    void Reset();

    // Set when an armed unplug-mid fault fired: the device must leave the bus now.
    bool UnplugRequested() const { return m_unplugRequested; }

protected:
    virtual int DoWrite(const uint8_t* data, size_t length) = 0;
    virtual int DoRead(size_t size, std::vector<uint8_t>* out) = 0;
    virtual void DoReset() = 0;

    // Refuses the frame just received: stalls the endpoint it came on.
    int StallOut() {
        m_outHalted = true;
        return -EPIPE;
    }
    int StallIn() {
        m_inHalted = true;
        return -EPIPE;
    }
    // Whether the unplug fault fires now, at the point where a command has fully arrived.
    bool UnplugBeforeExecute();

    ApduEngine* m_engine;
    FaultRules* m_faults;

private:
    bool CheckEndpoint(wire::TransferType type, uint8_t endpoint, uint8_t expected) const;

    uint8_t m_outEndpoint;
    bool m_interrupt;
    bool m_outHalted = false;
    bool m_inHalted = false;
    bool m_unplugRequested = false;
};

} // namespace vtoken
