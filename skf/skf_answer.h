#pragma once
// The caller's side of an output of variable length, the same in every key family: a NULL buffer asks
// for the length, a buffer with too little room learns it with SAR_BUFFER_TOO_SMALL.

#include "skf/skf_frame.h"

#include <cstddef>
#include <cstdint>

namespace keycore {

// True when the caller is answered with the length alone: *pulLen receives needed, *pResult SAR_OK for
// a NULL buffer and SAR_BUFFER_TOO_SMALL for one of less than needed bytes. False (nothing written)
// when the buffer has room.
bool AnsweredWithLength(const BYTE* buffer, ULONG* pulLen, size_t needed, ULONG* pResult);

// Copies len bytes to the caller's buffer under the same rules; on SAR_OK *pulLen receives len.
ULONG HandOutAnswer(const uint8_t* bytes, size_t len, BYTE* buffer, ULONG* pulLen);

} // namespace keycore
