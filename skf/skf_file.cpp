// Files inside an application: create, delete, list, describe, read and write.

#include "skf/skf_storage.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace keycore {

namespace {

// File names are at most 31 characters: FILEATTRIBUTE keeps 32 bytes for the name and its NUL.
constexpr size_t kFileNameField = 32;
constexpr CK_ULONG kFileListMax = 8161;
constexpr CK_ULONG kFileInfoSize = 12;
// The token moves file data in pieces of this size at most.
constexpr ULONG kFilePiece = 2000;
// File offsets and lengths are 16-bit on the token.
constexpr ULONG kFileAddressSpace = 0x10000;
constexpr ULONG kMaxRights = 0xFF;

uint32_t BigEndian32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

// The current application is the token's, shared by every process: another one closing or switching
// it makes a file command answer 0x698A. The application is then selected again and the command
// repeated once.
TokenStatus FileCommand(SkfSlotUse& call, ULONG* pLoopResult, const std::function<TokenStatus()>& command) {
    return RunWithReselect(call, {kSwApplicationNotSelected}, false, command, pLoopResult);
}

ULONG TranslateInfoStep(TokenStatus status) {
    return TranslateWith(status,
                         {{0x6982, SAR_USER_NOT_LOGGED_IN}, {0x6A88, SAR_OBJERR}, {0x6A93, SAR_FILE_NOT_EXIST}});
}

// The file's size and rights from the token, or a SAR code.
ULONG QueryFileInfo(SkfSlotUse& call, const char* szFileName, uint32_t values[3]) {
    unsigned char info[kFileInfoSize] = {};
    CK_ULONG infoLen = sizeof info;
    ULONG loop = SAR_OK;
    const TokenStatus status = FileCommand(call, &loop, [&] {
        infoLen = sizeof info;
        return call.token.GetFileInfo(AppIdOf(call), szFileName, info, &infoLen);
    });
    if (loop != SAR_OK)
        return loop;
    if (status != kSwSuccess)
        return TranslateInfoStep(status);
    if (infoLen < kFileInfoSize)
        return SAR_FAIL;
    for (int i = 0; i < 3; ++i)
        values[i] = BigEndian32(info + 4 * i);
    return SAR_OK;
}

} // namespace

ULONG SkfCreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                    ULONG ulWriteRights) {
    if (hApplication == nullptr || szFileName == nullptr || ulFileSize == 0)
        return SAR_INVALIDPARAMERR;
    if (std::strlen(szFileName) >= kFileNameField)
        return SAR_NAMELENERR;
    if (ulReadRights > kMaxRights || ulWriteRights > kMaxRights)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        ULONG loop = SAR_OK;
        const TokenStatus status = FileCommand(call, &loop, [&] {
            return call.token.CreateFile(AppIdOf(call), szFileName, ulFileSize, static_cast<uint8_t>(ulReadRights),
                                         static_cast<uint8_t>(ulWriteRights));
        });
        if (loop != SAR_OK)
            return loop;
        if (status == kSwSuccess)
            return SAR_OK;
        return TranslateWith(status, {{0x6982, SAR_USER_NOT_LOGGED_IN},
                                      {0x6A84, SAR_NO_ROOM},
                                      {0x6A88, SAR_OBJERR},
                                      {0x6A92, SAR_FILE_ALREADY_EXIST}});
    });
}

ULONG SkfDeleteFile(HAPPLICATION hApplication, LPSTR szFileName) {
    if (hApplication == nullptr || szFileName == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        ULONG loop = SAR_OK;
        const TokenStatus status =
            FileCommand(call, &loop, [&] { return call.token.DeleteFile(AppIdOf(call), szFileName); });
        if (loop != SAR_OK)
            return loop;
        if (status == kSwSuccess)
            return SAR_OK;
        return TranslateWith(status, {{0x6982, SAR_USER_NOT_LOGGED_IN},
                                      {0x6A84, SAR_NO_ROOM},
                                      {0x6A88, SAR_OBJERR},
                                      {0x6A93, SAR_FILE_NOT_EXIST}});
    });
}

