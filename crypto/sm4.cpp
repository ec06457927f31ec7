#include "crypto/sm4.h"

#include <array>
#include <cstring>

#include "runtime/secure_wipe.h"

namespace {

// clang-format off: sixteen bytes to a row, as the standard prints the table
constexpr uint8_t kSbox[256] = {
    0xd6, 0x90, 0xe9, 0xfe, 0xcc, 0xe1, 0x3d, 0xb7, 0x16, 0xb6, 0x14, 0xc2, 0x28, 0xfb, 0x2c, 0x05, 0x2b, 0x67, 0x9a,
    0x76, 0x2a, 0xbe, 0x04, 0xc3, 0xaa, 0x44, 0x13, 0x26, 0x49, 0x86, 0x06, 0x99, 0x9c, 0x42, 0x50, 0xf4, 0x91, 0xef,
    0x98, 0x7a, 0x33, 0x54, 0x0b, 0x43, 0xed, 0xcf, 0xac, 0x62, 0xe4, 0xb3, 0x1c, 0xa9, 0xc9, 0x08, 0xe8, 0x95, 0x80,
    0xdf, 0x94, 0xfa, 0x75, 0x8f, 0x3f, 0xa6, 0x47, 0x07, 0xa7, 0xfc, 0xf3, 0x73, 0x17, 0xba, 0x83, 0x59, 0x3c, 0x19,
    0xe6, 0x85, 0x4f, 0xa8, 0x68, 0x6b, 0x81, 0xb2, 0x71, 0x64, 0xda, 0x8b, 0xf8, 0xeb, 0x0f, 0x4b, 0x70, 0x56, 0x9d,
    0x35, 0x1e, 0x24, 0x0e, 0x5e, 0x63, 0x58, 0xd1, 0xa2, 0x25, 0x22, 0x7c, 0x3b, 0x01, 0x21, 0x78, 0x87, 0xd4, 0x00,
    0x46, 0x57, 0x9f, 0xd3, 0x27, 0x52, 0x4c, 0x36, 0x02, 0xe7, 0xa0, 0xc4, 0xc8, 0x9e, 0xea, 0xbf, 0x8a, 0xd2, 0x40,
    0xc7, 0x38, 0xb5, 0xa3, 0xf7, 0xf2, 0xce, 0xf9, 0x61, 0x15, 0xa1, 0xe0, 0xae, 0x5d, 0xa4, 0x9b, 0x34, 0x1a, 0x55,
    0xad, 0x93, 0x32, 0x30, 0xf5, 0x8c, 0xb1, 0xe3, 0x1d, 0xf6, 0xe2, 0x2e, 0x82, 0x66, 0xca, 0x60, 0xc0, 0x29, 0x23,
    0xab, 0x0d, 0x53, 0x4e, 0x6f, 0xd5, 0xdb, 0x37, 0x45, 0xde, 0xfd, 0x8e, 0x2f, 0x03, 0xff, 0x6a, 0x72, 0x6d, 0x6c,
    0x5b, 0x51, 0x8d, 0x1b, 0xaf, 0x92, 0xbb, 0xdd, 0xbc, 0x7f, 0x11, 0xd9, 0x5c, 0x41, 0x1f, 0x10, 0x5a, 0xd8, 0x0a,
    0xc1, 0x31, 0x88, 0xa5, 0xcd, 0x7b, 0xbd, 0x2d, 0x74, 0xd0, 0x12, 0xb8, 0xe5, 0xb4, 0xb0, 0x89, 0x69, 0x97, 0x4a,
    0x0c, 0x96, 0x77, 0x7e, 0x65, 0xb9, 0xf1, 0x09, 0xc5, 0x6e, 0xc6, 0x84, 0x18, 0xf0, 0x7d, 0xec, 0x3a, 0xdc, 0x4d,
    0x20, 0x79, 0xee, 0x5f, 0x3e, 0xd7, 0xcb, 0x39, 0x48,
};
// clang-format on

constexpr uint32_t kFamilyKey[4] = {0xa3b1bac6, 0x56aa3350, 0x677d9197, 0xb27022dc};

constexpr uint32_t Rotl(uint32_t x, unsigned n) {
    return (x << n) | (x >> (32 - n));
}

// The cipher's linear transform L, and L' of the key schedule.
constexpr uint32_t Linear(uint32_t b) {
    return b ^ Rotl(b, 2) ^ Rotl(b, 10) ^ Rotl(b, 18) ^ Rotl(b, 24);
}

constexpr uint32_t KeyLinear(uint32_t b) {
    return b ^ Rotl(b, 13) ^ Rotl(b, 23);
}

// The round function T = L(S-box on each byte) split by byte position: L is linear, so
// T(x) = T0[x>>24] ^ T1[x>>16 & 0xff] ^ T2[x>>8 & 0xff] ^ T3[x & 0xff]. Four lookups and three
// XORs replace four S-box lookups, a reassembly and four rotations per round.
using RoundTable = std::array<uint32_t, 256>;

constexpr RoundTable MakeRoundTable(unsigned shift) {
    RoundTable t{};
    for (unsigned i = 0; i < 256; ++i)
        t[i] = Linear(uint32_t(kSbox[i]) << shift);
    return t;
}

alignas(64) constexpr RoundTable kT0 = MakeRoundTable(24);
alignas(64) constexpr RoundTable kT1 = MakeRoundTable(16);
alignas(64) constexpr RoundTable kT2 = MakeRoundTable(8);
alignas(64) constexpr RoundTable kT3 = MakeRoundTable(0);

constexpr std::array<uint32_t, 32> MakeChainConstants() {
    std::array<uint32_t, 32> ck{};
    for (unsigned i = 0; i < 32; ++i) {
        uint32_t v = 0;
        for (unsigned j = 0; j < 4; ++j)
            v = (v << 8) | ((4 * i + j) * 7 % 256);
        ck[i] = v;
    }
    return ck;
}
constexpr std::array<uint32_t, 32> kChainConstants = MakeChainConstants();

inline uint32_t LoadBigEndian(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void StoreBigEndian(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

inline uint32_t T(uint32_t x) {
    return kT0[x >> 24] ^ kT1[(x >> 16) & 0xff] ^ kT2[(x >> 8) & 0xff] ^ kT3[x & 0xff];
}

inline uint32_t SubstituteBytes(uint32_t x) {
    return (uint32_t(kSbox[x >> 24]) << 24) | (uint32_t(kSbox[(x >> 16) & 0xff]) << 16) |
           (uint32_t(kSbox[(x >> 8) & 0xff]) << 8) | uint32_t(kSbox[x & 0xff]);
}

void ExpandKey(uint32_t rk[32], const unsigned char key[SM4_KEY_SIZE]) {
    uint32_t k[4];
    for (int i = 0; i < 4; ++i)
        k[i] = LoadBigEndian(key + 4 * i) ^ kFamilyKey[i];
    for (int i = 0; i < 32; ++i) {
        uint32_t next = k[0] ^ KeyLinear(SubstituteBytes(k[1] ^ k[2] ^ k[3] ^ kChainConstants[i]));
        rk[i] = next;
        k[0] = k[1];
        k[1] = k[2];
        k[2] = k[3];
        k[3] = next;
    }
    keycore::SecureWipe(k, sizeof k);
}

// Four rounds with the state words renamed rather than shifted.
#define SM4_FOUR_ROUNDS(x0, x1, x2, x3, rk, i)                                                                         \
    x0 ^= T(x1 ^ x2 ^ x3 ^ rk[(i)]);                                                                                   \
    x1 ^= T(x2 ^ x3 ^ x0 ^ rk[(i) + 1]);                                                                               \
    x2 ^= T(x3 ^ x0 ^ x1 ^ rk[(i) + 2]);                                                                               \
    x3 ^= T(x0 ^ x1 ^ x2 ^ rk[(i) + 3])

inline void CryptBlock(const uint32_t rk[32], const unsigned char* in, unsigned char* out) {
    uint32_t x0 = LoadBigEndian(in), x1 = LoadBigEndian(in + 4), x2 = LoadBigEndian(in + 8),
             x3 = LoadBigEndian(in + 12);
    for (int i = 0; i < 32; i += 4) {
        SM4_FOUR_ROUNDS(x0, x1, x2, x3, rk, i);
    }
    StoreBigEndian(out, x3);
    StoreBigEndian(out + 4, x2);
    StoreBigEndian(out + 8, x1);
    StoreBigEndian(out + 12, x0);
}

// Two independent blocks round by round: the table lookups of one block fill the latency of
// the other's.
inline void CryptTwoBlocks(const uint32_t rk[32], const unsigned char* in, unsigned char* out) {
    uint32_t a0 = LoadBigEndian(in), a1 = LoadBigEndian(in + 4), a2 = LoadBigEndian(in + 8),
             a3 = LoadBigEndian(in + 12);
    uint32_t b0 = LoadBigEndian(in + 16), b1 = LoadBigEndian(in + 20), b2 = LoadBigEndian(in + 24),
             b3 = LoadBigEndian(in + 28);
    for (int i = 0; i < 32; i += 4) {
        a0 ^= T(a1 ^ a2 ^ a3 ^ rk[i]);
        b0 ^= T(b1 ^ b2 ^ b3 ^ rk[i]);
        a1 ^= T(a2 ^ a3 ^ a0 ^ rk[i + 1]);
        b1 ^= T(b2 ^ b3 ^ b0 ^ rk[i + 1]);
        a2 ^= T(a3 ^ a0 ^ a1 ^ rk[i + 2]);
        b2 ^= T(b3 ^ b0 ^ b1 ^ rk[i + 2]);
        a3 ^= T(a0 ^ a1 ^ a2 ^ rk[i + 3]);
        b3 ^= T(b0 ^ b1 ^ b2 ^ rk[i + 3]);
    }
    StoreBigEndian(out, a3);
    StoreBigEndian(out + 4, a2);
    StoreBigEndian(out + 8, a1);
    StoreBigEndian(out + 12, a0);
    StoreBigEndian(out + 16, b3);
    StoreBigEndian(out + 20, b2);
    StoreBigEndian(out + 24, b1);
    StoreBigEndian(out + 28, b0);
}

#undef SM4_FOUR_ROUNDS

inline void XorBlock(unsigned char* out, const unsigned char* a, const unsigned char* b) {
    for (size_t i = 0; i < SM4_BLOCK_SIZE; ++i)
        out[i] = static_cast<unsigned char>(a[i] ^ b[i]);
}

} // namespace

int sm4_setkey_enc(sm4_context* ctx, const unsigned char key[SM4_KEY_SIZE]) {
    if (ctx == nullptr || key == nullptr)
        return SM4_ERR_BAD_INPUT_DATA;
    ExpandKey(ctx->rk, key);
    return 0;
}

int sm4_setkey_dec(sm4_context* ctx, const unsigned char key[SM4_KEY_SIZE]) {
    if (ctx == nullptr || key == nullptr)
        return SM4_ERR_BAD_INPUT_DATA;
    ExpandKey(ctx->rk, key);
    for (int i = 0; i < 16; ++i) {
        uint32_t t = ctx->rk[i];
        ctx->rk[i] = ctx->rk[31 - i];
        ctx->rk[31 - i] = t;
    }
    return 0;
}

int sm4_crypt_ecb(const sm4_context* ctx, const unsigned char input[SM4_BLOCK_SIZE],
                  unsigned char output[SM4_BLOCK_SIZE]) {
    if (ctx == nullptr || input == nullptr || output == nullptr)
        return SM4_ERR_BAD_INPUT_DATA;
    CryptBlock(ctx->rk, input, output);
    return 0;
}

void sm4_crypt_ecb_blocks(const sm4_context* ctx, size_t blocks, const unsigned char* input, unsigned char* output) {
    for (; blocks >= 2; blocks -= 2, input += 2 * SM4_BLOCK_SIZE, output += 2 * SM4_BLOCK_SIZE)
        CryptTwoBlocks(ctx->rk, input, output);
    if (blocks == 1)
        CryptBlock(ctx->rk, input, output);
}

int sm4_crypt_cbc(const sm4_context* ctx, int mode, size_t length, unsigned char iv[SM4_BLOCK_SIZE],
                  const unsigned char* input, unsigned char* output) {
    if (length % SM4_BLOCK_SIZE != 0)
        return SM4_ERR_INVALID_INPUT_LENGTH;
    if (ctx == nullptr || iv == nullptr || (mode != SM4_ENCRYPT && mode != SM4_DECRYPT))
        return SM4_ERR_BAD_INPUT_DATA;
    if (length == 0)
        return 0;
    if (input == nullptr || output == nullptr)
        return SM4_ERR_BAD_INPUT_DATA;

    unsigned char chain[SM4_BLOCK_SIZE];
    std::memcpy(chain, iv, SM4_BLOCK_SIZE);
    if (mode == SM4_ENCRYPT) {
        for (; length > 0; length -= SM4_BLOCK_SIZE, input += SM4_BLOCK_SIZE, output += SM4_BLOCK_SIZE) {
            XorBlock(chain, chain, input);
            CryptBlock(ctx->rk, chain, chain);
            std::memcpy(output, chain, SM4_BLOCK_SIZE);
        }
    } else {
        // Pairs of blocks are deciphered together; the cipher text each needs for unchaining is
        // saved first because output may overwrite input.
        unsigned char saved[2 * SM4_BLOCK_SIZE];
        unsigned char plain[2 * SM4_BLOCK_SIZE];
        while (length >= 2 * SM4_BLOCK_SIZE) {
            std::memcpy(saved, input, sizeof saved);
            CryptTwoBlocks(ctx->rk, saved, plain);
            XorBlock(output, plain, chain);
            XorBlock(output + SM4_BLOCK_SIZE, plain + SM4_BLOCK_SIZE, saved);
            std::memcpy(chain, saved + SM4_BLOCK_SIZE, SM4_BLOCK_SIZE);
            length -= sizeof saved;
            input += sizeof saved;
            output += sizeof saved;
        }
        if (length > 0) {
            std::memcpy(saved, input, SM4_BLOCK_SIZE);
            CryptBlock(ctx->rk, saved, plain);
            XorBlock(output, plain, chain);
            std::memcpy(chain, saved, SM4_BLOCK_SIZE);
        }
        keycore::SecureWipe(plain, sizeof plain);
    }
    std::memcpy(iv, chain, SM4_BLOCK_SIZE);
    return 0;
}

void sm4_free(sm4_context* ctx) {
    if (ctx != nullptr)
        keycore::SecureWipe(ctx->rk, sizeof ctx->rk);
}
