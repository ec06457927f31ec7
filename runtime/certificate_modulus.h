#pragma once
// The RSA modulus of an X.509 certificate, for matching a certificate to its key pair on the token.

#include <p11-kit/pkcs11.h>

#include <cstddef>

namespace keycore {

// Parses the DER certificate and stores the big-endian modulus of its RSA public key in output, its
// length in *outputLength. With a null output only the length is stored. Returns CKR_OK;
// CKR_ARGUMENTS_BAD for a null certificate, a zero length or a null outputLength;
// CKR_TEMPLATE_INCONSISTENT when the certificate does not parse or its key is not RSA;
// CKR_BUFFER_TOO_SMALL when *outputLength is below the modulus length (*outputLength is then unchanged).
CK_RV CertificateModulus(const unsigned char* certificate, size_t certificateLength, unsigned char* output,
                         size_t* outputLength);

} // namespace keycore
