#include "pkcs11/shared_slot_table.h"

#include <algorithm>
#include <cstring>

namespace keycore::slot_table {

namespace {

uint64_t GetLe64(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

void PutLe64(uint8_t* p, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string GetField(const uint8_t* p, size_t size) {
    const void* end = std::memchr(p, 0, size);
    const size_t length = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - p) : size;
    return std::string(reinterpret_cast<const char*>(p), length);
}

void PutField(uint8_t* p, size_t size, const std::string& value) {
    std::memcpy(p, value.data(), std::min(value.size(), size - 1));
}

size_t RecordsThatFit(size_t size) {
    return size < kHeaderSize ? 0 : (size - kHeaderSize) / kRecordSize;
}

} // namespace

std::string TableName() {
    return std::string(kIpcNamePrefix) + "_slotmgr";
}

uint64_t ReadCount(const uint8_t* table, size_t size) {
    return table && size >= kHeaderSize ? GetLe64(table) : 0;
}

void WriteCount(uint8_t* table, size_t size, uint64_t count) {
    if (table && size >= kHeaderSize)
        PutLe64(table, count);
}

std::vector<Record> ReadRecords(const uint8_t* table, size_t size) {
    std::vector<Record> records;
    if (!table)
        return records;
    const uint64_t limit = std::min<uint64_t>({ReadCount(table, size), kMaxRecords, RecordsThatFit(size)});
    for (uint64_t k = 0; k < limit; ++k) {
        const uint8_t* p = table + kHeaderSize + k * kRecordSize;
        Record record;
        record.slotId = GetLe64(p);
        if (record.slotId == 0)
            break;
        record.present = p[kPresentOffset] != 0;
        record.deviceName = GetField(p + kNameOffset, kNameSize);
        record.devicePath = GetField(p + kPathOffset, kPathSize);
        record.deviceType = GetLe64(p + kTypeOffset);
        records.push_back(std::move(record));
    }
    return records;
}

bool WriteRecord(uint8_t* table, size_t size, const Record& record) {
    if (!table || record.slotId == 0 || record.slotId > std::min(kMaxRecords, RecordsThatFit(size)))
        return false;
    uint8_t* p = table + kHeaderSize + (record.slotId - 1) * kRecordSize;
    std::memset(p, 0, kRecordSize);
    PutLe64(p, record.slotId);
    p[kPresentOffset] = record.present ? 1 : 0;
    PutField(p + kNameOffset, kNameSize, record.deviceName);
    PutField(p + kPathOffset, kPathSize, record.devicePath);
    PutLe64(p + kTypeOffset, record.deviceType);
    return true;
}

} // namespace keycore::slot_table
