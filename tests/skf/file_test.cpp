// Files of an application over a virtual token: creation rules, information, listing, reads past the
// end, writes in 2,000-byte pieces, and the status words the token may answer.
#include "storage_fixture.h"

#include <algorithm>
#include <functional>
#include <thread>

namespace keycore::test {
namespace {

constexpr ULONG kAnyone = 0xFF;

class FileTest : public SkfStorageTest {
protected:
    void CreateFile(const char* name, ULONG size) {
        ASSERT_EQ(SKF_CreateFile(m_app, Text(name), size, kAnyone, kAnyone), SAR_OK) << name;
    }

    static std::vector<BYTE> Pattern(size_t size) {
        std::vector<BYTE> data(size);
        for (size_t i = 0; i < size; ++i)
            data[i] = static_cast<BYTE>(i * 7 + i / 251);
        return data;
    }
};

TEST_F(FileTest, NameLengthAndSizeRules) {
    const std::string name31(31, 'f');
    const std::string name32(32, 'f');
    EXPECT_EQ(SKF_CreateFile(m_app, Text(name31.c_str()), 16, kAnyone, kAnyone), SAR_OK);
    EXPECT_EQ(SKF_CreateFile(m_app, Text(name32.c_str()), 16, kAnyone, kAnyone), SAR_NAMELENERR);
    EXPECT_EQ(SKF_CreateFile(m_app, Text(name31.c_str()), 16, kAnyone, kAnyone), SAR_FILE_ALREADY_EXIST);

    FILEATTRIBUTE info;
    std::memset(&info, 0xA5, sizeof info);
    ASSERT_EQ(SKF_GetFileInfo(m_app, Text(name31.c_str()), &info), SAR_OK);
    EXPECT_STREQ(info.FileName, name31.c_str());
    EXPECT_EQ(info.FileSize, 16u);
    EXPECT_EQ(info.ReadRights, kAnyone);
    EXPECT_EQ(info.WriteRights, kAnyone);
    EXPECT_EQ(SKF_GetFileInfo(m_app, Text(name32.c_str()), &info), SAR_NAMELENERR) << "never overruns FileName";

    ASSERT_EQ(SKF_DeleteFile(m_app, Text(name31.c_str())), SAR_OK);
    EXPECT_EQ(SKF_GetFileInfo(m_app, Text(name31.c_str()), &info), SAR_FILE_NOT_EXIST);
    EXPECT_EQ(SKF_DeleteFile(m_app, Text(name31.c_str())), SAR_FILE_NOT_EXIST);
}

TEST_F(FileTest, MissingArgumentsAreRefused) {
    BYTE data[4] = {};
    ULONG len = 0;
    FILEATTRIBUTE info;
    struct Case {
        const char* what;
        std::function<ULONG()> call;
        ULONG expected;
    } cases[] = {
        {"create, no handle", [&] { return SKF_CreateFile(nullptr, Text("a"), 1, 0, 0); }, SAR_INVALIDPARAMERR},
        {"create, no name", [&] { return SKF_CreateFile(m_app, nullptr, 1, 0, 0); }, SAR_INVALIDPARAMERR},
        {"create, size 0", [&] { return SKF_CreateFile(m_app, Text("a"), 0, 0, 0); }, SAR_INVALIDPARAMERR},
        {"delete, no name", [&] { return SKF_DeleteFile(m_app, nullptr); }, SAR_INVALIDPARAMERR},
        {"enum, no size", [&] { return SKF_EnumFiles(m_app, nullptr, nullptr); }, SAR_INVALIDPARAMERR},
        {"info, no out", [&] { return SKF_GetFileInfo(m_app, Text("a"), nullptr); }, SAR_INVALIDPARAMERR},
        {"read, no buffer", [&] { return SKF_ReadFile(m_app, Text("a"), 0, 4, nullptr, &len); }, SAR_INVALIDPARAMERR},
        {"read, no length out", [&] { return SKF_ReadFile(m_app, Text("a"), 0, 4, data, nullptr); },
         SAR_INVALIDPARAMERR},
        {"write, no data", [&] { return SKF_WriteFile(m_app, Text("a"), 0, nullptr, 4); }, SAR_INVALIDPARAMERR},
        {"write, size 0", [&] { return SKF_WriteFile(m_app, Text("a"), 0, data, 0); }, SAR_INVALIDPARAMERR},
        {"write beyond 16-bit addressing", [&] { return SKF_WriteFile(m_app, Text("a"), 0xFFFE, data, 4); },
         SAR_INDATALENERR},
        {"info, foreign handle", [&] { return SKF_GetFileInfo(&info, Text("a"), &info); }, SAR_INVALIDHANDLEERR},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.call(), c.expected) << c.what;
}

TEST_F(FileTest, EnumFilesSizeRules) {
    ULONG size = 0;
    ASSERT_EQ(SKF_EnumFiles(m_app, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 2u) << "an application without files lists two bytes";
    CreateFile("alpha", 10);
    CreateFile("beta", 10);
    ASSERT_EQ(SKF_EnumFiles(m_app, nullptr, &size), SAR_OK);
    ASSERT_EQ(size, 12u);

    char list[32];
    std::memset(list, 'x', sizeof list);
    ULONG shortSize = size - 1;
    EXPECT_EQ(SKF_EnumFiles(m_app, list, &shortSize), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortSize, size - 1);
    EXPECT_EQ(list[0], 'x');
    ULONG fullSize = sizeof list;
    ASSERT_EQ(SKF_EnumFiles(m_app, list, &fullSize), SAR_OK);
    EXPECT_EQ(fullSize, size);
    std::vector<std::string> names = SplitNameList(list, fullSize);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta"}));
}

TEST_F(FileTest, ReadsStopAtTheEndOfTheFile) {
    CreateFile("hundred", 100);
    std::vector<BYTE> data = Pattern(100);
    ASSERT_EQ(SKF_WriteFile(m_app, Text("hundred"), 0, data.data(), 100), SAR_OK);

    struct Case {
        ULONG offset;
        ULONG size;
        ULONG expected;
    } cases[] = {{0, 100, 100}, {90, 20, 10}, {40, 0xFFFFFFFF, 60}, {99, 1, 1}, {100, 5, 0}, {150, 5, 0}};
    for (const Case& c : cases) {
        std::vector<BYTE> out(128, 0xEE);
        ULONG outLen = 12345;
        ASSERT_EQ(SKF_ReadFile(m_app, Text("hundred"), c.offset, c.size, out.data(), &outLen), SAR_OK) << c.offset;
        ASSERT_EQ(outLen, c.expected) << "offset " << c.offset << " size " << c.size;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + outLen, data.begin() + std::min<ULONG>(c.offset, 100)));
        EXPECT_EQ(out[outLen], 0xEE) << "nothing written beyond the reported length";
    }
    ULONG outLen = 0;
    BYTE one = 0;
    EXPECT_EQ(SKF_ReadFile(m_app, Text("missing"), 0, 1, &one, &outLen), SAR_FILE_NOT_EXIST);
}

TEST_F(FileTest, LargeWriteGoesInPiecesOfTwoThousandBytesAndReadsBack) {
    CreateFile("big", 5000);
    const std::vector<BYTE> data = Pattern(4500);
    TraceLines(m_token, true);
    ASSERT_EQ(SKF_WriteFile(m_app, Text("big"), 300, const_cast<BYTE*>(data.data()), 4500), SAR_OK);

    // 80 3A 00 00 | 00 Lc Lc | app (2) | offset (2) | name length (2) | name | piece length (2) | data
    std::vector<std::pair<unsigned, unsigned>> pieces;
    for (const std::string& line : TraceLines(m_token)) {
        if (line.rfind("> 803A", 0) != 0)
            continue;
        const vtoken::test::Bytes command = vtoken::test::FromHex(line.substr(2));
        ASSERT_GE(command.size(), 13u + 3 + 2);
        const unsigned offset = command[9] << 8 | command[10];
        const unsigned nameLen = command[11] << 8 | command[12];
        const size_t at = 13 + nameLen;
        pieces.emplace_back(offset, command[at] << 8 | command[at + 1]);
    }
    const std::vector<std::pair<unsigned, unsigned>> expected{{300, 2000}, {2300, 2000}, {4300, 500}};
    EXPECT_EQ(pieces, expected);

    std::vector<BYTE> out(4500);
    ULONG outLen = 0;
    ASSERT_EQ(SKF_ReadFile(m_app, Text("big"), 300, 4500, out.data(), &outLen), SAR_OK);
    EXPECT_EQ(outLen, 4500u);
    EXPECT_EQ(out, data);
}

TEST_F(FileTest, StatusWordsTranslatePerFunction) {
    CreateFile("known", 64);
    BYTE data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ULONG len = 0;
    FILEATTRIBUTE info;
    char list[64];
    const std::function<ULONG()> create = [&] { return SKF_CreateFile(m_app, Text("other"), 8, kAnyone, kAnyone); };
    const std::function<ULONG()> remove = [&] { return SKF_DeleteFile(m_app, Text("known")); };
    const std::function<ULONG()> enumerate = [&] {
        ULONG size = sizeof list;
        return SKF_EnumFiles(m_app, list, &size);
    };
    const std::function<ULONG()> getInfo = [&] { return SKF_GetFileInfo(m_app, Text("known"), &info); };
    const std::function<ULONG()> read = [&] { return SKF_ReadFile(m_app, Text("known"), 0, 8, data, &len); };
    const std::function<ULONG()> write = [&] { return SKF_WriteFile(m_app, Text("known"), 0, data, 8); };
    struct Case {
        const char* what;
        uint8_t ins;
        uint16_t status;
        const std::function<ULONG()>* call;
        ULONG expected;
    } cases[] = {
        {"create", ins::kCreateFile, 0x6982, &create, SAR_USER_NOT_LOGGED_IN},
        {"create", ins::kCreateFile, 0x6A84, &create, SAR_NO_ROOM},
        {"create", ins::kCreateFile, 0x6A88, &create, SAR_OBJERR},
        {"create", ins::kCreateFile, 0x6A92, &create, SAR_FILE_ALREADY_EXIST},
        {"create", ins::kCreateFile, 0x6700, &create, SAR_FAIL},
        {"delete", ins::kDeleteFile, 0x6982, &remove, SAR_USER_NOT_LOGGED_IN},
        {"delete", ins::kDeleteFile, 0x6A84, &remove, SAR_NO_ROOM},
        {"delete", ins::kDeleteFile, 0x6A88, &remove, SAR_OBJERR},
        {"delete", ins::kDeleteFile, 0x6A93, &remove, SAR_FILE_NOT_EXIST},
        {"enum", ins::kEnumFiles, 0x6700, &enumerate, SAR_INDATALENERR},
        {"enum", ins::kEnumFiles, 0x6982, &enumerate, SAR_USER_NOT_LOGGED_IN},
        {"enum", ins::kEnumFiles, 0x6A84, &enumerate, SAR_NO_ROOM},
        {"enum", ins::kEnumFiles, 0x6A89, &enumerate, SAR_FILE_ALREADY_EXIST},
        {"enum", ins::kEnumFiles, 0x6A88, &enumerate, SAR_FAIL},
        {"info", ins::kFileInfo, 0x6982, &getInfo, SAR_USER_NOT_LOGGED_IN},
        {"info", ins::kFileInfo, 0x6A88, &getInfo, SAR_OBJERR},
        {"info", ins::kFileInfo, 0x6A93, &getInfo, SAR_FILE_NOT_EXIST},
        {"info", ins::kFileInfo, 0x6A84, &getInfo, SAR_FAIL},
        {"read, info step", ins::kFileInfo, 0x6A88, &read, SAR_OBJERR},
        {"read", ins::kReadFile, 0x6982, &read, SAR_USER_NOT_LOGGED_IN},
        {"read", ins::kReadFile, 0x6A93, &read, SAR_FILE_NOT_EXIST},
        {"read", ins::kReadFile, 0x6B00, &read, SAR_READFILEERR},
        {"read", ins::kReadFile, 0x6E01, &read, SAR_READFILEERR},
        {"read", ins::kReadFile, 0x6A88, &read, SAR_FAIL},
        {"write", ins::kWriteFile, 0x6982, &write, SAR_USER_NOT_LOGGED_IN},
        {"write", ins::kWriteFile, 0x6A93, &write, SAR_FILE_NOT_EXIST},
        {"write", ins::kWriteFile, 0x6B00, &write, SAR_WRITEFILEERR},
        {"write", ins::kWriteFile, 0x6E01, &write, SAR_WRITEFILEERR},
        {"write", ins::kWriteFile, 0x6A84, &write, SAR_FAIL},
    };
    for (const Case& c : cases) {
        ForceStatus(c.ins, c.status);
        EXPECT_EQ((*c.call)(), c.expected) << c.what << " answered " << std::hex << c.status;
    }
}

// The token's current application is shared by every process; when another one closed it, a file
// command selects it again once.
TEST_F(FileTest, ApplicationClosedElsewhereIsSelectedAgain) {
    CreateFile("kept", 8);
    FILEATTRIBUTE info;
    ForceStatus(ins::kFileInfo, 0x698A);
    EXPECT_EQ(SKF_GetFileInfo(m_app, Text("kept"), &info), SAR_OK);
    BYTE data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ForceStatus(ins::kWriteFile, 0x698A);
    EXPECT_EQ(SKF_WriteFile(m_app, Text("kept"), 0, data, 8), SAR_OK);
    ForceStatus(ins::kWriteFile, 0x698A);
    ForceStatus(ins::kWriteFile, 0x698A);
    EXPECT_EQ(SKF_WriteFile(m_app, Text("kept"), 0, data, 8), SAR_FAIL) << "one re-selection only";
    Fault(m_token, {"clear"});
    ForceStatus(ins::kEnumFiles, 0x698A);
    ForceStatus(ins::kOpenApplication, 0x6A8B);
    ULONG size = 0;
    EXPECT_EQ(SKF_EnumFiles(m_app, nullptr, &size), SAR_APPLICATION_NOT_EXISTS);
}

// Another process verifies the PIN and writes, reads back and compares a file of its own on the same
// token while this process does the same: every command sequence is serialised on the token, so no
// round may come back different.
TEST_F(FileTest, TwoProcessesWritingAtOnceKeepTheirDataIntact) {
    VerifyUserPin();
    CreateFile("mine", 4500);
    const std::string peer = SKF_FILE_PEER_PATH;
    std::thread other([&] {
        const vtoken::test::ToolResult result = vtoken::test::RunShell(peer + " alpha 25");
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    });
    const std::vector<BYTE> data = Pattern(4500);
    for (int round = 0; round < 25; ++round) {
        ULONG retry = 0;
        EXPECT_EQ(SKF_VerifyPIN(m_app, kUserPinType, Text(kDefaultPinText), &retry), SAR_OK);
        EXPECT_EQ(SKF_WriteFile(m_app, Text("mine"), 0, const_cast<BYTE*>(data.data()), 4500), SAR_OK);
        std::vector<BYTE> out(4500);
        ULONG outLen = 0;
        EXPECT_EQ(SKF_ReadFile(m_app, Text("mine"), 0, 4500, out.data(), &outLen), SAR_OK);
        EXPECT_EQ(outLen, 4500u);
        EXPECT_EQ(out, data) << "round " << round;
        if (HasFailure())
            break;
    }
    other.join();
    // The other process closed the application on its way out; this one's handle still works.
    FILEATTRIBUTE info;
    EXPECT_EQ(SKF_GetFileInfo(m_app, Text("alpha"), &info), SAR_OK);
    EXPECT_EQ(info.FileSize, 4500u);
}

} // namespace
} // namespace keycore::test
