// Session keys, symmetric ciphers, digests and MACs on the token.

#include "device/apdu_builder.h"
#include "device/apdu_template.h"
#include "device/command_fields.h"
#include "device/token5105.h"
#include "runtime/secure_wipe.h"

namespace keycore {

namespace {

constexpr size_t kZeroIvSize = 16;
constexpr uint32_t kSm2Bits = 256;
constexpr size_t kCoordinate = 32;
constexpr uint16_t kKeyIndexAnswer = 2;
constexpr uint16_t kMacAnswer = 0x10;

// The IV field of the commands that carry it: length and IV, or 00 10 and 16 zero bytes.
void AppendIv(ApduBuilder& command, const unsigned char* pbIv, CK_ULONG ulIvLen) {
    if (pbIv != nullptr && ulIvLen != 0)
        command.U16(static_cast<uint32_t>(ulIvLen)).Bytes(pbIv, ulIvLen);
    else
        command.U16(kZeroIvSize).Bytes(nullptr, kZeroIvSize);
}

bool BadData(const unsigned char* pbData, CK_ULONG ulDataLen) {
    return (pbData == nullptr && ulDataLen != 0) || ulDataLen > kMaxDataField - 64;
}

} // namespace

TokenStatus CToken5105::ImportSessionKey(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId,
                                         const unsigned char* pbWrappedKey, CK_ULONG ulWrappedKeyLen,
                                         uint16_t* pusKeyIndex) {
    if (pbWrappedKey == nullptr || BadData(pbWrappedKey, ulWrappedKeyLen) || pusKeyIndex == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0xA0, 0x00, 0x00);
    command.U16(usAppId)
        .U16(usContainerId)
        .U32(ulAlgId)
        .U32(static_cast<uint32_t>(ulWrappedKeyLen))
        .Bytes(pbWrappedKey, ulWrappedKeyLen);
    command.EndData();
    command.U16(kKeyIndexAnswer);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    if (status != kSwSuccess)
        return status;
    if (answer.size() < 2)
        return kSwTransportFailure;
    *pusKeyIndex = static_cast<uint16_t>(answer[0] << 8 | answer[1]);
    return status;
}

TokenStatus CToken5105::SetSymmKey(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId,
                                   const unsigned char* pbKey, CK_ULONG ulKeyLen, uint16_t* pusKeyIndex) {
    if (pbKey == nullptr || ulKeyLen == 0 || ulKeyLen > 0xFF || pusKeyIndex == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0xA2, 0x00, 0x00);
    command.U16(usAppId).U16(usContainerId).U32(ulAlgId).U16(static_cast<uint32_t>(ulKeyLen)).Bytes(pbKey, ulKeyLen);
    command.EndData();
    command.U16(kKeyIndexAnswer);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    SecureWipe(command.Get());
    if (status != kSwSuccess)
        return status;
    if (answer.size() < 2)
        return kSwTransportFailure;
    *pusKeyIndex = static_cast<uint16_t>(answer[0] << 8 | answer[1]);
    return status;
}

TokenStatus CToken5105::SetSymmKeyPlain(uint32_t ulAlgId, const unsigned char* pbKey, CK_ULONG ulKeyLen,
                                        uint16_t* pusKeyIndex) {
    if (pbKey == nullptr || ulKeyLen == 0 || ulKeyLen > 0xFF || pusKeyIndex == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0xE7, 0x00, 0x00);
    command.U32(ulAlgId).U16(static_cast<uint32_t>(ulKeyLen)).Bytes(pbKey, ulKeyLen);
    command.EndData();
    command.U16(kKeyIndexAnswer);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    SecureWipe(command.Get());
    if (status != kSwSuccess)
        return status;
    if (answer.size() < 2)
        return kSwTransportFailure;
    *pusKeyIndex = static_cast<uint16_t>(answer[0] << 8 | answer[1]);
    return status;
}

TokenStatus CToken5105::CipherInit(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                   uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen,
                                   uint32_t ulPaddingType, uint32_t ulFeedBitLen) {
    if (BadData(pbIv, ulIvLen) || ulIvLen > 0xFF)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, bEncrypt ? 0xA4 : 0xAC, 0x00, 0x00);
    command.U16(usAppId)
        .U16(usContainerId)
        .U16(usKeyIndex)
        .U32(ulAlgId)
        .U16(static_cast<uint32_t>(ulIvLen))
        .Bytes(pbIv, ulIvLen)
        .U16(0x10)
        .U32(ulPaddingType)
        .U32(ulFeedBitLen);
    command.EndData();
    return SendCommand(command.Get());
}

