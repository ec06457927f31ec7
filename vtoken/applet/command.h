#pragma once
// One command APDU as the token reads it, and the answers it gives.
//
// Layout: CLA INS P1 P2, then the data length as 00 HH LL (extended form), the data, and an optional
// expected answer length of 2 bytes (HH LL) or 3 bytes (00 HH LL). The access-code command is the one
// short-form command: C6 8C 38 5A, one length byte, the data.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vtoken {

struct Command {
    uint8_t cla = 0;
    uint8_t ins = 0;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    std::vector<uint8_t> data;   // the Lc data bytes
    size_t expected = 0;         // Le; 0 = as long as the token wants
    bool hasExpected = false;
    std::vector<uint8_t> raw;    // the whole APDU as received (the MAC covers a prefix of it)

    // Parses an APDU; returns nothing when the frame is malformed (the token answers 0x6700).
    static std::optional<Command> Parse(const uint8_t* apdu, size_t length);
};

// Status words the token answers with.
namespace sw {
inline constexpr uint16_t kOk = 0x9000;
inline constexpr uint16_t kWrongLength = 0x6700;
inline constexpr uint16_t kSecurityNotSatisfied = 0x6982;
inline constexpr uint16_t kPinLocked = 0x6983;
inline constexpr uint16_t kConditionsNotSatisfied = 0x6985;
inline constexpr uint16_t kNoApplicationSelected = 0x698A;
inline constexpr uint16_t kWrongData = 0x6A80;
inline constexpr uint16_t kFunctionNotSupported = 0x6A81;
inline constexpr uint16_t kFileNotFound = 0x6A82;
inline constexpr uint16_t kNotEnoughSpace = 0x6A84;
inline constexpr uint16_t kWrongP1P2 = 0x6A86;
inline constexpr uint16_t kDataNotFound = 0x6A88;
inline constexpr uint16_t kApplicationExists = 0x6A89;
inline constexpr uint16_t kInsNotSupported = 0x6D00;
inline constexpr uint16_t kClaNotSupported = 0x6E00;
inline constexpr uint16_t kUnknown = 0x6F00;
// 0x63Cx: wrong PIN, x tries left.
inline constexpr uint16_t WrongPin(unsigned triesLeft) { return static_cast<uint16_t>(0x63C0 | (triesLeft & 0x0F)); }
} // namespace sw

// An answer: data followed by the status word.
std::vector<uint8_t> Answer(uint16_t statusWord);
std::vector<uint8_t> Answer(std::vector<uint8_t> data, uint16_t statusWord = sw::kOk);

// Big-endian readers and writers for command data. Readers check bounds: a read past the end
// sets the reader's failed flag, which the handler turns into 0x6700.
class DataReader {
public:
    DataReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    explicit DataReader(const std::vector<uint8_t>& v) : DataReader(v.data(), v.size()) {}

    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    std::vector<uint8_t> Bytes(size_t count);
    size_t Remaining() const { return m_failed ? 0 : m_size - m_pos; }
    bool Failed() const { return m_failed; }

private:
    bool Take(size_t count);
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_failed = false;
};

void PutU16(std::vector<uint8_t>& out, uint16_t v);
void PutU32(std::vector<uint8_t>& out, uint32_t v);

} // namespace vtoken
