#include "my_listen.h"

#include "single_instance.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

myListen::myListen(QObject* parent) : myListen(kShowFifoPath, parent) {}

myListen::myListen(const std::string& fifoPath, QObject* parent) : QThread(parent), m_fifoPath(fifoPath) {
    unlink(m_fifoPath.c_str());
    mkfifo(m_fifoPath.c_str(), 0666);
}

void myListen::run() {
    if (access(m_fifoPath.c_str(), F_OK) != 0)
        return;
    // Blocks until a writer opens the pipe; the descriptor is kept for the life of the process.
    const int fd = open(m_fifoPath.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    char buf[24];
    for (;;) {
        // Cleared before every read, so that the bytes of a longer earlier message cannot spoil a later
        // "show".
        std::memset(buf, 0, sizeof buf);
        const ssize_t got = read(fd, buf, 20);
        if (got > 0 && std::memcmp(buf, "show", 5) == 0) {
            emit notifyMyListenEvent();
            continue;
        }
        // End of file (no writer) or another message: poll again shortly.
        usleep(100 * 1000);
    }
}
