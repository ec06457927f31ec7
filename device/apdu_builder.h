#pragma once
// Appends the fields of a command's data to its header bytes, big-endian as the token reads them.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keycore {

class ApduBuilder {
public:
    ApduBuilder() = default;
    explicit ApduBuilder(std::vector<uint8_t> header) : m_bytes(std::move(header)) {}

    ApduBuilder& U8(uint8_t v) {
        m_bytes.push_back(v);
        return *this;
    }
    ApduBuilder& U16(uint32_t v) {
        m_bytes.push_back(static_cast<uint8_t>(v >> 8));
        m_bytes.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    ApduBuilder& U32(uint32_t v) {
        U16(v >> 16);
        return U16(v & 0xFFFF);
    }
    // Copies len bytes; a null pointer appends len zero bytes.
    ApduBuilder& Bytes(const void* p, size_t len) {
        const auto* b = static_cast<const uint8_t*>(p);
        if (b == nullptr)
            m_bytes.insert(m_bytes.end(), len, 0);
        else
            m_bytes.insert(m_bytes.end(), b, b + len);
        return *this;
    }
    ApduBuilder& Bytes(const std::vector<uint8_t>& v) { return Bytes(v.data(), v.size()); }

    // Header CLA INS P1 P2 00 00 00 whose length is filled in by EndData.
    static ApduBuilder Command(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2) {
        return ApduBuilder({cla, ins, p1, p2, 0, 0, 0});
    }
    // Writes the data length (everything after the 7-byte header so far) into bytes 5-6. False when
    // it does not fit; the command must not be sent then.
    bool EndData() {
        if (m_bytes.size() < 7 || m_bytes.size() - 7 > 0xFFFF)
            return false;
        PatchU16(5, static_cast<uint32_t>(m_bytes.size() - 7));
        return true;
    }

    size_t Size() const { return m_bytes.size(); }
    // Overwrites two bytes at offset (for lengths known only once the data is in).
    void PatchU16(size_t offset, uint32_t v) {
        m_bytes[offset] = static_cast<uint8_t>(v >> 8);
        m_bytes[offset + 1] = static_cast<uint8_t>(v);
    }
    std::vector<uint8_t>& Get() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

} // namespace keycore
