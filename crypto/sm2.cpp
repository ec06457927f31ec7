#include "crypto/sm2.h"

#include <cstdint>
#include <cstring>

#include "crypto/sm2_curve.h"
#include "crypto/sm2_random.h"
#include "crypto/sm3.h"
#include "runtime/secure_wipe.h"

namespace {

constexpr size_t kCoordinateSize = 32;
constexpr int kMaxScalarDraws = 30;
constexpr int kMaxEphemeralKeys = 11;

class ScopedMpi {
public:
    ScopedMpi() { mbedtls_mpi_init(&m_value); }
    ScopedMpi(const ScopedMpi&) = delete;
    ScopedMpi& operator=(const ScopedMpi&) = delete;
    ~ScopedMpi() { mbedtls_mpi_free(&m_value); } // mbed TLS zeroes the limbs
    mbedtls_mpi* get() { return &m_value; }

private:
    mbedtls_mpi m_value;
};

class ScopedPoint {
public:
    ScopedPoint() { mbedtls_ecp_point_init(&m_value); }
    ScopedPoint(const ScopedPoint&) = delete;
    ScopedPoint& operator=(const ScopedPoint&) = delete;
    ~ScopedPoint() { mbedtls_ecp_point_free(&m_value); }
    mbedtls_ecp_point* get() { return &m_value; }

private:
    mbedtls_ecp_point m_value;
};

bool HoldsSm2Curve(const sm2_context* ctx) {
    return ctx != nullptr && ctx->curve == SM2_CURVE_ID;
}

// Draws k in [1, n - 2] with the caller's random function.
int DrawScalar(const mbedtls_ecp_group* grp, mbedtls_mpi* k, sm2_rng_function f_rng, void* p_rng) {
    ScopedMpi upper; // n - 2
    int rc = mbedtls_mpi_sub_int(upper.get(), &grp->N, 2);
    if (rc != 0)
        return rc;
    const size_t size = (grp->nbits + 7) / 8;
    unsigned char bytes[MBEDTLS_ECP_MAX_BYTES];
    for (int draw = 0; draw < kMaxScalarDraws; ++draw) {
        if (f_rng(p_rng, bytes, size) != 0) {
            keycore::SecureWipe(bytes, sizeof bytes);
            return SM2_ERR_RANDOM_FAILED;
        }
        rc = mbedtls_mpi_read_binary(k, bytes, size);
        if (rc != 0)
            break;
        if (mbedtls_mpi_cmp_int(k, 1) >= 0 && mbedtls_mpi_cmp_mpi(k, upper.get()) <= 0) {
            keycore::SecureWipe(bytes, sizeof bytes);
            return 0;
        }
    }
    keycore::SecureWipe(bytes, sizeof bytes);
    return rc != 0 ? rc : SM2_ERR_RANDOM_FAILED;
}

// An ephemeral key pair (k, C1 = [k]G) whose point passes the curve check.
int MakeEphemeralKey(mbedtls_ecp_group* grp, mbedtls_mpi* k, mbedtls_ecp_point* c1, sm2_rng_function f_rng,
                     void* p_rng) {
    for (int attempt = 0; attempt < kMaxEphemeralKeys; ++attempt) {
        int rc = DrawScalar(grp, k, f_rng, p_rng);
        if (rc != 0)
            return rc;
        rc = mbedtls_ecp_mul(grp, c1, k, &grp->G, f_rng, p_rng);
        if (rc == MBEDTLS_ERR_ECP_ALLOC_FAILED || rc == MBEDTLS_ERR_MPI_ALLOC_FAILED)
            return SM2_ERR_ALLOC_FAILED;
        if (rc == 0 && mbedtls_ecp_check_pubkey(grp, c1) == 0)
            return 0;
    }
    return SM2_ERR_RANDOM_FAILED;
}

bool AllZero(const unsigned char* p, size_t len) {
    unsigned char acc = 0;
    for (size_t i = 0; i < len; ++i)
        acc |= p[i];
    return acc == 0;
}

} // namespace

int sm2_init(sm2_context* ctx) {
    if (ctx == nullptr)
        return SM2_ERR_BAD_INPUT_DATA;
    mbedtls_ecp_group_init(&ctx->grp);
    mbedtls_mpi_init(&ctx->d);
    mbedtls_ecp_point_init(&ctx->Q);
    ctx->curve = 0;
    int rc = keycore_ecp_group_load(&ctx->grp, SM2_CURVE_ID);
    if (rc == 0)
        ctx->curve = SM2_CURVE_ID;
    return rc;
}

void sm2_free(sm2_context* ctx) {
    if (ctx == nullptr)
        return;
    mbedtls_ecp_group_free(&ctx->grp);
    mbedtls_mpi_free(&ctx->d);
    mbedtls_ecp_point_free(&ctx->Q);
    ctx->curve = 0;
}