ULONG SkfEnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize) {
    if (hApplication == nullptr || pulSize == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        std::vector<char> list(kFileListMax);
        CK_ULONG listLen = list.size();
        ULONG loop = SAR_OK;
        const TokenStatus status = FileCommand(call, &loop, [&] {
            listLen = list.size();
            return call.token.EnumFiles(AppIdOf(call), list.data(), &listLen);
        });
        if (loop != SAR_OK)
            return loop;
        if (status != kSwSuccess) {
            return TranslateWith(status, {{0x6700, SAR_INDATALENERR},
                                          {0x6982, SAR_USER_NOT_LOGGED_IN},
                                          {0x6A84, SAR_NO_ROOM},
                                          {0x6A89, SAR_FILE_ALREADY_EXIST},
                                          {kLibraryBufferTooSmall, SAR_BUFFER_TOO_SMALL}});
        }
        if (szFileList == nullptr) {
            *pulSize = static_cast<ULONG>(listLen);
            return SAR_OK;
        }
        if (*pulSize < listLen)
            return SAR_BUFFER_TOO_SMALL;
        std::memcpy(szFileList, list.data(), listLen);
        *pulSize = static_cast<ULONG>(listLen);
        return SAR_OK;
    });
}

ULONG SkfGetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo) {
    if (hApplication == nullptr || szFileName == nullptr || pFileInfo == nullptr)
        return SAR_INVALIDPARAMERR;
    // Such a file cannot exist (creation refuses the name) and the name would not fit FileName.
    if (std::strlen(szFileName) >= kFileNameField)
        return SAR_NAMELENERR;
    return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        uint32_t values[3] = {};
        const ULONG rv = QueryFileInfo(call, szFileName, values);
        if (rv != SAR_OK)
            return rv;
        std::memset(pFileInfo->FileName, 0, sizeof pFileInfo->FileName);
        std::memcpy(pFileInfo->FileName, szFileName, std::strlen(szFileName) + 1);
        pFileInfo->FileSize = values[0];
        pFileInfo->ReadRights = values[1];
        pFileInfo->WriteRights = values[2];
        return SAR_OK;
    });
}

ULONG SkfReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                  ULONG* pulOutLen) {
    if (hApplication == nullptr || szFileName == nullptr || pbOutData == nullptr || pulOutLen == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        uint32_t values[3] = {};
        const ULONG rv = QueryFileInfo(call, szFileName, values);
        if (rv != SAR_OK)
            return rv;
        const ULONG fileSize = values[0];
        // Reading at or past the end gives no bytes (never a length that wrapped around).
        ULONG length = 0;
        if (ulOffset < fileSize)
            length = std::min<ULONG>(ulSize, fileSize - ulOffset);
        *pulOutLen = 0;
        while (*pulOutLen < length) {
            const ULONG piece = std::min(kFilePiece, length - *pulOutLen);
            CK_ULONG got = 0;
            ULONG loop = SAR_OK;
            const TokenStatus status = FileCommand(call, &loop, [&] {
                got = 0;
                return call.token.ReadFile(AppIdOf(call), szFileName, ulOffset + *pulOutLen, piece,
                                           pbOutData + *pulOutLen, &got);
            });
            if (loop != SAR_OK)
                return loop;
            if (status != kSwSuccess) {
                return TranslateWith(status, {{0x6982, SAR_USER_NOT_LOGGED_IN},
                                              {0x6A93, SAR_FILE_NOT_EXIST},
                                              {0x6B00, SAR_READFILEERR},
                                              {0x6E01, SAR_READFILEERR}});
            }
            *pulOutLen += static_cast<ULONG>(std::min<CK_ULONG>(got, piece));
            if (got == 0)
                break; // the token has no more data for this file
        }
        return SAR_OK;
    });
}

ULONG SkfWriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData, ULONG ulSize) {
    if (hApplication == nullptr || szFileName == nullptr || pbData == nullptr || ulSize == 0)
        return SAR_INVALIDPARAMERR;
    // Beyond the token's 16-bit file addressing nothing can be written.
    if (ulOffset >= kFileAddressSpace || ulSize > kFileAddressSpace - ulOffset)
        return SAR_INDATALENERR;
    return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        for (ULONG done = 0; done < ulSize;) {
            const ULONG piece = std::min(kFilePiece, ulSize - done);
            ULONG loop = SAR_OK;
            const TokenStatus status = FileCommand(call, &loop, [&] {
                return call.token.WriteFile(AppIdOf(call), szFileName, ulOffset + done, pbData + done, piece);
            });
            if (loop != SAR_OK)
                return loop;
            if (status != kSwSuccess) {
                return TranslateWith(status, {{0x6982, SAR_USER_NOT_LOGGED_IN},
                                              {0x6A93, SAR_FILE_NOT_EXIST},
                                              {0x6B00, SAR_WRITEFILEERR},
                                              {0x6E01, SAR_WRITEFILEERR}});
            }
            done += piece;
        }
        return SAR_OK;
    });
}

} // namespace keycore
