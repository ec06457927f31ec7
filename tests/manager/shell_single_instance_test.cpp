// One keydesk per machine: the lock file, a second start handing over to the running window, a lock
// left by a crashed instance or by another user, and a link planted at the lock file's name.
// Every test has its own /tmp, so the fixed names are safe to use here.

#include "keydesk_fixture.h"
#include "main_window.h"
#include "single_instance.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using keydesk::test::KeydeskTest;
using keydesk::test::WaitUntil;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// keydesk started as a program, its standard error collected; the environment of this process plus
// the test settings (offscreen, message boxes closing themselves).
class Program {
public:
    explicit Program(const std::vector<std::string>& env = {}) {
        // Everything the child needs is made before fork: this process has threads, so the child may
        // only call async-signal-safe functions until exec.
        std::vector<std::string> vars{"QT_QPA_PLATFORM=offscreen", "KEYDESK_AUTO_ACCEPT_MESSAGES=1"};
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
                vars.emplace_back(*e);
        }
        vars.insert(vars.end(), env.begin(), env.end());
        std::vector<char*> envp;
        for (std::string& v : vars)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>("keydesk"), nullptr};
        int errPipe[2];
        if (pipe(errPipe) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(errPipe[1], 2);
            close(errPipe[0]);
            close(errPipe[1]);
            execve(KEYDESK_PROGRAM_PATH, argv, envp.data());
            _exit(127);
        }
        close(errPipe[1]);
        m_err = errPipe[0];
        fcntl(m_err, F_SETFL, O_NONBLOCK);
    }
    ~Program() {
        if (m_pid > 0 && !m_exited) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_err >= 0)
            close(m_err);
    }

    // True once the program has ended (its status then in exitCode()).
    bool Exited() {
        Drain();
        if (!m_exited && m_pid > 0 && waitpid(m_pid, &m_status, WNOHANG) == m_pid)
            m_exited = true;
        return m_exited;
    }
    int ExitCode() const { return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status); }
    const std::string& Err() {
        Drain();
        return m_errText;
    }

private:
    void Drain() {
        char buf[1024];
        ssize_t n;
        while (m_err >= 0 && (n = read(m_err, buf, sizeof buf)) > 0)
            m_errText.append(buf, static_cast<size_t>(n));
    }

    pid_t m_pid = -1;
    int m_err = -1;
    int m_status = 0;
    bool m_exited = false;
    std::string m_errText;
};

constexpr char kAlreadyRunning[] = "keydesk: message \"warning\": The program is already running.";

