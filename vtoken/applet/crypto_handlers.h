#pragma once
// The crypto command families, each registered by its own file into the token's handler table.

#include "vtoken/applet/handler_table.h"

namespace vtoken::crypto {

inline constexpr uint8_t kCla = 0x80;

void RegisterEccHandlers(HandlerTable& table);
void RegisterAgreementHandlers(HandlerTable& table);
void RegisterRsaHandlers(HandlerTable& table);
void RegisterRsaExternalHandlers(HandlerTable& table);
void RegisterKeyImportHandlers(HandlerTable& table);
void RegisterSessionKeyHandlers(HandlerTable& table);
void RegisterCipherHandlers(HandlerTable& table);
void RegisterDigestHandlers(HandlerTable& table);
void RegisterMacHandlers(HandlerTable& table);

} // namespace vtoken::crypto
