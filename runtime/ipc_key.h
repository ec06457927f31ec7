#pragma once
// The one rule that turns the name of a cross-process object into its System V key. Every process
// of the machine must derive the same key from the same name, so this rule is fixed.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace keycore {

// Returned when a name has no usable key.
constexpr key_t kNoIpcKey = -1;

// Key from an MD5 digest: bytes 0-7 read as a little-endian 64-bit number; zero means no key,
// otherwise its low 32 bits (bytes 0-3) as a signed key_t. Keys -1 and 0 are refused too: -1 is
// the "no key" marker and 0 is IPC_PRIVATE, which would give every caller a fresh private object.
key_t IpcKeyFromDigest(const uint8_t digest[16]);

// MD5 of the name's bytes (no terminator), then IpcKeyFromDigest. kNoIpcKey when none.
key_t IpcKeyFromName(const std::string& name);

} // namespace keycore
