#pragma once
// The PKCS#1 v1.5 blocks the library builds for the token, and the token's signature selector.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keycore::rsa_padding {

// Selector of a block the library padded itself.
inline constexpr uint8_t kSelectorPaddedBlock = 3;
// Fewest bytes of a block that are not data: 00, type, eight padding bytes, 00.
inline constexpr size_t kMinimumOverhead = 11;

// True for the data lengths the token takes as they are: a SHA-1 digest (20), a 32-byte digest, and
// whole 1024- or 2048-bit blocks.
bool TokenTakesAsIs(size_t dataLen);
// The selector of data the token takes as it is: 3 for a 32-byte digest, 2 otherwise.
uint8_t SelectorFor(size_t dataLen);

// 00 01 FF.. 00 data, k bytes. False when fewer than eight padding bytes would remain.
bool SignatureBlock(const uint8_t* data, size_t dataLen, size_t k, std::vector<uint8_t>* block);

// 00 02 then k - 3 - n random non-zero bytes, 00, data: k bytes. The padding comes from the system's
// cryptographic generator, fresh for every block. False when the data leaves no room for the three
// fixed bytes or the generator fails; the caller wipes the block after use.
bool EncryptionBlock(const uint8_t* data, size_t dataLen, size_t k, std::vector<uint8_t>* block);

// True when block (k bytes) is exactly the signature block of data: 00 01, at least eight FF, 00, data.
bool IsSignatureBlockOf(const uint8_t* block, size_t k, const uint8_t* data, size_t dataLen);

} // namespace keycore::rsa_padding
