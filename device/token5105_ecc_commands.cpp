// SM2 commands: key pairs, signatures, encryption, session-key export and key agreement.

#include "device/apdu_builder.h"
#include "device/apdu_template.h"
#include "device/command_fields.h"
#include "device/token5105.h"
#include "runtime/secure_wipe.h"

namespace keycore {

namespace {

constexpr size_t kCoordinate = 32;
constexpr uint32_t kSm2Bits = 256;

// Sends a command whose data length is known only now, then copies its answer to the caller.
template <typename Send> TokenStatus Finish(ApduBuilder& command, Send send) {
    if (!command.EndData())
        return CKR_ARGUMENTS_BAD;
    return send(command.Get());
}

} // namespace

TokenStatus CToken5105::GenEccKeyPair(uint16_t usAppId, uint16_t usContainerId, unsigned char* pbPublicKey,
                                      CK_ULONG* pulPublicKeyLen) {
    if (pulPublicKeyLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> answer;
    const TokenStatus status =
        SendForAnswer(CommandFromTemplate("8070 0000 000008 %02x%02x %02x%02x 00000100 0040",
                                          {Hi(usAppId), Lo(usAppId), Hi(usContainerId), Lo(usContainerId)}),
                      answer);
    if (status != kSwSuccess)
        return status;
    return CopyAnswer(answer, pbPublicKey, pulPublicKeyLen);
}

TokenStatus CToken5105::ImportEccKeyPair(uint16_t usAppId, uint16_t usContainerId, uint32_t ulSymmAlgId,
                                         const unsigned char* pbC1X, const unsigned char* pbC1Y,
                                         const unsigned char* pbC3, const unsigned char* pbC2, CK_ULONG ulC2Len,
                                         const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                                         const unsigned char* pbEncryptedPrivateKey,
                                         CK_ULONG ulEncryptedPrivateKeyLen) {
    if (!pbC1X || !pbC1Y || !pbC3 || !pbC2 || !pbPublicX || !pbPublicY || !pbEncryptedPrivateKey)
        return CKR_ARGUMENTS_BAD;
    if (ulC2Len > kMaxDataField || ulEncryptedPrivateKeyLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command({0x80, 0x72, 0x00, 0x00, 0x00, 0x00, 0x00});
    command.U16(usAppId)
        .U16(usContainerId)
        .U32(0x00020000)
        .U32(ulSymmAlgId)
        .U32(kSm2Bits)
        .Bytes(pbC1X, kCoordinate)
        .Bytes(pbC1Y, kCoordinate)
        .Bytes(pbC3, kCoordinate)
        .U32(static_cast<uint32_t>(ulC2Len))
        .Bytes(pbC2, ulC2Len)
        .U32(kSm2Bits)
        .Bytes(pbPublicX, kCoordinate)
        .Bytes(pbPublicY, kCoordinate)
        .U32(static_cast<uint32_t>(ulEncryptedPrivateKeyLen))
        .Bytes(pbEncryptedPrivateKey, ulEncryptedPrivateKeyLen);
    const TokenStatus status = Finish(command, [this](const std::vector<uint8_t>& c) { return SendCommand(c); });
    SecureWipe(command.Get());
    return status;
}

TokenStatus CToken5105::EccSignData(uint16_t usAppId, uint16_t usContainerId, const unsigned char* pbDigest,
                                    unsigned char* pbSignature, CK_ULONG* pulSignatureLen) {
    if (pbDigest == nullptr || pulSignatureLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(CommandFromTemplate("8074 0200 000024"));
    command.U16(usAppId).U16(usContainerId).Bytes(pbDigest, kCoordinate).U16(0);
    return SendCommand(command.Get(), pbSignature, pulSignatureLen);
}

TokenStatus CToken5105::EccSignDataWithId(uint16_t usAppId, uint16_t usContainerId, const unsigned char* pbMessage,
                                          CK_ULONG ulMessageLen, const unsigned char* pbId, CK_ULONG ulIdLen,
                                          unsigned char* pbSignature, CK_ULONG* pulSignatureLen) {
    if ((pbMessage == nullptr && ulMessageLen != 0) || (pbId == nullptr && ulIdLen != 0) ||
        pulSignatureLen == nullptr || ulMessageLen > kMaxDataField || ulIdLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x74, 0x01, 0x00);
    command.U16(usAppId)
        .U16(usContainerId)
        .U32(static_cast<uint32_t>(ulMessageLen))
        .Bytes(pbMessage, ulMessageLen)
        .U32(static_cast<uint32_t>(ulIdLen))
        .Bytes(pbId, ulIdLen);
    if (!command.EndData())
        return CKR_ARGUMENTS_BAD;
    command.U16(0);
    return SendCommand(command.Get(), pbSignature, pulSignatureLen);
}

TokenStatus CToken5105::ExtEccSign(const unsigned char* pbPrivateKey, const unsigned char* pbData, CK_ULONG ulDataLen,
                                   unsigned char* pbSignature, CK_ULONG* pulSignatureLen) {
    if (pbPrivateKey == nullptr || (pbData == nullptr && ulDataLen != 0) || pulSignatureLen == nullptr ||
        ulDataLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x7E, 0x00, 0x00);
    command.U32(kSm2Bits)
        .Bytes(pbPrivateKey, kCoordinate)
        .U32(static_cast<uint32_t>(ulDataLen))
        .Bytes(pbData, ulDataLen);
    if (!command.EndData()) {
        SecureWipe(command.Get());
        return CKR_ARGUMENTS_BAD;
    }
    command.U16(0);
    const TokenStatus status = SendCommand(command.Get(), pbSignature, pulSignatureLen);
    SecureWipe(command.Get());
    return status;
}

TokenStatus CToken5105::EccVerify(const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                                  const unsigned char* pbData, CK_ULONG ulDataLen, const unsigned char* pbR,
                                  const unsigned char* pbS) {
    if (!pbPublicX || !pbPublicY || !pbR || !pbS || (pbData == nullptr && ulDataLen != 0) || ulDataLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x76, 0x00, 0x00);
    command.U32(kSm2Bits)
        .Bytes(pbPublicX, kCoordinate)
        .Bytes(pbPublicY, kCoordinate)
        .U32(static_cast<uint32_t>(ulDataLen))
        .Bytes(pbData, ulDataLen)
        .Bytes(pbR, kCoordinate)
        .Bytes(pbS, kCoordinate);
    return Finish(command, [this](const std::vector<uint8_t>& c) { return SendCommand(c); });
}

TokenStatus CToken5105::EccExportSessionKey(uint16_t usAppId, uint16_t usContainerId, const unsigned char* pbPublicX,
                                            const unsigned char* pbPublicY, uint32_t ulAlgId, unsigned char* pbOutput,
                                            CK_ULONG* pulOutputLen) {
    if (pbPublicX == nullptr || pbPublicY == nullptr || pulOutputLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(CommandFromTemplate("8078 0000 00004c"));
    command.U16(usAppId)
        .U16(usContainerId)
        .U32(kSm2Bits)
        .Bytes(pbPublicX, kCoordinate)
        .Bytes(pbPublicY, kCoordinate)
        .U32(ulAlgId)
        .U16(0);
    return SendCommand(command.Get(), pbOutput, pulOutputLen);
}

TokenStatus CToken5105::ExtEccEncrypt(const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                                      const unsigned char* pbPlain, CK_ULONG ulPlainLen, unsigned char* pbCipher,
                                      CK_ULONG* pulCipherLen) {
    if (!pbPublicX || !pbPublicY || (pbPlain == nullptr && ulPlainLen != 0) || pulCipherLen == nullptr ||
        ulPlainLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x7A, 0x00, 0x00);
    command.U32(kSm2Bits)
        .Bytes(pbPublicX, kCoordinate)
        .Bytes(pbPublicY, kCoordinate)
        .U32(static_cast<uint32_t>(ulPlainLen))
        .Bytes(pbPlain, ulPlainLen);
    if (!command.EndData())
        return CKR_ARGUMENTS_BAD;
    command.U16(0);
    const TokenStatus status = SendCommand(command.Get(), pbCipher, pulCipherLen);
    SecureWipe(command.Get());
    return status;
}

TokenStatus CToken5105::ExtEccDecrypt(const unsigned char* pbPrivateKey, const unsigned char* pbC1X,
                                      const unsigned char* pbC1Y, const unsigned char* pbC3, const unsigned char* pbC2,
                                      CK_ULONG ulC2Len, unsigned char* pbPlain, CK_ULONG* pulPlainLen) {
    if (!pbPrivateKey || !pbC1X || !pbC1Y || !pbC3 || (pbC2 == nullptr && ulC2Len != 0) || pulPlainLen == nullptr ||
        ulC2Len > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x7C, 0x00, 0x00);
    command.U32(kSm2Bits)
        .Bytes(pbPrivateKey, kCoordinate)
        .Bytes(pbC1X, kCoordinate)
        .Bytes(pbC1Y, kCoordinate)
        .Bytes(pbC3, kCoordinate)
        .U32(static_cast<uint32_t>(ulC2Len))
        .Bytes(pbC2, ulC2Len);
    if (!command.EndData()) {
        SecureWipe(command.Get());
        return CKR_ARGUMENTS_BAD;
    }
    command.U16(0);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    SecureWipe(command.Get());
    if (status != kSwSuccess)
        return status;
    // The last four answer bytes are not part of the plain text.
    answer.resize(answer.size() >= 4 ? answer.size() - 4 : 0);
    const TokenStatus copied = CopyAnswer(answer, pbPlain, pulPlainLen);
    SecureWipe(answer);
    return copied;
}

TokenStatus CToken5105::GenerateAgreementDataWithEcc(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId,
                                                     const unsigned char* pbId, CK_ULONG ulIdLen,
                                                     unsigned char* pbOutput, CK_ULONG* pulOutputLen) {
    if ((pbId == nullptr && ulIdLen != 0) || pulOutputLen == nullptr || ulIdLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x82, 0x00, 0x00);
    command.U16(usAppId).U16(usContainerId).U32(ulAlgId).U32(static_cast<uint32_t>(ulIdLen)).Bytes(pbId, ulIdLen);
    if (!command.EndData())
        return CKR_ARGUMENTS_BAD;
    command.U16(0);
    return SendCommand(command.Get(), pbOutput, pulOutputLen);
}

TokenStatus CToken5105::GenerateAgreementDataAndKeyWithEcc(
    uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId, const unsigned char* pbSponsorX,
    const unsigned char* pbSponsorY, const unsigned char* pbSponsorTempX, const unsigned char* pbSponsorTempY,
    const unsigned char* pbSponsorId, CK_ULONG ulSponsorIdLen, const unsigned char* pbOwnId, CK_ULONG ulOwnIdLen,
    unsigned char* pbOutput, CK_ULONG* pulOutputLen) {
    if (!pbSponsorX || !pbSponsorY || !pbSponsorTempX || !pbSponsorTempY ||
        (pbSponsorId == nullptr && ulSponsorIdLen != 0) || (pbOwnId == nullptr && ulOwnIdLen != 0) ||
        pulOutputLen == nullptr || ulSponsorIdLen > kMaxDataField || ulOwnIdLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x84, 0x00, 0x00);
    command.U16(usAppId)
        .U16(usContainerId)
        .U32(ulAlgId)
        .U32(kSm2Bits)
        .Bytes(pbSponsorX, kCoordinate)
        .Bytes(pbSponsorY, kCoordinate)
        .U32(kSm2Bits)
        .Bytes(pbSponsorTempX, kCoordinate)
        .Bytes(pbSponsorTempY, kCoordinate)
        .U32(static_cast<uint32_t>(ulSponsorIdLen))
        .Bytes(pbSponsorId, ulSponsorIdLen)
        .U32(static_cast<uint32_t>(ulOwnIdLen))
        .Bytes(pbOwnId, ulOwnIdLen);
    if (!command.EndData())
        return CKR_ARGUMENTS_BAD;
    command.U16(0);
    return SendCommand(command.Get(), pbOutput, pulOutputLen);
}

TokenStatus CToken5105::GenerateKeyWithEcc(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAgreementId,
                                           const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                                           const unsigned char* pbTempX, const unsigned char* pbTempY,
                                           const unsigned char* pbId, CK_ULONG ulIdLen, uint16_t* pusKeyIndex) {
    if (!pbPublicX || !pbPublicY || !pbTempX || !pbTempY || (pbId == nullptr && ulIdLen != 0) ||
        pusKeyIndex == nullptr || ulIdLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x86, 0x00, 0x00);
    command.U16(usAppId)
        .U16(usContainerId)
        .U32(ulAgreementId)
        .U32(kSm2Bits)
        .Bytes(pbPublicX, kCoordinate)
        .Bytes(pbPublicY, kCoordinate)
        .U32(kSm2Bits)
        .Bytes(pbTempX, kCoordinate)
        .Bytes(pbTempY, kCoordinate)
        .U32(static_cast<uint32_t>(ulIdLen))
        .Bytes(pbId, ulIdLen);
    if (!command.EndData())
        return CKR_ARGUMENTS_BAD;
    command.U16(4);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    if (status != kSwSuccess)
        return status;
    if (answer.size() < 2)
        return kSwTransportFailure;
    *pusKeyIndex = static_cast<uint16_t>(answer[0] << 8 | answer[1]);
    return status;
}

TokenStatus CToken5105::ExportPublicKey(uint16_t usAppId, uint16_t usContainerId, CK_ULONG ulKeySelector,
                                        unsigned char* pbPublicKey, CK_ULONG* pulPublicKeyLen) {
    if (pulPublicKeyLen == nullptr || ulKeySelector > 0xFF)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(
        CommandFromTemplate("8088 %02x00 000004 %02x%02x %02x%02x 0000",
                            {ulKeySelector, Hi(usAppId), Lo(usAppId), Hi(usContainerId), Lo(usContainerId)}),
        answer);
    if (status != kSwSuccess)
        return status;
    return CopyAnswer(answer, pbPublicKey, pulPublicKeyLen);
}

} // namespace keycore
