// Applications over a virtual token: listing with its size rules, creation, opening, deletion,
// closing, the handles' lifetime and the status words the token may answer.
#include "storage_fixture.h"

#include <algorithm>
#include <functional>

namespace keycore::test {
namespace {

using ApplicationTest = SkfStorageTest;

TEST_F(ApplicationTest, EnumApplicationSizeRules) {
    ULONG size = 0;
    ASSERT_EQ(SKF_EnumApplication(m_dev, nullptr, &size), SAR_OK);
    // "KEYCORE-APP", its NUL and the final NUL.
    ASSERT_EQ(size, sizeof kDefaultApp + 1);

    char list[64];
    std::memset(list, 'x', sizeof list);
    ULONG shortSize = size - 1;
    EXPECT_EQ(SKF_EnumApplication(m_dev, list, &shortSize), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortSize, size - 1) << "the size is left as it was";
    EXPECT_EQ(list[0], 'x') << "nothing is copied";

    ULONG bigSize = sizeof list;
    ASSERT_EQ(SKF_EnumApplication(m_dev, list, &bigSize), SAR_OK);
    EXPECT_EQ(bigSize, size);
    EXPECT_EQ(SplitNameList(list, bigSize), std::vector<std::string>{kDefaultApp});
    EXPECT_EQ(list[size - 1], '\0');

    EXPECT_EQ(SKF_EnumApplication(m_dev, list, nullptr), SAR_INVALIDPARAMERR);
}

TEST_F(ApplicationTest, CreateAcceptsThirtyTwoCharactersOpensTheNewOneAndRefusesDuplicates) {
    AuthenticateDevice();
    const std::string name32(32, 'A');
    HAPPLICATION created = nullptr;
    ASSERT_EQ(
        SKF_CreateApplication(m_dev, Text(name32.c_str()), Text("87654321"), 5, Text("11223344"), 6, 0xFF, &created),
        SAR_OK);
    ASSERT_NE(created, nullptr);
    // The returned handle is already open: its PIN information answers for the new application.
    ULONG maxRetry = 0, remaining = 0;
    BOOL isDefault = 0;
    ASSERT_EQ(SKF_GetPINInfo(created, kUserPinType, &maxRetry, &remaining, &isDefault), SAR_OK);
    EXPECT_EQ(maxRetry, 6u);
    ULONG retry = 0;
    EXPECT_EQ(SKF_VerifyPIN(created, kUserPinType, Text("11223344"), &retry), SAR_OK);

    char list[256] = {};
    ULONG size = sizeof list;
    ASSERT_EQ(SKF_EnumApplication(m_dev, list, &size), SAR_OK);
    std::vector<std::string> names = SplitNameList(list, size);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{name32, kDefaultApp})) << "the list is in the token's order";

    HAPPLICATION again = nullptr;
    EXPECT_EQ(
        SKF_CreateApplication(m_dev, Text(name32.c_str()), Text("87654321"), 5, Text("11223344"), 6, 0xFF, &again),
        SAR_FILE_ALREADY_EXIST);
    const std::string name33(33, 'B');
    EXPECT_EQ(
        SKF_CreateApplication(m_dev, Text(name33.c_str()), Text("87654321"), 5, Text("11223344"), 6, 0xFF, &again),
        SAR_INDATAERR);

    ASSERT_EQ(SKF_DeleteApplication(m_dev, Text(name32.c_str())), SAR_OK);
    EXPECT_EQ(SKF_OpenApplication(m_dev, Text(name32.c_str()), &again), SAR_APPLICATION_NOT_EXISTS);
    EXPECT_EQ(SKF_DeleteApplication(m_dev, Text(name32.c_str())), SAR_APPLICATION_NOT_EXISTS);
}

