#pragma once
// What the key families share about answers: the statuses of the container key commands, and the
// caller's side of an output of variable length (a NULL buffer asks for the length, a buffer with too
// little room learns it with SAR_BUFFER_TOO_SMALL).

#include "skf/skf_frame.h"
#include "skf/skf_storage.h"

#include <cstddef>
#include <cstdint>

namespace keycore {

// The container key commands' own tables, the same for RSA and SM2: the commands that make a key and
// hand it back (key-pair generation, session-key export), the wrapped key-pair import, signing.
inline constexpr SarDeparture kKeyPairStatuses[] = {
    {0x6581, SAR_DEVICE_REMOVED},   {0x6982, SAR_USER_NOT_LOGGED_IN},
    {0x6A81, SAR_NOTSUPPORTYETERR}, {0x6A84, SAR_NO_ROOM},
    {0x6A88, SAR_OBJERR},           {0x6A95, SAR_OBJERR},
};
inline constexpr SarDeparture kKeyImportStatuses[] = {
    {0x6982, SAR_USER_NOT_LOGGED_IN},
    {0x6A84, SAR_NO_ROOM},
    {0x6A88, SAR_OBJERR},
};
inline constexpr SarDeparture kKeySignStatuses[] = {
    {0x6982, SAR_USER_NOT_LOGGED_IN},
    {0x6A88, SAR_OBJERR},
    {kLibraryBufferTooSmall, SAR_BUFFER_TOO_SMALL},
};

// SAR_OK for success, the table's result for a status it lists, SAR_FAIL for any other.
template <size_t N> ULONG SarFromKeyStatus(TokenStatus status, const SarDeparture (&table)[N]) {
    if (status == kSwSuccess)
        return SAR_OK;
    for (const SarDeparture& row : table) {
        if (row.status == status)
            return row.result;
    }
    return SAR_FAIL;
}

// True when the caller is answered with the length alone: *pulLen receives needed, *pResult SAR_OK for
// a NULL buffer and SAR_BUFFER_TOO_SMALL for one of less than needed bytes. False (nothing written)
// when the buffer has room.
bool AnsweredWithLength(const BYTE* buffer, ULONG* pulLen, size_t needed, ULONG* pResult);

// Copies len bytes to the caller's buffer under the same rules; on SAR_OK *pulLen receives len.
ULONG HandOutAnswer(const uint8_t* bytes, size_t len, BYTE* buffer, ULONG* pulLen);

} // namespace keycore
