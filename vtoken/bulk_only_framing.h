#pragma once
// The SCSI-style Bulk-Only framing as the token sees it. One command goes:
//   OUT  31-byte command wrapper (flags 0x00, transfer length = command length, vendor block)
//   OUT  the command bytes
//   IN   13-byte status wrapper (the command runs here)
//   OUT  31-byte command wrapper (flags 0x80, transfer length 4,160)
//   IN   the whole answer (data and status word), as much as the read asks for at a time
//   IN   the good status wrapper 55 53 42 53 44 33 22 11 00 00 00 00 00
// A wrapper with a wrong signature, tag, block, flags or length, or command bytes beyond the
// announced length, stalls the OUT endpoint.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vtoken/framing.h"

namespace vtoken {

class BulkOnlyFraming : public Framing {
public:
    static constexpr uint8_t kOutEndpoint = 0x02;
    static constexpr size_t kWrapperSize = 31;
    static constexpr size_t kStatusSize = 13;
    static constexpr size_t kMaxCommand = 4096;
    static constexpr uint32_t kDataInLength = 4160;

    BulkOnlyFraming(ApduEngine* engine, FaultRules* faults)
        : Framing(engine, faults, kOutEndpoint, /*interruptEndpoints=*/false) {}

protected:
    int DoWrite(const uint8_t* data, size_t length) override;
    int DoRead(size_t size, std::vector<uint8_t>* out) override;
    void DoReset() override;

private:
    enum class Phase { kIdle, kCommandData, kStatus, kAnswerReady, kDataIn, kFinalStatus };

    int AcceptWrapper(const uint8_t* data, size_t length);
    int ReadStatus(size_t size, std::vector<uint8_t>* out);
    int ReadData(size_t size, std::vector<uint8_t>* out);

    Phase m_phase = Phase::kIdle;
    size_t m_expected = 0;               // command bytes announced by the OUT wrapper
    std::vector<uint8_t> m_command;
    std::vector<uint8_t> m_answer;
    size_t m_sent = 0;                   // answer bytes already read by the host
    bool m_emptyDataFirst = false;
};

} // namespace vtoken
