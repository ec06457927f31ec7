#include "runtime/random_hex_name.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace keycore {
namespace {

bool IsUpperHexName(const char* name) {
    if (std::strlen(name) != kRandomHexNameLength)
        return false;
    for (size_t i = 0; i < kRandomHexNameLength; ++i) {
        if (std::strchr("0123456789ABCDEF", name[i]) == nullptr)
            return false;
    }
    return true;
}

// A private file holding the given bytes, used as the random source.
class RandomSourceFile {
public:
    explicit RandomSourceFile(const std::vector<unsigned char>& bytes) {
        char pattern[] = "/tmp/keycore-random-XXXXXX";
        int fd = mkstemp(pattern);
        if (fd >= 0) {
            m_path = pattern;
            ssize_t written = write(fd, bytes.data(), bytes.size());
            (void)written;
            close(fd);
        }
    }
    ~RandomSourceFile() {
        if (!m_path.empty())
            unlink(m_path.c_str());
    }
    const char* path() const { return m_path.c_str(); }
    std::vector<unsigned char> contents() const {
        std::ifstream in(m_path, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string m_path;
};

// The first call of a process writes its seed into the source; one real call first keeps the known-byte
// sources below from being written to.
void SeedOnce() {
    char name[kRandomHexNameMinCapacity];
    ASSERT_EQ(RandomHexName(name, sizeof name), CKR_OK);
}

// Bytes 01 23 .. EF as a little-endian number, low nibble first; then 10 32 .. FE likewise.
const std::vector<unsigned char> kKnownBytes = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                                0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
const char kKnownName[] = "1032547698BADCFE0123456789ABCDEF";

TEST(RandomHexNameTest, CapacityBelowThirtySevenFails) {
    for (size_t capacity : {size_t{0}, size_t{32}, size_t{33}, size_t{36}}) {
        char out[64];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(RandomHexName(out, capacity), CKR_GENERAL_ERROR) << capacity;
        EXPECT_EQ(out[0], '#') << "output touched with capacity " << capacity;
    }
    EXPECT_EQ(RandomHexName(nullptr, 64), CKR_GENERAL_ERROR);
}

TEST(RandomHexNameTest, ThirtySevenBytesReceiveThirtyTwoHexDigits) {
    for (size_t capacity : {size_t{37}, size_t{64}}) {
        std::vector<char> out(capacity + 1, '#');
        ASSERT_EQ(RandomHexName(out.data(), capacity), CKR_OK) << capacity;
        EXPECT_TRUE(IsUpperHexName(out.data())) << out.data();
        EXPECT_EQ(out[kRandomHexNameLength + 1], '#') << "wrote past the terminator";
    }
}

TEST(RandomHexNameTest, NamesDifferAndTheLastOneIsKept) {
    char first[40];
    char second[40];
    ASSERT_EQ(RandomHexName(first, sizeof first), CKR_OK);
    ASSERT_EQ(RandomHexName(second, sizeof second), CKR_OK);
    EXPECT_STRNE(first, second);
    EXPECT_EQ(LastRandomHexName(), second);
}

TEST(RandomHexNameTest, DigitsAreLowNibbleFirstOfTwoLittleEndianHalves) {
    SeedOnce();
    RandomSourceFile source(kKnownBytes);
    char out[40];
    ASSERT_EQ(RandomHexNameFrom(source.path(), out, sizeof out), CKR_OK);
    EXPECT_STREQ(out, kKnownName);
    EXPECT_EQ(LastRandomHexName(), kKnownName);
}

TEST(RandomHexNameTest, ShortOrMissingSourceFailsAndKeepsEverything) {
    SeedOnce();
    const std::string last = LastRandomHexName();
    RandomSourceFile shortSource(std::vector<unsigned char>(kKnownBytes.begin(), kKnownBytes.begin() + 15));
    char out[40] = "untouched";
    EXPECT_EQ(RandomHexNameFrom(shortSource.path(), out, sizeof out), CKR_GENERAL_ERROR);
    EXPECT_EQ(RandomHexNameFrom("/nonexistent/random", out, sizeof out), CKR_GENERAL_ERROR);
    EXPECT_EQ(RandomHexNameFrom(nullptr, out, sizeof out), CKR_GENERAL_ERROR);
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(LastRandomHexName(), last);
}

// The seed is process state, so this runs in a freshly started copy of the test program.
void FirstCallWritesTimePlusPidThenReads() {
    std::vector<unsigned char> bytes(8 + kKnownBytes.size(), 0xAA);
    for (size_t i = 0; i < kKnownBytes.size(); ++i)
        bytes[8 + i] = kKnownBytes[i];
    RandomSourceFile source(bytes);
    char out[40];
    const uint64_t before = static_cast<uint64_t>(time(nullptr)) + static_cast<uint64_t>(getpid());
    if (RandomHexNameFrom(source.path(), out, sizeof out) != CKR_OK || std::strcmp(out, kKnownName) != 0)
        std::exit(1);
    const uint64_t after = static_cast<uint64_t>(time(nullptr)) + static_cast<uint64_t>(getpid());
    std::vector<unsigned char> written = source.contents();
    uint64_t seed = 0;
    std::memcpy(&seed, written.data(), sizeof seed);
    if (seed < before || seed > after)
        std::exit(2);
    // Later calls do not seed again: the next read starts where the first one stopped.
    if (RandomHexNameFrom(source.path(), out, sizeof out) != CKR_OK || std::strcmp(out, kKnownName) == 0)
        std::exit(3);
    std::exit(0);
}

TEST(RandomHexNameDeathTest, FirstCallOfTheProcessStirsInTimePlusPid) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(FirstCallWritesTimePlusPidThenReads(), ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace keycore
