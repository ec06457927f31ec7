#include "manager/monitor_thread.h"

#include "manager/dev_mgr.h"

#include <cstring>

namespace {
constexpr unsigned kNameBufferSize = 1024;
constexpr unsigned kEventArrived = 1;
// A wait that fails at once (a cancelled or broken library) would otherwise spin a core for good.
constexpr unsigned long kRetryPauseMs = 50;
} // namespace

cMonitor::cMonitor(QObject* parent) : QThread(parent) {}

void cMonitor::run() {
    cDevMgr* devMgr = cDevMgr::getInst();
    if (devMgr->Initialize() != 0)
        return;

    // Tokens attached before the program started produce no arrival event of their own.
    char names[kNameBufferSize] = {};
    unsigned length = sizeof names;
    if (devMgr->EnumDev(0, names, &length) == 0 && length > 2) {
        names[sizeof names - 1] = '\0';
        devMgr->SetEvent(kEventArrived);
        devMgr->SetDevName(names);
        emit notifyTokenEvent();
    }

    while (!isInterruptionRequested()) {
        std::memset(names, 0, sizeof names);
        length = sizeof names;
        unsigned event = 0;
        if (devMgr->WaitForDevEvent(names, &length, &event) != 0) {
            msleep(kRetryPauseMs);
            continue;
        }
        names[sizeof names - 1] = '\0';
        devMgr->SetEvent(event);
        if (event == kEventArrived)
            devMgr->SetDevName(names);
        emit notifyTokenEvent();
    }
}
