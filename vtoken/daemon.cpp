#include "vtoken/daemon.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "vtoken/wire_protocol.h"

namespace vtoken {

namespace {

int g_stopPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 's';
    [[maybe_unused]] ssize_t ignored = ::write(g_stopPipe[1], &byte, 1);
}

std::string KindName(const DeviceIdentity& identity) {
    if (identity.kind == wire::TokenKind::kHid)
        return identity.large ? "hid-large" : "hid";
    return "bot";
}

class Server {
public:
    explicit Server(const DaemonOptions& options)
        : m_registry(options.stateDir, options.factory), m_instance(std::random_device()()) {}

    void Serve(int listenFd);

private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void ServeConnection(Connection* connection);
    // Fills `answer` for one request; returns false when the request asks the daemon to stop.
    bool Handle(wire::Reader& request, wire::Writer& answer);
    void HandleTransfer(wire::Reader& request, wire::Writer& answer);
    void HandlePlug(wire::Reader& request, wire::Writer& answer);
    void ListDevices(wire::Writer& answer);
    std::string ListTokens();
    void ReapFinished();

    TokenRegistry m_registry;
    const uint32_t m_instance;
    std::mutex m_connectionsMutex;
    std::list<Connection> m_connections;
};

void Server::ListDevices(wire::Writer& answer) {
    const auto devices = m_registry.Present();
    answer.I32(static_cast<int32_t>(devices.size())).U32(m_instance);
    for (const auto& device : devices) {
        const DeviceIdentity& identity = device->Identity();
        answer.U32(identity.id).U8(identity.bus).U8(identity.devnum).U8(static_cast<uint8_t>(identity.kind));
        answer.U8(identity.large ? 1 : 0).Str(identity.serial).U32(identity.vendor).U32(identity.product);
    }
}

std::string Server::ListTokens() {
    std::string text;
    for (const auto& device : m_registry.Present()) {
        const DeviceIdentity& identity = device->Identity();
        char line[160];
        std::snprintf(line, sizeof line, "%u %s %s %s", identity.id, KindName(identity).c_str(),
                      identity.Path().c_str(), identity.serial.c_str());
        text += line;
        const std::string faults = device->ArmedFaults();
        if (!faults.empty())
            text += " faults: " + faults;
        text += '\n';
    }
    return text;
}

void Server::HandleTransfer(wire::Reader& request, wire::Writer& answer) {
    const uint32_t id = request.U32();
    const auto type = static_cast<wire::TransferType>(request.U8());
    const uint8_t endpoint = request.U8();
    const uint32_t size = request.U32();
    const size_t dataLength = request.Remaining();
    const uint8_t* data = request.Bytes(dataLength);
    if (!request.Ok() || (type != wire::TransferType::kBulk && type != wire::TransferType::kInterrupt)) {
        answer.I32(-EINVAL);
        return;
    }
    std::shared_ptr<VirtualDevice> device = m_registry.Find(id);
    if (!device) {
        answer.I32(-ENODEV);
        return;
    }
    if ((endpoint & 0x80) == 0) {
        answer.I32(device->Write(type, endpoint, data, dataLength));
        return;
    }
    thread_local std::vector<uint8_t> in;   // one per connection thread: no allocation per read
    const int result = device->Read(type, endpoint, size, &in);
    answer.I32(result);
    if (result > 0)
        answer.Bytes(in.data(), in.size());
}

void Server::HandlePlug(wire::Reader& request, wire::Writer& answer) {
    PlugRequest plug;
    const uint8_t kind = request.U8();
    plug.kind = static_cast<wire::TokenKind>(kind);
    plug.large = request.U8() != 0;
    plug.blank = request.U8() != 0;
    plug.bus = request.U8();
    plug.label = request.Str();
    plug.serial = request.Str();
    if (request.Remaining() > 0) {
        const uint32_t vendor = request.U32();
        const uint32_t product = request.U32();
        if (vendor > 0xFFFF || product > 0xFFFF) {
            answer.I32(-EINVAL).Str("USB ids are 16-bit");
            return;
        }
        plug.vendor = static_cast<uint16_t>(vendor);
        plug.product = static_cast<uint16_t>(product);
    }
    if (!request.Ok() || kind > 1) {
        answer.I32(-EINVAL).Str("malformed plug request");
        return;
    }
    std::string error;
    std::shared_ptr<VirtualDevice> device = m_registry.Plug(plug, &error);
    if (!device) {
        answer.I32(-EINVAL).Str(error);
        return;
    }
    const DeviceIdentity& identity = device->Identity();
    answer.I32(0).Str(std::to_string(identity.id) + " " + identity.Path() + " " + identity.serial);
}

bool Server::Handle(wire::Reader& request, wire::Writer& answer) {
    const auto op = static_cast<wire::Op>(request.U8());
    switch (op) {
    case wire::Op::kTransfer:
        HandleTransfer(request, answer);
        return true;
    case wire::Op::kListDevices:
        ListDevices(answer);
        return true;
    case wire::Op::kOpen: {
        const uint32_t id = request.U32();
        std::shared_ptr<VirtualDevice> device = request.Ok() ? m_registry.Find(id) : nullptr;
        answer.I32(device ? device->Open() : -ENODEV);
        return true;
    }
    case wire::Op::kClearHalt: {
        const uint32_t id = request.U32();
        const uint8_t endpoint = request.U8();
        std::shared_ptr<VirtualDevice> device = request.Ok() ? m_registry.Find(id) : nullptr;
        // Endpoint 0 stands for the whole device: a port reset.
        answer.I32(!device ? -ENODEV : endpoint == 0 ? device->ResetPort() : device->ClearHalt(endpoint));
        return true;
    }
    case wire::Op::kPlug:
        HandlePlug(request, answer);
        return true;
    case wire::Op::kUnplug: {
        const std::string key = request.Str();
        const bool done = request.Ok() && m_registry.Unplug(key);
        answer.I32(done ? 0 : -ENODEV).Str(done ? "" : "no token " + key + " is plugged in");
        return true;
    }
    case wire::Op::kListTokens:
        answer.I32(0).Str(ListTokens());
        return true;
    case wire::Op::kFault: {
        const std::string key = request.Str();
        std::vector<std::string> rules;
        while (request.Ok() && request.Remaining() > 0)
            rules.push_back(request.Str());
        std::shared_ptr<VirtualDevice> device = request.Ok() ? m_registry.Find(key) : nullptr;
        std::string error;
        if (!device)
            answer.I32(-ENODEV).Str("no token " + key + " is plugged in");
        else if (!device->ArmFaults(rules, &error))
            answer.I32(-EINVAL).Str(error);
        else
            answer.I32(0).Str(device->ArmedFaults());
        return true;
    }
    case wire::Op::kTrace: {
        const std::string key = request.Str();
        const bool clear = request.U8() != 0;
        const uint8_t frames = request.Remaining() > 0 ? request.U8() : 0;
        std::shared_ptr<VirtualDevice> device = request.Ok() ? m_registry.Find(key) : nullptr;
        if (!device) {
            answer.I32(-ENODEV).Str("no token " + key + " is plugged in");
        } else if (frames > 2) {
            answer.I32(-EINVAL).Str("malformed trace request");
        } else {
            if (frames != 0)
                device->SetTraceFrames(frames == 1);
            answer.I32(0).Str(device->Trace(clear));
        }
        return true;
    }
    case wire::Op::kStop:
        answer.I32(0);
        return false;
    }
    answer.I32(-EINVAL).Str("unknown request");
    return true;
}

void Server::ServeConnection(Connection* connection) {
    std::vector<uint8_t> body;
    wire::Writer answer;
    // No spinning here: on a busy machine a spinning daemon thread takes the core its client needs.
    wire::MessageReader reader;
    while (reader.Next(connection->fd, &body)) {
        wire::Reader request(body);
        answer.Reset();
        const bool keepRunning = Handle(request, answer);
        const std::vector<uint8_t>& bytes = answer.Finish();
        if (!wire::SendAll(connection->fd, bytes.data(), bytes.size()))
            break;
        if (!keepRunning)
            OnSignal(0);
    }
    connection->done = true;
}

void Server::ReapFinished() {
    std::lock_guard<std::mutex> lock(m_connectionsMutex);
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (!it->done) {
            ++it;
            continue;
        }
        it->thread.join();
        ::close(it->fd);
        it = m_connections.erase(it);
    }
}

