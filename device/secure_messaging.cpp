#include "device/secure_messaging.h"

#include "crypto/sm4_helpers.h"

#include <cstring>

namespace keycore {

std::optional<std::array<uint8_t, kCommandMacSize>> CommandMac(const PinKey& key, const uint8_t* challenge,
                                                               const std::vector<uint8_t>& command) {
    if (challenge == nullptr)
        return std::nullopt;
    uint8_t iv[16] = {};
    std::memcpy(iv, challenge, kMacChallengeSize);
    std::vector<uint8_t> padded(command);
    AppendIsoPadding(padded);
    auto mac = SM4CbcMac4(key.data(), iv, padded.data(), padded.size());
    if (!mac)
        return std::nullopt;
    std::array<uint8_t, kCommandMacSize> out;
    std::copy(mac->begin(), mac->end(), out.begin());
    return out;
}

} // namespace keycore
