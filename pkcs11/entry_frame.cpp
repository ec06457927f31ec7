#include "pkcs11/entry_frame.h"

#include "pkcs11/p11_env.h"

namespace keycore {

CK_RV CheckInitialized() {
    return KVCSP11Env::Instance()->Env().IsInitialized() ? CKR_OK : CKR_CRYPTOKI_NOT_INITIALIZED;
}

} // namespace keycore
