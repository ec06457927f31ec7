#include "pkcs11/notify_message.h"

#include <cstring>

namespace keycore::notify_message {

namespace {

void PutU32(std::vector<uint8_t>& out, size_t offset, uint32_t value) {
    std::memcpy(out.data() + offset, &value, sizeof(value));
}

void PutU64(std::vector<uint8_t>& out, size_t offset, uint64_t value) {
    std::memcpy(out.data() + offset, &value, sizeof(value));
}

uint32_t GetU32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof(value));
    return value;
}

uint64_t GetU64(const uint8_t* p) {
    uint64_t value;
    std::memcpy(&value, p, sizeof(value));
    return value;
}

// The text from p up to its zero byte or the end, and where the next text begins.
std::string TakeText(const uint8_t*& p, const uint8_t* end) {
    const void* zero = std::memchr(p, 0, static_cast<size_t>(end - p));
    const uint8_t* stop = zero ? static_cast<const uint8_t*>(zero) : end;
    std::string text(reinterpret_cast<const char*>(p), static_cast<size_t>(stop - p));
    p = stop == end ? end : stop + 1;
    return text;
}

} // namespace

std::vector<uint8_t> Serialize(const KV_SLOT_EVENT& event) {
    const size_t recordLength = event.devicePath.size() + event.deviceName.size() + 34;
    if (kHeaderSize + recordLength > kMaxMessageSize)
        return {};
    std::vector<uint8_t> message(kHeaderSize + recordLength, 0);
    PutU32(message, 0, static_cast<uint32_t>(event.ulEvent));
    PutU32(message, 4, static_cast<uint32_t>(recordLength));
    PutU64(message, 8, event.slotId);
    PutU64(message, 16, event.ulEvent);
    PutU64(message, 24, event.ulParam);
    PutU64(message, 32, event.ulValue);
    size_t offset = kHeaderSize + kFixedRecordSize;
    std::memcpy(message.data() + offset, event.devicePath.data(), event.devicePath.size());
    offset += event.devicePath.size() + 1;
    std::memcpy(message.data() + offset, event.deviceName.data(), event.deviceName.size());
    return message;
}

bool Parse(const uint8_t* pbMessage, size_t ulLength, KV_SLOT_EVENT& event) {
    if (pbMessage == nullptr || ulLength < kHeaderSize + kFixedRecordSize)
        return false;
    const uint32_t recordLength = GetU32(pbMessage + 4);
    if (recordLength < kMinRecordLength)
        return false;
    // The strings end where the record says it ends, or at the end of what arrived if that is sooner.
    const size_t available = ulLength - kHeaderSize;
    const size_t used = recordLength < available ? recordLength : available;
    if (used < kFixedRecordSize)
        return false;
    const uint8_t* record = pbMessage + kHeaderSize;
    KV_SLOT_EVENT decoded;
    decoded.slotId = GetU64(record);
    decoded.ulEvent = GetU64(record + 8);
    decoded.ulParam = GetU64(record + 16);
    decoded.ulValue = GetU64(record + 24);
    const uint8_t* p = record + kFixedRecordSize;
    const uint8_t* end = record + used;
    decoded.devicePath = TakeText(p, end);
    decoded.deviceName = TakeText(p, end);
    event = decoded;
    return true;
}

} // namespace keycore::notify_message
