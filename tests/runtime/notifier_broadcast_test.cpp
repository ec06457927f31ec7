// The notification channel between real processes: delivery, order, pruning of dead peers, refusal
// of bad messages, and a listener that keeps its framing after garbage in its FIFO.

#include "runtime/notifier_fifo.h"
#include "runtime/process_notifier.h"

#include "child_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using keycore::NotifierFifoPath;
using keycore::ProcessNotifier;
using keycore::testing::ChildProcess;

const char kChannel[] = "keycore-test_process_notify";

bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// A child process registered on the channel, with its pid as it reported it.
struct Listener {
    std::unique_ptr<ChildProcess> process;
    int32_t pid = 0;
};

Listener StartListener() {
    Listener listener;
    listener.process = std::make_unique<ChildProcess>(std::vector<std::string>{"notify-listen", kChannel});
    const std::string line = listener.process->ReadLine();
    if (line.rfind("registered ", 0) == 0)
        listener.pid = std::stoi(line.substr(11));
    return listener;
}

// Next "got ..." line that announces text, skipping the ones that do not; empty when none came.
std::string WaitForMessage(ChildProcess& child, const std::string& text, int timeoutMs = 10000) {
    const std::string wanted = "got " + std::to_string(text.size()) + " " + text.substr(0, 16);
    for (;;) {
        std::string line = child.ReadLine(timeoutMs);
        if (line.empty() || line == wanted)
            return line;
    }
}

class NotifierBroadcastTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, m_sender.Open(kChannel)); }
    ProcessNotifier m_sender;
};

TEST_F(NotifierBroadcastTest, BroadcastReachesEveryLivePeerOnce) {
    Listener first = StartListener();
    Listener second = StartListener();
    ASSERT_GT(first.pid, 0);
    ASSERT_GT(second.pid, 0);
    EXPECT_EQ(2, m_sender.RegisteredCount());
    uint32_t live = 0;
    ASSERT_EQ(0, m_sender.CountListeners(&live));
    EXPECT_EQ(2u, live);

    ASSERT_EQ(0, m_sender.Broadcast(0, "hello", 5));
    EXPECT_EQ("got 5 hello", first.process->ReadLine());
    EXPECT_EQ("got 5 hello", second.process->ReadLine());
    EXPECT_TRUE(first.process->SilentFor(100));
    EXPECT_TRUE(second.process->SilentFor(100));
}

TEST_F(NotifierBroadcastTest, TargetedBroadcastReachesOnlyTheTarget) {
    Listener first = StartListener();
    Listener second = StartListener();
    ASSERT_GT(second.pid, 0);

    ASSERT_EQ(0, m_sender.Broadcast(first.pid, "just you", 8));
    EXPECT_EQ("got 8 just you", first.process->ReadLine());
    EXPECT_TRUE(second.process->SilentFor(200));

    // A target that is not registered is nobody.
    ASSERT_EQ(0, m_sender.Broadcast(first.pid + second.pid + 1000, "nobody", 6));
    EXPECT_TRUE(first.process->SilentFor(100));
    EXPECT_TRUE(second.process->SilentFor(100));
}

TEST_F(NotifierBroadcastTest, MaximumMessageArrivesWhole) {
    Listener peer = StartListener();
    ASSERT_GT(peer.pid, 0);
    std::string message(keycore::kNotifyMaxMessage, 'm');
    message.replace(0, 5, "big:0");
    ASSERT_EQ(0, m_sender.Broadcast(0, message.data(), static_cast<uint32_t>(message.size())));
    EXPECT_EQ("got 2048 big:0mmmmmmmmmmm", peer.process->ReadLine());
}

