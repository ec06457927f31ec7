#include "vtoken/applet/secure_messaging.h"

#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "vtoken/applet/pin_block.h"

namespace vtoken {
namespace {

constexpr size_t kChallengeInIv = 8;
constexpr size_t kHeaderSize = 7;

// Scope holder that wipes a key however the check ends.
struct WipedKey {
    std::vector<uint8_t> bytes;
    ~WipedKey() { Wipe(bytes); }
};

} // namespace

bool IsPrivilegedCommand(uint8_t cla, uint8_t ins) {
    if (cla != 0x80)
        return false;
    switch (ins) {
    case 0x01: // reset of the security state
    case 0x03: // device key change under the token's SM2 key
    case 0x05: // raw operation with a container's key pair
    case 0x55: // key pair generation for a container's signing key
    case 0x57: // wrapped key pair import
        return true;
    default:
        return false;
    }
}

PinRecord& PinOfType(ApplicationRecord& app, uint8_t pinType) {
    return pinType == 1 ? app.userPin : app.adminPin;
}

uint16_t CountWrongPin(AppletContext& ctx, PinRecord& pin) {
    if (pin.triesLeft > 0) {
        --pin.triesLeft;
        ctx.imageChanged = true;
    }
    return pin.triesLeft == 0 ? sw::kPinLocked : sw::WrongPin(pin.triesLeft);
}

std::vector<uint8_t> ComputeMac(const std::vector<uint8_t>& message, const uint8_t key[16],
                                const std::vector<uint8_t>& challenge) {
    uint8_t iv[kSm4Block] = {};
    for (size_t i = 0; i < kChallengeInIv && i < challenge.size(); ++i)
        iv[i] = challenge[i];
    std::vector<uint8_t> padded = PadIso(message);
    std::vector<uint8_t> cipher(padded.size());
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int written = 0;
    std::vector<uint8_t> mac;
    if (ctx && EVP_EncryptInit_ex(ctx.get(), EVP_sm4_cbc(), nullptr, key, iv) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
        EVP_EncryptUpdate(ctx.get(), cipher.data(), &written, padded.data(), static_cast<int>(padded.size())) == 1 &&
        static_cast<size_t>(written) == padded.size())
        mac.assign(cipher.end() - kSm4Block, cipher.end() - kSm4Block + kMacSize);
    return mac;
}

uint16_t VerifyCommandMac(AppletContext& ctx, const Command& cmd) {
    if (cmd.data.size() < kMacSize || cmd.raw.size() < kHeaderSize + cmd.data.size())
        return sw::kWrongLength;
    WipedKey key;
    PinRecord* pin = nullptr;
    switch (cmd.ins) {
    case 0x12:
        if (ctx.image.devAuthTriesLeft == 0)
            return sw::kPinLocked;
        key.bytes = ctx.image.devAuthKey;
        break;
    case 0x16:
    case 0x1A: {
        if (cmd.data.size() < 2 + kMacSize)
            return sw::kWrongLength;
        uint16_t appId = static_cast<uint16_t>((cmd.data[0] << 8) | cmd.data[1]);
        ApplicationRecord* app = nullptr;
        uint16_t status = ctx.OpenedApplication(appId, &app);
        if (status != sw::kOk)
            return status;
        pin = cmd.ins == 0x16 ? &PinOfType(*app, cmd.p2) : &app->adminPin;
        if (pin->triesLeft == 0)
            return sw::kPinLocked;
        key.bytes = PinKey(pin->value);
        break;
    }
    default:
        return kSwMacInvalid;
    }
    if (ctx.state.lastChallenge.size() < kChallengeInIv)
        return sw::kConditionsNotSatisfied;

    size_t covered = kHeaderSize + cmd.data.size() - kMacSize;
    std::vector<uint8_t> message(cmd.raw.begin(), cmd.raw.begin() + static_cast<std::ptrdiff_t>(covered));
    std::vector<uint8_t> expected = ComputeMac(message, key.bytes.data(), ctx.state.lastChallenge);
    const uint8_t* received = cmd.data.data() + cmd.data.size() - kMacSize;
    if (expected.size() == kMacSize && CRYPTO_memcmp(expected.data(), received, kMacSize) == 0)
        return sw::kOk;
    // Under a PIN key a wrong MAC is what a wrong PIN looks like: it costs a try.
    if (pin != nullptr)
        return CountWrongPin(ctx, *pin);
    return kSwMacInvalid;
}

void ConsumeChallenge(VolatileState& state) {
    Wipe(state.lastChallenge);
}

} // namespace vtoken
