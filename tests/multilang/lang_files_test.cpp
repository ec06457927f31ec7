// The language files that ship with keydesk, read from the source tree and from the build's copy.
#include "multilang/ini_file.h"
#include "multilang/multi_language.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace orvex {
namespace {

struct LanguageFile {
    const char* name;
    unsigned long codePage;
};

const LanguageFile kFiles[] = {{"kvcsp_2052.lng", 2052}, {"kvcsp_1028.lng", 1028}, {"kvcsp_1033.lng", 1033}};

// Every id keydesk shows: languages, device tree, key information, container tree, counter, buttons,
// messages, page captions and dialog titles.
const unsigned long kShownIds[] = {
    1000,  1001,  1002,  30000, 30001, 30002, 30003, 30004, 30005, 30006, 30007, 30008, 30009, 30010,  30011,
    30012, 30013, 30014, 30015, 30016, 30017, 30018, 30019, 30020, 30021, 30022, 30023, 30024, 30025,  30026,
    30027, 30028, 30029, 30030, 30091, 30092, 70000, 70001, 30036, 30037, 30038, 30039, 30040, 300401, 30041,
    30042, 30043, 30044, 30045, 30046, 30047, 30048, 30050, 30051, 30052, 30053, 30054, 30065, 30069,  30071,
    30073, 30077, 30078, 30080, 30081, 31000, 31001, 31002, 31003, 31004, 31005, 31006, 31007, 32041,  32045,
    32049, 32050, 32051, 32004, 32005, 32006, 32007, 32009, 32010, 32011, 32012, 32013, 32014, 32015,  32016,
    32017, 32018, 32019, 32020, 32021, 32022, 32023, 32024, 32025, 32026, 32027, 32028, 32029, 32030,  32031,
    32032, 32033, 32034, 32035, 32036, 32037, 32038, 32039, 32040, 32044, 33000};

// Folder labels of the container tree: a key's usage is told from its folder's text, so within one
// language every label must differ from the others.
const unsigned long kFolderLabelIds[] = {30018, 30019, 30022, 30023, 30024, 30025, 30026, 30027, 30091, 30092};

std::string SourcePath(const std::string& name) {
    const char* source = std::getenv("KEYCORE_SOURCE_DIR");
    return std::string(source != nullptr ? source : ".") + "/lang/" + name;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The printf conversions of a text, in order ("%%" included).
std::vector<std::string> Placeholders(const std::string& text) {
    static const std::regex conversion("%[-+ #0]*[0-9]*(\\.[0-9]+)?(l|ll|h|z)?[a-zA-Z%]");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), conversion); it != std::sregex_iterator(); ++it)
        found.push_back(it->str());
    return found;
}

std::string ControlCharacters(const std::string& text) {
    std::string found;
    for (const char c : text)
        if (c == '\r' || c == '\n' || c == '\t')
            found += c;
    return found;
}

const IniSection& Strings(const IniFile& file) {
    static const IniSection kNone("none");
    const IniSection* strings = file.GetSection("strings");
    return strings != nullptr ? *strings : kNone;
}

TEST(ShippedLanguageFiles, EachLoadsCompletelyWithItsCodePage) {
    for (const LanguageFile& lang : kFiles) {
        SCOPED_TRACE(lang.name);
        IniFile ini;
        EXPECT_TRUE(ini.Load(SourcePath(lang.name))) << "every line must be accepted";
        MultiLanguage ml;
        ASSERT_TRUE(ml.Load(SourcePath(lang.name)));
        EXPECT_EQ(ml.GetCodePage(), lang.codePage);
        EXPECT_FALSE(ml.GetLanguageName().empty());
        EXPECT_GT(ml.GetFontHeight(), 0);
        EXPECT_NE(ini.GetSection("settings")->GetString("FontFace"), kIniMissing);
    }
}

TEST(ShippedLanguageFiles, EnglishDefinesEveryShownId) {
    IniFile english;
    ASSERT_TRUE(english.Load(SourcePath("kvcsp_1033.lng")));
    for (const unsigned long id : kShownIds)
        EXPECT_NE(Strings(english).GetString(id), kIniMissing) << "id " << id;
}

