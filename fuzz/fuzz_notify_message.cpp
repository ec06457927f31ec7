// A message read from this process's notification FIFO, written by any other process.
#include "pkcs11/notify_message.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    keycore::KV_SLOT_EVENT event;
    if (keycore::notify_message::Parse(data, size, event)) {
        // What was accepted must be sendable again within the channel's limit.
        const std::vector<uint8_t> again = keycore::notify_message::Serialize(event);
        if (!again.empty() && again.size() > keycore::notify_message::kMaxMessageSize)
            __builtin_trap();
    }
    return 0;
}
