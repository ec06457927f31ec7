#pragma once
// Wiping of secrets (PIN copies, keys, PIN blocks) in a way the optimiser cannot drop.

#include <cstddef>
#include <string>
#include <vector>

namespace keycore {

// Overwrites len bytes at p with zeros; p may be null when len is 0.
void SecureWipe(void* p, size_t len) noexcept;

template <typename T> void SecureWipe(std::vector<T>& v) noexcept {
    SecureWipe(v.data(), v.size() * sizeof(T));
}

inline void SecureWipe(std::string& s) noexcept {
    SecureWipe(&s[0], s.size());
}

// Holds a secret buffer and wipes it when the holder goes out of scope.
class SecureBytes {
public:
    SecureBytes() = default;
    explicit SecureBytes(size_t size) : m_bytes(size) {}
    SecureBytes(const void* data, size_t size)
        : m_bytes(static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + size) {}
    SecureBytes(const SecureBytes&) = delete;
    SecureBytes& operator=(const SecureBytes&) = delete;
    ~SecureBytes() { SecureWipe(m_bytes); }

    unsigned char* data() { return m_bytes.data(); }
    const unsigned char* data() const { return m_bytes.data(); }
    size_t size() const { return m_bytes.size(); }

private:
    std::vector<unsigned char> m_bytes;
};

} // namespace keycore
