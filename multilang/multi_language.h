// Text tables of the user interface: every visible text is looked up by a numeric id (or a textual key) in
// a language file, an INI file named <dir>/<prefix>_<code page>.lng with the sections "settings"
// (CodePage, Language, FontFace, FontHeight) and "strings" (id -> text). Until a complete file is loaded,
// and for every id the file lacks, the caller's default text is used.
//
// Only the GUI thread uses the tables; there is no lock.
#pragma once

#include "multilang/ini_file.h"

#include <string>

namespace orvex {

class MultiLanguage {
public:
    // The code page before anything sets one.
    static constexpr unsigned long kCodePageUnset = 0x1FFFFFFFul;
    // The code page, language name, font face and height in use when no complete file is loaded.
    static constexpr unsigned long kDefaultCodePage = 1033;
    static constexpr const char* kDefaultLanguage = "English";
    static constexpr const char* kDefaultFontFace = "Tahoma";
    static constexpr int kDefaultFontHeight = 8;

    MultiLanguage();
    virtual ~MultiLanguage();
    MultiLanguage(const MultiLanguage&) = delete;
    MultiLanguage& operator=(const MultiLanguage&) = delete;

    void SetPath(const std::string& dir);
    void SetPrefix(const std::string& prefix);
    // Stores the code page and loads the file of that code page from the stored directory and prefix.
    bool SetCodePage(unsigned long codePage);

    // Loads the language file at a full path. True when the file was read completely and has the
    // required settings and the "strings" section; on false every lookup gives its default text.
    bool Load(const std::string& path);
    // Loads <dir>/<prefix>_<code>.lng (no '/' added after a directory ending in a backslash).
    bool Load(const std::string& prefix, unsigned long codePage);
    // Loads a language file from text in memory.
    bool LoadData(const char* text);

    // Marks the tables initialised with defaults and loads the file of the stored directory, prefix and
    // code page when all three are set.
    void Initialize();

    bool IsInitialized() const { return m_initialized; }
    bool IsLoaded() const { return m_loaded; }
    bool UsesDefaults() const { return m_useDefaults; }

    // The stored text of the key (or of the decimal id) in "strings", else the default (null counts as "").
    std::string GetString(const std::string& key, const char* defaultText) const;
    std::string GetString(unsigned long id, const char* defaultText) const;
    // The base-10 value of the leading digits of the stored text, else the default.
    long GetNumber(const std::string& key, long defaultValue) const;
    long GetNumber(unsigned long id, long defaultValue) const;

    const std::string& GetPath() const { return m_path; }
    const std::string& GetPrefix() const { return m_prefix; }
    unsigned long GetCodePage() const { return m_codePage; }
    const std::string& GetLanguageName() const { return m_languageName; }
    const std::string& GetFontFaceName() const { return m_fontFace; }
    int GetFontHeight() const { return m_fontHeight; }

protected:
    // Selects a section of the loaded file as the current one; false when it is absent.
    bool _UseSection(const std::string& name);
    // Reads the settings of a freshly read file and selects "strings"; on failure restores the defaults.
    bool _PostLoad();

private:
    void ResetToDefaults();

    IniFile m_file;
    IniSection* m_section = nullptr;
    bool m_useDefaults = true;
    bool m_initialized = false;
    bool m_loaded = false;
    std::string m_path;
    std::string m_prefix;
    unsigned long m_codePage = kCodePageUnset;
    std::string m_languageName = kDefaultLanguage;
    std::string m_fontFace = kDefaultFontFace;
    int m_fontHeight = kDefaultFontHeight;
};

// The one instance of the process, created on first use and destroyed at exit. The functions below act on
// it; the getters and lookups first initialise it when it is neither initialised nor loaded.
MultiLanguage& ml_getInstance();

void ml_setPath(const std::string& dir);
void ml_setPrefix(const std::string& prefix);
bool ml_setCodePage(unsigned long codePage);
bool ml_load(const std::string& path);
bool ml_loadData(const char* text);

unsigned long ml_getCodePage();
std::string ml_getLanguageName();
std::string ml_getFontFaceName();
int ml_getFontHeight();

// The text for the id (or the textual key); the default text (null counts as "") while no complete file
// is in use or when the file lacks the id.
std::string __(unsigned long id, const char* defaultText);
std::string ___(const std::string& key, const char* defaultText);

} // namespace orvex
