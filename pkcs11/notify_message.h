#pragma once
// The message one process sends the others about a slot event, carried by the notification channel:
//
//   offset 0   event code, low 32 bits (uint32)      offset 4  L, length of the record (uint32)
//   offset 8   slot identifier (uint64)              offset 16 event code (uint64)
//   offset 24  argument (uint64)                     offset 32 device type or value (uint64)
//   offset 40  device path bytes, 0, device name bytes, 0
//
// L = path length + name length + 34 and 8 + L bytes are sent. Integers are in native byte order
// (both ends are processes of one machine). The bytes come from another process, so the reader
// trusts nothing: lengths are checked against what arrived and strings end at the message's end.

#include "device/kv_slot_event.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keycore::notify_message {

inline constexpr size_t kMaxMessageSize = 2048;
inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kFixedRecordSize = 32;
// A record shorter than this is ignored by the receiver.
inline constexpr uint32_t kMinRecordLength = 24;

// The message bytes for the event; empty when they would not fit kMaxMessageSize.
std::vector<uint8_t> Serialize(const KV_SLOT_EVENT& event);

// Decodes a received message. False (event untouched) when it is too short for its header, its L
// is below kMinRecordLength, or the record's fixed part does not fit in what arrived.
bool Parse(const uint8_t* pbMessage, size_t ulLength, KV_SLOT_EVENT& event);

} // namespace keycore::notify_message
