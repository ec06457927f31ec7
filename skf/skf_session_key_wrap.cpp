#include "skf/skf_session_key_wrap.h"

#include <cstring>

namespace keycore {

namespace {

// ECCCIPHERBLOB: X (64), Y (64), HASH (32), CipherLen at 160, cipher text from 164; 256-bit values
// right-aligned in their 64-byte fields.
constexpr size_t kCipherLenOffset = 160;
constexpr size_t kCipherOffset = 164;
constexpr size_t kXOffset = 32;
constexpr size_t kYOffset = 96;
constexpr size_t kHashOffset = 128;
constexpr size_t kValue = 32;
constexpr uint32_t kSessionKeyBytes = 16;
constexpr uint32_t kSm2Bits = 256;

void PutU32(std::vector<unsigned char>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

void PutBytes(std::vector<unsigned char>& out, const BYTE* from, size_t len) {
    out.insert(out.end(), from, from + len);
}

} // namespace

ULONG WrappedKeyForToken(const BYTE* pbWrapped, size_t wrappedLen, std::vector<unsigned char>* out) {
    out->clear();
    // The choice is made by the CipherLen field alone (host byte order, as the structure is).
    uint32_t cipherLen = 0;
    if (wrappedLen >= kCipherOffset)
        std::memcpy(&cipherLen, pbWrapped + kCipherLenOffset, sizeof cipherLen);
    if (cipherLen != kSessionKeyBytes) {
        PutBytes(*out, pbWrapped, wrappedLen);
        return SAR_OK;
    }
    if (wrappedLen < kCipherOffset + kSessionKeyBytes)
        return SAR_INDATALENERR;
    PutU32(*out, kSm2Bits);
    PutBytes(*out, pbWrapped + kXOffset, kValue);
    PutBytes(*out, pbWrapped + kYOffset, kValue);
    PutBytes(*out, pbWrapped + kHashOffset, kValue);
    PutU32(*out, kSessionKeyBytes);
    PutBytes(*out, pbWrapped + kCipherOffset, kSessionKeyBytes);
    return SAR_OK;
}

} // namespace keycore
