#pragma once
// The application, file, container and certificate functions, and the pieces they share: the close
// bracket that frees a handle whose device is gone, the re-select loop that reports the raw status,
// and per-function status tables where every unlisted status is a plain failure.

#include "skf/skf_frame.h"

#include <cstdint>
#include <functional>
#include <initializer_list>

namespace keycore {

// One row of a function's own status table.
struct SkfStatusRow {
    TokenStatus status;
    ULONG result;
};

// The result the table gives the status; statuses not in it give SAR_FAIL.
ULONG TranslateWith(TokenStatus status, std::initializer_list<SkfStatusRow> table);

inline uint16_t AppIdOf(const SkfSlotUse& use) {
    return static_cast<uint16_t>(use.handle.m_appId);
}
inline uint16_t ConIdOf(const SkfSlotUse& use) {
    return static_cast<uint16_t>(use.handle.m_conId);
}

// The bracket of the close functions: a handle whose device is gone or has no token object is simply
// removed (SAR_OK); otherwise close runs under the slot lock and the handle is removed only when it
// returns SAR_OK. A slot that cannot be locked gives SAR_MEMORYERR and keeps the handle.
ULONG RunCloseCall(const void* value, const std::function<ULONG(SkfSlotUse&)>& close);

// Runs op in the re-select loop (at most two attempts). A status in reselectOn selects the application
// again by name; with reopenContainer, 0x6A94 and every re-selection also open the container again by
// name (the handle then carries the identifier the token returned). Returns the last status to
// translate; when the loop itself decides the result (re-selection failed, or both attempts needed a
// recovery) *pResult receives it and the status is to be ignored.
TokenStatus RunWithReselect(SkfSlotUse& use, std::initializer_list<TokenStatus> reselectOn, bool reopenContainer,
                            const std::function<TokenStatus()>& op, ULONG* pResult);

// Opening with the slot already in use (the create functions open what they created in the same use).
ULONG OpenApplicationLocked(SkfSlotUse& device, const char* szAppName, HAPPLICATION* phApplication);
ULONG OpenContainerLocked(SkfSlotUse& app, const char* szContainerName, HCONTAINER* phContainer);

constexpr TokenStatus kSwApplicationNotSelected = 0x698A;
constexpr TokenStatus kSwContainerNotOpen = 0x6A94;
constexpr TokenStatus kLibraryBufferTooSmall = 0x0150;

// The functions behind the exported names.
ULONG SkfCreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount,
                           LPSTR szUserPin, DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,
                           HAPPLICATION* phApplication);
ULONG SkfEnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize);
ULONG SkfDeleteApplication(DEVHANDLE hDev, LPSTR szAppName);
ULONG SkfOpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication);
ULONG SkfCloseApplication(HAPPLICATION hApplication);

ULONG SkfCreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                    ULONG ulWriteRights);
ULONG SkfDeleteFile(HAPPLICATION hApplication, LPSTR szFileName);
ULONG SkfEnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize);
ULONG SkfGetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo);
ULONG SkfReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                  ULONG* pulOutLen);
ULONG SkfWriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData, ULONG ulSize);

ULONG SkfCreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
ULONG SkfDeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName);
ULONG SkfOpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
ULONG SkfCloseContainer(HCONTAINER hContainer);
ULONG SkfEnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize);
ULONG SkfGetContainerType(HCONTAINER hContainer, ULONG* pulContainerType);
ULONG SkfImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen);
ULONG SkfExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen);

} // namespace keycore
