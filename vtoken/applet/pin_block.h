#pragma once
// PIN protection as the token sees it: the key derived from a PIN, SM4-ECB over whole blocks, and
// the PIN block (2-byte little-endian length, content, 0x80, zeros to a multiple of 16, with a whole
// zero block added when the 0x80 already ends on a block boundary).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vtoken {

inline constexpr size_t kSm4Block = 16;
inline constexpr size_t kMaxPinLength = 16;

// Overwrites memory in a way the compiler keeps.
void Wipe(void* data, size_t size);
void Wipe(std::vector<uint8_t>& bytes);
void Wipe(std::string& text);

// The first 16 bytes of SHA-1 over the PIN characters.
std::vector<uint8_t> PinKey(const std::string& pin);

// Length of `n` bytes after the 0x80 padding rule (always at least one byte more than n).
size_t PaddedLength(size_t n);
// `data` followed by 0x80 and zeros up to PaddedLength(data.size()).
std::vector<uint8_t> PadIso(std::vector<uint8_t> data);

// SM4-ECB over whole blocks with a 16-byte key; nothing when the input is not block-aligned.
std::optional<std::vector<uint8_t>> Sm4Ecb(const uint8_t key[16], const std::vector<uint8_t>& input, bool encrypt);

// Decrypts a PIN block under `key` and returns its content, or nothing when the length, the padding
// or the block count is wrong.
std::optional<std::vector<uint8_t>> OpenPinBlock(const uint8_t key[16], const std::vector<uint8_t>& ciphertext);

// A PIN as the token accepts it: 1 to 16 bytes, none of them NUL.
bool IsAcceptablePin(const std::vector<uint8_t>& content);

} // namespace vtoken