TokenStatus CToken5105::CipherInitEx(bool bEncrypt, uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen) {
    if (BadData(pbIv, ulIvLen) || ulIvLen > 0xFF)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command({0x80, 0xE8, 0x00, 0x00, 0x00, 0x00, 0x1E});
    command.U32(ulAlgId).U8(bEncrypt ? 0xA6 : 0xAE);
    AppendIv(command, pbIv, ulIvLen);
    return SendCommand(command.Get());
}

namespace {

// The data stage of a cipher on a session key: app, ctr, key index, data, 00 00.
std::vector<uint8_t> KeyedDataCommand(uint8_t ins, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                      const unsigned char* pbData, CK_ULONG ulDataLen, bool withLe, uint16_t le) {
    ApduBuilder command = ApduBuilder::Command(0x80, ins, 0x00, 0x00);
    command.U16(usAppId).U16(usContainerId).U16(usKeyIndex).Bytes(pbData, ulDataLen);
    command.EndData();
    if (withLe)
        command.U16(le);
    return std::move(command.Get());
}

// The cipher family that carries its algorithm and IV in every command (sub-command after the
// algorithm).
std::vector<uint8_t> IvDataCommand(uint8_t subCommand, uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen,
                                   const unsigned char* pbData, CK_ULONG ulDataLen) {
    ApduBuilder command = ApduBuilder::Command(0x80, 0xE8, 0x00, 0x00);
    command.U32(ulAlgId).U8(subCommand);
    AppendIv(command, pbIv, ulIvLen);
    command.Bytes(pbData, ulDataLen);
    command.EndData();
    command.U16(0);
    return std::move(command.Get());
}

} // namespace

