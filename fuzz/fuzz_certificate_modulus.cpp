// CertificateModulus over arbitrary bytes: certificates are read back from the token as they are stored.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "runtime/certificate_modulus.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t length = 0;
    CK_RV rv = keycore::CertificateModulus(data, size, nullptr, &length);
    if (rv != CKR_OK)
        return 0;
    if (length == 0)
        std::abort();
    std::vector<unsigned char> exact(length);
    size_t exactLength = length;
    if (keycore::CertificateModulus(data, size, exact.data(), &exactLength) != CKR_OK || exactLength != length)
        std::abort();
    size_t shortLength = length - 1;
    if (keycore::CertificateModulus(data, size, exact.data(), &shortLength) != CKR_BUFFER_TOO_SMALL ||
        shortLength != length - 1)
        std::abort();
    return 0;
}
