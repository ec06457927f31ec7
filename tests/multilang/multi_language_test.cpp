#include "multilang/multi_language.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

namespace orvex {
namespace {

using multilang_test::TempDir;

const char* const kComplete = "[settings]\n"
                              "CodePage=1028\n"
                              "Language=Test Language\n"
                              "FontFace=Test Sans\n"
                              "FontHeight=11\n"
                              "[strings]\n"
                              "30000=empty from file\n"
                              "30001=data from file\n"
                              "30040=failed %d\n"
                              "named=by name\n";

void ExpectDefaults(const MultiLanguage& ml) {
    EXPECT_FALSE(ml.IsLoaded());
    EXPECT_TRUE(ml.UsesDefaults());
    EXPECT_EQ(ml.GetCodePage(), 1033u);
    EXPECT_EQ(ml.GetLanguageName(), "English");
    EXPECT_EQ(ml.GetFontFaceName(), "Tahoma");
    EXPECT_EQ(ml.GetFontHeight(), 8);
    EXPECT_EQ(ml.GetString(30000ul, "Empty Device"), "Empty Device");
    EXPECT_EQ(ml.GetNumber(30000ul, 42), 42);
}

TEST(MultiLanguageTest, StartsUnsetWithEnglishDefaults) {
    MultiLanguage ml;
    EXPECT_FALSE(ml.IsInitialized());
    EXPECT_FALSE(ml.IsLoaded());
    EXPECT_TRUE(ml.UsesDefaults());
    EXPECT_EQ(ml.GetCodePage(), 0x1FFFFFFFu);
    EXPECT_EQ(ml.GetLanguageName(), "English");
    EXPECT_EQ(ml.GetFontFaceName(), "Tahoma");
    EXPECT_EQ(ml.GetFontHeight(), 8);
    EXPECT_EQ(ml.GetString(30002ul, "DevList"), "DevList");
}

TEST(MultiLanguageTest, CompleteFileGivesItsSettingsAndTexts) {
    MultiLanguage ml;
    ASSERT_TRUE(ml.LoadData(kComplete));
    EXPECT_TRUE(ml.IsLoaded());
    EXPECT_TRUE(ml.IsInitialized());
    EXPECT_FALSE(ml.UsesDefaults());
    EXPECT_EQ(ml.GetCodePage(), 1028u);
    EXPECT_EQ(ml.GetLanguageName(), "Test Language");
    EXPECT_EQ(ml.GetFontFaceName(), "Test Sans");
    EXPECT_EQ(ml.GetFontHeight(), 11);
    EXPECT_EQ(ml.GetString(30001ul, "Data Manger"), "data from file");
    EXPECT_EQ(ml.GetString("named", "default"), "by name");
    // The text is returned as stored: placeholders are for the caller to fill.
    EXPECT_EQ(ml.GetString(30040ul, "x %d"), "failed %d");
}

TEST(MultiLanguageTest, IdMissingFromTheFileGivesItsDefault) {
    MultiLanguage ml;
    ASSERT_TRUE(ml.LoadData(kComplete));
    EXPECT_EQ(ml.GetString(30002ul, "DevList"), "DevList");
    EXPECT_EQ(ml.GetString(30000ul, "Empty Device"), "empty from file");
    EXPECT_EQ(ml.GetString(30002ul, nullptr), "");
    EXPECT_EQ(ml.GetString("CodePage", "not a text id"), "not a text id");
    EXPECT_EQ(ml.GetNumber(30002ul, -5), -5);
}

// Every way a file can be incomplete makes the whole file unused.
TEST(MultiLanguageTest, IncompleteFilesLeaveEveryTextAtItsDefault) {
    struct Case {
        const char* what;
        const char* text;
    };
    const Case cases[] = {
        {"no strings section", "[settings]\nCodePage=2052\nLanguage=L\n"},
        {"no settings section", "[strings]\n30000=x\n"},
        {"no CodePage", "[settings]\nLanguage=L\n[strings]\n30000=x\n"},
        {"no Language", "[settings]\nCodePage=2052\n[strings]\n30000=x\n"},
        {"section names compare exactly", "[Settings]\nCodePage=2052\nLanguage=L\n[strings]\n30000=x\n"},
        {"duplicate id", "[settings]\nCodePage=2052\nLanguage=L\n[strings]\n30000=x\n30000=y\n"},
        {"empty section name", "[settings]\nCodePage=2052\nLanguage=L\n[]\n[strings]\n30000=x\n"},
        {"no sections at all", "30000=x\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MultiLanguage ml;
        EXPECT_FALSE(ml.LoadData(c.text));
        ExpectDefaults(ml);
    }
}

TEST(MultiLanguageTest, OptionalFontSettingsFallBack) {
    MultiLanguage ml;
    ASSERT_TRUE(ml.LoadData("[settings]\nCodePage=2052\nLanguage=L\n[strings]\n30000=x\n"));
    EXPECT_EQ(ml.GetFontFaceName(), "Tahoma");
    EXPECT_EQ(ml.GetFontHeight(), 8);
    EXPECT_EQ(ml.GetCodePage(), 2052u);
    EXPECT_EQ(ml.GetString(30000ul, "d"), "x");
}

TEST(MultiLanguageTest, NumbersTakeTheLeadingDecimalDigits) {
    struct Case {
        const char* stored;
        long expected;
    };
    const Case cases[] = {{"12", 12}, {"12px", 12}, {"010", 10},
                          {"px", 0},  {"", 0},      {"99999999999999999999", LONG_MAX}};
    for (const Case& c : cases) {
        MultiLanguage ml;
        const std::string text =
            std::string("[settings]\nCodePage=936\nLanguage=L\nFontHeight=") + c.stored + "\n[strings]\nn=" + c.stored;
        ASSERT_TRUE(ml.LoadData(text.c_str())) << c.stored;
        EXPECT_EQ(ml.GetNumber("n", -1), c.expected) << c.stored;
    }
    MultiLanguage ml;
    ASSERT_TRUE(ml.LoadData("[settings]\nCodePage=2052gbk\nLanguage=L\nFontHeight=99999999999\n[strings]\n"));
    EXPECT_EQ(ml.GetCodePage(), 2052u);
    EXPECT_EQ(ml.GetFontHeight(), INT_MAX);
}

TEST(MultiLanguageTest, FailedLoadAfterAGoodOneRestoresDefaults) {
    MultiLanguage ml;
    ASSERT_TRUE(ml.LoadData(kComplete));
    EXPECT_FALSE(ml.LoadData("[settings]\nCodePage=2052\nLanguage=L\n"));
    ExpectDefaults(ml);
    ASSERT_TRUE(ml.LoadData(kComplete));
    EXPECT_FALSE(ml.Load(std::string("/nonexistent/kvcsp_1028.lng")));
    ExpectDefaults(ml);
}

TEST(MultiLanguageTest, NullOrEmptyTextIsNoFile) {
    MultiLanguage ml;
    EXPECT_FALSE(ml.LoadData(nullptr));
    EXPECT_FALSE(ml.LoadData(""));
    ExpectDefaults(ml);
}

TEST(MultiLanguageFiles, CodePageSelectsTheFileOfDirectoryAndPrefix) {
    TempDir dir;
    dir.Write("kvcsp_2052.lng", "[settings]\nCodePage=2052\nLanguage=zh\n[strings]\n30002=two\n");
    dir.Write("kvcsp_1028.lng", "[settings]\nCodePage=1028\nLanguage=tw\n[strings]\n30002=tw\n");
    MultiLanguage ml;
    ml.SetPath(dir.Path());
    ml.SetPrefix("kvcsp");
    ASSERT_TRUE(ml.SetCodePage(2052));
    EXPECT_EQ(ml.GetString(30002ul, "DevList"), "two");
    EXPECT_EQ(ml.GetLanguageName(), "zh");
    ASSERT_TRUE(ml.SetCodePage(1028));
    EXPECT_EQ(ml.GetString(30002ul, "DevList"), "tw");
    EXPECT_EQ(ml.GetCodePage(), 1028u);
    // No file for this code page: back to the defaults.
    EXPECT_FALSE(ml.SetCodePage(1033));
    ExpectDefaults(ml);
    // A directory given with its trailing slash still finds the file.
    ml.SetPath(dir.Path() + "/");
    EXPECT_TRUE(ml.SetCodePage(2052));
}

TEST(MultiLanguageFiles, DirectoryEndingInBackslashGetsNoSlash) {
    TempDir dir;
    // The file name then starts with the directory text itself.
    dir.Write("lang\\kvcsp_2052.lng", "[settings]\nCodePage=2052\nLanguage=zh\n[strings]\n1=x\n");
    MultiLanguage ml;
    ml.SetPath(dir.Path() + "/lang\\");
    ml.SetPrefix("kvcsp");
    EXPECT_TRUE(ml.SetCodePage(2052));
    EXPECT_EQ(ml.GetString(1ul, "d"), "x");
}

TEST(MultiLanguageFiles, EmptyDirectoryLoadsNothing) {
    MultiLanguage ml;
    ml.SetPrefix("kvcsp");
    EXPECT_FALSE(ml.SetCodePage(2052));
    ExpectDefaults(ml);
    EXPECT_FALSE(ml.Load("kvcsp", 2052));
}

TEST(MultiLanguageInitialize, LoadsTheFileWhenDirectoryPrefixAndCodePageAreSet) {
    TempDir dir;
    dir.Write("kvcsp_1033.lng", "[settings]\nCodePage=1033\nLanguage=en\n[strings]\n30002=Devices\n");

    MultiLanguage unset;
    unset.SetPath(dir.Path());
    unset.SetPrefix("kvcsp");
    unset.Initialize();
    EXPECT_TRUE(unset.IsInitialized());
    EXPECT_FALSE(unset.IsLoaded());
    EXPECT_EQ(unset.GetString(30002ul, "DevList"), "DevList");

    MultiLanguage ml;
    ml.SetPath(dir.Path());
    ml.SetPrefix("kvcsp");
    EXPECT_FALSE(ml.SetCodePage(2052)); // no such file; the code page falls back to 1033
    ml.Initialize();
    EXPECT_TRUE(ml.IsLoaded());
    EXPECT_EQ(ml.GetString(30002ul, "DevList"), "Devices");
}

TEST(MultiLanguageInitialize, WorkingDirectoryWithBackslashNamesDirectoryAndPrefix) {
    TempDir dir;
    const std::string cwd = dir.Path() + "/lang\\app.exe";
    ASSERT_EQ(::mkdir(cwd.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((dir.Path() + "/lang").c_str(), 0700), 0);
    dir.Write("lang/app_1033.lng", "[settings]\nCodePage=1033\nLanguage=en\n[strings]\n1=from cwd\n");

    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(::chdir(cwd.c_str()), 0);
    MultiLanguage ml;
    EXPECT_FALSE(ml.Load("app", 1033)); // sets the code page, but no directory yet
    ml.Initialize();
    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_EQ(ml.GetPath(), dir.Path() + "/lang");
    EXPECT_EQ(ml.GetPrefix(), "app");
    EXPECT_EQ(ml.GetString(1ul, "d"), "from cwd");
}

TEST(MultiLanguageInitialize, WorkingDirectoryWithoutBackslashLeavesThemEmpty) {
    MultiLanguage ml;
    ml.Initialize();
    EXPECT_TRUE(ml.IsInitialized());
    EXPECT_TRUE(ml.GetPath().empty());
    EXPECT_TRUE(ml.GetPrefix().empty());
    EXPECT_TRUE(ml.UsesDefaults());
}

} // namespace
} // namespace orvex