TokenStatus CToken5105::SendKeyedCipherStep(uint8_t ins, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                            const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                            CK_ULONG* pulOutputLen) {
    if (BadData(pbData, ulDataLen) || pulOutputLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> command =
        KeyedDataCommand(ins, usAppId, usContainerId, usKeyIndex, pbData, ulDataLen, true, 0);
    const TokenStatus status = SendCommand(command, pbOutput, pulOutputLen);
    SecureWipe(command);
    return status;
}

TokenStatus CToken5105::CipherSingle(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                     const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                     CK_ULONG* pulOutputLen) {
    return SendKeyedCipherStep(bEncrypt ? 0xA6 : 0xAE, usAppId, usContainerId, usKeyIndex, pbData, ulDataLen, pbOutput,
                               pulOutputLen);
}

TokenStatus CToken5105::CipherUpdate(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                     const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                     CK_ULONG* pulOutputLen) {
    return SendKeyedCipherStep(bEncrypt ? 0xA8 : 0xB0, usAppId, usContainerId, usKeyIndex, pbData, ulDataLen, pbOutput,
                               pulOutputLen);
}

TokenStatus CToken5105::CipherFinal(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                    const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                    CK_ULONG* pulOutputLen) {
    return SendKeyedCipherStep(bEncrypt ? 0xAA : 0xB2, usAppId, usContainerId, usKeyIndex, pbData, ulDataLen, pbOutput,
                               pulOutputLen);
}

TokenStatus CToken5105::CipherUpdateWithIv(bool bEncrypt, uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen,
                                           const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                           CK_ULONG* pulOutputLen) {
    if (BadData(pbData, ulDataLen) || BadData(pbIv, ulIvLen) || ulIvLen > 0xFF || pulOutputLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> command = IvDataCommand(bEncrypt ? 0xA6 : 0xB0, ulAlgId, pbIv, ulIvLen, pbData, ulDataLen);
    const TokenStatus status = SendCommand(command, pbOutput, pulOutputLen);
    SecureWipe(command);
    return status;
}

TokenStatus CToken5105::CipherFinalWithIv(bool bEncrypt, uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen,
                                          const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                          CK_ULONG* pulOutputLen) {
    if (BadData(pbData, ulDataLen) || BadData(pbIv, ulIvLen) || ulIvLen > 0xFF || pulOutputLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> command = IvDataCommand(bEncrypt ? 0xAA : 0xB2, ulAlgId, pbIv, ulIvLen, pbData, ulDataLen);
    const TokenStatus status = SendCommand(command, pbOutput, pulOutputLen);
    SecureWipe(command);
    return status;
}

TokenStatus CToken5105::SymmetricCipherWithKey(uint8_t bAlgId, uint8_t bMode, const unsigned char* pbKey,
                                               CK_ULONG ulKeyLen, const unsigned char* pbIv, CK_ULONG ulIvLen,
                                               const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                               CK_ULONG* pulOutputLen) {
    if (BadData(pbKey, ulKeyLen) || BadData(pbIv, ulIvLen) || BadData(pbData, ulDataLen) || pulOutputLen == nullptr ||
        ulKeyLen + ulIvLen + ulDataLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0xA1, bAlgId, bMode);
    command.Bytes(pbKey, ulKeyLen).Bytes(pbIv, ulIvLen).Bytes(pbData, ulDataLen);
    command.EndData();
    const TokenStatus status = SendCommand(command.Get(), pbOutput, pulOutputLen);
    SecureWipe(command.Get());
    return status;
}

TokenStatus CToken5105::DigestInit(uint8_t bAlgId, const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                                   const unsigned char* pbId, CK_ULONG ulIdLen) {
    ApduBuilder command({0x80, 0xB4, 0x00, bAlgId, 0x00});
    if (pbPublicX == nullptr) {
        // Without a public key the command is the header and the single 00 byte.
        return SendCommand(command.Get());
    }
    if (pbPublicY == nullptr || pbId == nullptr || ulIdLen == 0 || ulIdLen > kMaxDataField - 72)
        return CKR_ARGUMENTS_BAD;
    command.U16(static_cast<uint32_t>(ulIdLen + 72))
        .U32(kSm2Bits)
        .Bytes(pbPublicX, kCoordinate)
        .Bytes(pbPublicY, kCoordinate)
        .U32(static_cast<uint32_t>(ulIdLen))
        .Bytes(pbId, ulIdLen);
    return SendCommand(command.Get());
}

TokenStatus CToken5105::Digest(const unsigned char* pbData, CK_ULONG ulDataLen, uint16_t usDigestLen,
                               unsigned char* pbDigest, CK_ULONG* pulDigestLen) {
    if (BadData(pbData, ulDataLen) || pulDigestLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0xB6, 0x00, 0x00);
    command.Bytes(pbData, ulDataLen);
    command.EndData();
    command.U16(usDigestLen);
    return SendCommand(command.Get(), pbDigest, pulDigestLen);
}

TokenStatus CToken5105::DigestUpdate(const unsigned char* pbData, CK_ULONG ulDataLen) {
    if (BadData(pbData, ulDataLen))
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0xB8, 0x00, 0x00);
    command.Bytes(pbData, ulDataLen);
    command.EndData();
    return SendCommand(command.Get());
}

TokenStatus CToken5105::DigestFinal(const unsigned char* pbData, CK_ULONG ulDataLen, uint16_t usDigestLen,
                                    unsigned char* pbDigest, CK_ULONG* pulDigestLen) {
    if (BadData(pbData, ulDataLen) || pulDigestLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0xBA, 0x00, 0x00);
    command.Bytes(pbData, ulDataLen);
    command.EndData();
    command.U8(0).U16(usDigestLen);
    return SendCommand(command.Get(), pbDigest, pulDigestLen);
}

TokenStatus CToken5105::MacInit(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex, uint32_t ulAlgId,
                                const unsigned char* pbIv, CK_ULONG ulIvLen, uint32_t ulPaddingType,
                                uint32_t ulFeedBitLen) {
    if (BadData(pbIv, ulIvLen) || ulIvLen > 0xFF)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0xBC, 0x00, 0x00);
    command.U16(usAppId)
        .U16(usContainerId)
        .U16(usKeyIndex)
        .U32(ulAlgId)
        .U16(static_cast<uint32_t>(ulIvLen))
        .Bytes(pbIv, ulIvLen)
        .U32(ulPaddingType)
        .U32(ulFeedBitLen);
    command.EndData();
    return SendCommand(command.Get());
}

TokenStatus CToken5105::Mac(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex, const unsigned char* pbData,
                            CK_ULONG ulDataLen, unsigned char* pbMac, CK_ULONG* pulMacLen) {
    if (BadData(pbData, ulDataLen) || pulMacLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    return SendCommand(KeyedDataCommand(0xBE, usAppId, usContainerId, usKeyIndex, pbData, ulDataLen, true, kMacAnswer),
                       pbMac, pulMacLen);
}

TokenStatus CToken5105::MacUpdate(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                  const unsigned char* pbData, CK_ULONG ulDataLen) {
    if (BadData(pbData, ulDataLen))
        return CKR_ARGUMENTS_BAD;
    return SendCommand(KeyedDataCommand(0xC0, usAppId, usContainerId, usKeyIndex, pbData, ulDataLen, false, 0));
}

TokenStatus CToken5105::MacFinal(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                 const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbMac,
                                 CK_ULONG* pulMacLen) {
    if (BadData(pbData, ulDataLen) || pulMacLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    return SendCommand(KeyedDataCommand(0xC2, usAppId, usContainerId, usKeyIndex, pbData, ulDataLen, true, kMacAnswer),
                       pbMac, pulMacLen);
}

TokenStatus CToken5105::CloseSessionKey(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex) {
    ApduBuilder command(CommandFromTemplate("80C4 0000 000006"));
    command.U16(usAppId).U16(usContainerId).U16(usKeyIndex).U16(0);
    return SendCommand(command.Get());
}

} // namespace keycore
