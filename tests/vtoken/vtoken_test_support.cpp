#include "vtoken_test_support.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "vtoken/wire_protocol.h"

namespace vtoken::test {

Bytes FromHex(const std::string& hex) {
    Bytes out;
    int high = -1;
    for (char c : hex) {
        if (c == ' ')
            continue;
        const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c - 'A' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

std::string Hex(const Bytes& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        s += kHex[b >> 4];
        s += kHex[b & 15];
    }
    return s;
}

std::string BuildDir() {
    const char* dir = std::getenv("KEYCORE_BUILD_DIR");
    return dir ? dir : "build";
}

namespace {

ToolResult Run(const std::vector<std::string>& argv) {
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    ToolResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace

ToolResult RunTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{BuildDir() + "/bin/vtoken"};
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv);
}

ToolResult RunShell(const std::string& command) { return Run({"/bin/sh", "-c", command}); }

void VtokenTest::SetUp() {
    char pattern[] = "/tmp/vtoken-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_dir = pattern;
    m_socket = m_dir + "/vtoken.sock";
    m_state = m_dir + "/state";
    setenv("VTOKEN_SOCKET", m_socket.c_str(), 1);
    StartDaemon();
}

void VtokenTest::TearDown() {
    StopDaemon();
    RunShell("rm -rf '" + m_dir + "'");
}

void VtokenTest::StartDaemon() {
    const std::string tool = BuildDir() + "/bin/vtoken";
    m_daemon = fork();
    if (m_daemon == 0) {
        if (UseEchoApplet())
            execl(tool.c_str(), "vtoken", "serve", "--state", m_state.c_str(), "--socket", m_socket.c_str(),
                  "--applet", "echo", nullptr);
        else
            execl(tool.c_str(), "vtoken", "serve", "--state", m_state.c_str(), "--socket", m_socket.c_str(),
                  nullptr);
        _exit(127);
    }
    for (int i = 0; i < 1000; ++i) {
        const int fd = wire::ConnectTo(m_socket);
        if (fd >= 0) {
            close(fd);
            return;
        }
        int status = 0;
        ASSERT_EQ(waitpid(m_daemon, &status, WNOHANG), 0) << "the daemon ended at start";
        usleep(5000);
    }
    FAIL() << "the daemon did not start";
}

void VtokenTest::StopDaemon() {
    if (m_daemon <= 0)
        return;
    const ToolResult stop = RunTool({"stop"});
    EXPECT_EQ(stop.exitCode, 0) << stop.err;
    int status = 0;
    waitpid(m_daemon, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "daemon status " << status;
    m_daemon = -1;
}

PluggedToken VtokenTest::Plug(const std::vector<std::string>& options) {
    std::vector<std::string> args{"plug"};
    args.insert(args.end(), options.begin(), options.end());
    const ToolResult result = RunTool(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    PluggedToken token;
    std::istringstream(result.out) >> token.id >> token.path >> token.serial;
    return token;
}

void VtokenTest::Fault(const PluggedToken& token, const std::vector<std::string>& rules) {
    std::vector<std::string> args{"fault", token.id};
    args.insert(args.end(), rules.begin(), rules.end());
    const ToolResult result = RunTool(args);
    ASSERT_EQ(result.exitCode, 0) << result.err;
}

std::vector<std::string> VtokenTest::TraceLines(const PluggedToken& token, bool clear) {
    const ToolResult result = clear ? RunTool({"trace", "--clear", token.id}) : RunTool({"trace", token.id});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> lines;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct usb_device* VtokenTest::FindDevice(const std::string& path) {
    usb_find_busses();
    usb_find_devices();
    for (struct usb_bus* bus = usb_get_busses(); bus; bus = bus->next)
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next)
            if (std::string(dev->filename) + ":" + bus->dirname == path)
                return dev;
    return nullptr;
}

usb_dev_handle* VtokenTest::Open(const PluggedToken& token) {
    struct usb_device* dev = FindDevice(token.path);
    EXPECT_NE(dev, nullptr) << token.path;
    return dev ? usb_open(dev) : nullptr;
}

Bytes CommandWrapper(uint32_t length, uint8_t flags) {
    Bytes cbw = FromHex("55534243 44332211");
    for (int i = 0; i < 4; ++i)
        cbw.push_back(static_cast<uint8_t>(length >> (8 * i)));
    cbw.push_back(flags);
    cbw.push_back(0);
    cbw.push_back(10);
    const Bytes block = FromHex("FF 4F52564558 000000 55");
    cbw.insert(cbw.end(), block.begin(), block.end());
    cbw.resize(31, 0);
    return cbw;
}

namespace {

int Write(usb_dev_handle* handle, int endpoint, const Bytes& bytes) {
    return usb_bulk_write(handle, endpoint, reinterpret_cast<const char*>(bytes.data()),
                          static_cast<int>(bytes.size()), kTimeout);
}

} // namespace

Exchange BotTransmit(usb_dev_handle* handle, const Bytes& apdu) {
    Exchange exchange;
    auto step = [&](int rc, int expected) {
        if (exchange.rc == 0 && rc != expected)
            exchange.rc = rc < 0 ? rc : -1000 - rc;
        return exchange.rc == 0;
    };
    if (!step(Write(handle, kBotOut, CommandWrapper(static_cast<uint32_t>(apdu.size()), 0x00)), 31) ||
        !step(Write(handle, kBotOut, apdu), static_cast<int>(apdu.size())))
        return exchange;
    char status[13];
    if (!step(usb_bulk_read(handle, kIn, status, 13, kTimeout), 13) ||
        !step(Write(handle, kBotOut, CommandWrapper(4160, 0x80)), 31))
        return exchange;
    char data[4160];
    const int got = usb_bulk_read(handle, kIn, data, sizeof data, kTimeout);
    if (got < 0) {
        exchange.rc = got;
        return exchange;
    }
    exchange.answer.assign(data, data + got);
    step(usb_bulk_read(handle, kIn, status, 13, kTimeout), 13);
    if (exchange.rc == 0 && Bytes(status, status + 13) != FromHex("55534253 44332211 00000000 00"))
        exchange.rc = -2000;
    return exchange;
}

std::vector<Bytes> HidReports(const Bytes& message) {
    std::vector<Bytes> reports;
    for (size_t offset = 0; offset < message.size(); offset += 58) {
        const size_t length = std::min<size_t>(58, message.size() - offset);
        Bytes report(64, 0);
        report[0] = static_cast<uint8_t>(message.size() >> 8);
        report[1] = static_cast<uint8_t>(message.size());
        report[2] = static_cast<uint8_t>(offset >> 8);
        report[3] = static_cast<uint8_t>(offset);
        report[4] = static_cast<uint8_t>(length >> 8);
        report[5] = static_cast<uint8_t>(length);
        std::copy(message.begin() + static_cast<std::ptrdiff_t>(offset),
                  message.begin() + static_cast<std::ptrdiff_t>(offset + length), report.begin() + 6);
        reports.push_back(report);
    }
    return reports;
}

int HidReadReport(usb_dev_handle* handle, Bytes* report) {
    char buffer[64];
    const int got = usb_interrupt_read(handle, kIn, buffer, sizeof buffer, kTimeout);
    report->assign(buffer, buffer + std::max(got, 0));
    return got;
}

Exchange HidTransmit(usb_dev_handle* handle, const Bytes& apdu) {
    Exchange exchange;
    for (const Bytes& report : HidReports(apdu)) {
        const int rc = usb_interrupt_write(handle, kHidOut, reinterpret_cast<const char*>(report.data()), 64,
                                           kTimeout);
        if (rc != 64) {
            exchange.rc = rc < 0 ? rc : -1000 - rc;
            return exchange;
        }
    }
    size_t total = 0;
    do {
        Bytes report;
        const int rc = HidReadReport(handle, &report);
        if (rc != 64) {
            exchange.rc = rc < 0 ? rc : -1000 - rc;
            return exchange;
        }
        total = static_cast<size_t>(report[0] << 8 | report[1]);
        const size_t offset = static_cast<size_t>(report[2] << 8 | report[3]);
        const size_t length = static_cast<size_t>(report[4] << 8 | report[5]);
        if (offset != exchange.answer.size() || length > 58) {
            exchange.rc = -3000;
            return exchange;
        }
        exchange.answer.insert(exchange.answer.end(), report.begin() + 6,
                               report.begin() + 6 + static_cast<std::ptrdiff_t>(length));
    } while (exchange.answer.size() < total);
    return exchange;
}

} // namespace vtoken::test
