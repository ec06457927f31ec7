#pragma once
// Certificates made on the spot with OpenSSL, an implementation independent of the one under test.

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

namespace keycore::testing {

struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

struct TestCertificate {
    std::vector<unsigned char> der;
    std::string pem;
};

inline PkeyPtr MakeRsaKey(unsigned bits) {
    return PkeyPtr(EVP_RSA_gen(bits));
}

inline PkeyPtr MakeEcKey() {
    return PkeyPtr(EVP_EC_gen("prime256v1"));
}

// Big-endian RSA modulus of key as OpenSSL sees it.
inline std::vector<unsigned char> RsaModulus(EVP_PKEY* key) {
    BIGNUM* n = nullptr;
    std::vector<unsigned char> out;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1) {
        out.resize(static_cast<size_t>(BN_num_bytes(n)));
        BN_bn2bin(n, out.data());
    }
    BN_free(n);
    return out;
}

// A self-signed certificate for key, in DER and in PEM; both empty if OpenSSL fails.
inline TestCertificate MakeSelfSignedCertificate(EVP_PKEY* key) {
    TestCertificate result;
    X509* x509 = X509_new();
    X509_set_version(x509, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x509), 4711);
    X509_gmtime_adj(X509_getm_notBefore(x509), 0);
    X509_gmtime_adj(X509_getm_notAfter(x509), 3600);
    X509_set_pubkey(x509, key);
    X509_NAME* name = X509_get_subject_name(x509);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("util test"), -1, -1,
                               0);
    X509_set_issuer_name(x509, name);
    if (X509_sign(x509, key, EVP_sha256()) > 0) {
        unsigned char* der = nullptr;
        int derLength = i2d_X509(x509, &der);
        if (derLength > 0)
            result.der.assign(der, der + derLength);
        OPENSSL_free(der);

        BIO* bio = BIO_new(BIO_s_mem());
        if (PEM_write_bio_X509(bio, x509) == 1) {
            char* data = nullptr;
            long length = BIO_get_mem_data(bio, &data);
            result.pem.assign(data, static_cast<size_t>(length));
        }
        BIO_free(bio);
    }
    X509_free(x509);
    return result;
}

} // namespace keycore::testing