int sm2_read_public_hex(sm2_context* ctx, const char* x, const char* y) {
    if (!HoldsSm2Curve(ctx) || x == nullptr || y == nullptr)
        return SM2_ERR_BAD_INPUT_DATA;
    ScopedPoint point;
    int rc = mbedtls_mpi_read_string(&point.get()->X, 16, x);
    if (rc == 0)
        rc = mbedtls_mpi_read_string(&point.get()->Y, 16, y);
    if (rc == 0)
        rc = mbedtls_mpi_lset(&point.get()->Z, 1);
    if (rc == MBEDTLS_ERR_MPI_ALLOC_FAILED)
        return SM2_ERR_ALLOC_FAILED;
    if (rc != 0)
        return SM2_ERR_BAD_INPUT_DATA;
    if (mbedtls_ecp_check_pubkey(&ctx->grp, point.get()) != 0)
        return SM2_ERR_INVALID_KEY;
    rc = mbedtls_ecp_copy(&ctx->Q, point.get());
    return rc == 0 ? 0 : SM2_ERR_ALLOC_FAILED;
}

int sm2_encrypt(sm2_context* ctx, const unsigned char* input, size_t ilen, unsigned char* output, size_t* olen,
                sm2_rng_function f_rng, void* p_rng) {
    if (!HoldsSm2Curve(ctx) || olen == nullptr || input == nullptr || ilen == 0 ||
        ilen > SIZE_MAX - SM2_CIPHER_OVERHEAD)
        return SM2_ERR_BAD_INPUT_DATA;
    const size_t needed = ilen + SM2_CIPHER_OVERHEAD;
    if (output == nullptr) {
        *olen = needed;
        return 0;
    }
    if (*olen < needed) {
        *olen = needed;
        return SM2_ERR_BUFFER_TOO_SMALL;
    }
    if (mbedtls_ecp_check_pubkey(&ctx->grp, &ctx->Q) != 0)
        return SM2_ERR_INVALID_KEY;
    if (f_rng == nullptr) {
        f_rng = sm2_default_random;
        p_rng = nullptr;
    }

    ScopedMpi k;
    ScopedPoint c1;
    ScopedPoint shared; // (x2, y2) = [k]Q
    unsigned char c1Bytes[1 + 2 * kCoordinateSize];
    keycore::SecureBytes sharedBytes(2 * kCoordinateSize); // x2 || y2
    keycore::SecureBytes keyStream(ilen);                  // t

    bool derived = false;
    for (int attempt = 0; attempt < kMaxEphemeralKeys && !derived; ++attempt) {
        int rc = MakeEphemeralKey(&ctx->grp, k.get(), c1.get(), f_rng, p_rng);
        if (rc != 0)
            return rc;
        rc = mbedtls_ecp_mul(&ctx->grp, shared.get(), k.get(), &ctx->Q, f_rng, p_rng);
        if (rc == 0)
            rc = mbedtls_mpi_write_binary(&shared.get()->X, sharedBytes.data(), kCoordinateSize);
        if (rc == 0)
            rc = mbedtls_mpi_write_binary(&shared.get()->Y, sharedBytes.data() + kCoordinateSize, kCoordinateSize);
        if (rc == 0)
            rc = sm3_kdf(sharedBytes.data(), sharedBytes.size(), keyStream.data(), keyStream.size());
        if (rc == MBEDTLS_ERR_ECP_ALLOC_FAILED || rc == MBEDTLS_ERR_MPI_ALLOC_FAILED)
            return SM2_ERR_ALLOC_FAILED;
        if (rc != 0)
            return SM2_ERR_RANDOM_FAILED;
        derived = !AllZero(keyStream.data(), keyStream.size());
    }
    if (!derived)
        return SM2_ERR_RANDOM_FAILED;

    c1Bytes[0] = 0x04;
    if (mbedtls_mpi_write_binary(&c1.get()->X, c1Bytes + 1, kCoordinateSize) != 0 ||
        mbedtls_mpi_write_binary(&c1.get()->Y, c1Bytes + 1 + kCoordinateSize, kCoordinateSize) != 0)
        return SM2_ERR_RANDOM_FAILED;

    unsigned char c3[SM3_DIGEST_SIZE];
    sm3_context hash;
    sm3_starts(&hash);
    sm3_update(&hash, sharedBytes.data(), kCoordinateSize);
    sm3_update(&hash, input, ilen);
    sm3_update(&hash, sharedBytes.data() + kCoordinateSize, kCoordinateSize);
    sm3_finish(&hash, c3);
    keycore::SecureWipe(&hash, sizeof hash);

    // C2 is formed in the key stream buffer, so M has been read completely before output is
    // written and the plain text's own buffer may receive the cipher text.
    for (size_t i = 0; i < ilen; ++i)
        keyStream.data()[i] = static_cast<unsigned char>(keyStream.data()[i] ^ input[i]);
    std::memcpy(output, c1Bytes, sizeof c1Bytes);
    std::memcpy(output + sizeof c1Bytes, keyStream.data(), ilen);
    std::memcpy(output + sizeof c1Bytes + ilen, c3, sizeof c3);
    *olen = needed;
    return 0;
}
