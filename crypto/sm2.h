#pragma once
// SM2 public-key encryption (GB/T 32918 / GM/T 0003) on the recommended curve, with SM3 for the
// key derivation and the check value. Only encryption is needed here: the token does the rest.

#include <mbedtls/bignum.h>
#include <mbedtls/ecp.h>

#include <cstddef>

// Results: 0, or one of these (mbed TLS's own codes).
constexpr int SM2_ERR_BAD_INPUT_DATA = MBEDTLS_ERR_ECP_BAD_INPUT_DATA;
constexpr int SM2_ERR_BUFFER_TOO_SMALL = MBEDTLS_ERR_ECP_BUFFER_TOO_SMALL;
constexpr int SM2_ERR_RANDOM_FAILED = MBEDTLS_ERR_ECP_RANDOM_FAILED;
constexpr int SM2_ERR_ALLOC_FAILED = MBEDTLS_ERR_ECP_ALLOC_FAILED;
constexpr int SM2_ERR_INVALID_KEY = MBEDTLS_ERR_ECP_INVALID_KEY;

// C1 (0x04 || x1 || y1) and C3 add this much to the plain text.
constexpr size_t SM2_CIPHER_OVERHEAD = 1 + 32 + 32 + 32;

// Random function: fills the buffer, returns 0 on success.
using sm2_rng_function = int (*)(void* p_rng, unsigned char* output, size_t len);

struct sm2_context {
    mbedtls_ecp_group grp; // the SM2 curve once sm2_init succeeded
    mbedtls_mpi d;         // private scalar; unused by encryption, may stay unset
    mbedtls_ecp_point Q;   // public point
    int curve;             // SM2_CURVE_ID once the group is loaded, else 0
};

// Loads the SM2 curve into a fresh context. Call sm2_free afterwards even when this fails.
int sm2_init(sm2_context* ctx);
void sm2_free(sm2_context* ctx);

// Sets Q from its affine coordinates in hexadecimal text. Fails, leaving Q unchanged, unless the
// context holds the SM2 curve and the point lies on it.
int sm2_read_public_hex(sm2_context* ctx, const char* x, const char* y);

// Encrypts ilen bytes to Q and writes C1 || C2 || C3 (ilen + 97 bytes).
// - output null: stores ilen + 97 in *olen and succeeds;
// - *olen below ilen + 97: SM2_ERR_BUFFER_TOO_SMALL, *olen set to the size needed;
// - otherwise writes the cipher text and stores its length.
// f_rng null selects sm2_default_random. A null or empty plain text is SM2_ERR_BAD_INPUT_DATA; a
// random function that fails or never yields a usable ephemeral key is SM2_ERR_RANDOM_FAILED.
// On failure nothing is written to output.
int sm2_encrypt(sm2_context* ctx, const unsigned char* input, size_t ilen, unsigned char* output, size_t* olen,
                sm2_rng_function f_rng, void* p_rng);