TEST(SingleInstance, FirstStartWritesItsProcessIdWithModeSetDespiteTheUmask) {
    const mode_t old = umask(077);
    ASSERT_EQ(check_single_on(), InstanceState::First);
    umask(old);
    struct stat st {};
    ASSERT_EQ(lstat(kLockFilePath, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0666u);

    // The descriptor stays open (holding the lock) and is not passed on to programs started later.
    bool found = false;
    DIR* fds = opendir("/proc/self/fd");
    ASSERT_NE(fds, nullptr);
    while (const dirent* entry = readdir(fds)) {
        char target[256] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) <= 0 || std::string(target) != kLockFilePath)
            continue;
        found = true;
        const int fd = std::atoi(entry->d_name);
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        // Another process would be refused: ask as if we were one.
        const pid_t child = fork();
        if (child == 0) {
            const int other = open(kLockFilePath, O_WRONLY);
            _exit(other >= 0 && fcntl(other, F_SETLK, &lock) < 0 && (errno == EAGAIN || errno == EACCES) ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the lock is held";
    }
    closedir(fds);
    EXPECT_TRUE(found);
    // Read last: closing any descriptor of the file in this process would drop the lock.
    EXPECT_EQ(ReadFile(kLockFilePath), std::to_string(getpid()) + "\n");
}

TEST(SingleInstance, ALaterProcessFindsTheLockTakenAndTheFileUnchanged) {
    ASSERT_EQ(check_single_on(), InstanceState::First);
    const pid_t child = fork();
    if (child == 0)
        _exit(check_single_on() == InstanceState::Running ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFile(kLockFilePath), std::to_string(getpid()) + "\n") << "the running instance's id stays";
}

TEST(SingleInstance, AfterACrashTheLockIsFreeAndTheFileGetsTheNewProcessId) {
    const pid_t child = fork();
    if (child == 0) {
        if (check_single_on() != InstanceState::First)
            _exit(1);
        // A longer leftover than any process id, so that a missing truncation shows.
        const int fd = open(kLockFilePath, O_WRONLY | O_APPEND);
        (void)!write(fd, "leftover-of-the-crashed-instance\n", 33);
        abort();
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the first instance crashed";
    ASSERT_NE(ReadFile(kLockFilePath).find("leftover"), std::string::npos);

    EXPECT_EQ(check_single_on(), InstanceState::First);
    EXPECT_EQ(ReadFile(kLockFilePath), std::to_string(getpid()) + "\n");
}

TEST(SingleInstance, ALockFileLeftByAnotherUserCanBeTakenOver) {
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to act as two users";
    // Root makes the file under a narrow umask and ends; then an ordinary user starts.
    pid_t child = fork();
    if (child == 0) {
        umask(077);
        _exit(check_single_on() == InstanceState::First ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        _exit(check_single_on() == InstanceState::First ? 0 : 1);
    }
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other user opens and locks it";
    EXPECT_EQ(ReadFile(kLockFilePath), std::to_string(child) + "\n");
}

TEST(SingleInstance, ALinkAtTheLockFileNameIsRefused) {
    const std::string target = "/tmp/keydesk-link-target";
    ASSERT_EQ(symlink(target.c_str(), kLockFilePath), 0);

    testing::internal::CaptureStderr();
    EXPECT_EQ(check_single_on(), InstanceState::Failed);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("open in check_single_on()"), std::string::npos);

    Program program;
    ASSERT_TRUE(WaitUntil([&] { return program.Exited(); }));
    EXPECT_EQ(program.ExitCode(), 1);
    EXPECT_NE(program.Err().find("open in check_single_on()"), std::string::npos) << program.Err();

    struct stat st {};
    EXPECT_NE(lstat(target.c_str(), &st), 0) << "nothing was created through the link";
    // Also when the link points at an existing file of ours: it stays untouched.
    { std::ofstream(target) << "precious"; }
    Program again;
    ASSERT_TRUE(WaitUntil([&] { return again.Exited(); }));
    EXPECT_EQ(again.ExitCode(), 1);
    EXPECT_EQ(ReadFile(target), "precious");
}

class SingleInstanceWindow : public KeydeskTest {};

TEST_F(SingleInstanceWindow, ASecondStartShowsTheRunningWindowAndEndsWithZero) {
    // This process is the running instance: it holds the lock and its window listens on the pipe.
    ASSERT_EQ(check_single_on(), InstanceState::First);
    MainWindow& window = StartWindow();
    window.hide();
    ASSERT_FALSE(window.isVisible());

    Program second;
    EXPECT_TRUE(WaitUntil([&] { return window.isVisible(); })) << "the running window was shown: " << second.Err();
    ASSERT_TRUE(WaitUntil([&] { return second.Exited(); })) << second.Err();
    EXPECT_EQ(second.ExitCode(), 0);
    EXPECT_NE(second.Err().find(kAlreadyRunning), std::string::npos) << second.Err();

    // And again: each start is a new writer on the pipe.
    window.hide();
    Program third;
    EXPECT_TRUE(WaitUntil([&] { return window.isVisible(); }));
    ASSERT_TRUE(WaitUntil([&] { return third.Exited(); }));
    EXPECT_EQ(third.ExitCode(), 0);
    // Read last: closing any descriptor of the file in this process would drop the lock.
    EXPECT_EQ(ReadFile(kLockFilePath), std::to_string(getpid()) + "\n");
}

TEST_F(SingleInstanceWindow, TwoProgramsTheSecondHandsOverAndTheFirstKeepsRunning) {
    Program first;
    // The first is up once its pipe exists (made by its window) and the lock file names it.
    ASSERT_TRUE(WaitUntil([&] {
        struct stat st {};
        return stat(kShowFifoPath, &st) == 0 && S_ISFIFO(st.st_mode) && !ReadFile(kLockFilePath).empty();
    }));
    ASSERT_FALSE(first.Exited()) << first.Err();
    Program second;
    ASSERT_TRUE(WaitUntil([&] { return second.Exited(); }));
    EXPECT_EQ(second.ExitCode(), 0);
    EXPECT_NE(second.Err().find(kAlreadyRunning), std::string::npos) << second.Err();
    EXPECT_FALSE(first.Exited()) << first.Err();
}

TEST(SingleInstance, TheShowRequestWritesOnlyIntoAPipe) {
    // A regular file at the pipe's name receives nothing.
    { std::ofstream(kShowFifoPath) << "unchanged"; }
    EXPECT_FALSE(requestShow());
    EXPECT_EQ(ReadFile(kShowFifoPath), "unchanged");
    // Nor does the file behind a link there.
    ASSERT_EQ(unlink(kShowFifoPath), 0);
    const std::string target = "/tmp/keydesk-fifo-target";
    { std::ofstream(target) << "unchanged"; }
    ASSERT_EQ(symlink(target.c_str(), kShowFifoPath), 0);
    EXPECT_FALSE(requestShow());
    EXPECT_EQ(ReadFile(target), "unchanged");
}

} // namespace
