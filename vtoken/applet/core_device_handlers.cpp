#include "vtoken/applet/core_handlers.h"

#include <algorithm>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include "device/token_identity.h"
#include "vtoken/applet/core_support.h"
#include "vtoken/applet/device_key_transport.h"
#include "vtoken/applet/pin_block.h"
#include "vtoken/applet/secure_messaging.h"

namespace vtoken {
namespace {

namespace identity = keycore::token_identity;

constexpr size_t kMaxRandomPerCommand = 255;
constexpr size_t kMaxLabel = 32;
constexpr size_t kDeviceKeySize = 16;
constexpr size_t kDeviceKeyCipherSize = 112;

// Device-information answer: offsets the host reads, and the values this token reports.
constexpr size_t kDevInfoSize = 224;
constexpr size_t kDevInfoManufacturer = 4;
constexpr size_t kDevInfoIssuer = 68;
constexpr size_t kDevInfoLabel = 132;
constexpr size_t kDevInfoSerial = 164;
constexpr size_t kDevInfoVersions = 196;
constexpr size_t kDevInfoAlgorithms = 200;
constexpr size_t kDevInfoSpace = 216;
constexpr size_t kFieldSize = 64;
constexpr size_t kSerialField = 32;
constexpr const char* kManufacturer = "keycore";
constexpr const char* kIssuer = "keycore virtual token";
constexpr uint8_t kStructVersion[2] = {1, 0};
// Hardware major/minor, firmware major/minor. A firmware major of 0x10 would make the host show the
// serial number as hexadecimal digits; this token keeps its serial as text.
constexpr uint8_t kVersions[4] = {1, 0, 1, 0};
constexpr uint32_t kAlgSymCap = 0x00000413;   // SM4 ECB, CBC, MAC
constexpr uint32_t kAlgAsymCap = 0x00030700;  // RSA, SM2 signature, exchange and encryption
constexpr uint32_t kAlgHashCap = 0x00000007;  // SM3, SHA-1, SHA-256
constexpr uint32_t kDevAuthAlgId = 0x00000401; // SM4 ECB

void PutText(std::vector<uint8_t>& out, size_t offset, const std::string& text, size_t field) {
    std::memcpy(out.data() + offset, text.data(), std::min(text.size(), field));
}

void PutU32At(std::vector<uint8_t>& out, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// 80 50 00 00 00 HH LL: HH LL random bytes; they become the challenge of the next PIN
// verification, MAC or device authentication.
std::vector<uint8_t> GenRandom(AppletContext& ctx, const Command& cmd) {
    size_t count = cmd.hasExpected ? cmd.expected : 0;
    if (!cmd.data.empty() || count == 0 || count > kMaxRandomPerCommand)
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> random(count);
    if (RAND_bytes(random.data(), static_cast<int>(count)) != 1)
        return Answer(sw::kUnknown);
    ConsumeChallenge(ctx.state);
    ctx.state.lastChallenge = random;
    return Answer(std::move(random));
}

std::vector<uint8_t> SetLabel(AppletContext& ctx, const Command& cmd) {
    if (cmd.data.size() > kMaxLabel)
        return Answer(sw::kWrongLength);
    ctx.image.label = FieldName(cmd.data);
    ctx.imageChanged = true;
    return Answer(sw::kOk);
}

std::vector<uint8_t> GetDevInfo(AppletContext& ctx, const Command& cmd) {
    if (!cmd.data.empty())
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> info(kDevInfoSize, 0);
    info[0] = kStructVersion[0];
    info[1] = kStructVersion[1];
    PutText(info, kDevInfoManufacturer, kManufacturer, kFieldSize);
    PutText(info, kDevInfoIssuer, kIssuer, kFieldSize);
    PutText(info, kDevInfoLabel, ctx.image.label, kMaxLabel);
    PutText(info, kDevInfoSerial, ctx.image.serial, kSerialField);
    std::memcpy(info.data() + kDevInfoVersions, kVersions, sizeof kVersions);
    PutU32At(info, kDevInfoAlgorithms, kAlgSymCap);
    PutU32At(info, kDevInfoAlgorithms + 4, kAlgAsymCap);
    PutU32At(info, kDevInfoAlgorithms + 8, kAlgHashCap);
    PutU32At(info, kDevInfoAlgorithms + 12, kDevAuthAlgId);
    PutU32At(info, kDevInfoSpace, ctx.image.totalSpace);
    PutU32At(info, kDevInfoSpace + 4, FreeSpace(ctx.image));
    return Answer(std::move(info));
}

// The challenge as device authentication uses it: zero-padded (or cut) to one SM4 block.
std::vector<uint8_t> ChallengeBlock(const VolatileState& state) {
    std::vector<uint8_t> block(state.lastChallenge.begin(),
                               state.lastChallenge.begin() +
                                   static_cast<std::ptrdiff_t>(std::min(state.lastChallenge.size(), kSm4Block)));
    block.resize(kSm4Block, 0);
    return block;
}

std::vector<uint8_t> DevAuth(AppletContext& ctx, const Command& cmd) {
    if (cmd.data.size() != kSm4Block)
        return Answer(sw::kWrongLength);
    if (ctx.image.devAuthTriesLeft == 0)
        return Answer(sw::kPinLocked);
    if (ctx.state.lastChallenge.empty())
        return Answer(sw::kNoChallenge);
    std::vector<uint8_t> challenge = ChallengeBlock(ctx.state);
    ConsumeChallenge(ctx.state);
    std::optional<std::vector<uint8_t>> expected = Sm4Ecb(ctx.image.devAuthKey.data(), challenge, true);
    if (!expected)
        return Answer(sw::kUnknown);
    bool match = CRYPTO_memcmp(expected->data(), cmd.data.data(), kSm4Block) == 0;
    Wipe(*expected);
    if (!match) {
        ctx.state.deviceAuthenticated = false;
        --ctx.image.devAuthTriesLeft;
        ctx.imageChanged = true;
        return Answer(ctx.image.devAuthTriesLeft == 0 ? sw::kPinLocked : sw::WrongPin(ctx.image.devAuthTriesLeft));
    }
    if (ctx.image.devAuthTriesLeft != ctx.image.devAuthMaxRetries) {
        ctx.image.devAuthTriesLeft = ctx.image.devAuthMaxRetries;
        ctx.imageChanged = true;
    }
    ctx.state.deviceAuthenticated = true;
    return Answer(sw::kOk);
}

// 80 03 (after the access code): a new device key under the token's SM2 key. The answer is the
// data of the ChangeDevAuthKey command that completes the change: the new key under the current
// device key, and the MAC of that command bound to the current challenge.
std::vector<uint8_t> ChangeDevAuthKeySm2(AppletContext& ctx, const Command& cmd) {
    if (cmd.data.size() != kDeviceKeyCipherSize)
        return Answer(sw::kWrongLength);
    if (ctx.image.devAuthTriesLeft == 0)
        return Answer(sw::kPinLocked);
    if (!ctx.state.deviceAuthenticated)
        return Answer(sw::kSecurityNotSatisfied);
    if (ctx.state.lastChallenge.size() < 8)
        return Answer(sw::kNoChallenge);
    std::optional<std::vector<uint8_t>> newKey = OpenWithTokenSm2Key(cmd.data);
    if (!newKey || newKey->size() != kDeviceKeySize) {
        if (newKey)
            Wipe(*newKey);
        return Answer(sw::kWrongData);
    }
    std::optional<std::vector<uint8_t>> wrapped = Sm4Ecb(ctx.image.devAuthKey.data(), *newKey, true);
    Wipe(*newKey);
    if (!wrapped)
        return Answer(sw::kUnknown);
    std::vector<uint8_t> command = {0x84, 0x12, 0x00, 0x00, 0x00, 0x00, 0x14};
    command.insert(command.end(), wrapped->begin(), wrapped->end());
    std::vector<uint8_t> mac = ComputeMac(command, ctx.image.devAuthKey.data(), ctx.state.lastChallenge);
    std::vector<uint8_t> answer = std::move(*wrapped);
    answer.insert(answer.end(), mac.begin(), mac.end());
    return Answer(std::move(answer));
}

// 84 12 (MAC under the device key checked by the applet): the new key under the current one.
std::vector<uint8_t> ChangeDevAuthKey(AppletContext& ctx, const Command& cmd) {
    if (cmd.data.size() != kDeviceKeySize + kMacSize)
        return Answer(sw::kWrongLength);
    if (!ctx.state.deviceAuthenticated)
        return Answer(sw::kSecurityNotSatisfied);
    std::vector<uint8_t> wrapped(cmd.data.begin(), cmd.data.begin() + kDeviceKeySize);
    std::optional<std::vector<uint8_t>> newKey = Sm4Ecb(ctx.image.devAuthKey.data(), wrapped, false);
    if (!newKey)
        return Answer(sw::kUnknown);
    Wipe(ctx.image.devAuthKey);
    ctx.image.devAuthKey = std::move(*newKey);
    ctx.image.devAuthTriesLeft = ctx.image.devAuthMaxRetries;
    ctx.imageChanged = true;
    return Answer(sw::kOk);
}

// C6 8C 38 5A 10 + code: opens the door for the next command only.
std::vector<uint8_t> AccessCode(AppletContext& ctx, const Command& cmd) {
    ctx.state.accessCodeGranted = false;
    if (cmd.p1 != identity::kAccessCodeHeader[2] || cmd.p2 != identity::kAccessCodeHeader[3])
        return Answer(sw::kWrongP1P2);
    if (cmd.data.size() != sizeof identity::kAccessCode)
        return Answer(sw::kWrongLength);
    if (CRYPTO_memcmp(cmd.data.data(), identity::kAccessCode, sizeof identity::kAccessCode) != 0)
        return Answer(sw::kSecurityNotSatisfied);
    ctx.state.accessCodeGranted = true;
    return Answer(sw::kOk);
}

} // namespace

void RegisterDeviceHandlers(HandlerTable& table) {
    table.Add(0x80, 0x02, SetLabel);
    table.Add(0x80, 0x03, ChangeDevAuthKeySm2);
    table.Add(0x80, 0x04, GetDevInfo);
    table.Add(0x80, 0x10, DevAuth);
    table.Add(0x84, 0x12, ChangeDevAuthKey);
    table.Add(0x80, 0x50, GenRandom);
    table.Add(identity::kAccessCodeHeader[0], identity::kAccessCodeHeader[1], AccessCode);
}

} // namespace vtoken
