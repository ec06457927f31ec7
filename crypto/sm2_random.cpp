#include "crypto/sm2_random.h"

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/ecp.h>
#include <mbedtls/entropy.h>

namespace {

// 15 characters and the terminating zero: 16 bytes.
constexpr unsigned char kPersonalisation[16] = {'s', 'm', '2', '_', 'g', 'e', 'n', '_',
                                                'k', 'e', 'y', 'p', 'a', 'i', 'r', '\0'};

class ScopedDrbg {
public:
    ScopedDrbg() {
        mbedtls_entropy_init(&m_entropy);
        mbedtls_ctr_drbg_init(&m_drbg);
    }
    ScopedDrbg(const ScopedDrbg&) = delete;
    ScopedDrbg& operator=(const ScopedDrbg&) = delete;
    ~ScopedDrbg() {
        mbedtls_ctr_drbg_free(&m_drbg);
        mbedtls_entropy_free(&m_entropy);
    }

    int Seed() {
        int rc =
            mbedtls_ctr_drbg_seed(&m_drbg, mbedtls_entropy_func, &m_entropy, kPersonalisation, sizeof kPersonalisation);
        if (rc == 0)
            mbedtls_ctr_drbg_set_prediction_resistance(&m_drbg, MBEDTLS_CTR_DRBG_PR_ON);
        return rc;
    }

    int Generate(unsigned char* output, size_t len) {
        while (len > 0) {
            size_t chunk = len < MBEDTLS_CTR_DRBG_MAX_REQUEST ? len : MBEDTLS_CTR_DRBG_MAX_REQUEST;
            int rc = mbedtls_ctr_drbg_random(&m_drbg, output, chunk);
            if (rc != 0)
                return rc;
            output += chunk;
            len -= chunk;
        }
        return 0;
    }

private:
    mbedtls_entropy_context m_entropy;
    mbedtls_ctr_drbg_context m_drbg;
};

} // namespace

int sm2_default_random(void* /*p_rng*/, unsigned char* output, size_t len) {
    if (output == nullptr && len > 0)
        return MBEDTLS_ERR_ECP_BAD_INPUT_DATA;
    ScopedDrbg drbg;
    int rc = drbg.Seed();
    if (rc != 0)
        return rc;
    return drbg.Generate(output, len);
}