void Server::Serve(int listenFd) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {g_stopPipe[0], POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents != 0)
            break;
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ReapFinished();
        std::lock_guard<std::mutex> lock(m_connectionsMutex);
        Connection& connection = m_connections.emplace_back();
        connection.fd = fd;
        connection.thread = std::thread(&Server::ServeConnection, this, &connection);
    }
    // Stop: wake every connection thread out of its read, then wait for all of them.
    {
        std::lock_guard<std::mutex> lock(m_connectionsMutex);
        for (Connection& connection : m_connections)
            ::shutdown(connection.fd, SHUT_RDWR);
    }
    for (Connection& connection : m_connections) {
        connection.thread.join();
        ::close(connection.fd);
    }
    m_connections.clear();
    m_registry.UnplugAll();
}

// Binds the socket, refusing to take over one that a running daemon answers on.
int Listen(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        std::fprintf(stderr, "vtoken: socket path too long: %s\n", path.c_str());
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int probe = wire::ConnectTo(path);
    if (probe >= 0) {
        ::close(probe);
        std::fprintf(stderr, "vtoken: a daemon is already serving %s\n", path.c_str());
        return -1;
    }
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0) {
        std::fprintf(stderr, "vtoken: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int RunDaemon(const DaemonOptions& options) {
    if (::mkdir(options.stateDir.c_str(), 0700) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "vtoken: cannot create state directory %s: %s\n", options.stateDir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    if (::pipe2(g_stopPipe, O_CLOEXEC) != 0) {
        std::perror("vtoken: pipe");
        return 1;
    }
    const int listenFd = Listen(options.socketPath);
    if (listenFd < 0)
        return 1;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Server server(options);
    server.Serve(listenFd);
    ::close(listenFd);
    ::unlink(options.socketPath.c_str());
    return 0;
}

} // namespace vtoken
