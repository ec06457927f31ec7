#pragma once
// PIN protection on the way to the token: the key derived from a PIN and the PIN block.
//
// PIN block: the content length as 2 bytes little-endian, the content, 0x80, then zeros up to the
// next multiple of 16; when the 0x80 already ends on a multiple of 16, a whole block of 16 zeros
// follows. The block is encrypted with SM4-ECB under the PIN key.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace keycore {

constexpr size_t kPinKeySize = 16;
using PinKey = std::array<uint8_t, kPinKeySize>;

// Length of n bytes followed by 0x80 and the zero padding described above.
size_t IsoPaddedLength(size_t n);
// data, 0x80 and zeros up to IsoPaddedLength(data.size()).
void AppendIsoPadding(std::vector<uint8_t>& data);

// The first 16 bytes of the SHA-1 digest of the PIN characters. The caller wipes the key.
PinKey DerivePinKey(const void* pin, size_t pinLen);

// The plain PIN block of content; empty when the content is longer than 65,535 bytes. The caller
// wipes the block.
std::vector<uint8_t> MakePinBlock(const void* content, size_t contentLen);

// The PIN block of content encrypted under key; empty on failure. Intermediate copies are wiped.
std::vector<uint8_t> EncryptPinBlock(const PinKey& key, const void* content, size_t contentLen);

} // namespace keycore
