#pragma once
// What the crypto handler families share: the status words they answer with, the checks of
// application, container, PIN and access code, key pairs kept in containers, and session keys.

#include <cstdint>
#include <vector>

#include "vtoken/applet/crypto_openssl.h"
#include "vtoken/applet/handler_table.h"

namespace vtoken::crypto {

namespace cw {
inline constexpr uint16_t kKeyPairNotFound = sw::kDataNotFound; // 0x6A88: no such key pair in the container
inline constexpr uint16_t kSessionKeyNotFound = 0x6A8C;         // no session key with that index
inline constexpr uint16_t kUnwrapKeyNotFound = 0x6A95;          // nothing to open a wrapped key with
inline constexpr uint16_t kContainerNotFound = 0x6A94;
inline constexpr uint16_t kVerifyFailed = sw::kWrongData;             // 0x6A80: signature or block refused
inline constexpr uint16_t kNoOperation = sw::kConditionsNotSatisfied; // 0x6985: no running digest/cipher/MAC
inline constexpr uint16_t kNotSupported = sw::kFunctionNotSupported;  // 0x6A81
} // namespace cw

// The session keys a token holds at once; one more is refused with 0x6A84.
inline constexpr size_t kMaxSessionKeys = 64;
// A loose session key, bound to no container, is named with this container id.
inline constexpr uint16_t kNoContainer = 0xFFFF;

// True when the reader consumed the data field exactly. An expected-answer length folded into the
// data field (two trailing bytes) is tolerated: hosts differ in where they count it.
bool DataEnds(const DataReader& reader);

// The application (opened since power-up) and the container a command names.
struct ContainerRef {
    ApplicationRecord* app = nullptr;
    ContainerRecord* container = nullptr;
    uint16_t appId = 0;
};
// 0x9000, or 0x698A (application not opened) or 0x6A94 (no such container).
uint16_t FindContainer(AppletContext& ctx, uint16_t appId, uint16_t containerId, ContainerRef* ref);
// As FindContainer, and the user PIN of the application must be verified (0x6982 otherwise).
uint16_t FindContainerAsUser(AppletContext& ctx, uint16_t appId, uint16_t containerId, ContainerRef* ref);
// Consumes the access code: 0x9000 when it was granted for this command, else 0x6982.
uint16_t TakeAccessCode(AppletContext& ctx);

enum class KeyRole { Signing, Exchange };
// The key pair a role names. The exchange role falls back on the signing pair when the container
// holds no exchange pair, so that a container with one pair can open what was sent to it.
KeyPairRecord* KeyPairFor(ContainerRecord& container, KeyRole role, KeyKind kind);
PkeyPtr LoadKeyPair(const KeyPairRecord& record);
// Stores a key pair in a container slot; false when it cannot be serialised.
bool StoreKeyPair(AppletContext& ctx, KeyPairRecord& slot, EVP_PKEY* key, KeyKind kind, uint32_t bits);

// Session keys by index (lost on power cycle). 0x9000 and *index, 0x6A84 when the token is full.
uint16_t AddSessionKey(VolatileState& state, uint32_t algorithm, const std::vector<uint8_t>& key, uint16_t* index);
SessionKey* FindSessionKey(VolatileState& state, uint16_t index);
// 0x9000 for a supported algorithm, 0x6A81 otherwise (SM1 and SSF33 included).
uint16_t CheckSessionAlgorithm(uint32_t algorithm);
// A fresh 16-byte key for an algorithm; stored and its index returned.
uint16_t NewSessionKey(VolatileState& state, uint32_t algorithm, SecretBytes* key, uint16_t* index);

// The token's SM2 cipher form: 00 00 01 00, C1.x, C1.y, C3, the length of C2 (4), C2.
std::vector<uint8_t> Sm2CipherForm(const std::vector<uint8_t>& c1c3c2);
// Reads one SM2 cipher form into C1.x ‖ C1.y ‖ C3 ‖ C2; false (reader failed or wrong key size) otherwise.
bool ReadSm2CipherForm(DataReader& reader, std::vector<uint8_t>* c1c3c2);
// Reads the 4-byte key size in front of an SM2 value; only 256 is known.
bool ReadSm2Bits(DataReader& reader);

std::vector<uint8_t> U16Bytes(uint16_t v);
std::vector<uint8_t> U32Bytes(uint32_t v);
void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more);

} // namespace vtoken::crypto
