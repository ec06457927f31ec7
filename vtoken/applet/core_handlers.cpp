#include "vtoken/applet/core_handlers.h"

namespace vtoken {

void RegisterCoreHandlers(HandlerTable& table) {
    RegisterDeviceHandlers(table);
    RegisterPinHandlers(table);
    RegisterApplicationHandlers(table);
    RegisterFileHandlers(table);
    RegisterContainerHandlers(table);
}

} // namespace vtoken
