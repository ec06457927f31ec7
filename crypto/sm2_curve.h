#pragma once
// The SM2 recommended 256-bit curve (GM/T 0003) as an extra entry beside mbed TLS's built-in
// curves. mbed TLS knows no identifier for it, so the group is built from its parameters.

#include <mbedtls/ecp.h>

// Identifier of the SM2 curve in this library's curve table; the built-in mbed TLS identifiers
// stop well below it.
constexpr int SM2_CURVE_ID = 16;

// Loads curve `id` into grp (initialised by the caller, freed with mbedtls_ecp_group_free):
// SM2_CURVE_ID builds the SM2 group, any other value is handed to mbedtls_ecp_group_load.
// Returns 0 or an mbed TLS error code.
int keycore_ecp_group_load(mbedtls_ecp_group* grp, int id);
