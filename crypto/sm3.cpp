#include "crypto/sm3.h"

#include <array>
#include <cstring>

#include "runtime/secure_wipe.h"

namespace {

constexpr uint32_t kInitialState[8] = {0x7380166f, 0x4914b2b9, 0x172442d7, 0xda8a0600,
                                       0xa96f30bc, 0x163138aa, 0xe38dee4d, 0xb0fb0e4e};

constexpr uint32_t Rotl(uint32_t x, unsigned n) {
    n &= 31;
    return n == 0 ? x : (x << n) | (x >> (32 - n));
}

// Round constants already rotated by their round number, so a round adds one table entry.
constexpr std::array<uint32_t, 64> MakeRoundConstants() {
    std::array<uint32_t, 64> k{};
    for (unsigned j = 0; j < 64; ++j)
        k[j] = Rotl(j < 16 ? 0x79cc4519u : 0x7a879d8au, j);
    return k;
}
constexpr std::array<uint32_t, 64> kRoundConstants = MakeRoundConstants();

inline uint32_t LoadBigEndian(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void StoreBigEndian(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

inline uint32_t P0(uint32_t x) {
    return x ^ Rotl(x, 9) ^ Rotl(x, 17);
}

inline uint32_t P1(uint32_t x) {
    return x ^ Rotl(x, 15) ^ Rotl(x, 23);
}

// W[j] of the message expansion, written into the 68-word schedule just before a round needs it
// so that the expansion overlaps the rounds instead of running as a separate pass.
#define SM3_EXPAND(j) (w[j] = P1(w[(j)-16] ^ w[(j)-9] ^ Rotl(w[(j)-3], 15)) ^ Rotl(w[(j)-13], 7) ^ w[(j)-6])

// One round writes its results back into the slots of D and H and rotates B and F in place;
// the caller then renames the eight registers instead of moving them, four rounds to a cycle.
#define SM3_ROUND(A, B, C, D, E, F, G, H, j, FF, GG)                                                                   \
    do {                                                                                                               \
        if ((j) + 4 >= 16)                                                                                             \
            SM3_EXPAND((j) + 4);                                                                                       \
        const uint32_t a12 = Rotl(A, 12);                                                                              \
        const uint32_t ss1 = Rotl(a12 + E + kRoundConstants[j], 7);                                                    \
        const uint32_t ss2 = ss1 ^ a12;                                                                                \
        const uint32_t tt1 = FF(A, B, C) + D + ss2 + (w[j] ^ w[(j) + 4]);                                              \
        const uint32_t tt2 = GG(E, F, G) + H + ss1 + w[j];                                                             \
        B = Rotl(B, 9);                                                                                                \
        F = Rotl(F, 19);                                                                                               \
        D = tt1;                                                                                                       \
        H = P0(tt2);                                                                                                   \
    } while (0)

#define SM3_FF_LOW(x, y, z) ((x) ^ (y) ^ (z))
#define SM3_GG_LOW(x, y, z) ((x) ^ (y) ^ (z))
#define SM3_FF_HIGH(x, y, z) (((x) & (y)) | (((x) | (y)) & (z)))
#define SM3_GG_HIGH(x, y, z) ((((y) ^ (z)) & (x)) ^ (z))

#define SM3_FOUR_ROUNDS(j, FF, GG)                                                                                     \
    SM3_ROUND(a, b, c, d, e, f, g, h, (j), FF, GG);                                                                    \
    SM3_ROUND(d, a, b, c, h, e, f, g, (j) + 1, FF, GG);                                                                \
    SM3_ROUND(c, d, a, b, g, h, e, f, (j) + 2, FF, GG);                                                                \
    SM3_ROUND(b, c, d, a, f, g, h, e, (j) + 3, FF, GG)

void Compress(uint32_t state[8], const unsigned char* block, size_t blocks) {
    uint32_t w[68];
    for (; blocks > 0; --blocks, block += SM3_BLOCK_SIZE) {
        for (int j = 0; j < 16; ++j)
            w[j] = LoadBigEndian(block + 4 * j);

        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];

        SM3_FOUR_ROUNDS(0, SM3_FF_LOW, SM3_GG_LOW);
        SM3_FOUR_ROUNDS(4, SM3_FF_LOW, SM3_GG_LOW);
        SM3_FOUR_ROUNDS(8, SM3_FF_LOW, SM3_GG_LOW);
        SM3_FOUR_ROUNDS(12, SM3_FF_LOW, SM3_GG_LOW);
        SM3_FOUR_ROUNDS(16, SM3_FF_HIGH, SM3_GG_HIGH);
        SM3_FOUR_ROUNDS(20, SM3_FF_HIGH, SM3_GG_HIGH);
        SM3_FOUR_ROUNDS(24, SM3_FF_HIGH, SM3_GG_HIGH);
        SM3_FOUR_ROUNDS(28, SM3_FF_HIGH, SM3_GG_HIGH);
        SM3_FOUR_ROUNDS(32, SM3_FF_HIGH, SM3_GG_HIGH);
        SM3_FOUR_ROUNDS(36, SM3_FF_HIGH, SM3_GG_HIGH);
        SM3_FOUR_ROUNDS(40, SM3_FF_HIGH, SM3_GG_HIGH);
        SM3_FOUR_ROUNDS(44, SM3_FF_HIGH, SM3_GG_HIGH);
        SM3_FOUR_ROUNDS(48, SM3_FF_HIGH, SM3_GG_HIGH);
        SM3_FOUR_ROUNDS(52, SM3_FF_HIGH, SM3_GG_HIGH);
        SM3_FOUR_ROUNDS(56, SM3_FF_HIGH, SM3_GG_HIGH);
        SM3_FOUR_ROUNDS(60, SM3_FF_HIGH, SM3_GG_HIGH);

        state[0] ^= a;
        state[1] ^= b;
        state[2] ^= c;
        state[3] ^= d;
        state[4] ^= e;
        state[5] ^= f;
        state[6] ^= g;
        state[7] ^= h;
    }
    // The expanded message is derived from data that may be secret (KDF input, keys).
    keycore::SecureWipe(w, sizeof w);
}

#undef SM3_FOUR_ROUNDS
#undef SM3_GG_HIGH
#undef SM3_FF_HIGH
#undef SM3_GG_LOW
#undef SM3_FF_LOW
#undef SM3_ROUND
#undef SM3_EXPAND

} // namespace

int sm3_starts(sm3_context* ctx) {
    if (ctx == nullptr)
        return SM3_ERR_BAD_INPUT_DATA;
    std::memcpy(ctx->state, kInitialState, sizeof kInitialState);
    std::memset(ctx->buffer, 0, sizeof ctx->buffer);
    ctx->total = 0;
    return 0;
}

int sm3_update(sm3_context* ctx, const unsigned char* input, size_t ilen) {
    if (ctx == nullptr || (input == nullptr && ilen > 0))
        return SM3_ERR_BAD_INPUT_DATA;
    if (ilen == 0)
        return 0;

    size_t used = static_cast<size_t>(ctx->total % SM3_BLOCK_SIZE);
    ctx->total += ilen;

    if (used > 0) {
        size_t take = SM3_BLOCK_SIZE - used;
        if (ilen < take) {
            std::memcpy(ctx->buffer + used, input, ilen);
            return 0;
        }
        std::memcpy(ctx->buffer + used, input, take);
        Compress(ctx->state, ctx->buffer, 1);
        input += take;
        ilen -= take;
    }
    size_t whole = ilen / SM3_BLOCK_SIZE;
    if (whole > 0) {
        Compress(ctx->state, input, whole);
        input += whole * SM3_BLOCK_SIZE;
        ilen -= whole * SM3_BLOCK_SIZE;
    }
    if (ilen > 0)
        std::memcpy(ctx->buffer, input, ilen);
    return 0;
}

int sm3_finish(sm3_context* ctx, unsigned char output[SM3_DIGEST_SIZE]) {
    if (ctx == nullptr || output == nullptr)
        return SM3_ERR_BAD_INPUT_DATA;

    size_t used = static_cast<size_t>(ctx->total % SM3_BLOCK_SIZE);
    const uint64_t bits = ctx->total * 8;

    ctx->buffer[used++] = 0x80;
    if (used > SM3_BLOCK_SIZE - 8) {
        std::memset(ctx->buffer + used, 0, SM3_BLOCK_SIZE - used);
        Compress(ctx->state, ctx->buffer, 1);
        used = 0;
    }
    std::memset(ctx->buffer + used, 0, SM3_BLOCK_SIZE - 8 - used);
    StoreBigEndian(ctx->buffer + 56, static_cast<uint32_t>(bits >> 32));
    StoreBigEndian(ctx->buffer + 60, static_cast<uint32_t>(bits));
    Compress(ctx->state, ctx->buffer, 1);

    for (int i = 0; i < 8; ++i)
        StoreBigEndian(output + 4 * i, ctx->state[i]);
    keycore::SecureWipe(ctx->buffer, sizeof ctx->buffer);
    return 0;
}

int sm3(const unsigned char* input, size_t ilen, unsigned char output[SM3_DIGEST_SIZE]) {
    if ((input == nullptr && ilen > 0) || output == nullptr)
        return SM3_ERR_BAD_INPUT_DATA;
    sm3_context ctx;
    sm3_starts(&ctx);
    sm3_update(&ctx, input, ilen);
    sm3_finish(&ctx, output);
    keycore::SecureWipe(&ctx, sizeof ctx);
    return 0;
}

int sm3_kdf(const unsigned char* z, size_t zlen, unsigned char* output, size_t klen) {
    if ((z == nullptr && zlen > 0) || (output == nullptr && klen > 0))
        return SM3_ERR_BAD_INPUT_DATA;
    // The counter is 32 bits wide and starts at 1.
    if (klen / SM3_DIGEST_SIZE >= 0xffffffffu)
        return SM3_ERR_BAD_INPUT_DATA;

    unsigned char block[SM3_DIGEST_SIZE];
    uint32_t counter = 1;
    while (klen > 0) {
        unsigned char counterBytes[4];
        StoreBigEndian(counterBytes, counter++);
        sm3_context ctx;
        sm3_starts(&ctx);
        sm3_update(&ctx, z, zlen);
        sm3_update(&ctx, counterBytes, sizeof counterBytes);
        sm3_finish(&ctx, block);
        keycore::SecureWipe(&ctx, sizeof ctx);

        size_t take = klen < SM3_DIGEST_SIZE ? klen : SM3_DIGEST_SIZE;
        std::memcpy(output, block, take);
        output += take;
        klen -= take;
    }
    keycore::SecureWipe(block, sizeof block);
    return 0;
}
