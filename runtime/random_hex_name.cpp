#include "runtime/random_hex_name.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>

namespace keycore {

namespace {

constexpr char kRandomSource[] = "/dev/urandom";
constexpr char kDigits[] = "0123456789ABCDEF";
constexpr size_t kRandomBytes = 16;

// Process-wide state: the last name and the seed stirred in once. Several slots may generate names at
// the same time under different slot locks, so the state has its own lock.
std::mutex g_nameMutex;
char g_lastName[kRandomHexNameLength + 1];
uint64_t g_seed = 0;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0)
            close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

// A read from a device may return fewer bytes than asked or be interrupted; keep going until the
// source is exhausted.
size_t ReadFully(int fd, unsigned char* buffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t got = read(fd, buffer + done, length - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    return done;
}

uint64_t LittleEndian64(const unsigned char* bytes) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// Seeding is a courtesy to the kernel pool; a refused write does not make the name less random.
void StirSeedOnce(int fd) {
    if (g_seed != 0)
        return;
    g_seed = static_cast<uint64_t>(time(nullptr)) + static_cast<uint64_t>(getpid());
    unsigned char seedBytes[sizeof g_seed];
    std::memcpy(seedBytes, &g_seed, sizeof seedBytes);
    ssize_t written = write(fd, seedBytes, sizeof seedBytes);
    (void)written;
}

} // namespace

CK_RV RandomHexNameFrom(const char* sourcePath, char* output, size_t capacity) {
    if (sourcePath == nullptr || output == nullptr || capacity < kRandomHexNameMinCapacity)
        return CKR_GENERAL_ERROR;

    FileDescriptor source(open(sourcePath, O_RDWR | O_CLOEXEC));
    if (source.get() < 0)
        return CKR_GENERAL_ERROR;

    std::lock_guard<std::mutex> lock(g_nameMutex);
    StirSeedOnce(source.get());

    unsigned char random[kRandomBytes];
    if (ReadFully(source.get(), random, sizeof random) != sizeof random)
        return CKR_GENERAL_ERROR;

    char name[kRandomHexNameLength + 1];
    size_t pos = 0;
    for (size_t half = 0; half < 2; ++half) {
        uint64_t value = LittleEndian64(random + 8 * half);
        for (int nibble = 0; nibble < 16; ++nibble) {
            name[pos++] = kDigits[value & 0xF];
            value >>= 4;
        }
    }
    name[pos] = '\0';

    std::memcpy(g_lastName, name, sizeof name);
    std::memcpy(output, name, sizeof name);
    return CKR_OK;
}

CK_RV RandomHexName(char* output, size_t capacity) {
    return RandomHexNameFrom(kRandomSource, output, capacity);
}

std::string LastRandomHexName() {
    std::lock_guard<std::mutex> lock(g_nameMutex);
    return std::string(g_lastName);
}

} // namespace keycore
