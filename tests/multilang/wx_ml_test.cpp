// The window-side functions act on the one instance of the process; each test sets up the language it
// needs, so the tests hold in any order.
#include "multilang/wx_ml.h"

#include "multilang/multi_language.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using multilang_test::TempDir;

class ScopedLang {
public:
    explicit ScopedLang(const char* value) {
        const char* previous = std::getenv("LANG");
        m_had = previous != nullptr;
        if (m_had)
            m_previous = previous;
        if (value != nullptr)
            ::setenv("LANG", value, 1);
        else
            ::unsetenv("LANG");
    }
    ~ScopedLang() {
        if (m_had)
            ::setenv("LANG", m_previous.c_str(), 1);
        else
            ::unsetenv("LANG");
    }

private:
    bool m_had = false;
    std::string m_previous;
};

TEST(SysLanguage, LangSelectsTheCodePage) {
    struct Case {
        const char* lang;
        unsigned long expected;
    };
    const Case cases[] = {
        {"zh_CN.UTF-8", 2052}, {"zh_cn.gb18030", 2052}, {"zh_CN.", 2052}, {"zh_TW.UTF-8", 1028},
        {"zh_tw.big5", 1028},  {"zh_CN", 1033},         {"zh_TW", 1033},  {"zh_Cn.UTF-8", 1033},
        {"zh_HK.UTF-8", 1033}, {"en_US.UTF-8", 1033},   {"C", 1033},      {"", 1033},
        {"zh_CN@utf8", 1033},  {nullptr, 1033},
    };
    for (const Case& c : cases) {
        ScopedLang lang(c.lang);
        EXPECT_EQ(wx_getSysLanguage(), c.expected) << (c.lang != nullptr ? c.lang : "(unset)");
    }
}

class LanguageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir.Write("kvcsp_2052.lng", "[settings]\nCodePage=2052\nLanguage=简体中文\n[strings]\n30002=设备列表\n");
        m_dir.Write("kvcsp_1028.lng", "[settings]\nCodePage=1028\nLanguage=繁體中文\nFontFace=Hei\nFontHeight=10\n"
                                      "[strings]\n30002=裝置清單\n30001=資料管理\nkey=text\n");
        // No 30002 here: the header keeps its default while the other texts come from the file.
        m_dir.Write("kvcsp_1033.lng", "[settings]\nCodePage=1033\nLanguage=English\n[strings]\n30000=No application\n");
        wx_ml_setPath(m_dir.Path());
        wx_ml_setPrefix("kvcsp");
    }

    TempDir m_dir;
};

TEST_F(LanguageFiles, TraditionalChineseLangLoadsItsFile) {
    ScopedLang lang("zh_TW.UTF-8");
    ASSERT_TRUE(wx_ml_setCodePage(wx_getSysLanguage()));
    EXPECT_EQ(__(30002, "DevList"), "裝置清單");
    EXPECT_EQ(___("key", "default"), "text");
    EXPECT_EQ(__(30000, "Empty Device"), "Empty Device");
    EXPECT_EQ(orvex::ml_getCodePage(), 1028u);
    EXPECT_EQ(orvex::ml_getLanguageName(), "繁體中文");
    EXPECT_EQ(orvex::ml_getFontFaceName(), "Hei");
    EXPECT_EQ(orvex::ml_getFontHeight(), 10);
}

TEST_F(LanguageFiles, CLocaleLoadsTheEnglishFileAndMissingIdsKeepDefaults) {
    ScopedLang lang("C");
    ASSERT_TRUE(wx_ml_setCodePage(wx_getSysLanguage()));
    EXPECT_EQ(__(30002, "DevList"), "DevList");
    EXPECT_EQ(__(30000, "Empty Device"), "No application");
    EXPECT_EQ(orvex::ml_getFontFaceName(), "Tahoma");
}

TEST_F(LanguageFiles, SwitchingLanguagesReplacesTheTexts) {
    ASSERT_TRUE(wx_ml_setCodePage(2052));
    EXPECT_EQ(__(30002, "DevList"), "设备列表");
    ASSERT_TRUE(wx_ml_setCodePage(1028));
    EXPECT_EQ(__(30002, "DevList"), "裝置清單");
    // A language without a file falls back to the built-in texts, not to the last file.
    EXPECT_FALSE(wx_ml_setCodePage(1041));
    EXPECT_EQ(__(30002, "DevList"), "DevList");
    EXPECT_EQ(__(30001, "Data Manger"), "Data Manger");
    EXPECT_EQ(orvex::ml_getCodePage(), 1033u);
    EXPECT_EQ(orvex::ml_getLanguageName(), "English");
}

TEST_F(LanguageFiles, MissingDirectoryGivesDefaults) {
    wx_ml_setPath(m_dir.Path() + "/missing");
    EXPECT_FALSE(wx_ml_setCodePage(2052));
    EXPECT_EQ(__(1000, "Chinese (Simplified)"), "Chinese (Simplified)");
    EXPECT_EQ(___("key", "default"), "default");
    EXPECT_EQ(__(1, nullptr), "");
}

TEST(GlobalLayer, TextsBeforeAnyLoadAreTheDefaults) {
    // The language names are asked for before the window loads any file.
    EXPECT_EQ(__(1000, "Chinese (Simplified)"), "Chinese (Simplified)");
    EXPECT_EQ(__(1002, "English"), "English");
    EXPECT_TRUE(orvex::ml_getInstance().IsInitialized());
    EXPECT_EQ(orvex::ml_getLanguageName(), "English");
    EXPECT_EQ(orvex::ml_getFontHeight(), 8);
}

TEST(GlobalLayer, LoadFromMemoryThroughTheNamespaceFunctions) {
    ASSERT_TRUE(orvex::ml_loadData("[settings]\nCodePage=2052\nLanguage=x\n[strings]\n70001=(容器)\n"));
    EXPECT_EQ(__(70001, "(container)"), "(容器)");
    EXPECT_EQ(orvex::__(70001, "(container)"), "(容器)");
    TempDir dir;
    ASSERT_TRUE(orvex::ml_load(dir.Write("any.name", "[settings]\nCodePage=1\nLanguage=y\n[strings]\n1=one\n")));
    EXPECT_EQ(__(1, "d"), "one");
    EXPECT_EQ(__(70001, "(container)"), "(container)");
    EXPECT_EQ(orvex::ml_getCodePage(), 1u);
}

} // namespace
