#pragma once
// Opening a new device key that the host sent under the token's fixed SM2 key pair.

#include <cstdint>
#include <optional>
#include <vector>

namespace vtoken {

// `cipher` is the token's SM2 ciphertext form without the 04 marker: C1.x (32), C1.y (32), C3 (32),
// then C2. Returns the plain text, or nothing when the ciphertext does not decrypt under the
// token's key.
std::optional<std::vector<uint8_t>> OpenWithTokenSm2Key(const std::vector<uint8_t>& cipher);

} // namespace vtoken
