#pragma once
// Drives a p11_peer process (another process using the library) through its stdin and stdout.
#include <p11-kit/pkcs11.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace keycore::test {

class PeerProcess {
public:
    PeerProcess() = default;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    ~PeerProcess() { Stop(); }

    bool Start() {
        // A peer killed by a test must not take the test down with it on the next write.
        signal(SIGPIPE, SIG_IGN);
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0)
            return false;
        if (pipe(fromChild) != 0) {
            close(toChild[0]);
            close(toChild[1]);
            return false;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            close(toChild[1]);
            close(fromChild[0]);
            close(toChild[0]);
            close(fromChild[1]);
            execl(P11_PEER_PATH, "p11_peer", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        m_in = toChild[1];
        m_out = fromChild[0];
        return m_pid > 0;
    }

    pid_t Pid() const { return m_pid; }

    bool Send(const std::string& command) {
        const std::string line = command + "\n";
        return write(m_in, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    }

    // One answer line; empty when none comes within the time (a hung or dead peer).
    std::string Read(int timeoutMs = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t end = m_buffer.find('\n');
            if (end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return std::string();
            pollfd fd{m_out, POLLIN, 0};
            const int ready = poll(&fd, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return std::string();
            char chunk[256];
            const ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n <= 0)
                return std::string();
            m_buffer.append(chunk, static_cast<size_t>(n));
        }
    }

    // The answer split into numbers: the CK_RV first. Empty when no answer came.
    std::vector<unsigned long> Call(const std::string& command, int timeoutMs = 10000) {
        if (!Send(command))
            return {};
        return Numbers(Read(timeoutMs));
    }

    static std::vector<unsigned long> Numbers(const std::string& line) {
        std::vector<unsigned long> numbers;
        std::istringstream in(line);
        unsigned long value = 0;
        while (in >> value)
            numbers.push_back(value);
        return numbers;
    }

    void Kill() {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        CloseFds();
    }

    // Asks the peer to leave (its exit handlers run), or kills it if it does not within 10 s. Returns
    // its exit status: 0 for a clean exit (a sanitizer report makes it non-zero), -1 when it was
    // killed or not running.
    int Stop() {
        if (m_pid <= 0)
            return -1;
        Send("exit");
        close(m_in);
        m_in = -1;
        for (int i = 0; i < 1000; ++i) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                CloseFds();
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        Kill();
        return -1;
    }

private:
    void CloseFds() {
        if (m_in >= 0)
            close(m_in);
        if (m_out >= 0)
            close(m_out);
        m_in = m_out = -1;
    }

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_buffer;
};

} // namespace keycore::test
