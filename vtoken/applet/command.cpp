#include "vtoken/applet/command.h"

namespace vtoken {

std::optional<Command> Command::Parse(const uint8_t* apdu, size_t length) {
    if (apdu == nullptr || length < 4)
        return std::nullopt;
    Command c;
    c.cla = apdu[0];
    c.ins = apdu[1];
    c.p1 = apdu[2];
    c.p2 = apdu[3];
    c.raw.assign(apdu, apdu + length);
    if (length == 4)
        return c;
    if (c.cla == 0xC6) {
        // Short form: one length byte, then exactly that many data bytes.
        size_t lc = apdu[4];
        if (length != 5 + lc)
            return std::nullopt;
        c.data.assign(apdu + 5, apdu + length);
        return c;
    }
    if (length == 5 && apdu[4] == 0)
        return c; // CLA INS P1 P2 00: no data and no expected length
    if (length < 7 || apdu[4] != 0)
        return std::nullopt;
    if (length == 7) {
        // A command without data: 00 00 00, or 00 HH LL giving the expected answer length.
        c.expected = (static_cast<size_t>(apdu[5]) << 8) | apdu[6];
        c.hasExpected = c.expected != 0;
        return c;
    }
    size_t lc = (static_cast<size_t>(apdu[5]) << 8) | apdu[6];
    if (length < 7 + lc)
        return std::nullopt;
    c.data.assign(apdu + 7, apdu + 7 + lc);
    size_t rest = length - 7 - lc;
    const uint8_t* le = apdu + 7 + lc;
    if (rest == 2) {
        c.expected = (static_cast<size_t>(le[0]) << 8) | le[1];
        c.hasExpected = true;
    } else if (rest == 3 && le[0] == 0) {
        c.expected = (static_cast<size_t>(le[1]) << 8) | le[2];
        c.hasExpected = true;
    } else if (rest != 0) {
        return std::nullopt;
    }
    return c;
}

std::vector<uint8_t> Answer(uint16_t statusWord) {
    return {static_cast<uint8_t>(statusWord >> 8), static_cast<uint8_t>(statusWord)};
}

std::vector<uint8_t> Answer(std::vector<uint8_t> data, uint16_t statusWord) {
    data.push_back(static_cast<uint8_t>(statusWord >> 8));
    data.push_back(static_cast<uint8_t>(statusWord));
    return data;
}

bool DataReader::Take(size_t count) {
    if (m_failed || m_size - m_pos < count) {
        m_failed = true;
        return false;
    }
    return true;
}

uint8_t DataReader::U8() {
    if (!Take(1))
        return 0;
    return m_data[m_pos++];
}

uint16_t DataReader::U16() {
    if (!Take(2))
        return 0;
    uint16_t v = static_cast<uint16_t>((m_data[m_pos] << 8) | m_data[m_pos + 1]);
    m_pos += 2;
    return v;
}

uint32_t DataReader::U32() {
    if (!Take(4))
        return 0;
    uint32_t v = (static_cast<uint32_t>(m_data[m_pos]) << 24) | (static_cast<uint32_t>(m_data[m_pos + 1]) << 16) |
                 (static_cast<uint32_t>(m_data[m_pos + 2]) << 8) | m_data[m_pos + 3];
    m_pos += 4;
    return v;
}

std::vector<uint8_t> DataReader::Bytes(size_t count) {
    if (!Take(count))
        return {};
    std::vector<uint8_t> v(m_data + m_pos, m_data + m_pos + count);
    m_pos += count;
    return v;
}

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

} // namespace vtoken
