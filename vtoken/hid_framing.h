#pragma once
// The HID framing as the token sees it: 64-byte reports with a 6-byte big-endian header (total
// length, fragment offset, fragment length) and at most 58 payload bytes, both ways. The command
// runs when its last fragment arrives; the answer is then read report by report. A report of
// another size, an empty or over-long fragment, a fragment out of order, or one that disagrees
// with the announced total stalls the OUT endpoint and drops the message. Answer reports the host
// does not read stay queued until read or until a port reset, also across later commands.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "vtoken/framing.h"

namespace vtoken {

class HidFraming : public Framing {
public:
    static constexpr uint8_t kOutEndpoint = 0x01;
    static constexpr size_t kReportSize = 64;
    static constexpr size_t kHeaderSize = 6;
    static constexpr size_t kMaxPayload = kReportSize - kHeaderSize;

    HidFraming(ApduEngine* engine, FaultRules* faults)
        : Framing(engine, faults, kOutEndpoint, /*interruptEndpoints=*/true) {}

    // Cuts a message into reports (the host's and the token's rule are the same).
    static std::vector<std::vector<uint8_t>> Fragment(const std::vector<uint8_t>& message);

protected:
    int DoWrite(const uint8_t* data, size_t length) override;
    int DoRead(size_t size, std::vector<uint8_t>* out) override;
    void DoReset() override;

private:
    void QueueAnswer(const std::vector<uint8_t>& answer);
    int Refuse();

    std::vector<uint8_t> m_message;      // command being reassembled
    size_t m_total = 0;                  // its announced total; 0 between messages
    std::vector<uint8_t> m_lastReport;   // last report the host sent (what an echo repeats)
    std::deque<std::vector<uint8_t>> m_outgoing;
    unsigned m_echoesLeft = 0;
    unsigned m_busyLeft = 0;
};

} // namespace vtoken
