#pragma once
// The random function SM2 uses when its caller passes none.

#include <cstddef>

// Fills output with len bytes from a CTR-DRBG (AES-256) that is seeded for this one request from
// the platform entropy source, with the personalisation "sm2_gen_keypair\0" and prediction
// resistance on. p_rng is ignored. Returns 0 or an mbed TLS error code. Safe from any thread.
int sm2_default_random(void* p_rng, unsigned char* output, size_t len);