TEST(ShippedLanguageFiles, EveryLanguageDefinesTheSameIdsAsEnglish) {
    IniFile english;
    ASSERT_TRUE(english.Load(SourcePath("kvcsp_1033.lng")));
    std::set<std::string> englishIds;
    for (const auto& entry : Strings(english).Entries())
        englishIds.insert(entry.first);
    for (const LanguageFile& lang : kFiles) {
        SCOPED_TRACE(lang.name);
        IniFile other;
        ASSERT_TRUE(other.Load(SourcePath(lang.name)));
        std::set<std::string> ids;
        for (const auto& entry : Strings(other).Entries()) {
            ids.insert(entry.first);
            EXPECT_FALSE(entry.second.empty()) << "empty text for " << entry.first;
        }
        EXPECT_EQ(ids, englishIds);
    }
}

TEST(ShippedLanguageFiles, PlaceholdersAndEscapesMatchTheEnglishTexts) {
    IniFile english;
    ASSERT_TRUE(english.Load(SourcePath("kvcsp_1033.lng")));
    for (const LanguageFile& lang : kFiles) {
        SCOPED_TRACE(lang.name);
        IniFile other;
        ASSERT_TRUE(other.Load(SourcePath(lang.name)));
        for (const auto& [id, text] : Strings(english).Entries()) {
            const std::string translated = Strings(other).GetString(id);
            if (translated == kIniMissing)
                continue; // reported by the id comparison
            EXPECT_EQ(Placeholders(translated), Placeholders(text)) << "id " << id << ": " << translated;
            // Line breaks written as escapes; a carriage return from a CR LF file would show up here too.
            EXPECT_EQ(ControlCharacters(translated), ControlCharacters(text)) << "id " << id;
        }
    }
    // The defaults' own placeholders are there to be kept.
    EXPECT_EQ(Placeholders(Strings(english).GetString(30040ul)), std::vector<std::string>{"%d"});
    EXPECT_EQ(Placeholders(Strings(english).GetString(30028ul)), std::vector<std::string>{"%d"});
    EXPECT_EQ(ControlCharacters(Strings(english).GetString(31001ul)), "\r\n");
}

TEST(ShippedLanguageFiles, TextsAreValidUtf8) {
    const char* previous = std::setlocale(LC_CTYPE, nullptr);
    const std::string restore = previous != nullptr ? previous : "C";
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    for (const LanguageFile& lang : kFiles) {
        SCOPED_TRACE(lang.name);
        IniFile file;
        ASSERT_TRUE(file.Load(SourcePath(lang.name)));
        for (const auto& [id, text] : Strings(file).Entries())
            EXPECT_FALSE(ToStringW(text, true).empty()) << "id " << id;
        EXPECT_FALSE(ToStringW(file.GetSection("settings")->GetString("Language"), true).empty());
    }
    std::setlocale(LC_CTYPE, restore.c_str());
}

TEST(ShippedLanguageFiles, FolderAndKeyLabelsAreDistinctWithinEachLanguage) {
    for (const LanguageFile& lang : kFiles) {
        SCOPED_TRACE(lang.name);
        IniFile file;
        ASSERT_TRUE(file.Load(SourcePath(lang.name)));
        std::set<std::string> labels;
        for (const unsigned long id : kFolderLabelIds)
            EXPECT_TRUE(labels.insert(Strings(file).GetString(id)).second) << "id " << id << " repeats a label";
        EXPECT_NE(Strings(file).GetString(30020ul), Strings(file).GetString(30021ul));
        // The container suffix is cut off a node's text to get the container name back.
        EXPECT_FALSE(Strings(file).GetString(70001ul).empty());
    }
}

TEST(ShippedLanguageFiles, TheBuildCopiesThemBesideTheProgram) {
    const char* build = std::getenv("KEYCORE_BUILD_DIR");
    if (build == nullptr)
        GTEST_SKIP() << "KEYCORE_BUILD_DIR is not set";
    for (const LanguageFile& lang : kFiles) {
        SCOPED_TRACE(lang.name);
        const std::string copy = ReadBytes(std::string(build) + "/bin/lang/" + lang.name);
        EXPECT_FALSE(copy.empty());
        EXPECT_EQ(copy, ReadBytes(SourcePath(lang.name)));
    }
}

} // namespace
} // namespace orvex
