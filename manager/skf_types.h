#pragma once
// The SKF structures and codes keydesk passes to the library it loads at run time. The layouts are
// those of the public header; only the functions are reached through CGMSKFOperator, never linked.

#include "keycore/skf.h"

#include <cstdint>

// The structures under the names the manager uses. Struct_DEVINFO, Struct_FILEATTRIBUTE,
// Struct_ECCPUBLICKEYBLOB, Struct_ECCPRIVATEKEYBLOB, Struct_ECCCIPHERBLOB, Struct_ECCSIGNATUREBLOB,
// SKF_ENVELOPEDKEYBLOB and Struct_BLOCKCIPHERPARAM are the header's own structure tags.

// Container types of SKF_GetContainerType.
enum : ULONG {
    kContainerEmpty = 0,
    kContainerRsa = 1,
    kContainerEcc = 2,
};

// The manager's record of one container on the certificate page.
struct Struct_ContainerInfo {
    ULONG ulContainerType = kContainerEmpty; // kContainerEmpty, kContainerRsa or kContainerEcc
};

// What a forwarding method answers when its function is not bound (0xFFFFFFFF).
constexpr ULONG kSkfNotBound = static_cast<ULONG>(-1);
