#include "vtoken/applet/core_handlers.h"

#include <openssl/rand.h>

namespace vtoken {
namespace {

constexpr size_t kMaxRandomPerCommand = 255;

// 80 50 00 00 00 HH LL: HH LL random bytes; they become the challenge of the next PIN
// verification, MAC or device authentication.
std::vector<uint8_t> GenRandom(AppletContext& ctx, const Command& cmd) {
    size_t count = cmd.hasExpected ? cmd.expected : 0;
    if (!cmd.data.empty() || count == 0 || count > kMaxRandomPerCommand)
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> random(count);
    if (RAND_bytes(random.data(), static_cast<int>(count)) != 1)
        return Answer(sw::kUnknown);
    ctx.state.lastChallenge = random;
    return Answer(std::move(random));
}

} // namespace

void RegisterDeviceHandlers(HandlerTable& table) {
    table.Add(0x80, 0x50, GenRandom);
}

} // namespace vtoken
