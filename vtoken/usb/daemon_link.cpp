#include "vtoken/usb/daemon_link.h"

#include <cstdlib>
#include <unistd.h>

namespace vtoken::usb {

std::string SocketPath() {
    const char* path = std::getenv("VTOKEN_SOCKET");
    return path ? path : "";
}

bool DaemonConnection::Connect() {
    Close();
    const std::string path = SocketPath();
    if (path.empty())
        return false;
    m_fd = wire::ConnectTo(path);
    m_pid = ::getpid();
    m_reader.Reset();
    return m_fd >= 0;
}

bool DaemonConnection::Connected() const {
    return m_fd >= 0 && m_pid == ::getpid();
}

void DaemonConnection::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool DaemonConnection::Call() {
    // After fork the child makes its own stream; after a broken one the connection stays closed,
    // so a handle never reaches a restarted daemon whose ids mean other tokens.
    if (m_fd >= 0 && m_pid != ::getpid() && !Connect())
        return false;
    if (m_fd < 0)
        return false;
    const std::vector<uint8_t>& request = m_request.Finish();
    if (!wire::SendAll(m_fd, request.data(), request.size()) || !m_reader.Next(m_fd, &m_answer)) {
        Close();
        return false;
    }
    return true;
}

bool ListDevices(std::vector<DeviceEntry>* devices, uint32_t* instance) {
    // The list connection survives between scans (the monitor scans every few milliseconds) and
    // is made again after a daemon restart.
    static std::mutex mutex;
    static DaemonConnection connection;
    std::lock_guard<std::mutex> lock(mutex);
    devices->clear();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connection.Connected() && !connection.Connect())
            return false;
        connection.Request().Reset();
        connection.Request().U8(static_cast<uint8_t>(wire::Op::kListDevices));
        if (connection.Call())
            break;
        if (attempt == 1)
            return false;
    }
    wire::Reader reader(connection.Answer());
    const int32_t count = reader.I32();
    *instance = reader.U32();
    for (int32_t i = 0; i < count && reader.Ok(); ++i) {
        DeviceEntry entry;
        entry.id = reader.U32();
        entry.bus = reader.U8();
        entry.devnum = reader.U8();
        entry.kind = static_cast<wire::TokenKind>(reader.U8());
        entry.large = reader.U8() != 0;
        entry.serial = reader.Str();
        entry.vendor = static_cast<uint16_t>(reader.U32());
        entry.product = static_cast<uint16_t>(reader.U32());
        if (reader.Ok())
            devices->push_back(entry);
    }
    if (!reader.Ok()) {
        devices->clear();
        return false;
    }
    return true;
}

} // namespace vtoken::usb
