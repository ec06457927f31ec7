#include "multilang/ini_file.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <map>
#include <string>
#include <vector>

namespace orvex {
namespace {

using multilang_test::TempDir;

std::string ValueOf(const IniFile& file, const std::string& section, const std::string& key) {
    const IniSection* found = file.GetSection(section);
    return found != nullptr ? found->GetString(key) : std::string("<no section>");
}

std::string OutputText(const IniFile& file) {
    const std::size_t size = file.Output(nullptr);
    if (size == 0)
        return std::string();
    std::string buffer(size, '\x7f');
    EXPECT_EQ(file.Output(&buffer[0]), size);
    EXPECT_EQ(buffer.back(), '\0');
    buffer.pop_back();
    return buffer;
}

struct LineCase {
    const char* what;
    const char* text;
    const char* key;
    const char* expected;
};

// One key line inside "[s]", and the value it must give.
TEST(IniFileLoad, KeyLinesGiveTheirValues) {
    const LineCase cases[] = {
        {"only the first '=' splits", "name = va=lue", "name", " va=lue"},
        {"key trimmed at both ends, value kept as is", " \t key \t= v \t", "key", " v \t"},
        {"empty value", "k=", "k", ""},
        {"backslash-n is a line feed", "k=a\\nb", "k", "a\nb"},
        {"backslash-r and backslash-t", "k=\\r\\t", "k", "\r\t"},
        {"doubled backslash before n stays a backslash and n", "k=a\\\\nb", "k", "a\\nb"},
        {"doubled backslash alone is one backslash", "k=c:\\\\dir", "k", "c:\\dir"},
        {"three backslashes and n: backslash then line feed", "k=\\\\\\n", "k", "\\\n"},
        {"unknown escape stays", "k=\\x\\", "k", "\\x\\"},
        {"percent signs are plain text", "k=%d of %s", "k", "%d of %s"},
        {"UTF-8 text passes unchanged", "k=证书（容器）", "k", "证书（容器）"},
        {"empty key is a key", "=v", "", "v"},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.what);
        IniFile file;
        ASSERT_TRUE(file.Load((std::string("[s]\n") + c.text + "\n").c_str()));
        EXPECT_EQ(ValueOf(file, "s", c.key), c.expected);
    }
}

// The escapes as the format defines them: doubled backslashes parked as a marker byte, then the three
// escapes, then the marker back to one backslash. The loader must agree on every value without that byte.
std::string ResolvedWithMarker(std::string value) {
    ReplaceString(value, "\\\\", "\x01");
    ReplaceString(value, "\\r", "\r");
    ReplaceString(value, "\\n", "\n");
    ReplaceString(value, "\\t", "\t");
    ReplaceString(value, "\x01", "\\");
    return value;
}

TEST(IniFileLoad, EscapesAgreeWithTheMarkerDefinitionOnEveryShortValue) {
    const std::string alphabet = "\\rntx";
    std::vector<std::string> values{""};
    for (std::size_t length = 1, first = 0; length <= 6; ++length) {
        const std::size_t end = values.size();
        for (std::size_t i = first; i < end; ++i)
            for (const char c : alphabet)
                values.push_back(values[i] + c);
        first = end;
    }
    for (const std::string& value : values) {
        IniFile file;
        ASSERT_TRUE(file.Load(("[s]\nk=" + value + "\n").c_str()));
        ASSERT_EQ(ValueOf(file, "s", "k"), ResolvedWithMarker(value)) << value;
    }
}

TEST(IniFileLoad, MarkerByteInAValueIsKept) {
    IniFile file;
    ASSERT_TRUE(file.Load("[s]\nk=a\x01"
                          "b\\\\\x01\n"));
    EXPECT_EQ(ValueOf(file, "s", "k"), "a\x01"
                                       "b\\\x01");
}

TEST(IniFileLoad, CarriageReturnOfCrLfLinesStaysAtTheEndOfValues) {
    IniFile file;
    ASSERT_TRUE(file.Load("[s]\r\nk=v\r\n  other = w \r\n"));
    EXPECT_EQ(ValueOf(file, "s", "k"), "v\r");
    EXPECT_EQ(ValueOf(file, "s", "other"), " w \r");
}

TEST(IniFileLoad, CommentsBlankAndPlainLinesAreSkipped) {
    IniFile file;
    ASSERT_TRUE(file.Load("# top=1\n[s]\n; a=1\n   # b=2\n\n \t\r\njust words\nc=3"));
    const IniSection* s = file.GetSection("s");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Entries(), (std::map<std::string, std::string>{{"c", "3"}}));
}

