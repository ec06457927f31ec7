#pragma once
// The persistent content of one token: what survives unplug, replug and a daemon restart.
// Serialised as a whole (token_image_store) and replaced atomically on every change.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vtoken {

struct PinRecord {
    std::string value;           // the PIN characters
    uint8_t maxRetries = 10;
    uint8_t triesLeft = 10;
    bool isDefault = true;       // cleared by the first change
};

struct TokenFile {
    uint32_t size = 0;           // declared size; content is exactly this long (zero-filled)
    uint8_t readRights = 0;
    uint8_t writeRights = 0;
    std::vector<uint8_t> content;
};

enum class KeyKind : uint8_t { None = 0, Rsa = 1, Sm2 = 2 };

// A key pair held in a container; the private key never leaves the token.
struct KeyPairRecord {
    KeyKind kind = KeyKind::None;
    uint32_t bits = 0;                   // RSA modulus bits, or 256 for SM2
    std::vector<uint8_t> privateKeyDer;  // PKCS#8 DER as OpenSSL writes it
};

struct ContainerRecord {
    uint16_t id = 0;
    KeyPairRecord signingKey;
    KeyPairRecord exchangeKey;
    std::vector<uint8_t> signingCertificate;
    std::vector<uint8_t> exchangeCertificate;
};

struct ApplicationRecord {
    uint16_t id = 0;
    PinRecord adminPin;
    PinRecord userPin;
    uint32_t createFileRights = 0;
    std::map<std::string, TokenFile> files;          // first file space (CreateFile ... WriteFile)
    std::map<std::string, TokenFile> filesEx;        // second file space (the Ex commands)
    std::map<std::string, ContainerRecord> containers;
    uint16_t nextContainerId = 1;
};

struct TokenImage {
    std::string label;
    std::string serial;
    std::vector<uint8_t> devAuthKey;                 // 16-byte SM4 device authentication key
    uint8_t devAuthMaxRetries = 10;
    uint8_t devAuthTriesLeft = 10;
    uint32_t totalSpace = 64 * 1024;
    std::map<std::string, ApplicationRecord> applications;
    uint16_t nextApplicationId = 1;
};

} // namespace vtoken
