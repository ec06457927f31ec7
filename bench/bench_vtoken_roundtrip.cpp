// One 8-byte GenRandom round trip through libvtoken-usb.so and a private vtoken daemon, over each
// framing. Goal: a median of at most 100 µs per round trip.

#include <benchmark/benchmark.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <usb.h>

namespace {

const unsigned char kGenRandom[] = {0x80, 0x50, 0x00, 0x00, 0x00, 0x00, 0x08};

class PrivateDaemon {
public:
    PrivateDaemon() {
        char pattern[] = "/tmp/vtoken-bench.XXXXXX";
        m_dir = mkdtemp(pattern) ? pattern : "/tmp";
        m_socket = m_dir + "/vtoken.sock";
        setenv("VTOKEN_SOCKET", m_socket.c_str(), 1);
        m_tool = ToolPath();
        m_pid = fork();
        if (m_pid == 0) {
            execl(m_tool.c_str(), "vtoken", "serve", "--state", (m_dir + "/state").c_str(), "--socket",
                  m_socket.c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 500 && Control("list") != 0; ++i)
            usleep(10000);
    }
    ~PrivateDaemon() {
        Control("stop");
        waitpid(m_pid, nullptr, 0);
        Control(nullptr, ("rm -rf '" + m_dir + "'").c_str());
    }
    // Plugs a token and returns its device path.
    std::string Plug(const char* kind) {
        const std::string command = "'" + m_tool + "' plug --kind " + kind;
        FILE* out = popen(command.c_str(), "r");
        char line[128] = {};
        if (!out || !fgets(line, sizeof line, out))
            return "";
        pclose(out);
        std::string text(line);
        const size_t first = text.find(' ');
        return text.substr(first + 1, text.find(' ', first + 1) - first - 1);
    }

private:
    static std::string ToolPath() {
        if (const char* build = std::getenv("KEYCORE_BUILD_DIR"))
            return std::string(build) + "/bin/vtoken";
        char self[PATH_MAX] = {};
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
        return path.substr(0, path.rfind('/')) + "/../bin/vtoken";
    }
    int Control(const char* command, const char* shell = nullptr) {
        const std::string line = shell ? shell : "'" + m_tool + "' " + command + " >/dev/null 2>&1";
        return std::system(line.c_str());
    }

    std::string m_dir, m_socket, m_tool;
    pid_t m_pid = -1;
};

PrivateDaemon& Daemon() {
    static PrivateDaemon daemon;
    return daemon;
}

usb_dev_handle* OpenPath(const std::string& path) {
    usb_init();
    usb_find_busses();
    usb_find_devices();
    for (struct usb_bus* bus = usb_get_busses(); bus; bus = bus->next)
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next)
            if (std::string(dev->filename) + ":" + bus->dirname == path)
                return usb_open(dev);
    return nullptr;
}

bool BulkOnlyRoundTrip(usb_dev_handle* h) {
    unsigned char cbw[31] = {'U', 'S', 'B', 'C', 0x44, 0x33, 0x22, 0x11, sizeof kGenRandom, 0, 0, 0, 0x00, 0, 10,
                             0xFF, 'O', 'R', 'V', 'E', 'X', 0, 0, 0, 0x55};
    unsigned char cbwIn[31];
    std::memcpy(cbwIn, cbw, sizeof cbw);
    cbwIn[8] = 0x40;
    cbwIn[9] = 0x10;
    cbwIn[12] = 0x80;
    char status[13];
    char data[4160];
    return usb_bulk_write(h, 0x02, reinterpret_cast<char*>(cbw), 31, 1000) == 31 &&
           usb_bulk_write(h, 0x02, reinterpret_cast<const char*>(kGenRandom), 7, 1000) == 7 &&
           usb_bulk_read(h, 0x81, status, 13, 1000) == 13 &&
           usb_bulk_write(h, 0x02, reinterpret_cast<char*>(cbwIn), 31, 1000) == 31 &&
           usb_bulk_read(h, 0x81, data, sizeof data, 1000) == 10 && usb_bulk_read(h, 0x81, status, 13, 1000) == 13;
}

bool HidRoundTrip(usb_dev_handle* h) {
    char report[64] = {0, 7, 0, 0, 0, 7};
    std::memcpy(report + 6, kGenRandom, sizeof kGenRandom);
    char in[64];
    return usb_interrupt_write(h, 0x01, report, 64, 1000) == 64 && usb_interrupt_read(h, 0x81, in, 64, 1000) == 64 &&
           in[5] == 10;
}

void RoundTrip(benchmark::State& state, const char* kind, bool (*exchange)(usb_dev_handle*)) {
    usb_dev_handle* h = OpenPath(Daemon().Plug(kind));
    if (!h) {
        state.SkipWithError("no token");
        return;
    }
    for (auto _ : state) {
        if (!exchange(h)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    usb_close(h);
}

void BM_GenRandom8_BulkOnly(benchmark::State& state) { RoundTrip(state, "bot", BulkOnlyRoundTrip); }
void BM_GenRandom8_Hid(benchmark::State& state) { RoundTrip(state, "hid", HidRoundTrip); }

BENCHMARK(BM_GenRandom8_BulkOnly)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_GenRandom8_Hid)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
