#include "device/mechanism_table.h"

namespace keycore {

namespace {

constexpr CK_FLAGS kRsaAll = CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_SIGN_RECOVER | CKF_VERIFY |
                             CKF_VERIFY_RECOVER | CKF_WRAP | CKF_UNWRAP;
constexpr CK_FLAGS kSignVerify = CKF_SIGN | CKF_VERIFY;
constexpr CK_FLAGS kHwSignVerify = CKF_HW | CKF_SIGN | CKF_VERIFY;
constexpr CK_FLAGS kCrypt = CKF_ENCRYPT | CKF_DECRYPT;
constexpr CK_FLAGS kCryptWrap = CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP;

const MechanismRow kRows[] = {
    {CKM_RSA_PKCS_KEY_PAIR_GEN, {512, 2048, CKF_HW | CKF_GENERATE_KEY_PAIR}},
    {CKM_RSA_PKCS, {512, 2048, kRsaAll}},
    {CKM_RSA_X_509, {512, 2048, kRsaAll}},
    {CKM_MD2_RSA_PKCS, {512, 2048, kHwSignVerify}},
    {CKM_MD5_RSA_PKCS, {512, 2048, kHwSignVerify}},
    {CKM_SHA1_RSA_PKCS, {512, 2048, kHwSignVerify}},
    {CKM_RSA_PKCS_OAEP, {1024, 2048, kCrypt}},
    {CKM_RSA_X9_31_KEY_PAIR_GEN, {512, 2048, CKF_HW | CKF_GENERATE_KEY_PAIR}},
    {CKM_RSA_X9_31, {1024, 2048, kSignVerify}},
    {CKM_SHA1_RSA_X9_31, {1024, 2048, kSignVerify}},
    {CKM_RSA_PKCS_PSS, {1024, 2048, kSignVerify}},
    {CKM_SHA1_RSA_PKCS_PSS, {1024, 2048, kSignVerify}},
    {CKM_SHA256_RSA_PKCS, {512, 2048, kHwSignVerify}},
    {CKM_SHA384_RSA_PKCS, {512, 2048, kHwSignVerify}},
    {CKM_SHA512_RSA_PKCS, {1024, 2048, kHwSignVerify}},
    {CKM_SHA256_RSA_PKCS_PSS, {1024, 2048, kSignVerify}},
    {CKM_SHA384_RSA_PKCS_PSS, {1024, 2048, kSignVerify}},
    {CKM_SHA512_RSA_PKCS_PSS, {1024, 2048, kSignVerify}},
    {CKM_RC2_KEY_GEN, {8, 1024, CKF_GENERATE}},
    {CKM_RC2_ECB, {8, 1024, kCryptWrap}},
    {CKM_RC2_CBC, {8, 1024, kCryptWrap}},
    {CKM_RC4_KEY_GEN, {8, 2048, CKF_GENERATE}},
    {CKM_RC4, {8, 2048, kCrypt}},
    {CKM_DES_KEY_GEN, {56, 56, CKF_GENERATE}},
    {CKM_DES_ECB, {8, 8, kCryptWrap}},
    {CKM_DES_CBC, {8, 8, kCryptWrap}},
    {CKM_DES3_KEY_GEN, {112, 112, CKF_GENERATE}},
    {CKM_DES3_ECB, {24, 24, kCryptWrap}},
    {CKM_DES3_CBC, {24, 24, kCryptWrap}},
    {CKM_DES_OFB64, {8, 24, kCrypt}},
    {CKM_DES_OFB8, {8, 24, kCrypt}},
    {CKM_DES_CFB64, {8, 24, kCrypt}},
    {CKM_DES_CFB8, {8, 24, kCrypt}},
    {CKM_MD2, {0, 0, CKF_DIGEST}},
    {CKM_MD5, {0, 0, CKF_DIGEST}},
    {CKM_SHA_1, {0, 0, CKF_DIGEST}},
    {CKM_SHA256, {0, 0, CKF_DIGEST}},
    {CKM_SHA224, {0, 0, CKF_DIGEST}},
    {CKM_SHA384, {0, 0, CKF_DIGEST}},
    {CKM_SHA512, {0, 0, CKF_DIGEST}},
    {CKM_GENERIC_SECRET_KEY_GEN, {8, 2048, CKF_GENERATE}},
    {CKM_AES_KEY_GEN, {16, 32, CKF_GENERATE}},
    {CKM_AES_ECB, {16, 32, kCryptWrap}},
    {CKM_AES_CBC, {16, 32, kCryptWrap}},
};

} // namespace

const MechanismRow* TokenMechanismRows(size_t* count) {
    if (count != nullptr)
        *count = sizeof kRows / sizeof kRows[0];
    return kRows;
}

} // namespace keycore
