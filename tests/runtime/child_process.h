#pragma once
// Starts runtime_ipc_child as a real second process and talks to it through its stdout.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace keycore::testing {

class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<std::string> all{KEYCORE_IPC_CHILD};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_out = fds[0];
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            Wait();
        }
        if (m_out >= 0)
            close(m_out);
    }

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }

    // Next line of the child's output without its newline; empty when none came within timeoutMs.
    std::string ReadLine(int timeoutMs = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto newline = m_buffer.find('\n');
            if (newline != std::string::npos) {
                std::string line = m_buffer.substr(0, newline);
                m_buffer.erase(0, newline + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return {};
            pollfd pfd{m_out, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                return {};
            char chunk[256];
            const ssize_t got = read(m_out, chunk, sizeof chunk);
            if (got <= 0)
                return {};
            m_buffer.append(chunk, static_cast<size_t>(got));
        }
    }

    // True when the child has written nothing for waitMs.
    bool SilentFor(int waitMs) {
        pollfd pfd{m_out, POLLIN, 0};
        return m_buffer.empty() && poll(&pfd, 1, waitMs) == 0;
    }

    // Exit status, or 128 + signal, or -1 when it could not be collected.
    int Wait() {
        if (m_pid <= 0)
            return -1;
        int status = 0;
        const pid_t pid = waitpid(m_pid, &status, 0);
        m_pid = -1;
        if (pid < 0)
            return -1;
        if (WIFEXITED(status))
            return WEXITSTATUS(status);
        return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    }

    int Kill(int signal) {
        const int res = kill(m_pid, signal);
        Wait();
        return res;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
};

} // namespace keycore::testing
