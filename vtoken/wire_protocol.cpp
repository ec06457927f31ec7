#include "vtoken/wire_protocol.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vtoken::wire {

Writer& Writer::U8(uint8_t v) {
    m_bytes.push_back(v);
    return *this;
}

Writer& Writer::U32(uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        m_bytes.push_back(static_cast<uint8_t>(v >> shift));
    return *this;
}

Writer& Writer::Str(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    m_bytes.insert(m_bytes.end(), s.begin(), s.end());
    return *this;
}

Writer& Writer::Bytes(const uint8_t* p, size_t n) {
    if (n != 0)
        m_bytes.insert(m_bytes.end(), p, p + n);
    return *this;
}

const std::vector<uint8_t>& Writer::Finish() {
    const uint32_t body = static_cast<uint32_t>(m_bytes.size() - 4);
    for (int i = 0; i < 4; ++i)
        m_bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(body >> (8 * i));
    return m_bytes;
}

bool Reader::Take(size_t count) {
    if (m_failed || count > m_n - m_pos) {
        m_failed = true;
        return false;
    }
    return true;
}

uint8_t Reader::U8() {
    if (!Take(1))
        return 0;
    return m_p[m_pos++];
}

uint32_t Reader::U32() {
    if (!Take(4))
        return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(m_p[m_pos++]) << (8 * i);
    return v;
}

std::string Reader::Str() {
    const uint32_t n = U32();
    if (!Take(n))
        return {};
    std::string s(reinterpret_cast<const char*>(m_p + m_pos), n);
    m_pos += n;
    return s;
}

const uint8_t* Reader::Bytes(size_t count) {
    if (!Take(count))
        return nullptr;
    const uint8_t* p = m_p + m_pos;
    m_pos += count;
    return p;
}

bool SendAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

static bool ReceiveAll(int fd, uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t got = ::recv(fd, p, n, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool ReceiveMessage(int fd, std::vector<uint8_t>* body) {
    uint8_t prefix[4];
    if (!ReceiveAll(fd, prefix, sizeof prefix))
        return false;
    const uint32_t length = static_cast<uint32_t>(prefix[0]) | static_cast<uint32_t>(prefix[1]) << 8 |
                            static_cast<uint32_t>(prefix[2]) << 16 | static_cast<uint32_t>(prefix[3]) << 24;
    if (length > kMaxMessage)
        return false;
    body->resize(length);
    return length == 0 || ReceiveAll(fd, body->data(), length);
}

bool MessageReader::Fill(int fd, bool spin) {
    if (m_start == m_end) {
        m_start = m_end = 0;
    } else if (m_end == m_buffer.size()) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_start, m_end - m_start);
        m_end -= m_start;
        m_start = 0;
    }
    if (m_buffer.size() - m_end < 4096)
        m_buffer.resize(m_end + 16384);
    if (spin && m_spinMicros > 0) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(m_spinMicros);
        do {
            const ssize_t got = ::recv(fd, m_buffer.data() + m_end, m_buffer.size() - m_end, MSG_DONTWAIT);
            if (got > 0) {
                m_end += static_cast<size_t>(got);
                return true;
            }
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                return false;
        } while (std::chrono::steady_clock::now() < until);
    }
    for (;;) {
        const ssize_t got = ::recv(fd, m_buffer.data() + m_end, m_buffer.size() - m_end, 0);
        if (got > 0) {
            m_end += static_cast<size_t>(got);
            return true;
        }
        if (got == 0 || errno != EINTR)
            return false;
    }
}

bool MessageReader::Next(int fd, std::vector<uint8_t>* body) {
    bool first = true;
    while (m_end - m_start < 4) {
        if (!Fill(fd, first))
            return false;
        first = false;
    }
    const uint8_t* prefix = m_buffer.data() + m_start;
    const uint32_t length = static_cast<uint32_t>(prefix[0]) | static_cast<uint32_t>(prefix[1]) << 8 |
                            static_cast<uint32_t>(prefix[2]) << 16 | static_cast<uint32_t>(prefix[3]) << 24;
    if (length > kMaxMessage)
        return false;
    if (m_buffer.size() - m_start < 4 + static_cast<size_t>(length) && m_start > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_start, m_end - m_start);
        m_end -= m_start;
        m_start = 0;
    }
    if (m_buffer.size() < m_start + 4 + length)
        m_buffer.resize(m_start + 4 + length);
    while (m_end - m_start < 4 + static_cast<size_t>(length))
        if (!Fill(fd, false))
            return false;
    body->assign(m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start + 4),
                 m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start + 4 + length));
    m_start += 4 + length;
    return true;
}

int ConnectTo(const std::string& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

bool Call(int fd, const std::vector<uint8_t>& request, std::vector<uint8_t>* answer) {
    return SendAll(fd, request.data(), request.size()) && ReceiveMessage(fd, answer);
}

} // namespace vtoken::wire
