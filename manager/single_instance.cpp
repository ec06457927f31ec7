#include "single_instance.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

InstanceState check_single_on(const char* lockPath) {
    // Never through a link: in a shared /tmp another user could point the fixed name at a file of ours.
    const int fd = open(lockPath, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        std::perror("open in check_single_on()");
        return InstanceState::Failed;
    }
    // On the descriptor, not the name, so the mode lands on the file just opened; the next user of
    // the machine must be able to open it too. Fails harmlessly when another user owns it.
    (void)fchmod(fd, 0666);

    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    if (fcntl(fd, F_SETLK, &lock) < 0) {
        if (errno == EAGAIN || errno == EACCES)
            return InstanceState::Running; // the descriptor stays open, as the lock file's reader
        std::perror("write_lock");
        close(fd);
        return InstanceState::Failed;
    }

    if (ftruncate(fd, 0) < 0) {
        std::perror("ftruncate");
        close(fd);
        return InstanceState::Failed;
    }
    char pid[32];
    const int len = std::snprintf(pid, sizeof pid, "%d\n", static_cast<int>(getpid()));
    if (write(fd, pid, static_cast<size_t>(len)) != len) {
        std::perror("write in check_single_on()");
        close(fd);
        return InstanceState::Failed;
    }
    const int flags = fcntl(fd, F_GETFD);
    if (flags < 0) {
        std::perror("fcntl");
        close(fd);
        return InstanceState::Failed;
    }
    if (fcntl(fd, F_SETFD, flags | FD_CLOEXEC) < 0) {
        std::perror("fcntl again");
        close(fd);
        return InstanceState::Failed;
    }
    return InstanceState::First;
}

bool requestShow(const char* fifoPath) {
    (void)mkfifo(fifoPath, 0665);
    const int fd = open(fifoPath, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Only into a pipe: a regular file put at the fixed name would otherwise receive the bytes.
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        close(fd);
        return false;
    }
    const bool written = write(fd, "show", 4) == 4;
    close(fd);
    return written;
}
