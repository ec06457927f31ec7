#include "vtoken/applet/core_handlers.h"

namespace vtoken {

void RegisterApplicationHandlers(HandlerTable&) {}

} // namespace vtoken
