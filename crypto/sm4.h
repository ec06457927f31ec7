#pragma once
// SM4 block cipher (GM/T 0002): 128-bit key and block, 32 rounds. A context holds the round keys
// of one direction; encryption and decryption use separate contexts.

#include <cstddef>
#include <cstdint>

constexpr size_t SM4_KEY_SIZE = 16;
constexpr size_t SM4_BLOCK_SIZE = 16;

constexpr int SM4_DECRYPT = 0;
constexpr int SM4_ENCRYPT = 1;

// sm4_crypt_cbc: a length that is not a whole number of blocks.
constexpr int SM4_ERR_INVALID_INPUT_LENGTH = -0x0076;
// A null context or buffer, or an unknown direction.
constexpr int SM4_ERR_BAD_INPUT_DATA = -0x007C;

struct sm4_context {
    uint32_t rk[32];
};

// Key schedules; key is 16 bytes. Return 0, or SM4_ERR_BAD_INPUT_DATA for a null argument.
int sm4_setkey_enc(sm4_context* ctx, const unsigned char key[SM4_KEY_SIZE]);
int sm4_setkey_dec(sm4_context* ctx, const unsigned char key[SM4_KEY_SIZE]);

// One block in the direction of the context's schedule. input and output may be the same buffer.
// Returns 0, or SM4_ERR_BAD_INPUT_DATA for a null argument.
int sm4_crypt_ecb(const sm4_context* ctx, const unsigned char input[SM4_BLOCK_SIZE],
                  unsigned char output[SM4_BLOCK_SIZE]);

// ECB over a number of whole blocks (pairs are interleaved for speed); no checks, for callers
// that have validated their arguments. input and output may be the same buffer.
void sm4_crypt_ecb_blocks(const sm4_context* ctx, size_t blocks, const unsigned char* input, unsigned char* output);

// CBC over length bytes (a multiple of 16). The IV is updated in place to the last cipher block, so
// consecutive calls continue one chain. mode is SM4_ENCRYPT or SM4_DECRYPT and must match the
// schedule. input and output may be the same buffer. Returns 0 or an SM4_ERR_* code; on error
// nothing is written.
int sm4_crypt_cbc(const sm4_context* ctx, int mode, size_t length, unsigned char iv[SM4_BLOCK_SIZE],
                  const unsigned char* input, unsigned char* output);

// Wipes the round keys.
void sm4_free(sm4_context* ctx);
