#pragma once
// SM3 message digest (GM/T 0004): 256-bit output over 512-bit blocks.

#include <cstddef>
#include <cstdint>

constexpr size_t SM3_DIGEST_SIZE = 32;
constexpr size_t SM3_BLOCK_SIZE = 64;

// A null context, or null data with a non-zero length.
constexpr int SM3_ERR_BAD_INPUT_DATA = -0x0078;

struct sm3_context {
    uint32_t state[8];
    unsigned char buffer[SM3_BLOCK_SIZE];
    uint64_t total; // bytes hashed so far
};

// Streaming interface: starts, any number of updates, finish. Each returns 0 or
// SM3_ERR_BAD_INPUT_DATA. finish clears the block buffer; call sm3_starts before reusing the
// context for another message.
int sm3_starts(sm3_context* ctx);
int sm3_update(sm3_context* ctx, const unsigned char* input, size_t ilen);
int sm3_finish(sm3_context* ctx, unsigned char output[SM3_DIGEST_SIZE]);

// One-shot digest of input (which may be null when ilen is 0).
int sm3(const unsigned char* input, size_t ilen, unsigned char output[SM3_DIGEST_SIZE]);

// Key derivation of GM/T 0003: SM3(Z || counter) for counter = 1, 2, ... as 32-bit big-endian
// numbers, concatenated and cut to klen bytes. Fails on null buffers with non-zero lengths and on
// requests the 32-bit counter cannot cover.
int sm3_kdf(const unsigned char* z, size_t zlen, unsigned char* output, size_t klen);