TEST(IniFileLoad, HeaderNameLiesBetweenFirstOpenAndLastCloseBracket) {
    IniFile file;
    ASSERT_TRUE(file.Load("  [ my sec ]  trailing\nk=1\n[a]b]\nk=2\n"));
    EXPECT_EQ(ValueOf(file, " my sec ", "k"), "1");
    EXPECT_EQ(ValueOf(file, "a]b", "k"), "2");
}

TEST(IniFileLoad, RepeatedHeaderContinuesItsSection) {
    IniFile file;
    ASSERT_TRUE(file.Load("[a]\nx=1\n[b]\ny=2\n[a]\nz=3\n"));
    EXPECT_EQ(file.GetSection("a")->Entries(), (std::map<std::string, std::string>{{"x", "1"}, {"z", "3"}}));
    EXPECT_EQ(file.GetSection("b")->Entries().size(), 1u);
}

TEST(IniFileLoad, EmptySectionNameStopsTheLoadKeepingWhatCameBefore) {
    IniFile file;
    EXPECT_FALSE(file.Load("[a]\nx=1\n[]\ny=2\n[b]\nz=3\n"));
    EXPECT_EQ(ValueOf(file, "a", "x"), "1");
    EXPECT_EQ(ValueOf(file, "a", "y"), kIniMissing);
    EXPECT_EQ(file.GetSection("b"), nullptr);
}

TEST(IniFileLoad, DuplicateKeyStopsTheLoadAndKeepsTheFirstValue) {
    IniFile file;
    EXPECT_FALSE(file.Load("[s]\nk=first\nk=second\nafter=1\n[t]\nu=2\n"));
    EXPECT_EQ(ValueOf(file, "s", "k"), "first");
    EXPECT_EQ(ValueOf(file, "s", "after"), kIniMissing);
    EXPECT_EQ(file.GetSection("t"), nullptr);
}

TEST(IniFileLoad, DuplicateAfterKeyTrimmingCounts) {
    IniFile file;
    EXPECT_FALSE(file.Load("[s]\nk=1\n  k \t=2\n"));
    EXPECT_EQ(ValueOf(file, "s", "k"), "1");
}

