#include "vtoken/applet/crypto_handlers.h"

namespace vtoken {

void RegisterCryptoHandlers(HandlerTable& table) {
    crypto::RegisterEccHandlers(table);
    crypto::RegisterAgreementHandlers(table);
    crypto::RegisterRsaHandlers(table);
    crypto::RegisterRsaExternalHandlers(table);
    crypto::RegisterKeyImportHandlers(table);
    crypto::RegisterSessionKeyHandlers(table);
    crypto::RegisterCipherHandlers(table);
    crypto::RegisterDigestHandlers(table);
    crypto::RegisterMacHandlers(table);
}

} // namespace vtoken
