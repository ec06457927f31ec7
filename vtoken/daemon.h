#pragma once
// `vtoken serve`: listens on a Unix socket and serves every client (libvtoken-usb.so in each
// process, one connection per process and per open handle, and the control tool) on a thread of
// its own. Ends on `vtoken stop`, SIGTERM or SIGINT, removing its socket.

#include <string>

#include "vtoken/token_registry.h"

namespace vtoken {

struct DaemonOptions {
    std::string stateDir;
    std::string socketPath;
    AppletFactory factory;
};

// Runs until stopped. Returns the process exit status; prints why it could not start.
int RunDaemon(const DaemonOptions& options);

} // namespace vtoken
