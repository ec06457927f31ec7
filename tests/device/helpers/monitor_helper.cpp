// One device monitor in a process of its own, driven by the cross-process monitor tests.
// stdout: "STARTED <rc>" once Start returns, "EVENT <code> <slot> <type> <path>" for every callback,
// "STOPPED" after Stop. stdin: end of input stops the monitor and ends the process.

#include "device/unix_dev_chg_mon.h"

#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {

std::mutex g_outputLock;

void Say(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_outputLock);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

CK_RV OnEvent(void*, keycore::KV_SLOT_EVENT& event) {
    Say("EVENT " + std::to_string(event.ulEvent) + " " + std::to_string(event.slotId) + " " +
        std::to_string(event.ulValue) + " " + event.devicePath);
    return CKR_OK;
}

} // namespace

int main() {
    keycore::CUnixDevChgMon monitor;
    if (monitor.Init(&OnEvent, nullptr) != CKR_OK) {
        Say("INIT FAILED");
        return 1;
    }
    Say("STARTED " + std::to_string(monitor.Start()));
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    monitor.Stop();
    Say("STOPPED");
    return 0;
}
