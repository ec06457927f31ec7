#include "vtoken/applet/core_handlers.h"

#include <openssl/crypto.h>

#include "vtoken/applet/core_support.h"
#include "vtoken/applet/pin_block.h"
#include "vtoken/applet/secure_messaging.h"

namespace vtoken {
namespace {

constexpr uint8_t kUserPinType = 1;
constexpr size_t kVerifyBlockSize = 16;
constexpr size_t kVerifyChallengeSize = 8;

std::map<uint16_t, bool>& VerifiedFlags(VolatileState& state, uint8_t pinType) {
    return pinType == kUserPinType ? state.userVerified : state.adminVerified;
}

// 80 14 00 type, app, 00 03: max retries, tries left, still-default flag.
std::vector<uint8_t> QueryPinInfo(AppletContext& ctx, const Command& cmd) {
    DataReader reader(cmd.data);
    ApplicationRecord* app = nullptr;
    uint16_t status = ReadOpenedApplication(ctx, reader, &app, nullptr);
    if (status != sw::kOk)
        return Answer(status);
    if (reader.Remaining() != 0)
        return Answer(sw::kWrongLength);
    const PinRecord& pin = PinOfType(*app, cmd.p2);
    return Answer({pin.maxRetries, pin.triesLeft, static_cast<uint8_t>(pin.isDefault ? 1 : 0)});
}

// 80 18 00 type, app, 16 bytes: the PIN block of the last 8-byte challenge under the PIN's key.
std::vector<uint8_t> VerifyPin(AppletContext& ctx, const Command& cmd) {
    std::vector<uint8_t> challenge = std::move(ctx.state.lastChallenge);
    ctx.state.lastChallenge.clear();
    struct WipeOnExit {
        std::vector<uint8_t>& bytes;
        ~WipeOnExit() { Wipe(bytes); }
    } wipeChallenge{challenge};

    DataReader reader(cmd.data);
    ApplicationRecord* app = nullptr;
    uint16_t appId = 0;
    uint16_t status = ReadOpenedApplication(ctx, reader, &app, &appId);
    if (status != sw::kOk)
        return Answer(status);
    std::vector<uint8_t> block = reader.Bytes(kVerifyBlockSize);
    if (reader.Failed() || reader.Remaining() != 0)
        return Answer(sw::kWrongLength);
    PinRecord& pin = PinOfType(*app, cmd.p2);
    if (pin.triesLeft == 0)
        return Answer(sw::kPinLocked);
    if (challenge.size() < kVerifyChallengeSize)
        return Answer(sw::kNoChallenge);

    std::vector<uint8_t> key = PinKey(pin.value);
    std::optional<std::vector<uint8_t>> content = OpenPinBlock(key.data(), block);
    Wipe(key);
    bool match = content && content->size() == kVerifyChallengeSize &&
                 CRYPTO_memcmp(content->data(), challenge.data(), kVerifyChallengeSize) == 0;
    if (content)
        Wipe(*content);
    std::map<uint16_t, bool>& verified = VerifiedFlags(ctx.state, cmd.p2);
    if (!match) {
        verified.erase(appId);
        return Answer(CountWrongPin(ctx, pin));
    }
    if (pin.triesLeft != pin.maxRetries) {
        pin.triesLeft = pin.maxRetries;
        ctx.imageChanged = true;
    }
    verified[appId] = true;
    return Answer(sw::kOk);
}

// The new PIN inside a protected PIN command (the applet has checked its MAC under `keyPin`):
// app, then the ciphertext, then the 4 MAC bytes.
uint16_t OpenNewPin(const Command& cmd, const PinRecord& keyPin, std::string* newPin) {
    if (cmd.data.size() < 2 + kSm4Block + kMacSize)
        return sw::kWrongLength;
    std::vector<uint8_t> cipher(cmd.data.begin() + 2, cmd.data.end() - kMacSize);
    if (cipher.size() % kSm4Block != 0)
        return sw::kWrongLength;
    std::vector<uint8_t> key = PinKey(keyPin.value);
    std::optional<std::vector<uint8_t>> content = OpenPinBlock(key.data(), cipher);
    Wipe(key);
    if (!content)
        return sw::kWrongData;
    bool acceptable = IsAcceptablePin(*content);
    if (acceptable)
        newPin->assign(content->begin(), content->end());
    Wipe(*content);
    return acceptable ? sw::kOk : sw::kWrongData;
}

void SetPin(AppletContext& ctx, PinRecord& pin, std::string& value) {
    Wipe(pin.value);
    pin.value = std::move(value);
    Wipe(value);
    pin.triesLeft = pin.maxRetries;
    pin.isDefault = false;
    ctx.imageChanged = true;
}

// 84 16 00 type: the new PIN under the old PIN's key.
std::vector<uint8_t> ChangePin(AppletContext& ctx, const Command& cmd) {
    DataReader reader(cmd.data);
    ApplicationRecord* app = nullptr;
    uint16_t status = ReadOpenedApplication(ctx, reader, &app, nullptr);
    if (status != sw::kOk)
        return Answer(status);
    PinRecord& pin = PinOfType(*app, cmd.p2);
    std::string newPin;
    status = OpenNewPin(cmd, pin, &newPin);
    if (status == sw::kOk)
        SetPin(ctx, pin, newPin);
    return Answer(status);
}

// 84 1A: a new user PIN under the administrator PIN's key; unlocks the user PIN.
std::vector<uint8_t> UnblockPin(AppletContext& ctx, const Command& cmd) {
    DataReader reader(cmd.data);
    ApplicationRecord* app = nullptr;
    uint16_t status = ReadOpenedApplication(ctx, reader, &app, nullptr);
    if (status != sw::kOk)
        return Answer(status);
    std::string newPin;
    status = OpenNewPin(cmd, app->adminPin, &newPin);
    if (status != sw::kOk)
        return Answer(status);
    SetPin(ctx, app->userPin, newPin);
    // The MAC proved the administrator PIN.
    app->adminPin.triesLeft = app->adminPin.maxRetries;
    return Answer(sw::kOk);
}

// 80 1C, app: both PINs of the application count as not verified any more.
std::vector<uint8_t> ClearSecureState(AppletContext& ctx, const Command& cmd) {
    DataReader reader(cmd.data);
    ApplicationRecord* app = nullptr;
    uint16_t appId = 0;
    uint16_t status = ReadOpenedApplication(ctx, reader, &app, &appId);
    if (status != sw::kOk)
        return Answer(status);
    if (reader.Remaining() != 0)
        return Answer(sw::kWrongLength);
    ctx.state.userVerified.erase(appId);
    ctx.state.adminVerified.erase(appId);
    return Answer(sw::kOk);
}

// 80 01 0A 00, data 05 (after the access code): every PIN verification and the device
// authentication are dropped.
std::vector<uint8_t> ResetSecurityState(AppletContext& ctx, const Command& cmd) {
    if (cmd.data.size() != 1)
        return Answer(sw::kWrongLength);
    if (cmd.p1 != 0x0A || cmd.p2 != 0x00 || cmd.data[0] != 0x05)
        return Answer(sw::kWrongP1P2);
    ctx.state.userVerified.clear();
    ctx.state.adminVerified.clear();
    ctx.state.deviceAuthenticated = false;
    return Answer(sw::kOk);
}

} // namespace

void RegisterPinHandlers(HandlerTable& table) {
    table.Add(0x80, 0x01, ResetSecurityState);
    table.Add(0x80, 0x14, QueryPinInfo);
    table.Add(0x84, 0x16, ChangePin);
    table.Add(0x80, 0x18, VerifyPin);
    table.Add(0x84, 0x1A, UnblockPin);
    table.Add(0x80, 0x1C, ClearSecureState);
}

} // namespace vtoken
