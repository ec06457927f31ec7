#pragma once
// The token's side of command protection: the MAC that CLA 0x84 commands carry, the challenge it
// is bound to, and the commands that need the access code right before them.
//
// MAC: the command bytes up to the MAC (header with the final length, then the data), padded with
// 0x80 and zeros to a multiple of 16 (a whole block when already aligned), SM4-CBC under the key of
// the command (the old PIN's key for ChangePin, the administrator PIN's key for UnblockPin, the
// device key for ChangeDevAuthKey) with IV = the 8-byte challenge of the last GenRandom followed by
// 8 zero bytes; the MAC is the first 4 bytes of the last cipher block.

#include <cstdint>
#include <vector>

#include "vtoken/applet/handler_table.h"

namespace vtoken {

inline constexpr uint16_t kSwMacInvalid = 0x6988;
inline constexpr size_t kMacSize = 4;

// Commands refused with 0x6982 unless the access code came immediately before them.
bool IsPrivilegedCommand(uint8_t cla, uint8_t ins);

// Checks the MAC of a CLA 0x84 command: 0x9000, 0x6988 for a wrong or missing MAC or no
// challenge, 0x6700 when the command is too short to carry one, or the status word of a missing
// application. Does not consume the challenge (the applet does, whatever the outcome).
uint16_t VerifyCommandMac(AppletContext& ctx, const Command& cmd);

// Computes the 4-byte MAC of `message` under `key` (16 bytes) and `challenge` (at least 8 bytes).
std::vector<uint8_t> ComputeMac(const std::vector<uint8_t>& message, const uint8_t key[16],
                                const std::vector<uint8_t>& challenge);

// Forgets the last challenge, wiping it.
void ConsumeChallenge(VolatileState& state);

} // namespace vtoken

namespace vtoken {

// The PIN a command's PIN-type byte selects: 1 the user PIN, any other value the administrator PIN.
PinRecord& PinOfType(ApplicationRecord& app, uint8_t pinType);

// A wrong PIN: one try fewer (persisted by the caller through ctx.imageChanged) and the answer
// for it, 0x63Cx with the tries left or 0x6983 once none are left.
uint16_t CountWrongPin(AppletContext& ctx, PinRecord& pin);

} // namespace vtoken