TEST_F(ApplicationTest, MissingArgumentsAreRefusedBeforeAnyTokenWork) {
    HAPPLICATION app = nullptr;
    struct Case {
        const char* what;
        std::function<ULONG()> call;
        ULONG expected;
    } cases[] = {
        {"create, no name", [&] { return SKF_CreateApplication(m_dev, nullptr, Text("1"), 1, Text("1"), 1, 0, &app); },
         SAR_INVALIDPARAMERR},
        {"create, no admin PIN",
         [&] { return SKF_CreateApplication(m_dev, Text("X"), nullptr, 1, Text("1"), 1, 0, &app); },
         SAR_INVALIDPARAMERR},
        {"create, no user PIN",
         [&] { return SKF_CreateApplication(m_dev, Text("X"), Text("1"), 1, nullptr, 1, 0, &app); },
         SAR_INVALIDPARAMERR},
        {"create, no handle out",
         [&] { return SKF_CreateApplication(m_dev, Text("X"), Text("1"), 1, Text("1"), 1, 0, nullptr); },
         SAR_INVALIDPARAMERR},
        {"create, retry count beyond a byte",
         [&] { return SKF_CreateApplication(m_dev, Text("X"), Text("1"), 256, Text("1"), 1, 0, &app); },
         SAR_INVALIDPARAMERR},
        {"open, no name", [&] { return SKF_OpenApplication(m_dev, nullptr, &app); }, SAR_INVALIDPARAMERR},
        {"open, empty name", [&] { return SKF_OpenApplication(m_dev, Text(""), &app); }, SAR_INVALIDPARAMERR},
        {"open, no handle out", [&] { return SKF_OpenApplication(m_dev, Text(kDefaultApp), nullptr); },
         SAR_INVALIDPARAMERR},
        {"delete, no name", [&] { return SKF_DeleteApplication(m_dev, nullptr); }, SAR_INVALIDPARAMERR},
        {"open, foreign device handle", [&] { return SKF_OpenApplication(&app, Text(kDefaultApp), &app); },
         SAR_INVALIDHANDLEERR},
        {"close, null handle", [&] { return SKF_CloseApplication(nullptr); }, SAR_INVALIDHANDLEERR},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.call(), c.expected) << c.what;
    EXPECT_EQ(app, nullptr);
}

