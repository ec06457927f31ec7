#pragma once
// The wrapped session key of SKF_ImportSessionKey in the form the token takes: an ECCCIPHERBLOB whose
// CipherLen is 16 becomes the token's SM2 cipher form (key bits, C1.x, C1.y, C3, C2 length, C2); any
// other input is an RSA-wrapped key and goes as it is.

#include "keycore/skf.h"

#include <cstddef>
#include <vector>

namespace keycore {

// SAR_OK with the bytes to send, or SAR_INDATALENERR for a blob that claims 16 bytes of cipher text
// it does not hold.
ULONG WrappedKeyForToken(const BYTE* pbWrapped, size_t wrappedLen, std::vector<unsigned char>* out);

} // namespace keycore
