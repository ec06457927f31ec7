#include "vtoken/applet/handler_table.h"

namespace vtoken {

void RegisterCryptoHandlers(HandlerTable&) {}

} // namespace vtoken
