#pragma once
// The slot table that every process of the machine shares: which slot identifier belongs to which
// device path. The slot manager writes it; the device monitor reads it to agree on identifiers.
//
// Layout (little-endian, 4,096 bytes of segment data):
//   offset 0          record count N (uint64)
//   offset 8 + 400*k  record of slot identifier k + 1, k = 0 .. 9
// Record (400 bytes, zero-filled when written):
//   0 slot identifier (uint64, 0 ends the used part)   8 token present (1 or 0)
//   64 device name (64 bytes, zero-terminated)         128 device path (260 bytes, zero-terminated)
//   392 device type (uint64: 8 HID, 9 SCSI-style)
// The table is written by other processes, so the reader trusts nothing in it: counts are clamped to
// the records that fit and strings to their fields.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keycore {

// Every named System V object of the library begins with this text.
inline constexpr char kIpcNamePrefix[] = "77d27154-7d0d-4d0e-926a-86fcd88dc536";

namespace slot_table {

inline constexpr uint32_t kTableSize = 4096;
inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kRecordSize = 400;
inline constexpr size_t kMaxRecords = 10;
inline constexpr size_t kPresentOffset = 8;
inline constexpr size_t kNameOffset = 64;
inline constexpr size_t kNameSize = 64;
inline constexpr size_t kPathOffset = 128;
inline constexpr size_t kPathSize = 260;
inline constexpr size_t kTypeOffset = 392;

// Name of the shared segment (CShareMemory adds its own suffixes).
std::string TableName();

struct Record {
    uint64_t slotId = 0;
    bool present = false;
    std::string deviceName;
    std::string devicePath;
    uint64_t deviceType = 0;
};

// The stored count N as it is (it may be larger than the records that exist).
uint64_t ReadCount(const uint8_t* table, size_t size);
void WriteCount(uint8_t* table, size_t size, uint64_t count);

// The used records: at most min(N, kMaxRecords, records that fit in size), stopping at the first
// record whose slot identifier is 0.
std::vector<Record> ReadRecords(const uint8_t* table, size_t size);

// Writes the record of slot identifier record.slotId (position slotId - 1), zero-filled, with the name
// and path cut to leave their terminating zero. False, writing nothing, when the identifier has no
// place in the table (0, above kMaxRecords, or beyond size).
bool WriteRecord(uint8_t* table, size_t size, const Record& record);

} // namespace slot_table
} // namespace keycore
