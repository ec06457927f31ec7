#include "monitor_test_support.h"

#include "pkcs11/shared_slot_table.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace keycore::test {

CK_RV EventRecorder::Callback(void* pContext, KV_SLOT_EVENT& event) {
    auto* self = static_cast<EventRecorder*>(pContext);
    std::lock_guard<std::mutex> lock(self->m_lock);
    self->RecordInTable(event);
    self->m_events.push_back(event);
    self->m_changed.notify_all();
    return CKR_OK;
}

void EventRecorder::KeepSharedTable() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_table.Create(slot_table::TableName(), slot_table::kTableSize, false, nullptr);
}

void EventRecorder::RecordInTable(const KV_SLOT_EVENT& event) {
    if (!m_table.IsAttached())
        return;
    CShareMemoryHolder hold(m_table);
    auto* data = static_cast<uint8_t*>(m_table.Data());
    slot_table::Record record;
    for (const slot_table::Record& r : slot_table::ReadRecords(data, m_table.DataSize()))
        if (r.slotId == event.slotId)
            record = r;
    record.slotId = event.slotId;
    record.deviceType = event.ulValue;
    if (event.ulEvent == kSlotEventArrival) {
        record.present = true;
        record.devicePath = event.devicePath;
        record.deviceName = event.deviceName;
    } else {
        record.present = false;
        record.devicePath.clear();
        record.deviceName.clear();
    }
    if (slot_table::WriteRecord(data, m_table.DataSize(), record) &&
        slot_table::ReadCount(data, m_table.DataSize()) < event.slotId)
        slot_table::WriteCount(data, m_table.DataSize(), event.slotId);
    m_table.BumpCounter();
}

std::vector<KV_SLOT_EVENT> EventRecorder::WaitFor(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait_for(lock, limit, [&] { return m_events.size() >= count; });
    return m_events;
}

std::vector<KV_SLOT_EVENT> EventRecorder::Events() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events;
}

MonitorProcess::MonitorProcess() {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        return;
    const char* build = std::getenv("KEYCORE_BUILD_DIR");
    const std::string helper = std::string(build ? build : "build") + "/tests/device_monitor_helper";
    m_pid = fork();
    if (m_pid == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        execl(helper.c_str(), "device_monitor_helper", nullptr);
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    m_in = toChild[1];
    m_out = fromChild[0];
}

MonitorProcess::~MonitorProcess() {
    Kill();
    if (m_in >= 0)
        close(m_in);
    if (m_out >= 0)
        close(m_out);
}

std::string MonitorProcess::ReadLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const size_t newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_out < 0)
            return std::string();
        pollfd fd{m_out, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char chunk[512];
        const ssize_t got = read(m_out, chunk, sizeof chunk);
        if (got <= 0)
            return std::string();
        m_buffer.append(chunk, static_cast<size_t>(got));
    }
}

int MonitorProcess::Finish() {
    if (m_in >= 0) {
        close(m_in);
        m_in = -1;
    }
    int status = -1;
    if (m_pid > 0 && waitpid(m_pid, &status, 0) == m_pid)
        m_pid = -1;
    return status;
}

void MonitorProcess::Kill() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

} // namespace keycore::test
