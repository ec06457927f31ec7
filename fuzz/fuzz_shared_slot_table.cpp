// The shared slot table reader over arbitrary bytes: any process of the machine can write the table.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pkcs11/shared_slot_table.h"

namespace st = keycore::slot_table;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The input as given (any length) and as a whole table, zero-filled.
    std::vector<uint8_t> table(st::kTableSize, 0);
    if (size > 0)
        std::memcpy(table.data(), data, size < table.size() ? size : table.size());
    const std::vector<uint8_t> exact(data, data + size);
    const std::vector<uint8_t>* inputs[] = {&exact, &table};
    for (const std::vector<uint8_t>* bytes : inputs) {
        const std::vector<st::Record> records = st::ReadRecords(bytes->data(), bytes->size());
        if (records.size() > st::kMaxRecords)
            std::abort();
        for (const st::Record& record : records) {
            if (record.slotId == 0 || record.deviceName.size() >= st::kNameSize + 1 ||
                record.devicePath.size() > st::kPathSize)
                std::abort();
            // What was read can be written back into a whole table at its place, and reads the same.
            std::vector<uint8_t> copy(st::kTableSize, 0);
            if (record.slotId <= st::kMaxRecords) {
                // The records before it, so that the read does not stop at an empty one.
                for (uint64_t id = 1; id < record.slotId; ++id)
                    st::WriteRecord(copy.data(), copy.size(), {id, false, "", "", 9});
                if (!st::WriteRecord(copy.data(), copy.size(), record))
                    std::abort();
                st::WriteCount(copy.data(), copy.size(), record.slotId);
                const std::vector<st::Record> again = st::ReadRecords(copy.data(), copy.size());
                if (again.empty() || again.back().slotId != record.slotId ||
                    again.back().deviceType != record.deviceType)
                    std::abort();
            } else if (st::WriteRecord(copy.data(), copy.size(), record)) {
                std::abort();
            }
        }
    }
    return 0;
}
