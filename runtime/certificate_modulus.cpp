#include "runtime/certificate_modulus.h"

#include <mbedtls/bignum.h>
#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>
#include <mbedtls/x509_crt.h>

namespace keycore {

namespace {

class ParsedCertificate {
public:
    ParsedCertificate() { mbedtls_x509_crt_init(&m_crt); }
    ParsedCertificate(const ParsedCertificate&) = delete;
    ParsedCertificate& operator=(const ParsedCertificate&) = delete;
    ~ParsedCertificate() { mbedtls_x509_crt_free(&m_crt); }
    mbedtls_x509_crt* get() { return &m_crt; }

private:
    mbedtls_x509_crt m_crt;
};

} // namespace

CK_RV CertificateModulus(const unsigned char* certificate, size_t certificateLength, unsigned char* output,
                         size_t* outputLength) {
    if (certificate == nullptr || certificateLength == 0 || outputLength == nullptr)
        return CKR_ARGUMENTS_BAD;

    ParsedCertificate crt;
    if (mbedtls_x509_crt_parse_der(crt.get(), certificate, certificateLength) != 0)
        return CKR_TEMPLATE_INCONSISTENT;
    if (mbedtls_pk_get_type(&crt.get()->pk) != MBEDTLS_PK_RSA)
        return CKR_TEMPLATE_INCONSISTENT;

    mbedtls_mpi modulus;
    mbedtls_mpi_init(&modulus);
    CK_RV rv = CKR_TEMPLATE_INCONSISTENT;
    if (mbedtls_rsa_export(mbedtls_pk_rsa(crt.get()->pk), &modulus, nullptr, nullptr, nullptr, nullptr) == 0) {
        const size_t modulusLength = mbedtls_mpi_size(&modulus);
        if (output == nullptr) {
            *outputLength = modulusLength;
            rv = CKR_OK;
        } else if (*outputLength < modulusLength) {
            rv = CKR_BUFFER_TOO_SMALL;
        } else if (mbedtls_mpi_write_binary(&modulus, output, modulusLength) == 0) {
            *outputLength = modulusLength;
            rv = CKR_OK;
        }
    }
    mbedtls_mpi_free(&modulus);
    return rv;
}

} // namespace keycore
