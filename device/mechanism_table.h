#pragma once
// The mechanisms every token of the family reports, with their key sizes and flags.

#include <p11-kit/pkcs11.h>

#include <cstddef>

namespace keycore {

struct MechanismRow {
    CK_MECHANISM_TYPE type;
    CK_MECHANISM_INFO info;
};

// The rows in ascending mechanism order.
const MechanismRow* TokenMechanismRows(size_t* count);

} // namespace keycore
