#pragma once
// Between a framing and the card: runs one reassembled command APDU on the applet and shapes the
// answer the way the token's send buffer and the armed faults make it: GET RESPONSE (61xx)
// chaining of long answers, forced status words, truncated answers. Every command and answer it
// sees goes to the trace.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vtoken/fault_rules.h"
#include "vtoken/trace_log.h"

namespace vtoken {

class TokenApplet;

class ApduEngine {
public:
    // sendBuffer: the most data bytes the token sends in one answer; longer answers are chained
    // with 61xx and fetched with GET RESPONSE. 0: no limit.
    ApduEngine(TokenApplet* applet, FaultRules* faults, TraceLog* trace, size_t sendBuffer)
        : m_applet(applet), m_faults(faults), m_trace(trace), m_sendBuffer(sendBuffer) {}

    // Runs one APDU; the answer is data followed by SW1 SW2 (after a truncate fault it may be
    // shorter than two bytes).
    std::vector<uint8_t> Execute(const uint8_t* apdu, size_t length);

    // Power loss: the rest of a chained answer is gone.
    void Reset() { m_pending.clear(); }

private:
    std::vector<uint8_t> Run(const uint8_t* apdu, size_t length);
    std::vector<uint8_t> NextChunk(size_t expected);
    std::vector<uint8_t> Chain(std::vector<uint8_t> answer, size_t limit);

    TokenApplet* m_applet;
    FaultRules* m_faults;
    TraceLog* m_trace;
    size_t m_sendBuffer;
    std::vector<uint8_t> m_pending;   // data still to fetch, followed by the final status word
};

} // namespace vtoken