TEST_F(ApplicationTest, ApplicationHandleOutlivesItsDeviceHandle) {
    ASSERT_EQ(SKF_CloseHandle(m_dev), SAR_OK);
    ULONG size = 0;
    EXPECT_EQ(SKF_EnumApplication(m_dev, nullptr, &size), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(SKF_EnumFiles(m_app, nullptr, &size), SAR_OK);
    EXPECT_EQ(SKF_CloseApplication(m_app), SAR_OK);
    EXPECT_EQ(SKF_CloseApplication(m_app), SAR_INVALIDHANDLEERR) << "a closed handle leaves the table";
}

TEST_F(ApplicationTest, CloseAfterTheTokenLeftFreesTheHandle) {
    HAPPLICATION second = nullptr;
    ASSERT_EQ(SKF_OpenApplication(m_dev, Text(kDefaultApp), &second), SAR_OK);
    Unplug();
    ULONG size = 0;
    EXPECT_EQ(SKF_EnumFiles(m_app, nullptr, &size), SAR_INVALIDHANDLEERR) << "no device: a dead handle";
    EXPECT_EQ(SKF_CloseApplication(m_app), SAR_OK);
    EXPECT_EQ(SKF_CloseApplication(m_app), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(SKF_CloseHandle(second), SAR_OK);
}

TEST_F(ApplicationTest, FailedCloseKeepsTheHandle) {
    ForceStatus(ins::kCloseApplication, 0x6A88);
    EXPECT_EQ(SKF_CloseApplication(m_app), SAR_INVALIDHANDLEERR);
    ULONG size = 0;
    EXPECT_EQ(SKF_EnumFiles(m_app, nullptr, &size), SAR_OK) << "the handle is still in the table";
    EXPECT_EQ(SKF_CloseApplication(m_app), SAR_OK);
}

// The translation of every function, driven by forced status words. A status that the function's
// table does not list is a plain failure even when the common table knows it.
TEST_F(ApplicationTest, StatusWordsTranslatePerFunction) {
    HAPPLICATION app = nullptr;
    char list[256];
    const std::function<ULONG()> create = [&] {
        return SKF_CreateApplication(m_dev, Text("NEWAPP"), Text("1"), 3, Text("2"), 3, 0xFF, &app);
    };
    const std::function<ULONG()> enumerate = [&] {
        ULONG size = sizeof list;
        return SKF_EnumApplication(m_dev, list, &size);
    };
    const std::function<ULONG()> remove = [&] { return SKF_DeleteApplication(m_dev, Text("NEWAPP")); };
    const std::function<ULONG()> open = [&] { return SKF_OpenApplication(m_dev, Text(kDefaultApp), &app); };
    struct Case {
        const char* what;
        uint8_t ins;
        uint16_t status;
        const std::function<ULONG()>* call;
        ULONG expected;
    } cases[] = {
        {"create", ins::kCreateApplication, 0x6700, &create, SAR_INDATALENERR},
        {"create", ins::kCreateApplication, 0x6982, &create, SAR_USER_NOT_LOGGED_IN},
        {"create", ins::kCreateApplication, 0x6A84, &create, SAR_NO_ROOM},
        {"create", ins::kCreateApplication, 0x6A89, &create, SAR_FILE_ALREADY_EXIST},
        {"create", ins::kCreateApplication, 0x6A88, &create, SAR_FAIL},
        {"create", ins::kCreateApplication, 0x6581, &create, SAR_FAIL},
        {"enum", ins::kEnumApplication, 0x6982, &enumerate, SAR_FAIL},
        {"delete", ins::kDeleteApplication, 0x6700, &remove, SAR_INDATALENERR},
        {"delete", ins::kDeleteApplication, 0x6982, &remove, SAR_USER_NOT_LOGGED_IN},
        {"delete", ins::kDeleteApplication, 0x6A84, &remove, SAR_NO_ROOM},
        {"delete", ins::kDeleteApplication, 0x6A8B, &remove, SAR_APPLICATION_NOT_EXISTS},
        {"delete", ins::kDeleteApplication, 0x6A89, &remove, SAR_FAIL},
        {"open", ins::kOpenApplication, 0x6700, &open, SAR_INDATALENERR},
        {"open", ins::kOpenApplication, 0x6982, &open, SAR_USER_NOT_LOGGED_IN},
        {"open", ins::kOpenApplication, 0x6A84, &open, SAR_NO_ROOM},
        {"open", ins::kOpenApplication, 0x6A8B, &open, SAR_APPLICATION_NOT_EXISTS},
        {"open", ins::kOpenApplication, 0x6A88, &open, SAR_FAIL},
    };
    for (const Case& c : cases) {
        app = nullptr;
        ForceStatus(c.ins, c.status);
        EXPECT_EQ((*c.call)(), c.expected) << c.what << " answered " << std::hex << c.status;
        EXPECT_EQ(app, nullptr) << c.what << ": no handle on failure";
    }

    const struct {
        uint16_t status;
        ULONG expected;
    } closeCases[] = {
        {0x6700, SAR_INDATALENERR}, {0x6982, SAR_USER_NOT_LOGGED_IN}, {0x6A84, SAR_NO_ROOM}, {0x6A8B, SAR_FAIL}};
    for (const auto& c : closeCases) {
        ForceStatus(ins::kCloseApplication, c.status);
        EXPECT_EQ(SKF_CloseApplication(m_app), c.expected) << "close answered " << std::hex << c.status;
    }
}

class BlankTokenTest : public SkfStorageTest {
protected:
    std::vector<std::string> PlugOptions() const override { return {"--blank"}; }
    bool OpenDefaultApplication() const override { return false; }
};

TEST_F(BlankTokenTest, ATokenWithoutApplicationsListsTwoBytes) {
    char list[8];
    std::memset(list, 'x', sizeof list);
    ULONG size = sizeof list;
    ASSERT_EQ(SKF_EnumApplication(m_dev, list, &size), SAR_OK);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(list[0], '\0');
    EXPECT_EQ(list[1], '\0');
}

} // namespace
} // namespace keycore::test
