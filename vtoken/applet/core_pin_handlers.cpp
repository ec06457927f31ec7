#include "vtoken/applet/core_handlers.h"

namespace vtoken {

void RegisterPinHandlers(HandlerTable&) {}

} // namespace vtoken
