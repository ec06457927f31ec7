// Container and certificate commands.

#include "device/apdu_builder.h"
#include "device/apdu_template.h"
#include "device/command_fields.h"
#include "device/token5105.h"

#include <algorithm>
#include <cstring>

namespace keycore {

namespace {

constexpr size_t kMaxContainerName = 253;
constexpr size_t kContainerListMax = 4446;
constexpr size_t kContainerInfoSize = 11;
constexpr size_t kContainerTypeAnswerMax = 64;
constexpr size_t kCertificateAnswerMax = 4096;
constexpr size_t kCertificateLengthPrefix = 4;

// 80 INS 00 00 00 (name length + 2) app, then the name.
std::vector<uint8_t> NamedContainerCommand(uint8_t ins, uint16_t usAppId, const char* pszName, size_t nameLen) {
    ApduBuilder command(
        CommandFromTemplate("80%02x 0000 0000%02x %02x%02x", {ins, nameLen + 2, Hi(usAppId), Lo(usAppId)}));
    command.Bytes(pszName, nameLen);
    return std::move(command.Get());
}

} // namespace

TokenStatus CToken5105::CreateContainer(uint16_t usAppId, const char* pszName, uint16_t* pusContainerId) {
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxContainerName, &nameLen) || pusContainerId == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(NamedContainerCommand(0x40, usAppId, pszName, nameLen));
    command.U16(2);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    if (status != kSwSuccess)
        return status;
    if (answer.size() < 2)
        return kSwTransportFailure;
    *pusContainerId = static_cast<uint16_t>(answer[0] << 8 | answer[1]);
    return status;
}

TokenStatus CToken5105::OpenContainer(uint16_t usAppId, const char* pszName, uint16_t* pusContainerId) {
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxContainerName, &nameLen) || pusContainerId == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(NamedContainerCommand(0x42, usAppId, pszName, nameLen));
    command.U16(2);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    if (status != kSwSuccess)
        return status;
    if (answer.size() < 2)
        return kSwTransportFailure;
    *pusContainerId = static_cast<uint16_t>(answer[0] << 8 | answer[1]);
    return status;
}

TokenStatus CToken5105::CloseContainer(uint16_t usAppId, uint16_t usContainerId) {
    return SendCommand(CommandFromTemplate("8044 0000 000004 %02x%02x %02x%02x",
                                           {Hi(usAppId), Lo(usAppId), Hi(usContainerId), Lo(usContainerId)}));
}

TokenStatus CToken5105::EnumContainer(uint16_t usAppId, char* pszNames, CK_ULONG* pulNamesLen) {
    if (pulNamesLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> answer;
    const TokenStatus status =
        SendForAnswer(CommandFromTemplate("8046 0000 000002 %02x%02x", {Hi(usAppId), Lo(usAppId)}), answer);
    if (status != kSwSuccess)
        return status;
    answer.resize(std::min(answer.size(), kContainerListMax));
    return CopyAnswer(answer, reinterpret_cast<unsigned char*>(pszNames), pulNamesLen);
}

TokenStatus CToken5105::DeleteContainer(uint16_t usAppId, const char* pszName) {
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxContainerName, &nameLen))
        return CKR_ARGUMENTS_BAD;
    return SendCommand(NamedContainerCommand(0x48, usAppId, pszName, nameLen));
}

TokenStatus CToken5105::GetContainerType(uint16_t usAppId, const char* pszName, uint32_t* pulType) {
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxContainerName, &nameLen) || pulType == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(NamedContainerCommand(0x4A, usAppId, pszName, nameLen));
    command.U16(kContainerInfoSize);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    if (status != kSwSuccess)
        return status;
    if (answer.size() < 4 || answer.size() > kContainerTypeAnswerMax)
        return kSwTransportFailure;
    // The token writes the type in its own (little-endian) order.
    *pulType = static_cast<uint32_t>(answer[0]) | static_cast<uint32_t>(answer[1]) << 8 |
               static_cast<uint32_t>(answer[2]) << 16 | static_cast<uint32_t>(answer[3]) << 24;
    return status;
}

TokenStatus CToken5105::GetContainerInfo(uint16_t usAppId, const char* pszName, unsigned char* pbInfo,
                                         CK_ULONG* pulInfoLen) {
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxContainerName, &nameLen) || pulInfoLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(NamedContainerCommand(0x4A, usAppId, pszName, nameLen));
    command.U16(kContainerInfoSize);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    if (status != kSwSuccess)
        return status;
    answer.resize(std::min(answer.size(), kContainerInfoSize));
    return CopyAnswer(answer, pbInfo, pulInfoLen);
}

TokenStatus CToken5105::DeleteContainerByName(uint16_t usAppId, const char* pszName) {
    return DeleteContainer(usAppId, pszName) == kSwSuccess ? CKR_OK : CKR_FUNCTION_FAILED;
}

TokenStatus CToken5105::DeleteContainerByName(uint16_t usAppId, const std::string& name) {
    return DeleteContainerByName(usAppId, name.c_str());
}

TokenStatus CToken5105::ImportCertificate(uint16_t usAppId, uint16_t usContainerId, bool bSigning,
                                          const unsigned char* pbCert, CK_ULONG ulCertLen) {
    if (pbCert == nullptr || ulCertLen == 0 || ulCertLen + 9 > kMaxDataField)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(
        CommandFromTemplate("804C 0000 00%02x%02x %02x%02x %02x%02x %02x 0000%02x%02x",
                            {Hi(ulCertLen + 9), Lo(ulCertLen + 9), Hi(usAppId), Lo(usAppId), Hi(usContainerId),
                             Lo(usContainerId), bSigning ? 1ul : 0ul, Hi(ulCertLen), Lo(ulCertLen)}));
    command.Bytes(pbCert, ulCertLen);
    return SendCommand(command.Get());
}

TokenStatus CToken5105::ExportCertificate(uint16_t usAppId, uint16_t usContainerId, bool bSigning,
                                          unsigned char* pbCert, CK_ULONG* pulCertLen) {
    if (pulCertLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(CommandFromTemplate("804E %02x00 000004", {bSigning ? 1ul : 0ul}));
    command.U16(usAppId).U16(usContainerId).U16(0);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    if (status != kSwSuccess)
        return status;
    if (answer.size() < kCertificateLengthPrefix || answer.size() > kCertificateAnswerMax)
        return kSwTransportFailure;
    answer.erase(answer.begin(), answer.begin() + kCertificateLengthPrefix);
    return CopyAnswer(answer, pbCert, pulCertLen);
}

} // namespace keycore