TEST_F(NotifierBroadcastTest, BadMessagesAreRefusedAndNothingIsSent) {
    Listener peer = StartListener();
    ASSERT_GT(peer.pid, 0);
    const std::string tooLong(keycore::kNotifyMaxMessage + 1, 'x');
    struct Case {
        const char* label;
        int32_t target;
        const void* message;
        uint32_t length;
    } const cases[] = {
        {"null message", 0, nullptr, 4},
        {"empty message", 0, "abc", 0},
        {"2049 bytes", 0, tooLong.data(), static_cast<uint32_t>(tooLong.size())},
        {"aimed at the own pid", m_sender.OwnPid(), "abc", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(3, m_sender.Broadcast(c.target, c.message, c.length));
    }
    EXPECT_TRUE(peer.process->SilentFor(200));
    EXPECT_EQ(1, m_sender.RegisteredCount());
}

// Fills the pipe of a stopped peer so that no further frame fits, whatever its size.
void FillPipe(const std::string& fifoPath) {
    const int fd = open(fifoPath.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> frame(4 + keycore::kNotifyMaxMessage, 'f');
    for (uint32_t length : {keycore::kNotifyMaxMessage, 1u}) {
        std::memcpy(frame.data(), &length, 4);
        while (write(fd, frame.data(), 4 + length) == static_cast<ssize_t>(4 + length)) {
        }
    }
    close(fd);
}

TEST_F(NotifierBroadcastTest, LastRegisteredPeerIsWrittenFirst) {
    Listener first = StartListener();
    Listener last = StartListener();
    ASSERT_GT(last.pid, 0);
    // The first-registered peer stops reading with a full pipe: the broadcast has to wait for it. Had
    // it been written first, the wait would run out and it would never get the message.
    ASSERT_EQ(0, kill(first.pid, SIGSTOP));
    FillPipe(NotifierFifoPath(kChannel, first.pid));

    std::thread sender([this] { EXPECT_EQ(0, m_sender.Broadcast(0, "order", 5)); });
    EXPECT_EQ("got 5 order", last.process->ReadLine());
    kill(first.pid, SIGCONT);
    EXPECT_EQ("got 5 order", WaitForMessage(*first.process, "order"));
    sender.join();
}

TEST_F(NotifierBroadcastTest, PeerThatStopsReadingDelaysButNeverBlocksBroadcast) {
    Listener stuck = StartListener();
    Listener healthy = StartListener();
    ASSERT_GT(healthy.pid, 0);
    ASSERT_EQ(0, kill(stuck.pid, SIGSTOP));
    FillPipe(NotifierFifoPath(kChannel, stuck.pid));

    ASSERT_EQ(0, m_sender.Broadcast(0, "still", 5));
    EXPECT_EQ("got 5 still", healthy.process->ReadLine());
    // Alive, only slow: it keeps its place in the registry.
    EXPECT_EQ(2, m_sender.RegisteredCount());
    kill(stuck.pid, SIGCONT);
}

TEST_F(NotifierBroadcastTest, KilledPeerIsPrunedByTheNextBroadcast) {
    Listener doomed = StartListener();
    Listener survivor = StartListener();
    ASSERT_GT(survivor.pid, 0);
    const std::string doomedFifo = NotifierFifoPath(kChannel, doomed.pid);
    ASSERT_TRUE(PathExists(doomedFifo));
    doomed.process->Kill(SIGKILL);

    ASSERT_EQ(0, m_sender.Broadcast(0, "after", 5));
    EXPECT_EQ("got 5 after", survivor.process->ReadLine());
    EXPECT_EQ(1, m_sender.RegisteredCount());
    EXPECT_FALSE(PathExists(doomedFifo));
    EXPECT_TRUE(PathExists(NotifierFifoPath(kChannel, survivor.pid)));
}

TEST_F(NotifierBroadcastTest, CountListenersWithOnlyDeadEntriesRemovesEveryFifoOfTheChannel) {
    std::vector<std::string> fifos;
    for (int i = 0; i < 2; ++i) {
        Listener peer = StartListener();
        ASSERT_GT(peer.pid, 0);
        fifos.push_back(NotifierFifoPath(kChannel, peer.pid));
        peer.process->Kill(SIGKILL);
    }
    // A FIFO left by a process that never made it into the registry, and files that only look alike.
    const std::string orphan = NotifierFifoPath(kChannel, 0xabcd);
    ASSERT_EQ(0, mkfifo(orphan.c_str(), 0600));
    const std::string plainFile = NotifierFifoPath(kChannel, 0x1234);
    const std::string otherName = std::string("/tmp/") + kChannel + "_notes";
    for (const std::string& path : {plainFile, otherName})
        close(open(path.c_str(), O_CREAT | O_WRONLY, 0600));
    ASSERT_EQ(2, m_sender.RegisteredCount());

    uint32_t live = 99;
    ASSERT_EQ(0, m_sender.CountListeners(&live));
    EXPECT_EQ(0u, live);
    EXPECT_EQ(0, m_sender.RegisteredCount());
    for (const std::string& path : fifos)
        EXPECT_FALSE(PathExists(path)) << path;
    EXPECT_FALSE(PathExists(orphan));
    EXPECT_TRUE(PathExists(plainFile));
    EXPECT_TRUE(PathExists(otherName));
}

// Bytes waiting in a pipe, asked through any descriptor of it.
int BytesInPipe(int fd) {
    int pending = -1;
    return ioctl(fd, FIONREAD, &pending) == 0 ? pending : -1;
}

TEST_F(NotifierBroadcastTest, CorruptedFramesAreDroppedAndLaterMessagesStillArrive) {
    Listener peer = StartListener();
    ASSERT_GT(peer.pid, 0);
    const int fd = open(NotifierFifoPath(kChannel, peer.pid).c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);

    struct Case {
        const char* label;
        uint32_t prefix;
        size_t bodyBytes;
    } const cases[] = {
        {"length 5000 with some of its body", 5000, 100},
        {"length 2049 with its whole body", 2049, 2049},
        {"all bits set and no body", 0xFFFFFFFFu, 0},
        {"length 0 followed by stray bytes", 0, 3},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> bytes(4 + c.bodyBytes, 'j');
        std::memcpy(bytes.data(), &c.prefix, 4);
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(fd, bytes.data(), bytes.size()));
        // Let the listener deal with the garbage before the next real message goes in.
        for (int i = 0; i < 1000 && BytesInPipe(fd) != 0; ++i)
            usleep(5000);
        ASSERT_EQ(0, BytesInPipe(fd));

        const std::string text = "after" + std::to_string(++round);
        ASSERT_EQ(0, m_sender.Broadcast(0, text.data(), static_cast<uint32_t>(text.size())));
        EXPECT_EQ("got 6 " + text, peer.process->ReadLine());
    }
    close(fd);
}

} // namespace
