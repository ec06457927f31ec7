// The "show" pipe: which messages bring the window forward, and the pipe the listener makes.

#include "keydesk_fixture.h"
#include "my_listen.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using keydesk::test::WaitUntil;

constexpr char kFifo[] = "/tmp/keydesk-listen-test";

// A listener on its own pipe, counting its signals. Like the program's, it is never stopped or
// deleted (it ends with the process).
class ListenTest : public testing::Test {
protected:
    void SetUp() override {
        m_listen = new myListen(kFifo, nullptr);
        // Counted in this (the GUI) thread, as the window's slot runs.
        QObject::connect(m_listen, &myListen::notifyMyListenEvent, qApp, [this] { ++m_shown; });
        m_listen->start();
        // Opening the writing end waits for the listener's reading end.
        m_writer = open(kFifo, O_WRONLY);
        ASSERT_GE(m_writer, 0);
    }
    void TearDown() override {
        if (m_writer >= 0)
            close(m_writer);
    }

    // Writes one message and waits until the listener has read it.
    void Send(const std::string& bytes) {
        ASSERT_EQ(write(m_writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ASSERT_TRUE(WaitUntil([&] {
            int pending = -1;
            return ioctl(m_writer, FIONREAD, &pending) == 0 && pending == 0;
        }));
    }

    myListen* m_listen = nullptr;
    int m_writer = -1;
    int m_shown = 0;
};

TEST_F(ListenTest, OnlyAMessageOfExactlyShowBringsTheWindowForward) {
    struct Case {
        const char* what;
        std::string bytes;
        int shows;
    };
    const Case cases[] = {
        {"show", "show", 1},
        {"another word", "hide", 0},
        {"show with more bytes in the same read", "show and more", 0},
        {"show followed by its terminator", std::string("show\0", 5), 1},
        {"a part of show", "sho", 0},
        {"upper case", "SHOW", 0},
        {"twenty bytes", std::string(20, 'x'), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int before = m_shown;
        Send(c.bytes);
        // A plain "show" afterwards: its signal arrives after any the message caused, in order; it also
        // shows that no byte of a longer message is left over to spoil the next one.
        Send("show");
        ASSERT_TRUE(WaitUntil([&] { return m_shown >= before + c.shows + 1; }));
        keydesk::test::ProcessEventsFor(50);
        EXPECT_EQ(m_shown, before + c.shows + 1);
    }
}

TEST_F(ListenTest, AWriterThatClosesAndANewOneStillReachTheListener) {
    Send("show");
    ASSERT_TRUE(WaitUntil([&] { return m_shown == 1; }));
    close(m_writer);
    m_writer = open(kFifo, O_WRONLY);
    ASSERT_GE(m_writer, 0);
    Send("show");
    EXPECT_TRUE(WaitUntil([&] { return m_shown == 2; }));
}

TEST(ListenPipe, TheListenerReplacesWhatIsAtThePipeName) {
    { std::ofstream(kFifo) << "a regular file"; }
    const mode_t old = umask(0);
    auto* listen = new myListen(kFifo, nullptr);
    umask(old);
    struct stat st {};
    ASSERT_EQ(lstat(kFifo, &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0666u);
    delete listen; // never started
}

TEST(ListenPipe, WithoutThePipeTheListenerEndsQuietly) {
    auto* listen = new myListen(kFifo, nullptr);
    ASSERT_EQ(unlink(kFifo), 0);
    listen->start();
    EXPECT_TRUE(listen->wait(10000)) << "the thread ended";
    delete listen;
}

} // namespace
