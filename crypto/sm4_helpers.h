#pragma once
// Whole-buffer SM4 helpers for the token's PIN and MAC protection: one call with a raw 16-byte
// key, the key schedule kept on the stack and wiped before return.

#include <array>
#include <cstddef>
#include <optional>

// ECB over length bytes, each block independently. False, with nothing written, when the key,
// input or output is missing, the length is 0 or the length is not a multiple of 16.
// input and output may be the same buffer.
bool SM4EcbCrypt(const unsigned char* key, const unsigned char* input, size_t length, unsigned char* output,
                 bool encrypt);

// CBC over length bytes starting from iv (16 bytes; not modified). Same checks as SM4EcbCrypt,
// plus a missing IV.
bool SM4CbcCrypt(const unsigned char* key, const unsigned char* iv, const unsigned char* input, size_t length,
                 unsigned char* output, bool encrypt);

// The first 4 bytes of the last cipher block of the CBC encryption of input, which the caller has
// padded to a multiple of 16 bytes. Empty under the same conditions as SM4CbcCrypt.
std::optional<std::array<unsigned char, 4>> SM4CbcMac4(const unsigned char* key, const unsigned char* iv,
                                                       const unsigned char* input, size_t length);
