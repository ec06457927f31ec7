#include "multilang/multi_language.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

namespace orvex {

namespace {

const char* const kSettingsSection = "settings";
const char* const kStringsSection = "strings";

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

// Base-10 value of the leading digits ("12px" is 12); out-of-range values are clamped.
long ParseNumber(const std::string& text) {
    return std::strtol(text.c_str(), nullptr, 10);
}

int ClampToInt(long value) {
    if (value < INT_MIN)
        return INT_MIN;
    if (value > INT_MAX)
        return INT_MAX;
    return static_cast<int>(value);
}

// A working directory written with backslashes names the directory before the last one and the prefix
// after it (without extension); any other leaves both unknown.
bool DeriveFromWorkingDirectory(std::string& dir, std::string& prefix) {
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd)
        return false;
    const std::string path(cwd.get());
    const std::size_t slash = path.rfind('\\');
    if (slash == std::string::npos)
        return false;
    dir = path.substr(0, slash);
    prefix = path.substr(slash + 1);
    const std::size_t dot = prefix.rfind('.');
    if (dot != std::string::npos)
        prefix.erase(dot);
    return true;
}

} // namespace

MultiLanguage::MultiLanguage() = default;

MultiLanguage::~MultiLanguage() = default;

void MultiLanguage::SetPath(const std::string& dir) {
    m_path = dir;
}

void MultiLanguage::SetPrefix(const std::string& prefix) {
    m_prefix = prefix;
}

bool MultiLanguage::SetCodePage(unsigned long codePage) {
    m_codePage = codePage;
    return Load(m_prefix, codePage);
}

void MultiLanguage::ResetToDefaults() {
    m_loaded = false;
    m_section = nullptr;
    m_codePage = kDefaultCodePage;
    m_languageName = kDefaultLanguage;
    // The font belongs to the texts: default texts are shown in the default font, not in that of a file
    // loaded earlier.
    m_fontFace = kDefaultFontFace;
    m_fontHeight = kDefaultFontHeight;
    m_useDefaults = true;
}

bool MultiLanguage::Load(const std::string& path) {
    ResetToDefaults();
    if (!m_file.Load(path))
        return false;
    return _PostLoad();
}

bool MultiLanguage::Load(const std::string& prefix, unsigned long codePage) {
    ResetToDefaults();
    if (m_path.empty())
        return false;
    std::string path = m_path;
    if (path.back() != '\\')
        path += '/';
    path += prefix + "_" + std::to_string(codePage) + ".lng";
    return Load(path);
}

bool MultiLanguage::LoadData(const char* text) {
    ResetToDefaults();
    if (!m_file.Load(text))
        return false;
    return _PostLoad();
}

void MultiLanguage::Initialize() {
    m_initialized = true;
    if (!m_loaded)
        m_useDefaults = true;
    if (m_path.empty() || m_prefix.empty())
        DeriveFromWorkingDirectory(m_path, m_prefix);
    if (!m_path.empty() && !m_prefix.empty() && m_codePage != kCodePageUnset)
        Load(m_prefix, m_codePage);
}

bool MultiLanguage::_UseSection(const std::string& name) {
    m_section = m_file.GetSection(name);
    return m_section != nullptr;
}

bool MultiLanguage::_PostLoad() {
    m_loaded = true;
    bool complete = _UseSection(kSettingsSection);
    std::string codePage;
    std::string language;
    if (complete) {
        codePage = m_section->GetString("CodePage");
        language = m_section->GetString("Language");
        complete = codePage != kIniMissing && language != kIniMissing;
    }
    if (complete) {
        m_codePage = static_cast<unsigned long>(ParseNumber(codePage));
        m_languageName = language;
        m_fontFace = GetString("FontFace", kDefaultFontFace);
        m_fontHeight = ClampToInt(GetNumber("FontHeight", kDefaultFontHeight));
        complete = _UseSection(kStringsSection);
    }
    if (!complete) {
        ResetToDefaults();
        return false;
    }
    m_useDefaults = false;
    m_initialized = true;
    return true;
}

std::string MultiLanguage::GetString(const std::string& key, const char* defaultText) const {
    if (!m_loaded || m_section == nullptr)
        return OrEmpty(defaultText);
    std::string value = m_section->GetString(key);
    if (value == kIniMissing)
        return OrEmpty(defaultText);
    return value;
}

std::string MultiLanguage::GetString(unsigned long id, const char* defaultText) const {
    return GetString(std::to_string(id), defaultText);
}

long MultiLanguage::GetNumber(const std::string& key, long defaultValue) const {
    if (!m_loaded || m_section == nullptr)
        return defaultValue;
    const std::string value = m_section->GetString(key);
    if (value == kIniMissing)
        return defaultValue;
    return ParseNumber(value);
}

long MultiLanguage::GetNumber(unsigned long id, long defaultValue) const {
    return GetNumber(std::to_string(id), defaultValue);
}

MultiLanguage& ml_getInstance() {
    static MultiLanguage instance;
    return instance;
}

namespace {

// The getters and lookups start the instance with defaults on first use.
MultiLanguage& ReadyInstance() {
    MultiLanguage& instance = ml_getInstance();
    if (!instance.IsInitialized() && !instance.IsLoaded())
        instance.Initialize();
    return instance;
}

} // namespace

void ml_setPath(const std::string& dir) {
    ml_getInstance().SetPath(dir);
}

void ml_setPrefix(const std::string& prefix) {
    ml_getInstance().SetPrefix(prefix);
}

bool ml_setCodePage(unsigned long codePage) {
    return ml_getInstance().SetCodePage(codePage);
}

bool ml_load(const std::string& path) {
    return ml_getInstance().Load(path);
}

bool ml_loadData(const char* text) {
    return ml_getInstance().LoadData(text);
}

unsigned long ml_getCodePage() {
    return ReadyInstance().GetCodePage();
}

std::string ml_getLanguageName() {
    return ReadyInstance().GetLanguageName();
}

std::string ml_getFontFaceName() {
    return ReadyInstance().GetFontFaceName();
}

int ml_getFontHeight() {
    return ReadyInstance().GetFontHeight();
}

std::string __(unsigned long id, const char* defaultText) {
    MultiLanguage& instance = ReadyInstance();
    if (instance.UsesDefaults())
        return OrEmpty(defaultText);
    return instance.GetString(id, defaultText);
}

std::string ___(const std::string& key, const char* defaultText) {
    MultiLanguage& instance = ReadyInstance();
    if (instance.UsesDefaults())
        return OrEmpty(defaultText);
    return instance.GetString(key, defaultText);
}

} // namespace orvex
