#include "vtoken/applet/core_handlers.h"

namespace vtoken {

void RegisterContainerHandlers(HandlerTable&) {}

} // namespace vtoken
