#pragma once
// The daemon's socket protocol, spoken by the libusb replacement and the control tool.
//
// Every message is a 4-byte little-endian length followed by that many bytes. A request starts
// with one operation byte; an answer starts with a 4-byte little-endian result (0 or a positive
// count for success, a negative errno for failure) and carries its data after it. One connection
// carries one request at a time; the daemon answers each request before reading the next.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vtoken::wire {

// Largest message either side accepts; a longer announced length ends the connection.
inline constexpr uint32_t kMaxMessage = 1u << 20;

enum class Op : uint8_t {
    kListDevices = 1,   // -> count, instance u32, per device: id u32, bus u8, devnum u8, kind u8, large u8,
                        //    serial str, vendor u32, product u32
    kOpen = 2,          // id u32 -> 0 or -errno
    kTransfer = 3,      // id u32, type u8, endpoint u8, size u32, data -> count or -errno, data
    kClearHalt = 4,     // id u32, endpoint u8 -> 0 or -errno
    kPlug = 16,         // kind u8, large u8, blank u8, bus u8, label str, serial str[, vendor u32, product u32]
                        //    -> id u32, path str (vendor or product 0: the family's own for the kind)
    kUnplug = 17,       // id str
    kListTokens = 18,   // -> text
    kFault = 19,        // id str, rules str
    kTrace = 20,        // id str, clear u8[, frames u8: 0 unchanged, 1 on, 2 off] -> text
    kStop = 21,
};

enum class TransferType : uint8_t { kBulk = 0, kInterrupt = 1 };

enum class TokenKind : uint8_t { kBulkOnly = 0, kHid = 1 };

// Builds a message. Appends never fail; the length prefix is filled in by Finish.
class Writer {
public:
    Writer() { m_bytes.resize(4); }
    Writer& U8(uint8_t v);
    Writer& U32(uint32_t v);
    Writer& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
    Writer& Str(const std::string& s);     // u32 length, bytes
    Writer& Bytes(const uint8_t* p, size_t n);
    // Returns the message with its length prefix, ready to send.
    const std::vector<uint8_t>& Finish();
    void Reset() { m_bytes.resize(4); }

private:
    std::vector<uint8_t> m_bytes;
};

// Reads a message body. A read past the end sets the failed flag and yields zeros, so a caller
// reads every field and checks Ok() once.
class Reader {
public:
    Reader(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
    explicit Reader(const std::vector<uint8_t>& v) : Reader(v.data(), v.size()) {}
    uint8_t U8();
    uint32_t U32();
    int32_t I32() { return static_cast<int32_t>(U32()); }
    std::string Str();
    // Hands out the next count bytes (null when they are not there).
    const uint8_t* Bytes(size_t count);
    size_t Remaining() const { return m_failed ? 0 : m_n - m_pos; }
    bool Ok() const { return !m_failed; }

private:
    bool Take(size_t count);
    const uint8_t* m_p;
    size_t m_n;
    size_t m_pos = 0;
    bool m_failed = false;
};

// Blocking whole-message I/O on a stream socket; both retry on EINTR. They return false when the
// peer has gone or sent a message longer than kMaxMessage.
bool SendAll(int fd, const uint8_t* p, size_t n);
bool ReceiveMessage(int fd, std::vector<uint8_t>* body);

// Reads messages from a stream socket with as few system calls as it can: one recv usually brings a
// whole message, and bytes of a following message that arrive with it are kept for the next call.
// With a spin time it first polls without blocking for that long, which saves the sleep and wake-up
// of a blocking read when the peer answers within microseconds (each transfer of the usb layer).
class MessageReader {
public:
    explicit MessageReader(int spinMicros = 0) : m_spinMicros(spinMicros) {}
    // False when the peer has gone or announced a message longer than kMaxMessage.
    bool Next(int fd, std::vector<uint8_t>* body);
    // Forgets buffered bytes (a new connection).
    void Reset() { m_start = m_end = 0; }

private:
    bool Fill(int fd, bool spin);
    int m_spinMicros;
    std::vector<uint8_t> m_buffer;
    size_t m_start = 0;
    size_t m_end = 0;
};

// Connects to the daemon's socket; returns the descriptor or -1 with errno set.
int ConnectTo(const std::string& socketPath);

// One request and its answer on a connected socket. Returns false when the connection failed.
bool Call(int fd, const std::vector<uint8_t>& request, std::vector<uint8_t>* answer);

} // namespace vtoken::wire
