#pragma once
// The usb layer's connections to the vtoken daemon named by VTOKEN_SOCKET. The bus list is read
// over one shared connection per process; every open handle has a connection of its own, so the
// transfers of different handles never wait for each other here (the daemon serialises per token).

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "vtoken/wire_protocol.h"

namespace vtoken::usb {

struct DeviceEntry {
    uint32_t id = 0;
    uint8_t bus = 0;
    uint8_t devnum = 0;
    wire::TokenKind kind = wire::TokenKind::kBulkOnly;
    bool large = false;
    std::string serial;
    uint16_t vendor = 0;    // 0: the family's own
    uint16_t product = 0;   // 0: the family's own for the kind
};

// The daemon's socket path, or empty when VTOKEN_SOCKET is not set.
std::string SocketPath();

// Reads the device list and the daemon's instance number (a new one at each daemon start, so that
// ids of a restarted daemon are never taken for old ones). Returns false (and an empty list) when
// no daemon answers.
bool ListDevices(std::vector<DeviceEntry>* devices, uint32_t* instance);

// One request/answer connection. Not thread-safe by itself: the owner serialises its use.
class DaemonConnection {
public:
    DaemonConnection() = default;
    ~DaemonConnection() { Close(); }
    DaemonConnection(const DaemonConnection&) = delete;
    DaemonConnection& operator=(const DaemonConnection&) = delete;

    bool Connect();
    void Close();
    // False also in a child process after fork: the parent's stream must not be shared.
    bool Connected() const;
    // Sends the request built in Request(); on success the answer body is in Answer().
    // A broken connection is closed and reported as false.
    bool Call();

    wire::Writer& Request() { return m_request; }
    const std::vector<uint8_t>& Answer() const { return m_answer; }

private:
    int m_fd = -1;
    int m_pid = 0;
    // Without spinning: measured on a loaded two-core machine, polling for the answer doubled the
    // round trip, as client and daemon fought over the cores.
    wire::MessageReader m_reader;
    wire::Writer m_request;
    std::vector<uint8_t> m_answer;
};

} // namespace vtoken::usb
