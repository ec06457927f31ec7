#pragma once
// The token's volatile state: everything a power cycle (unplug) loses.

#include <openssl/crypto.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vtoken {

struct SessionKey {
    uint32_t algorithm = 0; // SGD algorithm identifier (0x401 SM4-ECB, ...)
    std::vector<uint8_t> key;

    SessionKey() = default;
    SessionKey(const SessionKey&) = default;
    SessionKey& operator=(const SessionKey&) = default;
    // A key dropped for any reason (closed, replaced, power loss) leaves no copy in memory.
    ~SessionKey() { OPENSSL_cleanse(key.data(), key.size()); }
};

// State of a running cipher, MAC or digest; owned by the crypto handlers.
struct CryptoOperation {
    virtual ~CryptoOperation() = default;
};

struct VolatileState {
    std::vector<uint8_t> lastChallenge;     // answer of the last GenRandom
    std::map<uint16_t, bool> userVerified;  // per application id
    std::map<uint16_t, bool> adminVerified; // per application id
    bool deviceAuthenticated = false;
    bool accessCodeGranted = false;             // set by the access code, used by the next privileged command
    std::map<uint16_t, bool> openApplications;  // application ids opened since power-up
    std::map<uint16_t, SessionKey> sessionKeys; // by key index
    uint16_t nextSessionKeyIndex = 1;
    uint16_t lastPlainSessionKey = 0;        // index of the last key set without a container (0: none)
    std::unique_ptr<CryptoOperation> cipher; // the one running cipher of the token
    std::unique_ptr<CryptoOperation> digest;
    std::unique_ptr<CryptoOperation> mac;
    std::map<uint32_t, std::unique_ptr<CryptoOperation>> agreements; // by agreement id
};

} // namespace vtoken
