// Application and file commands, for both file spaces (the second one, INS + 1, keeps the object
// store of the PKCS#11 layer).

#include "device/apdu_builder.h"
#include "device/apdu_template.h"
#include "device/command_fields.h"
#include "device/token5105.h"
#include "runtime/secure_wipe.h"

#include <algorithm>
#include <cstring>

namespace keycore {

namespace {

constexpr size_t kApplicationRecordSize = 80;
constexpr size_t kMaxApplicationPin = 16;
constexpr size_t kApplicationListMax = 512;
constexpr size_t kOpenApplicationAnswer = 10;
constexpr size_t kFileRecordSize = 44;
constexpr size_t kFileInfoSize = 12;
constexpr size_t kFileListMax = 8161;
constexpr CK_ULONG kFileChunk = 2000;
constexpr CK_ULONG kFileChunkEx = 3000;
// File offsets and counts travel as 16-bit values.
constexpr CK_ULONG kMaxFileOffset = 0xFFFF;

uint8_t FileIns(uint8_t base, uint8_t insOffset) {
    return static_cast<uint8_t>(base + insOffset);
}

} // namespace

TokenStatus CToken5105::CreateApplication(const char* pszName, const char* pszAdminPin, uint8_t bAdminRetries,
                                          const char* pszUserPin, uint8_t bUserRetries, uint8_t bCreateFileRights) {
    size_t nameLen = 0, adminLen = 0, userLen = 0;
    if (!NameLength(pszName, kMaxRecordName, &nameLen) || !NameLength(pszAdminPin, kMaxApplicationPin, &adminLen) ||
        !NameLength(pszUserPin, kMaxApplicationPin, &userLen))
        return CKR_ARGUMENTS_BAD;
    uint8_t record[kApplicationRecordSize] = {};
    std::memcpy(record, pszName, nameLen);
    std::memcpy(record + 32, pszAdminPin, adminLen);
    record[51] = bAdminRetries;
    std::memcpy(record + 52, pszUserPin, userLen);
    record[71] = bUserRetries;
    record[75] = bCreateFileRights;
    const uint8_t kTail[4] = {0x7F, 0xFE, 0x00, 0xFF};
    std::memcpy(record + 76, kTail, sizeof kTail);
    ApduBuilder command(CommandFromTemplate("8020 0000 0000%02x", {kApplicationRecordSize}));
    command.Bytes(record, sizeof record);
    SecureWipe(record, sizeof record);
    const TokenStatus status = SendCommand(command.Get());
    SecureWipe(command.Get());
    return status;
}

TokenStatus CToken5105::EnumApplication(char* pszNames, CK_ULONG* pulNamesLen) {
    if (pulNamesLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer({0x80, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00}, answer);
    if (status != kSwSuccess)
        return status;
    answer.resize(std::min(answer.size(), kApplicationListMax));
    if (pszNames == nullptr) {
        *pulNamesLen = answer.size();
        return status;
    }
    // Unlike the other lists, a short buffer keeps its length: callers retry with their own size.
    if (*pulNamesLen < answer.size())
        return CKR_BUFFER_TOO_SMALL;
    std::memcpy(pszNames, answer.data(), answer.size());
    *pulNamesLen = answer.size();
    return status;
}

TokenStatus CToken5105::DeleteApplication(const char* pszName) {
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxShortName, &nameLen))
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(CommandFromTemplate("8024 0000 0000%02x", {nameLen}));
    command.Bytes(pszName, nameLen);
    return SendCommand(command.Get());
}

TokenStatus CToken5105::OpenApplication(const char* pszName, uint16_t* pusAppId, uint32_t* pulWord, uint8_t* pbByte1,
                                        uint8_t* pbByte2, uint16_t* pusShort) {
    if (pszName == nullptr || pszName[0] == '\0')
        return 0x6700;
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxShortName, &nameLen))
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(CommandFromTemplate("8026 0000 0000%02x", {nameLen}));
    command.Bytes(pszName, nameLen).U16(kOpenApplicationAnswer);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    if (status != kSwSuccess)
        return status;
    if (answer.size() < kOpenApplicationAnswer)
        return kSwTransportFailure;
    if (pulWord != nullptr)
        *pulWord = static_cast<uint32_t>(answer[0]) << 24 | static_cast<uint32_t>(answer[1]) << 16 |
                   static_cast<uint32_t>(answer[2]) << 8 | answer[3];
    if (pbByte1 != nullptr)
        *pbByte1 = answer[4];
    if (pbByte2 != nullptr)
        *pbByte2 = answer[5];
    if (pusShort != nullptr)
        *pusShort = static_cast<uint16_t>(answer[6] << 8 | answer[7]);
    if (pusAppId != nullptr)
        *pusAppId = static_cast<uint16_t>(answer[8] << 8 | answer[9]);
    return status;
}

