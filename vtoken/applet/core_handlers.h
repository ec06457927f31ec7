#pragma once
// The families of core commands, each registered from its own file.

#include "vtoken/applet/handler_table.h"

namespace vtoken {

void RegisterDeviceHandlers(HandlerTable& table);       // label, device info, device key, access code, random
void RegisterPinHandlers(HandlerTable& table);          // PIN info, verify, change, unblock, security state
void RegisterApplicationHandlers(HandlerTable& table);  // create, enumerate, delete, open, close
void RegisterFileHandlers(HandlerTable& table);         // both file spaces
void RegisterContainerHandlers(HandlerTable& table);    // containers, their type and info, certificates

} // namespace vtoken
