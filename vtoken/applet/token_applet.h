#pragma once
// The token's card side: what a physical token does with one command APDU, independent of how the
// APDU reached it (Bulk-Only wrappers or HID reports are the transport's business, vtoken/usb and
// the daemon). One TokenApplet is one token: its persistent image and its volatile state.
//
// Threading: not thread-safe. The daemon serialises all commands of one token, like a device.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vtoken {

// What a new token is made with. Ignored when the image already exists.
struct TokenProfile {
    std::string label;       // device label; empty gives the default label
    std::string serial;      // serial number; must be non-empty
    bool blank = false;      // true: no application at all
};

class TokenApplet {
public:
    virtual ~TokenApplet() = default;

    // Opens the token image kept in directory `dir`, or creates it from `profile` when the directory
    // holds none. Returns null and fills `error` when the image cannot be read or written.
    static std::unique_ptr<TokenApplet> Open(const std::string& dir, const TokenProfile& profile,
                                             std::string* error);

    // Executes one command APDU (CLA INS P1 P2 [Lc data] [Le]) and returns the answer: response data
    // followed by SW1 SW2, always at least two bytes. A malformed APDU is answered with a status word
    // (0x6700 and the like), never by throwing. Persistent changes are on disk before it returns.
    virtual std::vector<uint8_t> Execute(const uint8_t* apdu, size_t length) = 0;

    // Power loss (unplug): every volatile state (security states, challenge, digest, cipher, MAC and
    // agreement states, session keys) is dropped; the persistent image stays.
    virtual void PowerCycle() = 0;

    virtual std::string Serial() const = 0;
    virtual std::string Label() const = 0;
};

} // namespace vtoken