TokenStatus CToken5105::CloseApplication(uint16_t usAppId) {
    return SendCommand(CommandFromTemplate("8028 0000 000002 %02x%02x", {Hi(usAppId), Lo(usAppId)}));
}

TokenStatus CToken5105::CreateFileIn(uint8_t insOffset, uint16_t usAppId, const char* pszName, uint32_t ulFileSize,
                                     uint8_t bReadRights, uint8_t bWriteRights) {
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxRecordName, &nameLen))
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(CommandFromTemplate("80%02x %02x%02x 0000%02x",
                                            {FileIns(0x30, insOffset), Hi(usAppId), Lo(usAppId), kFileRecordSize}));
    uint8_t name[kMaxRecordName] = {};
    std::memcpy(name, pszName, nameLen);
    command.Bytes(name, sizeof name).U32(ulFileSize).U32(bReadRights).U32(bWriteRights);
    return SendCommand(command.Get());
}

TokenStatus CToken5105::DeleteFileIn(uint8_t insOffset, uint16_t usAppId, const char* pszName) {
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxShortName, &nameLen))
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(
        CommandFromTemplate("80%02x %02x%02x 0000%02x", {FileIns(0x32, insOffset), Hi(usAppId), Lo(usAppId), nameLen}));
    command.Bytes(pszName, nameLen);
    return SendCommand(command.Get());
}

TokenStatus CToken5105::EnumFilesIn(uint8_t insOffset, uint16_t usAppId, char* pszNames, CK_ULONG* pulNamesLen) {
    if (pulNamesLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(
        CommandFromTemplate("80%02x %02x%02x 000000", {FileIns(0x34, insOffset), Hi(usAppId), Lo(usAppId)}), answer);
    if (status != kSwSuccess)
        return status;
    answer.resize(std::min(answer.size(), kFileListMax));
    return CopyAnswer(answer, reinterpret_cast<unsigned char*>(pszNames), pulNamesLen);
}

TokenStatus CToken5105::GetFileInfoIn(uint8_t insOffset, uint16_t usAppId, const char* pszName, unsigned char* pbInfo,
                                      CK_ULONG* pulInfoLen) {
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxShortName, &nameLen) || pulInfoLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder command(
        CommandFromTemplate("80%02x %02x%02x 0000%02x", {FileIns(0x36, insOffset), Hi(usAppId), Lo(usAppId), nameLen}));
    command.Bytes(pszName, nameLen).U16(kFileInfoSize);
    std::vector<uint8_t> answer;
    const TokenStatus status = SendForAnswer(command.Get(), answer);
    if (status != kSwSuccess)
        return status;
    answer.resize(std::min(answer.size(), kFileInfoSize));
    return CopyAnswer(answer, pbInfo, pulInfoLen);
}

TokenStatus CToken5105::ReadFileIn(uint8_t insOffset, CK_ULONG ulChunk, uint16_t usAppId, const char* pszName,
                                   CK_ULONG ulOffset, CK_ULONG ulCount, unsigned char* pbData, CK_ULONG* pulReadLen) {
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxShortName, &nameLen) || pulReadLen == nullptr || (pbData == nullptr && ulCount != 0))
        return CKR_ARGUMENTS_BAD;
    if (ulOffset > kMaxFileOffset || ulCount > kMaxFileOffset + 1 - ulOffset)
        return CKR_ARGUMENTS_BAD;
    ApduBuilder builder(
        CommandFromTemplate("80%02x 0000 0000%02x %02x%02x %02x%02x %02x%02x %02x%02x",
                            {FileIns(0x38, insOffset), nameLen + 8, Hi(usAppId), Lo(usAppId), Hi(ulOffset),
                             Lo(ulOffset), Hi(ulCount), Lo(ulCount), Hi(nameLen), Lo(nameLen)}));
    builder.Bytes(pszName, nameLen).U16(0);
    std::vector<uint8_t>& command = builder.Get();
    *pulReadLen = 0;
    TokenStatus status = kSwSuccess;
    CK_ULONG offset = ulOffset;
    CK_ULONG done = 0;
    while (done < ulCount) {
        const CK_ULONG chunk = std::min(ulChunk, ulCount - done);
        command[9] = static_cast<uint8_t>(Hi(offset));
        command[10] = static_cast<uint8_t>(Lo(offset));
        command[11] = static_cast<uint8_t>(Hi(chunk));
        command[12] = static_cast<uint8_t>(Lo(chunk));
        CK_ULONG got = chunk;
        status = SendCommand(command, pbData + done, &got);
        if (status != kSwSuccess)
            return status;
        if (got == 0)
            break; // the file ends here; a further request would get nothing either
        *pulReadLen += got;
        done += got;
        offset += got;
    }
    return status;
}

