// RSA commands on container keys and on keys the caller supplies, and the privileged commands that
// follow the access code.

#include "device/apdu_builder.h"
#include "device/apdu_template.h"
#include "device/command_fields.h"
#include "device/token5105.h"
#include "runtime/secure_wipe.h"

namespace keycore {

namespace {

constexpr size_t kExponentSize = 4;
constexpr size_t kContainerKeyAnswerMax = 1024;
constexpr uint32_t kMaxModulusBits = 4096;

bool BadModulusBits(uint32_t bits) {
    return bits == 0 || bits % 16 != 0 || bits > kMaxModulusBits;
}

} // namespace

TokenStatus CToken5105::GenRsaKeyPair(uint16_t usAppId, uint16_t usContainerId, uint16_t usModulusBits,
                                      unsigned char* pbPublicKey, CK_ULONG* pulPublicKeyLen) {
    if (pbPublicKey == nullptr || pulPublicKeyLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(CommandFromTemplate("8054 0000 000006"));
    command.U16(usAppId).U16(usContainerId).U16(usModulusBits).U16(0);
    // The status word itself: the SKF generation recovers from 0x698A and 0x6A94 and reports the others.
    return SendCommand(command.Get(), pbPublicKey, pulPublicKeyLen);
}

TokenStatus CToken5105::ImportRsaKeyPair(uint16_t usAppId, uint16_t usContainerId, uint32_t ulSymmAlgId,
                                         const unsigned char* pbWrappedKey, CK_ULONG ulWrappedKeyLen,
                                         uint32_t ulModulusBits, const unsigned char* pbEncryptedKeyPair,
                                         CK_ULONG ulEncryptedKeyPairLen) {
    if (pbWrappedKey == nullptr || pbEncryptedKeyPair == nullptr || ulWrappedKeyLen > kMaxDataField ||
        ulEncryptedKeyPairLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x56, 0x00, 0x00);
    command.U16(usAppId)
        .U16(usContainerId)
        .U32(ulSymmAlgId)
        .U32(static_cast<uint32_t>(ulWrappedKeyLen))
        .Bytes(pbWrappedKey, ulWrappedKeyLen)
        .U32(ulModulusBits)
        .U32(static_cast<uint32_t>(ulEncryptedKeyPairLen))
        .Bytes(pbEncryptedKeyPair, ulEncryptedKeyPairLen);
    if (!command.EndData())
        return CKR_ARGUMENTS_BAD;
    return SendCommand(command.Get());
}

TokenStatus CToken5105::RsaSignData(uint16_t usAppId, uint16_t usContainerId, uint8_t bKeyUsage,
                                    const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbSignature,
                                    CK_ULONG* pulSignatureLen) {
    if ((pbData == nullptr && ulDataLen != 0) || pulSignatureLen == nullptr || ulDataLen > kMaxDataField - 4)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x58, 0x02, bKeyUsage);
    command.U16(usAppId).U16(usContainerId).Bytes(pbData, ulDataLen);
    command.EndData();
    command.U16(0);
    const TokenStatus status = SendCommand(command.Get(), pbSignature, pulSignatureLen);
    SecureWipe(command.Get());
    return status;
}

TokenStatus CToken5105::RsaVerify(bool bFlag, uint8_t bKeyUsage, uint32_t ulModulusBits, const unsigned char* pbModulus,
                                  const unsigned char* pbExponent, const unsigned char* pbData, CK_ULONG ulDataLen,
                                  const unsigned char* pbSignature, CK_ULONG ulSignatureLen) {
    if (BadModulusBits(ulModulusBits) || pbModulus == nullptr || pbExponent == nullptr ||
        (pbData == nullptr && ulDataLen != 0) || pbSignature == nullptr || ulDataLen > kMaxDataField ||
        ulSignatureLen > 0xFFFF)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x5E, bFlag ? 2 : 1, bKeyUsage);
    command.U32(ulModulusBits)
        .Bytes(pbModulus, ulModulusBits / 8)
        .Bytes(pbExponent, kExponentSize)
        .U32(static_cast<uint32_t>(ulDataLen))
        .Bytes(pbData, ulDataLen)
        .U16(static_cast<uint32_t>(ulSignatureLen))
        .Bytes(pbSignature, ulSignatureLen);
    if (!command.EndData())
        return CKR_ARGUMENTS_BAD;
    return SendCommand(command.Get()) == kSwSuccess ? CKR_OK : CKR_FUNCTION_FAILED;
}

