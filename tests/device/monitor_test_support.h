#pragma once
// Pieces of the monitor tests: a callback that records events (and, like the slot manager, keeps the
// shared slot table), and a monitor helper running as a real second process.

#include "device/kv_slot_event.h"
#include "runtime/share_memory.h"

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace keycore::test {

class EventRecorder {
public:
    static CK_RV Callback(void* pContext, KV_SLOT_EVENT& event);

    // Keeps the shared slot table from now on, as the slot manager does in the scanning process.
    void KeepSharedTable();

    // Waits until at least count events have come; returns what has come by then.
    std::vector<KV_SLOT_EVENT> WaitFor(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10));
    std::vector<KV_SLOT_EVENT> Events();

private:
    void RecordInTable(const KV_SLOT_EVENT& event);

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<KV_SLOT_EVENT> m_events;
    CShareMemory m_table;
};

// build/tests/device_monitor_helper with a pipe on its stdin and one on its stdout.
class MonitorProcess {
public:
    MonitorProcess();
    MonitorProcess(const MonitorProcess&) = delete;
    MonitorProcess& operator=(const MonitorProcess&) = delete;
    ~MonitorProcess();

    bool Started() const { return m_pid > 0; }
    // Next output line, or "" when none came within the limit.
    std::string ReadLine(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Closes its stdin (the helper stops its monitor and ends) and returns its exit status.
    int Finish();
    void Kill();

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_buffer;
};

} // namespace keycore::test
