#include "vtoken/applet/handler_table.h"

namespace vtoken {

void RegisterCoreHandlers(HandlerTable&) {}

} // namespace vtoken
