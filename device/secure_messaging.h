#pragma once
// The 4-byte MAC of the protected (CLA 0x84) commands.

#include "device/pin_block.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace keycore {

constexpr size_t kCommandMacSize = 4;
constexpr size_t kMacChallengeSize = 8;

// The command bytes so far (header with the final length, then the data) padded with 0x80 and zeros
// (PIN block rule, without the length prefix), SM4-CBC under key with the IV = the 8-byte token
// challenge followed by 8 zero bytes; the MAC is the first 4 bytes of the last cipher block.
std::optional<std::array<uint8_t, kCommandMacSize>> CommandMac(const PinKey& key, const uint8_t* challenge,
                                                               const std::vector<uint8_t>& command);

} // namespace keycore
