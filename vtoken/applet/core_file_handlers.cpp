#include "vtoken/applet/core_handlers.h"

namespace vtoken {

void RegisterFileHandlers(HandlerTable&) {}

} // namespace vtoken