// Neither line can be given a meaning; both are skipped and the load goes on.
TEST(IniFileLoad, KeyBeforeAnyHeaderAndUnclosedHeaderAreSkipped) {
    IniFile file;
    EXPECT_TRUE(file.Load("orphan=1\n[s]\na=1\n[broken\nb=2\n"));
    EXPECT_EQ(file.GetSection("broken"), nullptr);
    EXPECT_EQ(file.GetSection("[broken"), nullptr);
    // The unclosed header does not end the section before it.
    EXPECT_EQ(file.GetSection("s")->Entries(), (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(OutputText(file), "[s]\r\na=1\r\nb=2\r\n");
}

TEST(IniFileLoad, LastLineWithoutLineFeedCounts) {
    IniFile file;
    ASSERT_TRUE(file.Load("[s]\nk=v"));
    EXPECT_EQ(ValueOf(file, "s", "k"), "v");
}

TEST(IniFileLoad, NewLoadReplacesEarlierContent) {
    IniFile file;
    ASSERT_TRUE(file.Load("[old]\nk=1\n"));
    ASSERT_TRUE(file.Load("[new]\nk=2\n"));
    EXPECT_EQ(file.GetSection("old"), nullptr);
    EXPECT_EQ(ValueOf(file, "new", "k"), "2");
}

TEST(IniFileLoad, NullOrEmptyTextFailsAndKeepsContent) {
    IniFile file;
    ASSERT_TRUE(file.Load("[s]\nk=v\n"));
    EXPECT_FALSE(file.Load(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(file.Load(""));
    EXPECT_EQ(ValueOf(file, "s", "k"), "v");
}

TEST(IniFileLoadPath, ReadsTheFileAsBytes) {
    TempDir dir;
    // A zero byte inside a value is kept: the file is read as bytes, not as C text.
    static const char kBytes[] = "[s]\r\nk=a\0b\r\n\xff\xfe=x\n";
    const std::string path = dir.Write("a.ini", std::string(kBytes, sizeof(kBytes) - 1));
    IniFile file;
    ASSERT_TRUE(file.Load(path));
    EXPECT_EQ(ValueOf(file, "s", "k"), std::string("a\0b\r", 4));
    EXPECT_EQ(ValueOf(file, "s", "\xff\xfe"), "x");
}

TEST(IniFileLoadPath, UnopenableOrUnreadablePathFailsAndKeepsContent) {
    TempDir dir;
    IniFile file;
    ASSERT_TRUE(file.Load("[s]\nk=v\n"));
    for (const std::string& path : {dir.Path() + "/missing.ini", dir.Path(), std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(file.Load(path));
        EXPECT_EQ(ValueOf(file, "s", "k"), "v");
    }
}

TEST(IniFileLoadPath, EmptyFileClearsAndSucceeds) {
    TempDir dir;
    IniFile file;
    ASSERT_TRUE(file.Load("[s]\nk=v\n"));
    EXPECT_TRUE(file.Load(dir.Write("empty.ini", "")));
    EXPECT_EQ(file.GetSection("s"), nullptr);
    EXPECT_EQ(file.Output(nullptr), 0u);
}

TEST(IniFileOutput, SectionsAndKeysInByteOrderWithCrLf) {
    IniFile file;
    ASSERT_TRUE(file.Load("[zeta]\nb=2\na=1\n[Alpha]\nab=3\nB=4\n\xe4=5\nk=line\\nbreak\n"));
    EXPECT_EQ(OutputText(file), "[Alpha]\r\nB=4\r\nab=3\r\nk=line\nbreak\r\n\xe4=5\r\n"
                                "[zeta]\r\na=1\r\nb=2\r\n");
}

TEST(IniFileOutput, MeasuresWithNullAndWritesNothingForAnEmptyFile) {
    IniFile file;
    EXPECT_EQ(file.Output(nullptr), 0u);
    char untouched = 'x';
    EXPECT_EQ(file.Output(&untouched), 0u);
    EXPECT_EQ(untouched, 'x');
    IniSection* s = file.CreateSection("s");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(file.Output(nullptr), std::string("[s]\r\n").size() + 1);
    s->AddKeyValue("key", "value");
    EXPECT_EQ(file.Output(nullptr), std::string("[s]\r\nkey=value\r\n").size() + 1);
}

TEST(IniFileSections, CreateSectionReturnsExistingOrNew) {
    IniFile file;
    EXPECT_EQ(file.CreateSection(""), nullptr);
    IniSection* a = file.CreateSection("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->GetName(), "a");
    a->AddKeyValue("k", "v");
    EXPECT_EQ(file.CreateSection("a"), a);
    EXPECT_EQ(file.GetSection("a"), a);
    EXPECT_EQ(file.GetSection("A"), nullptr);
    file.ClearUp();
    EXPECT_EQ(file.GetSection("a"), nullptr);
}

TEST(IniSectionTest, AddKeepsTheFirstValueAndSetReplaces) {
    IniSection s("s");
    EXPECT_TRUE(s.AddKeyValue("k", "one"));
    EXPECT_FALSE(s.AddKeyValue("k", "two"));
    EXPECT_EQ(s.GetString("k"), "one");
    EXPECT_TRUE(s.SetString("k", "three"));
    EXPECT_EQ(s.GetString("k"), "three");
    EXPECT_TRUE(s.SetString("new", "v"));
    EXPECT_EQ(s.GetString("new"), "v");
}

TEST(IniSectionTest, NumberKeysAreDecimalText) {
    IniSection s("strings");
    EXPECT_TRUE(s.AddKeyValue(30002ul, "DevList"));
    EXPECT_TRUE(s.AddKeyValue(4294967296ul, "big"));
    EXPECT_EQ(s.GetString("30002"), "DevList");
    EXPECT_EQ(s.GetString(30002ul), "DevList");
    EXPECT_EQ(s.GetString("4294967296"), "big");
    EXPECT_FALSE(s.AddKeyValue("30002", "again"));
    EXPECT_EQ(s.GetString(30003ul), kIniMissing);
    EXPECT_EQ(s.GetString(""), kIniMissing);
}

TEST(IniSectionTest, OutputHasNoHeaderAndItsLengthIsExact) {
    IniSection s("s");
    s.AddKeyValue("b", "2");
    s.AddKeyValue("a", "");
    const std::size_t size = s.Output(nullptr);
    EXPECT_EQ(size, (1 + 1 + 3) + (1 + 0 + 3));
    // One guard byte past the measured length must stay as it was.
    std::string buffer(size + 1, '#');
    EXPECT_EQ(s.Output(&buffer[0]), size);
    EXPECT_EQ(buffer, "a=\r\nb=2\r\n#");
}

TEST(RemoveSpaceCharTest, TrimsTheRequestedEnds) {
    struct Case {
        std::string input;
        unsigned flags;
        std::string expected;
    };
    const Case cases[] = {
        {" \t\ra b\t \r", kTrimStart, "a b\t \r"},
        {" \t\ra b\t \r", kTrimEnd, " \t\ra b"},
        {" \t\ra b\t \r", kTrimStart | kTrimEnd, "a b"},
        {" \t\ra b\t \r", 0, " \t\ra b\t \r"},
        {"\n x \n", kTrimStart | kTrimEnd, "\n x \n"},
        {" \t\r ", kTrimStart | kTrimEnd, " \t\r "},
        {"", kTrimStart | kTrimEnd, ""},
        {"x", kTrimStart | kTrimEnd, "x"},
    };
    for (const Case& c : cases) {
        std::string s = c.input;
        RemoveSpaceChar(s, c.flags);
        EXPECT_EQ(s, c.expected) << "input '" << c.input << "' flags " << c.flags;
    }
}

TEST(ReplaceStringTest, ReplacesEveryOccurrenceSearchingAgainFromTheStart) {
    struct Case {
        std::string input, from, to, expected;
    };
    const Case cases[] = {
        {"a-b-c", "-", "+", "a+b+c"},
        // The replacement forms a new occurrence with the text before it, which is replaced too.
        {"aab", "ab", "b", "b"},
        {"aaaa", "aa", "a", "a"},
        {"xyz", "q", "r", "xyz"},
        {"abc", "", "x", "abc"},
        // A replacement containing what it replaces is done in one pass instead of never ending.
        {"a.a", "a", "aa", "aa.aa"},
        {"", "a", "b", ""},
    };
    for (const Case& c : cases) {
        std::string s = c.input;
        ReplaceString(s, c.from, c.to);
        EXPECT_EQ(s, c.expected) << "'" << c.input << "' '" << c.from << "' -> '" << c.to << "'";
    }
}

class CharacterLocale : public ::testing::Test {
protected:
    void SetUp() override {
        const char* previous = std::setlocale(LC_CTYPE, nullptr);
        m_previous = previous != nullptr ? previous : "C";
    }
    void TearDown() override { std::setlocale(LC_CTYPE, m_previous.c_str()); }

private:
    std::string m_previous;
};

TEST_F(CharacterLocale, ConversionsRoundTripUtf8AcrossPieceBoundaries) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    EXPECT_EQ(ToStringW("证书 ok", true), L"证书 ok");
    EXPECT_EQ(ToStringA(L"憑證 ok", true), "憑證 ok");
    EXPECT_EQ(ToStringA(std::wstring(), true), "");
    EXPECT_EQ(ToStringW(std::string(), true), L"");

    // 5000 characters, three bytes each, cross several 2048-character pieces in both directions.
    std::wstring wide;
    for (int i = 0; i < 5000; ++i)
        wide += static_cast<wchar_t>(0x4e00 + i % 500);
    const std::string narrow = ToStringA(wide, true);
    EXPECT_EQ(narrow.size(), wide.size() * 3);
    EXPECT_EQ(ToStringW(narrow, true), wide);
}

TEST_F(CharacterLocale, UnconvertibleTextGivesAnEmptyString) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    EXPECT_EQ(ToStringW("ok\xff", true), L"");
    EXPECT_EQ(ToStringW("cut \xe8\xaf", true), L"");
    // The failure leaves no state behind: the next conversion works.
    EXPECT_EQ(ToStringW("ok", false), L"ok");

    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    EXPECT_EQ(ToStringA(L"\x8bc1", true), "");
    EXPECT_EQ(ToStringA(L"plain", true), "plain");
}

} // namespace
} // namespace orvex
