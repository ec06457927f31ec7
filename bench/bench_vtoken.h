#pragma once
// The virtual-token set-up the SKF benchmarks share: a vtoken daemon of this process in a private
// directory, tokens plugged into it, and the device names the library lists for them.

#include "keycore/skf.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench_vtoken {

// build/bin: from KEYCORE_BUILD_DIR, else next to the program's own folder (build/bench).
inline std::string BinDir() {
    if (const char* build = std::getenv("KEYCORE_BUILD_DIR"))
        return std::string(build) + "/bin";
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/')) + "/../bin";
}

inline int Shell(const std::string& line) {
    return std::system(line.c_str());
}

// Runs from construction to destruction; VTOKEN_SOCKET names its socket meanwhile.
class Daemon {
public:
    // dirPattern: a mkdtemp pattern for the daemon's directory.
    explicit Daemon(std::string dirPattern) {
        m_dir = mkdtemp(&dirPattern[0]) ? dirPattern : "/tmp";
        const std::string socket = m_dir + "/vtoken.sock";
        setenv("VTOKEN_SOCKET", socket.c_str(), 1);
        m_tool = BinDir() + "/vtoken";
        m_daemon = fork();
        if (m_daemon == 0) {
            execl(m_tool.c_str(), "vtoken", "serve", "--state", (m_dir + "/state").c_str(), "--socket", socket.c_str(),
                  nullptr);
            _exit(127);
        }
        for (int i = 0; i < 500 && Shell("'" + m_tool + "' list >/dev/null 2>&1") != 0; ++i)
            usleep(10000);
    }
    ~Daemon() {
        Shell("'" + m_tool + "' stop >/dev/null 2>&1");
        waitpid(m_daemon, nullptr, 0);
        Shell("rm -rf '" + m_dir + "'");
    }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Plugs a token; its device path, empty when the tool gave none.
    std::string Plug(const char* kind, const char* options = "") {
        FILE* out = popen(("'" + m_tool + "' plug --kind " + kind + options).c_str(), "r");
        char line[128] = {};
        if (out == nullptr)
            return "";
        const bool read = fgets(line, sizeof line, out) != nullptr;
        pclose(out);
        if (!read)
            return "";
        const std::string text(line);
        const size_t first = text.find(' ');
        return text.substr(first + 1, text.find(' ', first + 1) - first - 1);
    }

private:
    std::string m_dir;
    std::string m_tool;
    pid_t m_daemon = -1;
};

// The first device name the library lists that is not among known, waited for up to about five
// seconds; empty when none came.
inline std::string NewDeviceName(const std::vector<std::string>& known) {
    for (int i = 0; i < 1000; ++i) {
        char list[1024] = {};
        ULONG size = sizeof list;
        if (SKF_EnumDev(TRUE, list, &size) == SAR_OK) {
            for (const char* name = list; *name != '\0'; name += std::strlen(name) + 1) {
                bool seen = false;
                for (const std::string& old : known)
                    seen = seen || old == name;
                if (!seen)
                    return name;
            }
        }
        usleep(5000);
    }
    return "";
}

} // namespace bench_vtoken
