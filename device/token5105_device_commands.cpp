// Device-level commands: raw exchange, label, device information and authentication, random
// numbers, the access code and the device-key change.

#include "crypto/sm2.h"
#include "device/apdu_builder.h"
#include "device/apdu_template.h"
#include "device/command_fields.h"
#include "device/token5105.h"
#include "device/token_identity.h"
#include "runtime/secure_wipe.h"

#include <algorithm>
#include <cstring>

namespace keycore {

namespace {

constexpr size_t kMaxRandomPerCommand = 255;
constexpr size_t kDevAuthDataSize = 16;
constexpr size_t kDevAuthKeyChangeSize = 20;
constexpr size_t kDeviceKeySize = 16;
constexpr size_t kDeviceKeyCipherSize = 112;
constexpr size_t kDeviceKeyAnswerCapacity = 1024;
constexpr size_t kDevInfoMaxAnswer = 512;

std::vector<uint8_t> AccessCodeCommand() {
    std::vector<uint8_t> command(std::begin(token_identity::kAccessCodeHeader),
                                 std::end(token_identity::kAccessCodeHeader));
    command.insert(command.end(), std::begin(token_identity::kAccessCode), std::end(token_identity::kAccessCode));
    return command;
}

std::string UpperHex(const uint8_t* bytes, size_t len) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < len; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

} // namespace

TokenStatus CToken5105::SendForAnswer(const std::vector<uint8_t>& command, std::vector<uint8_t>& answer) {
    answer.resize(kApduAnswerCapacity - 2);
    CK_ULONG len = answer.size();
    const TokenStatus status = SendCommand(command, answer.data(), &len);
    answer.resize(status == CKR_BUFFER_TOO_SMALL ? 0 : len);
    return status;
}

TokenStatus CToken5105::CopyAnswer(const std::vector<uint8_t>& answer, unsigned char* pbOut, CK_ULONG* pulOutLen) {
    if (pulOutLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    if (pbOut == nullptr) {
        *pulOutLen = answer.size();
        return kSwSuccess;
    }
    if (*pulOutLen < answer.size()) {
        *pulOutLen = answer.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    if (!answer.empty())
        std::memcpy(pbOut, answer.data(), answer.size());
    *pulOutLen = answer.size();
    return kSwSuccess;
}

TokenStatus CToken5105::TransmitRawApdu(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbAnswer,
                                        CK_ULONG* pulAnswerLen) {
    if (pbCommand == nullptr || ulCommandLen == 0 || pbAnswer == nullptr || pulAnswerLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> data(kApduAnswerCapacity - 2);
    CK_ULONG dataLen = data.size();
    const long result = TransmitApdu(pbCommand, ulCommandLen, data.data(), &dataLen, kCommandTimeoutMs);
    if (result < 0)
        return kSwTransportFailure;
    const CK_ULONG needed = dataLen + 2;
    if (*pulAnswerLen < needed) {
        SecureWipe(data);
        *pulAnswerLen = needed;
        return CKR_BUFFER_TOO_SMALL;
    }
    std::memcpy(pbAnswer, data.data(), dataLen);
    pbAnswer[dataLen] = static_cast<unsigned char>(result >> 8);
    pbAnswer[dataLen + 1] = static_cast<unsigned char>(result);
    *pulAnswerLen = needed;
    SecureWipe(data);
    return static_cast<TokenStatus>(result);
}

TokenStatus CToken5105::SetLabel(const char* pszLabel, CK_ULONG ulLabelLen) {
    if ((pszLabel == nullptr && ulLabelLen != 0) || ulLabelLen > 0xFF)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(CommandFromTemplate("8002 0000 0000%02x", {ulLabelLen}));
    command.Bytes(pszLabel, ulLabelLen);
    return SendCommand(command.Get()) == kSwSuccess ? CKR_OK : CKR_FUNCTION_FAILED;
}

TokenStatus CToken5105::GetDevInfo(unsigned char* pbInfo, CK_ULONG* pulInfoLen) {
    if (pulInfoLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(CommandFromTemplate("80040000 000000"), answer);
    if (status != kSwSuccess)
        return status;
    if (answer.size() > kDevInfoMaxAnswer)
        answer.resize(kDevInfoMaxAnswer);
    const TokenStatus copied = CopyAnswer(answer, pbInfo, pulInfoLen);
    return copied == CKR_BUFFER_TOO_SMALL ? kDevInfoBufferTooSmall : copied;
}

TokenStatus CToken5105::DevAuth(const unsigned char* pbAuthData, CK_ULONG ulAuthDataLen) {
    if (pbAuthData == nullptr || ulAuthDataLen != kDevAuthDataSize)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(CommandFromTemplate("8010 0000 000010"));
    command.Bytes(pbAuthData, kDevAuthDataSize);
    return SendCommand(command.Get());
}

TokenStatus CToken5105::ChangeDevAuthKey(const unsigned char* pbData, CK_ULONG ulDataLen) {
    if (pbData == nullptr || ulDataLen != kDevAuthKeyChangeSize)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(CommandFromTemplate("8412 0000 000014"));
    command.Bytes(pbData, kDevAuthKeyChangeSize);
    const TokenStatus status = SendCommand(command.Get());
    SecureWipe(command.Get());
    return status;
}

TokenStatus CToken5105::GenRandom(unsigned char* pbRandom, CK_ULONG ulRandomLen) {
    if (ulRandomLen == 0)
        return kSwSuccess;
    if (pbRandom == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> command = CommandFromTemplate("8050 0000 000000");
    TokenStatus status = kSwSuccess;
    CK_ULONG offset = 0;
    while (offset < ulRandomLen) {
        const CK_ULONG chunk = std::min<CK_ULONG>(kMaxRandomPerCommand, ulRandomLen - offset);
        command[5] = static_cast<uint8_t>(chunk >> 8);
        command[6] = static_cast<uint8_t>(chunk);
        CK_ULONG got = ulRandomLen - offset;
        status = SendCommand(command, pbRandom + offset, &got);
        if (status != kSwSuccess)
            return status;
        // A token that answers success without bytes would keep the loop going for ever.
        if (got == 0)
            return kSwTransportFailure;
        offset += got;
    }
    return status;
}

TokenStatus CToken5105::SendAccessCode() {
    return SendCommand(AccessCodeCommand());
}

TokenStatus CToken5105::PrepareDevAuthKeyChange() {
    return SendCommand(AccessCodeCommand()) == kSwSuccess ? CKR_OK : CKR_FUNCTION_FAILED;
}

TokenStatus CToken5105::ChangeDevAuthKeySm2(const unsigned char* pbNewKey, std::vector<unsigned char>* pAnswer) {
    if (pbNewKey == nullptr || pAnswer == nullptr)
        return CKR_ARGUMENTS_BAD;
    sm2_context sm2;
    int rc = sm2_init(&sm2);
    if (rc == 0) {
        const std::string x = UpperHex(token_identity::kDeviceKeyTransportPublicX, 32);
        const std::string y = UpperHex(token_identity::kDeviceKeyTransportPublicY, 32);
        rc = sm2_read_public_hex(&sm2, x.c_str(), y.c_str());
    }
    // C1 (04 x y) || C2 || C3 from the software routine.
    uint8_t cipher[kDeviceKeySize + SM2_CIPHER_OVERHEAD];
    size_t cipherLen = sizeof cipher;
    if (rc == 0)
        rc = sm2_encrypt(&sm2, pbNewKey, kDeviceKeySize, cipher, &cipherLen, nullptr, nullptr);
    sm2_free(&sm2);
    if (rc != 0 || cipherLen != sizeof cipher)
        return 0;

    // The token reads C1.x, C1.y, C3, C2 without the point marker.
    ApduBuilder command(CommandFromTemplate("8003 0000 000070"));
    command.Bytes(cipher + 1, 64);
    command.Bytes(cipher + 1 + 64 + kDeviceKeySize, 32);
    command.Bytes(cipher + 1 + 64, kDeviceKeySize);
    static_assert(64 + 32 + kDeviceKeySize == kDeviceKeyCipherSize, "device-key cipher text is 112 bytes");
    SecureWipe(cipher, sizeof cipher);

    std::vector<uint8_t> answer(kDeviceKeyAnswerCapacity);
    CK_ULONG answerLen = answer.size();
    const TokenStatus status = SendCommand(command.Get(), answer.data(), &answerLen);
    if (status == kSwSuccess) {
        answer.resize(answerLen);
        *pAnswer = std::move(answer);
    }
    return status;
}

} // namespace keycore
