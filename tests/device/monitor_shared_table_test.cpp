// The shared slot table's record layout, read and written as other processes see it.

#include "pkcs11/shared_slot_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace keycore::test {
namespace {

namespace st = slot_table;

std::vector<uint8_t> EmptyTable() {
    return std::vector<uint8_t>(st::kTableSize, 0);
}

uint64_t Le64At(const std::vector<uint8_t>& table, size_t offset) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | table[offset + static_cast<size_t>(i)];
    return value;
}

TEST(SharedSlotTable, RecordsLandAtTheirFixedOffsets) {
    std::vector<uint8_t> table = EmptyTable();
    st::WriteCount(table.data(), table.size(), 2);
    ASSERT_TRUE(st::WriteRecord(table.data(), table.size(), {2, true, "Orvex5100GM-G VCR 2", "007:002", 8}));
    const size_t base = 8 + 400;
    EXPECT_EQ(Le64At(table, 0), 2u);
    EXPECT_EQ(Le64At(table, base), 2u);
    EXPECT_EQ(table[base + 8], 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&table[base + 64])), "Orvex5100GM-G VCR 2");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&table[base + 128])), "007:002");
    EXPECT_EQ(Le64At(table, base + 392), 8u);
    EXPECT_EQ(std::vector<uint8_t>(table.begin() + 8, table.begin() + 8 + 400), std::vector<uint8_t>(400, 0))
        << "record 1 untouched";
}

TEST(SharedSlotTable, WriteRefusesIdentifiersWithoutAPlace) {
    std::vector<uint8_t> table = EmptyTable();
    for (uint64_t id : {0u, 11u, 256u}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(st::WriteRecord(table.data(), table.size(), {id, true, "n", "p", 9}));
    }
    EXPECT_EQ(table, EmptyTable());
    EXPECT_TRUE(st::WriteRecord(table.data(), table.size(), {10, true, "n", "p", 9}));
    // A segment too small for record 10 refuses it too.
    std::vector<uint8_t> small(8 + 400 * 3, 0);
    EXPECT_FALSE(st::WriteRecord(small.data(), small.size(), {4, true, "n", "p", 9}));
    EXPECT_TRUE(st::WriteRecord(small.data(), small.size(), {3, true, "n", "p", 9}));
}

TEST(SharedSlotTable, LongTextsKeepTheirTerminator) {
    std::vector<uint8_t> table = EmptyTable();
    st::WriteCount(table.data(), table.size(), 1);
    ASSERT_TRUE(
        st::WriteRecord(table.data(), table.size(), {1, true, std::string(100, 'n'), std::string(300, 'p'), 9}));
    EXPECT_EQ(table[8 + 64 + 63], 0);
    EXPECT_EQ(table[8 + 128 + 259], 0);
    const std::vector<st::Record> records = st::ReadRecords(table.data(), table.size());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].deviceName, std::string(63, 'n'));
    EXPECT_EQ(records[0].devicePath, std::string(259, 'p'));
}

TEST(SharedSlotTable, ReaderTrustsNothingInTheTable) {
    struct Case {
        const char* what;
        uint64_t count;
        std::vector<uint64_t> ids; // written at positions 1, 2, ...
        size_t size;
        size_t expected;
    };
    const Case cases[] = {
        {"count as written", 2, {1, 2, 3}, st::kTableSize, 2},
        {"count beyond ten", 1000, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, st::kTableSize, 10},
        {"id 0 ends the table", 3, {1, 0, 3}, st::kTableSize, 1},
        {"count beyond the segment", 10, {1, 2, 3}, 8 + 400 * 2 + 399, 2},
        {"no header", 5, {}, 7, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> table = EmptyTable();
        for (size_t k = 0; k < c.ids.size(); ++k) {
            table[8 + 400 * k] = static_cast<uint8_t>(c.ids[k]);
            table[8 + 400 * k + 392] = 9;
        }
        st::WriteCount(table.data(), table.size(), c.count);
        // Fill the name and path fields of record 1 without any terminator.
        std::memset(&table[8 + 64], 'n', 64);
        std::memset(&table[8 + 128], 'p', 260);
        table.resize(c.size);
        const std::vector<st::Record> records = st::ReadRecords(table.data(), table.size());
        ASSERT_EQ(records.size(), c.expected);
        if (!records.empty()) {
            EXPECT_EQ(records[0].deviceName, std::string(64, 'n'));
            EXPECT_EQ(records[0].devicePath, std::string(260, 'p'));
        }
    }
}

} // namespace
} // namespace keycore::test