TokenStatus CToken5105::WriteFileIn(uint8_t insOffset, CK_ULONG ulChunk, uint16_t usAppId, const char* pszName,
                                    CK_ULONG ulOffset, const unsigned char* pbData, CK_ULONG ulDataLen) {
    size_t nameLen = 0;
    if (!NameLength(pszName, kMaxShortName, &nameLen) || (pbData == nullptr && ulDataLen != 0))
        return CKR_ARGUMENTS_BAD;
    if (ulOffset > kMaxFileOffset || ulDataLen > kMaxFileOffset + 1 - ulOffset)
        return CKR_ARGUMENTS_BAD;
    TokenStatus status = kSwSuccess;
    CK_ULONG done = 0;
    while (done < ulDataLen) {
        const CK_ULONG chunk = std::min(ulChunk, ulDataLen - done);
        const CK_ULONG offset = ulOffset + done;
        ApduBuilder command({0x80, FileIns(0x3A, insOffset), 0x00, 0x00, 0x00});
        command.U16(static_cast<uint32_t>(nameLen + chunk + 8))
            .U16(usAppId)
            .U16(static_cast<uint32_t>(offset))
            .U16(static_cast<uint32_t>(nameLen))
            .Bytes(pszName, nameLen)
            .U16(static_cast<uint32_t>(chunk))
            .Bytes(pbData + done, chunk);
        status = SendCommand(command.Get());
        if (status != kSwSuccess)
            return status;
        done += chunk;
    }
    return status;
}

TokenStatus CToken5105::CreateFile(uint16_t usAppId, const char* pszName, uint32_t ulFileSize, uint8_t bReadRights,
                                   uint8_t bWriteRights) {
    return CreateFileIn(0, usAppId, pszName, ulFileSize, bReadRights, bWriteRights);
}
TokenStatus CToken5105::DeleteFile(uint16_t usAppId, const char* pszName) {
    return DeleteFileIn(0, usAppId, pszName);
}
TokenStatus CToken5105::EnumFiles(uint16_t usAppId, char* pszNames, CK_ULONG* pulNamesLen) {
    return EnumFilesIn(0, usAppId, pszNames, pulNamesLen);
}
TokenStatus CToken5105::GetFileInfo(uint16_t usAppId, const char* pszName, unsigned char* pbInfo,
                                    CK_ULONG* pulInfoLen) {
    return GetFileInfoIn(0, usAppId, pszName, pbInfo, pulInfoLen);
}
TokenStatus CToken5105::ReadFile(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset, CK_ULONG ulCount,
                                 unsigned char* pbData, CK_ULONG* pulReadLen) {
    return ReadFileIn(0, kFileChunk, usAppId, pszName, ulOffset, ulCount, pbData, pulReadLen);
}
TokenStatus CToken5105::WriteFile(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset, const unsigned char* pbData,
                                  CK_ULONG ulDataLen) {
    return WriteFileIn(0, kFileChunk, usAppId, pszName, ulOffset, pbData, ulDataLen);
}
TokenStatus CToken5105::CreateFileEx(uint16_t usAppId, const char* pszName, uint32_t ulFileSize, uint8_t bReadRights,
                                     uint8_t bWriteRights) {
    return CreateFileIn(1, usAppId, pszName, ulFileSize, bReadRights, bWriteRights);
}
TokenStatus CToken5105::DeleteFileEx(uint16_t usAppId, const char* pszName) {
    return DeleteFileIn(1, usAppId, pszName);
}
TokenStatus CToken5105::EnumFilesEx(uint16_t usAppId, char* pszNames, CK_ULONG* pulNamesLen) {
    return EnumFilesIn(1, usAppId, pszNames, pulNamesLen);
}
TokenStatus CToken5105::GetFileInfoEx(uint16_t usAppId, const char* pszName, unsigned char* pbInfo,
                                      CK_ULONG* pulInfoLen) {
    return GetFileInfoIn(1, usAppId, pszName, pbInfo, pulInfoLen);
}
TokenStatus CToken5105::ReadFileEx(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset, CK_ULONG ulCount,
                                   unsigned char* pbData, CK_ULONG* pulReadLen) {
    return ReadFileIn(1, kFileChunkEx, usAppId, pszName, ulOffset, ulCount, pbData, pulReadLen);
}
TokenStatus CToken5105::WriteFileEx(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset,
                                    const unsigned char* pbData, CK_ULONG ulDataLen) {
    return WriteFileIn(1, kFileChunkEx, usAppId, pszName, ulOffset, pbData, ulDataLen);
}

} // namespace keycore
