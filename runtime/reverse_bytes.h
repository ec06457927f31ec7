#pragma once
// In-place byte reversal: the token keeps some fields little-endian, the standards want big-endian.

#include <cstddef>

namespace keycore {

// Reverses the first length bytes of buffer; a null buffer or a length below 2 leaves it as it is.
void ReverseBytes(unsigned char* buffer, size_t length);

} // namespace keycore