TokenStatus CToken5105::RsaExportSessionKey(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId,
                                            uint32_t ulModulusBits, const unsigned char* pbModulus,
                                            const unsigned char* pbExponent, unsigned char* pbOutput,
                                            CK_ULONG* pulOutputLen) {
    if (BadModulusBits(ulModulusBits) || pbModulus == nullptr || pbExponent == nullptr || pulOutputLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x5A, 0x00, 0x00);
    command.U16(usAppId)
        .U16(usContainerId)
        .U32(ulAlgId)
        .U32(ulModulusBits)
        .Bytes(pbModulus, ulModulusBits / 8)
        .Bytes(pbExponent, kExponentSize);
    command.EndData();
    command.U16(0);
    return SendCommand(command.Get(), pbOutput, pulOutputLen);
}

TokenStatus CToken5105::ExtRsaPubKeyOperation(uint32_t ulModulusBits, const unsigned char* pbModulus,
                                              const unsigned char* pbExponent, const unsigned char* pbInput,
                                              CK_ULONG ulInputLen, unsigned char* pbOutput, CK_ULONG* pulOutputLen) {
    if (BadModulusBits(ulModulusBits) || pbModulus == nullptr || pbExponent == nullptr ||
        (pbInput == nullptr && ulInputLen != 0) || pulOutputLen == nullptr || ulInputLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x60, 0x00, 0x00);
    command.U32(ulModulusBits)
        .Bytes(pbModulus, ulModulusBits / 8)
        .Bytes(pbExponent, kExponentSize)
        .U32(static_cast<uint32_t>(ulInputLen))
        .Bytes(pbInput, ulInputLen);
    if (!command.EndData())
        return CKR_ARGUMENTS_BAD;
    command.U16(ulModulusBits / 8);
    return SendCommand(command.Get(), pbOutput, pulOutputLen);
}

TokenStatus CToken5105::ContainerKeyCommandWith(uint8_t bIns, uint8_t bKeySelector, bool bFinal, uint16_t usAppId,
                                                uint16_t usContainerId, uint8_t bFlag, const unsigned char* pbData,
                                                CK_ULONG ulDataLen, unsigned char* pbOutput, CK_ULONG* pulOutputLen) {
    if ((bKeySelector != 1 && bKeySelector != 2) || (bFinal && pbOutput != nullptr) ||
        (!bFinal && (pbOutput == nullptr || pulOutputLen == nullptr)) || (pbData == nullptr && ulDataLen != 0) ||
        ulDataLen > kMaxDataField - 5)
        return CKR_ARGUMENTS_BAD;
    const TokenStatus access = SendAccessCode();
    if (access != kSwSuccess)
        return access;
    ApduBuilder command = ApduBuilder::Command(0x80, bIns, bKeySelector, bFinal ? 1 : 0);
    command.U16(usAppId).U16(usContainerId).U8(bFlag).Bytes(pbData, ulDataLen);
    command.EndData();
    command.U16(0);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    SecureWipe(command.Get());
    if (status != kSwSuccess || bFinal) {
        SecureWipe(answer);
        return status;
    }
    if (answer.size() > kContainerKeyAnswerMax)
        answer.resize(kContainerKeyAnswerMax);
    const TokenStatus copied = CopyAnswer(answer, pbOutput, pulOutputLen);
    SecureWipe(answer);
    return copied;
}

TokenStatus CToken5105::ContainerKeyCommand(uint8_t bKeySelector, bool bFinal, uint16_t usAppId, uint16_t usContainerId,
                                            uint8_t bFlag, const unsigned char* pbData, CK_ULONG ulDataLen,
                                            unsigned char* pbOutput, CK_ULONG* pulOutputLen) {
    return ContainerKeyCommandWith(0x05, bKeySelector, bFinal, usAppId, usContainerId, bFlag, pbData, ulDataLen,
                                   pbOutput, pulOutputLen);
}

TokenStatus CToken5105::ContainerKeyCommandEx(uint8_t bKeySelector, bool bFinal, uint16_t usAppId,
                                              uint16_t usContainerId, uint8_t bFlag, const unsigned char* pbData,
                                              CK_ULONG ulDataLen, unsigned char* pbOutput, CK_ULONG* pulOutputLen) {
    // The same command; the two-byte length field already carries the longer data.
    return ContainerKeyCommandWith(0x05, bKeySelector, bFinal, usAppId, usContainerId, bFlag, pbData, ulDataLen,
                                   pbOutput, pulOutputLen);
}

