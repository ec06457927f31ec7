// PIN commands: counters, verification with a token challenge, change and unblock under a MAC.

#include "device/apdu_builder.h"
#include "device/apdu_template.h"
#include "device/command_fields.h"
#include "device/pin_block.h"
#include "device/secure_messaging.h"
#include "device/token5105.h"
#include "runtime/secure_wipe.h"

namespace keycore {

namespace {

constexpr size_t kPinInfoAnswerSize = 3;
constexpr size_t kVerifyChallengeSize = 8;
// Offset of the one-byte data length in the protected commands (00 00 LL after CLA INS P1 P2).
constexpr size_t kLengthByte = 6;
// App id and MAC around the cipher text.
constexpr size_t kProtectedOverhead = 6;

// The key, the challenge and the MAC input are secrets; they are wiped on every way out.
struct ProtectedCommand {
    PinKey key{};
    uint8_t challenge[kMacChallengeSize] = {};
    ~ProtectedCommand() {
        SecureWipe(key.data(), key.size());
        SecureWipe(challenge, sizeof challenge);
    }
};

} // namespace

TokenStatus CToken5105::QueryPinInfo(uint8_t bPinType, uint16_t usAppId, uint8_t* pbMaxRetries, uint8_t* pbTriesLeft,
                                     uint8_t* pbDefaultPin) {
    const std::vector<uint8_t> command =
        CommandFromTemplate("8014 00%02x 000002 %02x%02x 0003", {bPinType, Hi(usAppId), Lo(usAppId)});
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command, answer);
    if (status != kSwSuccess)
        return status;
    if (answer.size() < kPinInfoAnswerSize)
        return kSwTransportFailure;
    if (pbMaxRetries != nullptr)
        *pbMaxRetries = answer[0];
    if (pbTriesLeft != nullptr)
        *pbTriesLeft = answer[1];
    if (pbDefaultPin != nullptr)
        *pbDefaultPin = answer[2];
    return status;
}

TokenStatus CToken5105::VerifyPin(uint8_t bPinType, uint16_t usAppId, const char* pszPin, CK_ULONG ulPinLen) {
    if (pszPin == nullptr && ulPinLen != 0)
        return CKR_ARGUMENTS_BAD;
    ProtectedCommand secret;
    const TokenStatus random = GenRandom(secret.challenge, kVerifyChallengeSize);
    if (random != kSwSuccess)
        return random;
    secret.key = DerivePinKey(pszPin, ulPinLen);
    std::vector<uint8_t> cipher = EncryptPinBlock(secret.key, secret.challenge, kVerifyChallengeSize);
    if (cipher.size() != 16)
        return kSwTransportFailure;
    ApduBuilder command(CommandFromTemplate("8018 00%02x 000012 %02x%02x", {bPinType, Hi(usAppId), Lo(usAppId)}));
    command.Bytes(cipher);
    return SendCommand(command.Get());
}

TokenStatus CToken5105::ChangePin(uint8_t bPinType, uint16_t usAppId, const char* pszNewPin, CK_ULONG ulNewPinLen,
                                  const char* pszOldPin, CK_ULONG ulOldPinLen) {
    if ((pszNewPin == nullptr && ulNewPinLen != 0) || (pszOldPin == nullptr && ulOldPinLen != 0))
        return CKR_ARGUMENTS_BAD;
    // The data length travels in one byte.
    if (IsoPaddedLength(2 + ulNewPinLen) + kProtectedOverhead > 0xFF)
        return CKR_ARGUMENTS_BAD;
    ProtectedCommand secret;
    secret.key = DerivePinKey(pszOldPin, ulOldPinLen);
    std::vector<uint8_t> cipher = EncryptPinBlock(secret.key, pszNewPin, ulNewPinLen);
    if (cipher.empty())
        return kSwTransportFailure;
    ApduBuilder command(CommandFromTemplate("8416 00%02x 0000 %02x %02x%02x",
                                            {bPinType, cipher.size() + kProtectedOverhead, Hi(usAppId), Lo(usAppId)}));
    command.Bytes(cipher);
    const TokenStatus random = GenRandom(secret.challenge, kMacChallengeSize);
    if (random != kSwSuccess)
        return random;
    const auto mac = CommandMac(secret.key, secret.challenge, command.Get());
    if (!mac)
        return kSwTransportFailure;
    command.Bytes(mac->data(), mac->size());
    return SendCommand(command.Get());
}

TokenStatus CToken5105::UnblockPin(uint16_t usAppId, const char* pszNewUserPin, CK_ULONG ulNewUserPinLen,
                                   const char* pszAdminPin, CK_ULONG ulAdminPinLen) {
    if ((pszNewUserPin == nullptr && ulNewUserPinLen != 0) || (pszAdminPin == nullptr && ulAdminPinLen != 0))
        return CKR_ARGUMENTS_BAD;
    if (IsoPaddedLength(2 + ulNewUserPinLen) + kProtectedOverhead > 0xFF)
        return CKR_ARGUMENTS_BAD;
    ProtectedCommand secret;
    secret.key = DerivePinKey(pszAdminPin, ulAdminPinLen);
    std::vector<uint8_t> cipher = EncryptPinBlock(secret.key, pszNewUserPin, ulNewUserPinLen);
    if (cipher.empty())
        return CKR_FUNCTION_FAILED;
    ApduBuilder command(CommandFromTemplate("841A 0000 000016 %02x%02x", {Hi(usAppId), Lo(usAppId)}));
    command.Get()[kLengthByte] = static_cast<uint8_t>(cipher.size() + kProtectedOverhead);
    command.Bytes(cipher);
    const TokenStatus random = GenRandom(secret.challenge, kMacChallengeSize);
    if (random != kSwSuccess)
        return random;
    const auto mac = CommandMac(secret.key, secret.challenge, command.Get());
    if (!mac)
        return CKR_FUNCTION_FAILED;
    command.Bytes(mac->data(), mac->size());
    return SendCommand(command.Get());
}

TokenStatus CToken5105::ClearSecureState(uint16_t usAppId) {
    return SendCommand(CommandFromTemplate("801C 0000 000002 %02x%02x", {Hi(usAppId), Lo(usAppId)}));
}

} // namespace keycore
