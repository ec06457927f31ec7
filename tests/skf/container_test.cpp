// Containers over a virtual token: name rules, listing, opening, closing, deletion, key type, the
// status words of each function and the re-select loop with its limit.
#include "storage_fixture.h"

#include <algorithm>
#include <functional>

namespace keycore::test {
namespace {

class ContainerTest : public SkfStorageTest {
protected:
    void SetUp() override {
        SkfStorageTest::SetUp();
        VerifyUserPin();
    }

    HCONTAINER Create(const std::string& name) {
        HCONTAINER container = nullptr;
        EXPECT_EQ(SKF_CreateContainer(m_app, Text(name.c_str()), &container), SAR_OK) << name;
        return container;
    }

    std::vector<std::string> ContainerNames() {
        char list[512] = {};
        ULONG size = sizeof list;
        EXPECT_EQ(SKF_EnumContainer(m_app, list, &size), SAR_OK);
        std::vector<std::string> names = SplitNameList(list, size);
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ContainerTest, NamesOfSixtyFourCharactersAreAcceptedAndSixtyFiveRefused) {
    const std::string name64(64, 'c');
    const std::string name65(65, 'c');
    HCONTAINER container = Create(name64);
    ASSERT_NE(container, nullptr);
    HCONTAINER other = nullptr;
    EXPECT_EQ(SKF_CreateContainer(m_app, Text(name65.c_str()), &other), SAR_INVALIDPARAMERR);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(SKF_CreateContainer(m_app, Text(name64.c_str()), &other), SAR_FILE_ALREADY_EXIST);
    EXPECT_EQ(ContainerNames(), std::vector<std::string>{name64});

    ULONG type = 99;
    ASSERT_EQ(SKF_GetContainerType(container, &type), SAR_OK);
    EXPECT_EQ(type, 0u) << "no key pair yet";
}

TEST_F(ContainerTest, OpenCloseDeleteLifecycle) {
    HCONTAINER created = Create("box");
    ASSERT_EQ(SKF_CloseContainer(created), SAR_OK);
    EXPECT_EQ(SKF_CloseContainer(created), SAR_INVALIDHANDLEERR);

    HCONTAINER opened = nullptr;
    ASSERT_EQ(SKF_OpenContainer(m_app, Text("box"), &opened), SAR_OK);
    ASSERT_EQ(SKF_DeleteContainer(m_app, Text("box")), SAR_OK);
    EXPECT_TRUE(ContainerNames().empty());
    // The handle of a deleted container stays in the table; the token no longer knows its name.
    ULONG type = 0;
    EXPECT_EQ(SKF_GetContainerType(opened, &type), SAR_FILE_NOT_EXIST);
    HCONTAINER again = nullptr;
    EXPECT_EQ(SKF_OpenContainer(m_app, Text("box"), &again), SAR_FILE_NOT_EXIST);
    EXPECT_EQ(SKF_DeleteContainer(m_app, Text("box")), SAR_FILE_NOT_EXIST);
    EXPECT_EQ(SKF_CloseHandle(opened), SAR_OK);
}

TEST_F(ContainerTest, EnumContainerSizeRules) {
    ULONG size = 0;
    ASSERT_EQ(SKF_EnumContainer(m_app, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 2u);
    Create("one");
    Create("two");
    ASSERT_EQ(SKF_EnumContainer(m_app, nullptr, &size), SAR_OK);
    ASSERT_EQ(size, 9u);
    char list[16];
    std::memset(list, 'x', sizeof list);
    ULONG shortSize = size - 1;
    EXPECT_EQ(SKF_EnumContainer(m_app, list, &shortSize), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortSize, size - 1);
    EXPECT_EQ(list[0], 'x');
    EXPECT_EQ(ContainerNames(), (std::vector<std::string>{"one", "two"}));
}

TEST_F(ContainerTest, MissingArgumentsAreRefused) {
    HCONTAINER container = nullptr;
    ULONG value = 0;
    struct Case {
        const char* what;
        std::function<ULONG()> call;
        ULONG expected;
    } cases[] = {
        {"create, no application", [&] { return SKF_CreateContainer(nullptr, Text("a"), &container); },
         SAR_INVALIDPARAMERR},
        {"create, no name", [&] { return SKF_CreateContainer(m_app, nullptr, &container); }, SAR_INVALIDPARAMERR},
        {"create, no handle out", [&] { return SKF_CreateContainer(m_app, Text("a"), nullptr); }, SAR_INVALIDPARAMERR},
        {"open, no name", [&] { return SKF_OpenContainer(m_app, nullptr, &container); }, SAR_INVALIDPARAMERR},
        {"open, no handle out", [&] { return SKF_OpenContainer(m_app, Text("a"), nullptr); }, SAR_INVALIDPARAMERR},
        {"close, null", [&] { return SKF_CloseContainer(nullptr); }, SAR_INVALIDPARAMERR},
        {"close, foreign", [&] { return SKF_CloseContainer(&value); }, SAR_INVALIDHANDLEERR},
        {"enum, no size", [&] { return SKF_EnumContainer(m_app, nullptr, nullptr); }, SAR_INVALIDPARAMERR},
        {"delete, no name", [&] { return SKF_DeleteContainer(m_app, nullptr); }, SAR_INVALIDPARAMERR},
        {"type, no out", [&] { return SKF_GetContainerType(m_app, nullptr); }, SAR_INVALIDPARAMERR},
        {"type, foreign", [&] { return SKF_GetContainerType(&value, &value); }, SAR_INVALIDHANDLEERR},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.call(), c.expected) << c.what;
    EXPECT_EQ(container, nullptr);
}

TEST_F(ContainerTest, CloseAfterTheTokenLeftFreesTheHandle) {
    HCONTAINER container = Create("gone");
    Unplug();
    ULONG type = 0;
    EXPECT_EQ(SKF_GetContainerType(container, &type), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(SKF_CloseContainer(container), SAR_OK);
    EXPECT_EQ(SKF_CloseContainer(container), SAR_INVALIDHANDLEERR);
}

TEST_F(ContainerTest, StatusWordsTranslatePerFunction) {
    HCONTAINER existing = Create("known");
    HCONTAINER container = nullptr;
    ULONG value = 0;
    const std::function<ULONG()> create = [&] { return SKF_CreateContainer(m_app, Text("fresh"), &container); };
    const std::function<ULONG()> open = [&] { return SKF_OpenContainer(m_app, Text("known"), &container); };
    const std::function<ULONG()> enumerate = [&] { return SKF_EnumContainer(m_app, nullptr, &value); };
    const std::function<ULONG()> remove = [&] { return SKF_DeleteContainer(m_app, Text("known")); };
    const std::function<ULONG()> type = [&] { return SKF_GetContainerType(existing, &value); };
    const std::function<ULONG()> close = [&] { return SKF_CloseContainer(existing); };
    struct Case {
        const char* what;
        uint8_t ins;
        uint16_t status;
        const std::function<ULONG()>* call;
        ULONG expected;
    } cases[] = {
        {"create", ins::kCreateContainer, 0x6982, &create, SAR_USER_NOT_LOGGED_IN},
        {"create", ins::kCreateContainer, 0x6A88, &create, SAR_OBJERR},
        {"create", ins::kCreateContainer, 0x6E02, &create, SAR_FILE_ALREADY_EXIST},
        {"create", ins::kCreateContainer, 0x6A84, &create, SAR_FAIL},
        {"open", ins::kOpenContainer, 0x6982, &open, SAR_USER_NOT_LOGGED_IN},
        {"open", ins::kOpenContainer, 0x6A88, &open, SAR_OBJERR},
        {"open", ins::kOpenContainer, 0x6A91, &open, SAR_FILE_NOT_EXIST},
        {"open", ins::kOpenContainer, 0x6A93, &open, SAR_FAIL},
        {"enum", ins::kEnumContainer, 0x6982, &enumerate, SAR_FAIL},
        {"delete", ins::kDeleteContainer, 0x6982, &remove, SAR_USER_NOT_LOGGED_IN},
        {"delete", ins::kDeleteContainer, 0x6A84, &remove, SAR_NO_ROOM},
        {"delete", ins::kDeleteContainer, 0x6A88, &remove, SAR_OBJERR},
        {"delete", ins::kDeleteContainer, 0x6A93, &remove, SAR_FILE_NOT_EXIST},
        {"delete", ins::kDeleteContainer, 0x6A91, &remove, SAR_FAIL},
        {"type", ins::kContainerInfo, 0x6A88, &type, SAR_OBJERR},
        {"type", ins::kContainerInfo, 0x6A91, &type, SAR_FILE_NOT_EXIST},
        {"type", ins::kContainerInfo, 0x6982, &type, SAR_FAIL},
        {"close", ins::kCloseContainer, 0x6A91, &close, SAR_FILE_NOT_EXIST},
        {"close", ins::kCloseContainer, 0x6982, &close, SAR_FAIL},
    };
    for (const Case& c : cases) {
        container = nullptr;
        ForceStatus(c.ins, c.status);
        EXPECT_EQ((*c.call)(), c.expected) << c.what << " answered " << std::hex << c.status;
        EXPECT_EQ(container, nullptr) << c.what;
    }
    EXPECT_EQ(SKF_GetContainerType(existing, &value), SAR_OK) << "failed closes kept the handle";
}

TEST_F(ContainerTest, ApplicationNotSelectedIsReselectedOnceThenGivesUp) {
    ULONG size = 0;
    // One 0x698A: the application is selected again and the second attempt succeeds.
    ForceStatus(ins::kEnumContainer, 0x698A);
    TraceLines(m_token, true);
    EXPECT_EQ(SKF_EnumContainer(m_app, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 2u);
    const std::vector<std::string> trace = TraceLines(m_token);
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(), [](const std::string& l) { return l.rfind("> 8026", 0) == 0; }),
              1)
        << "one re-selection by name";

    // 0x698A on both attempts: the loop stops after two.
    ForceStatus(ins::kEnumContainer, 0x698A);
    ForceStatus(ins::kEnumContainer, 0x698A);
    EXPECT_EQ(SKF_EnumContainer(m_app, nullptr, &size), SAR_FAIL);
    Fault(m_token, {"clear"});

    // The re-selection itself fails.
    ForceStatus(ins::kEnumContainer, 0x698A);
    ForceStatus(ins::kOpenApplication, 0x6A8B);
    EXPECT_EQ(SKF_EnumContainer(m_app, nullptr, &size), SAR_APPLICATION_NOT_EXISTS);

    // Closing treats an unknown object like an unselected application.
    HCONTAINER container = Create("reclose");
    ForceStatus(ins::kCloseContainer, 0x6A88);
    EXPECT_EQ(SKF_CloseContainer(container), SAR_OK);
}

} // namespace
} // namespace keycore::test
