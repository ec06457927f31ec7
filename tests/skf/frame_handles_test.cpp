// The handle table and the status-word translation on their own, without a token.
#include "keycore/skf.h"
#include "skf/skf_frame.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace keycore {
namespace {

TEST(GMHandlesTest, ValuesAreNeverIssuedTwiceSoAClosedValueStaysInvalid) {
    GMHandles table;
    HANDLE first = nullptr;
    table.Create(&first);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(table.Remove(first));
    // A freed object's address is often handed out again by the allocator; the value must not be.
    std::set<HANDLE> later;
    for (int i = 0; i < 64; ++i) {
        HANDLE value = nullptr;
        table.Create(&value);
        later.insert(value);
    }
    EXPECT_EQ(later.count(first), 0u);
    EXPECT_EQ(later.size(), 64u);
    EXPECT_FALSE(table.Contains(first));
    EXPECT_FALSE(table.Remove(first));
}

TEST(GMHandlesTest, ForeignValuesAreRefusedWithoutBeingTouched) {
    GMHandles table;
    HANDLE value = nullptr;
    table.Create(&value);
    int local = 0;
    // Garbage that would crash if it were dereferenced.
    const void* foreign[] = {nullptr, &local, reinterpret_cast<void*>(1), reinterpret_cast<void*>(~uintptr_t{0}),
                             static_cast<char*>(value) + 1};
    for (const void* candidate : foreign) {
        EXPECT_FALSE(table.Contains(candidate));
        EXPECT_EQ(table.Find(candidate), nullptr);
        EXPECT_FALSE(table.Remove(candidate));
    }
    EXPECT_TRUE(table.Contains(value));
}

TEST(GMHandlesTest, FindGivesTheObjectCreateFilledAndItOutlivesItsRemoval) {
    GMHandles table;
    HANDLE value = nullptr;
    std::shared_ptr<GMHandle> created = table.Create(&value);
    EXPECT_EQ(created->m_conId, 0u);
    EXPECT_TRUE(created->m_pending.empty());
    created->m_devName = "dev-A";
    std::shared_ptr<GMHandle> found = table.Find(value);
    ASSERT_EQ(found, created);
    created.reset();
    // A thread still working with the handle keeps a usable object while another closes it.
    ASSERT_TRUE(table.Remove(value));
    EXPECT_EQ(found->m_devName, "dev-A");
    EXPECT_EQ(found.use_count(), 1);
}

TEST(GMHandlesTest, RemoveByDevicePathTakesOnlyTheFirstMatchInCreationOrder) {
    GMHandles table;
    struct Entry {
        const char* path;
        HANDLE value;
    } entries[] = {{"", nullptr}, {"007:002", nullptr}, {"007:0020", nullptr}, {"007:002", nullptr}};
    for (Entry& entry : entries)
        table.Create(&entry.value)->m_devPath = entry.path;

    table.RemoveByDevicePath("007:002");
    EXPECT_TRUE(table.Contains(entries[0].value));
    EXPECT_FALSE(table.Contains(entries[1].value));
    EXPECT_TRUE(table.Contains(entries[2].value)) << "a longer path is another device";
    EXPECT_TRUE(table.Contains(entries[3].value)) << "only the first handle of the path goes";

    table.RemoveByDevicePath("007:002");
    EXPECT_FALSE(table.Contains(entries[3].value));
    table.RemoveByDevicePath("009:009");
    EXPECT_TRUE(table.Contains(entries[0].value));
    EXPECT_TRUE(table.Contains(entries[2].value));
}

TEST(GMHandlesTest, ThreadsCreatingClosingAndRemovingByPathKeepTheTableConsistent) {
    GMHandles table;
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        // Each thread has a device path of its own, so only it can remove its handles: a handle it
        // has just added must be there until it removes it, whatever the others do meanwhile.
        threads.emplace_back([&table, &failed, t] {
            const std::string path = "bus:" + std::to_string(t);
            for (int i = 0; i < 2000; ++i) {
                auto handle = std::make_shared<GMHandle>();
                handle->m_devPath = path;
                HANDLE value = table.Add(std::move(handle));
                if (!table.Contains(value) || table.Find(value) == nullptr)
                    failed = true;
                if (i % 2 == 0)
                    table.Remove(value);
                else
                    table.RemoveByDevicePath(path);
                if (table.Contains(value))
                    failed = true;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_FALSE(failed);
}

TEST(SkfCloseHandleTest, RefusesNullForeignAndAlreadyClosedValues) {
    EXPECT_EQ(SKF_CloseHandle(nullptr), SAR_INVALIDHANDLEERR);
    int local = 0;
    EXPECT_EQ(SKF_CloseHandle(&local), SAR_INVALIDHANDLEERR);

    HANDLE value = nullptr;
    GMHandles::Table().Create(&value);
    EXPECT_EQ(SKF_CloseHandle(value), SAR_OK);
    EXPECT_FALSE(GMHandles::Table().Contains(value));
    EXPECT_EQ(SKF_CloseHandle(value), SAR_INVALIDHANDLEERR);
}

TEST(SkfEntryFrameTest, AnExceptionBecomesUnknownError) {
    EXPECT_EQ(RunSkfEntry([]() -> ULONG { throw std::bad_alloc(); }), static_cast<ULONG>(SAR_UNKNOWNERR));
    EXPECT_EQ(RunSkfEntry([]() -> ULONG { throw 7; }), static_cast<ULONG>(SAR_UNKNOWNERR));
    EXPECT_EQ(RunSkfEntry([]() -> ULONG { return SAR_NO_ROOM; }), static_cast<ULONG>(SAR_NO_ROOM));
}

TEST(StatusTranslationTest, CommonTable) {
    const struct {
        TokenStatus status;
        ULONG result;
    } cases[] = {
        {0x9000, SAR_OK},
        {0x6581, SAR_DEVICE_REMOVED},
        {0x6700, SAR_INDATALENERR},
        {0x6982, SAR_USER_NOT_LOGGED_IN},
        {0x6983, SAR_PIN_LOCKED},
        {0x698A, SAR_APPLICATION_NOT_EXISTS},
        {0x6A80, SAR_INDATAERR},
        {0x6A81, SAR_NOTSUPPORTYETERR},
        {0x6A84, SAR_NO_ROOM},
        {0x6A88, SAR_OBJERR},
        {0x6A89, SAR_FILE_ALREADY_EXIST},
        {0x6A8B, SAR_APPLICATION_NOT_EXISTS},
        {0x6A8C, SAR_KEYNOTFOUNTERR},
        {0x6A91, SAR_FILE_NOT_EXIST},
        {0x6A93, SAR_FILE_NOT_EXIST},
        {0x6A94, SAR_FILE_NOT_EXIST},
        {0x6A95, SAR_OBJERR},
        {0x6A96, SAR_CERTNOTFOUNTERR},
        {0x6A9D, SAR_INVALIDPARAMERR},
        {0x0150, SAR_BUFFER_TOO_SMALL},
        // Everything else, including near misses and the transport failure, is a plain failure.
        {0x63C3, SAR_FAIL},
        {0x6A92, SAR_FAIL},
        {0x9001, SAR_FAIL},
        {0x0000, SAR_FAIL},
        {kSwTransportFailure, SAR_FAIL},
        {0x19000, SAR_FAIL},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SarFromStatus(c.status), c.result) << std::hex << c.status;
}

TEST(StatusTranslationTest, DeparturesComeBeforeTheCommonTable) {
    EXPECT_EQ(SarFromStatus(0x6A95, kSessionKeyDepartures), static_cast<ULONG>(SAR_KEYNOTFOUNTERR));
    EXPECT_EQ(SarFromStatus(0x6A88, kSessionKeyDepartures), static_cast<ULONG>(SAR_OBJERR));
    EXPECT_EQ(SarFromStatus(0x63C2, {{0x63C2, SAR_PIN_INCORRECT}}), static_cast<ULONG>(SAR_PIN_INCORRECT));
}

} // namespace
} // namespace keycore
