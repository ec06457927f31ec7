#include "crypto/sm2_curve.h"

namespace {

// GM/T 0003 recommended parameters; a = p - 3.
constexpr const char* kP = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF";
constexpr const char* kB = "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93";
constexpr const char* kN = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";
constexpr const char* kGx = "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7";
constexpr const char* kGy = "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0";

int LoadSm2Group(mbedtls_ecp_group* grp) {
    mbedtls_ecp_group_free(grp);
    mbedtls_ecp_group_init(grp);
    int rc = 0;
    if ((rc = mbedtls_mpi_read_string(&grp->P, 16, kP)) != 0 || (rc = mbedtls_mpi_read_string(&grp->B, 16, kB)) != 0 ||
        (rc = mbedtls_mpi_read_string(&grp->N, 16, kN)) != 0 ||
        (rc = mbedtls_mpi_read_string(&grp->G.X, 16, kGx)) != 0 ||
        (rc = mbedtls_mpi_read_string(&grp->G.Y, 16, kGy)) != 0 || (rc = mbedtls_mpi_lset(&grp->G.Z, 1)) != 0) {
        mbedtls_ecp_group_free(grp);
        mbedtls_ecp_group_init(grp);
        return rc;
    }
    // A stays unset, which mbed TLS reads as a = -3. Both bit sizes must be right: with nbits 0
    // scalar multiplication "succeeds" with a wrong point. id stays NONE and h 0 (h is mbed TLS's
    // "constants are static" flag, not the cofactor: 1 would leak the group on free).
    grp->pbits = mbedtls_mpi_bitlen(&grp->P);
    grp->nbits = mbedtls_mpi_bitlen(&grp->N);
    return 0;
}

} // namespace

int keycore_ecp_group_load(mbedtls_ecp_group* grp, int id) {
    if (grp == nullptr)
        return MBEDTLS_ERR_ECP_BAD_INPUT_DATA;
    if (id == SM2_CURVE_ID)
        return LoadSm2Group(grp);
    return mbedtls_ecp_group_load(grp, static_cast<mbedtls_ecp_group_id>(id));
}