TokenStatus CToken5105::ImportWrappedKeyPair(uint8_t bKeyType, uint8_t bUsage, uint16_t usAppId, uint16_t usContainerId,
                                             uint32_t ulWrapAlgId, uint16_t usKeyIndex, uint32_t ulKeyBits,
                                             const unsigned char* pbBlob, CK_ULONG ulBlobLen) {
    if (pbBlob == nullptr || ulBlobLen == 0 || ulBlobLen > kMaxDataField - 16)
        return CKR_ARGUMENTS_BAD;
    const TokenStatus access = SendAccessCode();
    if (access != kSwSuccess)
        return access;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x57, bKeyType, bUsage);
    command.U16(usAppId)
        .U16(usContainerId)
        .U32(ulWrapAlgId)
        .U16(usKeyIndex)
        .U32(ulKeyBits)
        .U32(static_cast<uint32_t>(ulBlobLen))
        .Bytes(pbBlob, ulBlobLen);
    command.EndData();
    return SendCommand(command.Get());
}

TokenStatus CToken5105::GenRsaKeyPairEx(bool bSigning, uint16_t usAppId, uint16_t usContainerId, uint16_t usModulusBits,
                                        unsigned char* pbPublicKey, CK_ULONG* pulPublicKeyLen) {
    if (pbPublicKey == nullptr || pulPublicKeyLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    const TokenStatus access = SendAccessCode();
    if (access != kSwSuccess)
        return access;
    ApduBuilder command(CommandFromTemplate("8055 00%02x 000006", {bSigning ? 1ul : 0ul}));
    command.U16(usAppId).U16(usContainerId).U16(usModulusBits).U16(0);
    const TokenStatus status = SendCommand(command.Get(), pbPublicKey, pulPublicKeyLen);
    if (status == CKR_BUFFER_TOO_SMALL)
        return status;
    return status == kSwSuccess ? CKR_OK : CKR_FUNCTION_FAILED;
}

TokenStatus CToken5105::GenExtRsaKey(uint16_t usModulusBits, unsigned char* pbKeyPair, CK_ULONG* pulKeyPairLen) {
    if (pulKeyPairLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> answer;
    const TokenStatus status =
        SendForAnswer(CommandFromTemplate("8052 0000 000002 %04x 0000", {usModulusBits}), answer);
    if (status != kSwSuccess) {
        SecureWipe(answer);
        return status;
    }
    const TokenStatus copied = CopyAnswer(answer, pbKeyPair, pulKeyPairLen);
    SecureWipe(answer);
    return copied;
}

TokenStatus CToken5105::ExtRsaPriKeyOperation(uint32_t ulModulusBits, const unsigned char* pbModulus,
                                              const unsigned char* pbExponent, const unsigned char* pbPrivateExponent,
                                              const unsigned char* pbPrime1, const unsigned char* pbPrime2,
                                              const unsigned char* pbExponent1, const unsigned char* pbExponent2,
                                              const unsigned char* pbCoefficient, const unsigned char* pbInput,
                                              CK_ULONG ulInputLen, unsigned char* pbOutput, CK_ULONG* pulOutputLen) {
    if (BadModulusBits(ulModulusBits) || !pbModulus || !pbExponent || !pbPrivateExponent || !pbPrime1 || !pbPrime2 ||
        !pbExponent1 || !pbExponent2 || !pbCoefficient || (pbInput == nullptr && ulInputLen != 0) ||
        pulOutputLen == nullptr || ulInputLen > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    const size_t full = ulModulusBits / 8;
    const size_t half = ulModulusBits / 16;
    ApduBuilder command = ApduBuilder::Command(0x80, 0x62, 0x00, 0x00);
    command.U32(ulModulusBits)
        .Bytes(pbModulus, full)
        .Bytes(pbExponent, kExponentSize)
        .Bytes(pbPrivateExponent, full)
        .Bytes(pbPrime1, half)
        .Bytes(pbPrime2, half)
        .Bytes(pbExponent1, half)
        .Bytes(pbExponent2, half)
        .Bytes(pbCoefficient, half)
        .U32(static_cast<uint32_t>(ulInputLen))
        .Bytes(pbInput, ulInputLen);
    if (!command.EndData()) {
        SecureWipe(command.Get());
        return CKR_ARGUMENTS_BAD;
    }
    command.U16(0);
    const TokenStatus status = SendCommand(command.Get(), pbOutput, pulOutputLen);
    SecureWipe(command.Get());
    return status;
}

} // namespace keycore
