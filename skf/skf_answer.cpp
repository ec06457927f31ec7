#include "skf/skf_answer.h"

#include <cstring>

namespace keycore {

bool AnsweredWithLength(const BYTE* buffer, ULONG* pulLen, size_t needed, ULONG* pResult) {
    if (buffer == nullptr) {
        *pulLen = static_cast<ULONG>(needed);
        *pResult = SAR_OK;
        return true;
    }
    if (*pulLen < needed) {
        *pulLen = static_cast<ULONG>(needed);
        *pResult = SAR_BUFFER_TOO_SMALL;
        return true;
    }
    return false;
}

ULONG HandOutAnswer(const uint8_t* bytes, size_t len, BYTE* buffer, ULONG* pulLen) {
    ULONG early = SAR_OK;
    if (AnsweredWithLength(buffer, pulLen, len, &early))
        return early;
    if (len != 0)
        std::memcpy(buffer, bytes, len);
    *pulLen = static_cast<ULONG>(len);
    return SAR_OK;
}

} // namespace keycore
