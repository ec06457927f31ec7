// The token's two framings driven by arbitrary host traffic: writes, reads and halt clearing on
// both endpoints, with the echo card behind them. Whatever the host sends, every call answers
// with a byte count within what was asked or a negative errno.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "vtoken/apdu_engine.h"
#include "vtoken/bulk_only_framing.h"
#include "vtoken/echo_applet.h"
#include "vtoken/fault_rules.h"
#include "vtoken/hid_framing.h"
#include "vtoken/trace_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    vtoken::TokenProfile profile;
    profile.serial = "FUZZ0001";
    std::unique_ptr<vtoken::TokenApplet> applet = vtoken::MakeEchoApplet(profile);
    vtoken::FaultRules faults;
    vtoken::TraceLog trace;
    vtoken::ApduEngine engine(applet.get(), &faults, &trace, 2048);

    const bool hid = data[0] & 1;
    std::unique_ptr<vtoken::Framing> framing;
    if (hid)
        framing = std::make_unique<vtoken::HidFraming>(&engine, &faults);
    else
        framing = std::make_unique<vtoken::BulkOnlyFraming>(&engine, &faults);
    const auto type = hid ? vtoken::wire::TransferType::kInterrupt : vtoken::wire::TransferType::kBulk;
    const uint8_t out = hid ? vtoken::HidFraming::kOutEndpoint : vtoken::BulkOnlyFraming::kOutEndpoint;

    // Each step: an operation byte, a length byte, then (for writes) that many bytes.
    size_t pos = 1;
    while (pos + 2 <= size) {
        const uint8_t op = data[pos] % 4;
        size_t length = data[pos + 1];
        pos += 2;
        if (op == 0) {
            if (length > size - pos)
                length = size - pos;
            int rc = framing->Write(type, out, data + pos, length);
            if (rc > static_cast<int>(length))
                __builtin_trap();
            pos += length;
        } else if (op == 1) {
            std::vector<uint8_t> answer;
            const size_t want = length * 32 + 1;
            int rc = framing->Read(type, vtoken::Framing::kInEndpoint, want, &answer);
            if (rc > static_cast<int>(want) || (rc >= 0 && static_cast<size_t>(rc) != answer.size()))
                __builtin_trap();
        } else if (op == 2) {
            framing->ClearHalt(length & 1 ? vtoken::Framing::kInEndpoint : out);
        } else {
            framing->Reset();
        }
    }
    return 0;
}
