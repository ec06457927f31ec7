#include "multilang/ini_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <vector>

namespace orvex {

namespace {

bool IsSpaceChar(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Escapes of a value: \r \n \t become their control characters and a doubled backslash one backslash, so
// "\\n" stays a backslash followed by 'n'. One left-to-right pass gives the same result as replacing the
// doubled backslashes by a marker byte first, without turning a 0x01 byte of the value into a backslash.
void ResolveEscapes(std::string& value) {
    if (value.find('\\') == std::string::npos)
        return;
    std::string resolved;
    resolved.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const char next = i + 1 < value.size() ? value[i + 1] : '\0';
        if (c != '\\' || (next != '\\' && next != 'r' && next != 'n' && next != 't')) {
            resolved += c;
            continue;
        }
        resolved += next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : '\\';
        ++i;
    }
    value.swap(resolved);
}

constexpr std::size_t kConversionPiece = 2048;

// The whole file, or false when it cannot be opened or read (a directory, for one).
bool ReadWholeFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char chunk[4096];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof(chunk));
        if (got > 0) {
            text.append(chunk, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

} // namespace

IniFile::IniFile() = default;

IniFile::~IniFile() {
    ClearUp();
}

bool IniFile::Load(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, text))
        return false;
    return LoadText(text);
}

bool IniFile::Load(const char* text) {
    if (text == nullptr || *text == '\0')
        return false;
    return LoadText(text);
}

bool IniFile::LoadText(const std::string& text) {
    ClearUp();
    IniSection* current = nullptr;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (!ParseLine(text.substr(start, end - start), current))
            return false;
        start = end + 1;
    }
    return true;
}

bool IniFile::ParseLine(std::string line, IniSection*& current) {
    RemoveSpaceChar(line, kTrimStart);
    if (line.empty() || line[0] == '#' || line[0] == ';')
        return true;

    if (line[0] == '[') {
        const std::size_t close = line.rfind(']');
        // A '[' line without ']' names no section: skipped, and the current section stays.
        if (close == std::string::npos)
            return true;
        current = CreateSection(line.substr(1, close - 1));
        return current != nullptr;
    }

    const std::size_t equals = line.find('=');
    // Lines without '=' are ignored, and so is a key line before any header: it belongs nowhere.
    if (equals == std::string::npos || current == nullptr)
        return true;
    std::string key = line.substr(0, equals);
    RemoveSpaceChar(key, kTrimStart | kTrimEnd);
    std::string value = line.substr(equals + 1);
    ResolveEscapes(value);
    return current->AddKeyValue(key, value);
}

IniSection* IniFile::GetSection(const std::string& name) const {
    const auto it = m_sections.find(name);
    return it == m_sections.end() ? nullptr : it->second.get();
}

IniSection* IniFile::CreateSection(const std::string& name) {
    if (name.empty())
        return nullptr;
    auto& slot = m_sections[name];
    if (!slot)
        slot = std::make_unique<IniSection>(name);
    return slot.get();
}

std::size_t IniFile::Output(char* buffer) const {
    if (m_sections.empty())
        return 0;
    std::size_t length = 0;
    for (const auto& [name, section] : m_sections) {
        const std::string header = "[" + name + "]\r\n";
        if (buffer != nullptr)
            header.copy(buffer + length, header.size());
        length += header.size();
        length += section->Output(buffer != nullptr ? buffer + length : nullptr);
    }
    if (buffer != nullptr)
        buffer[length] = '\0';
    return length + 1;
}

void IniFile::ClearUp() {
    m_sections.clear();
}

void RemoveSpaceChar(std::string& s, unsigned flags) {
    const auto first = std::find_if_not(s.begin(), s.end(), IsSpaceChar);
    if (first == s.end())
        return;
    if ((flags & kTrimEnd) != 0) {
        const auto last = std::find_if_not(s.rbegin(), s.rend(), IsSpaceChar);
        s.erase(last.base(), s.end());
    }
    if ((flags & kTrimStart) != 0)
        s.erase(s.begin(), std::find_if_not(s.begin(), s.end(), IsSpaceChar));
}

void ReplaceString(std::string& s, const std::string& from, const std::string& to) {
    if (from.empty())
        return;
    if (to.find(from) != std::string::npos) {
        for (std::size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
            s.replace(pos, from.size(), to);
        return;
    }
    // Searching again from the start would find nothing before the last replacement except an occurrence
    // that overlaps it, so the search resumes just far enough back to catch that one.
    for (std::size_t pos = s.find(from); pos != std::string::npos;) {
        s.replace(pos, from.size(), to);
        pos = s.find(from, pos >= from.size() - 1 ? pos - (from.size() - 1) : 0);
    }
}

std::string ToStringA(const std::wstring& wide, bool resetState) {
    thread_local std::mbstate_t state{};
    if (resetState)
        state = std::mbstate_t{};
    std::string result;
    const wchar_t* source = wide.c_str();
    std::vector<char> piece(kConversionPiece);
    while (source != nullptr) {
        const std::size_t written = std::wcsrtombs(piece.data(), &source, piece.size(), &state);
        if (written == static_cast<std::size_t>(-1)) {
            state = std::mbstate_t{};
            return std::string();
        }
        result.append(piece.data(), written);
        if (written == 0 && source != nullptr && *source != L'\0')
            return std::string();
    }
    return result;
}

std::wstring ToStringW(const std::string& narrow, bool resetState) {
    thread_local std::mbstate_t state{};
    if (resetState)
        state = std::mbstate_t{};
    std::wstring result;
    const char* source = narrow.c_str();
    std::vector<wchar_t> piece(kConversionPiece);
    while (source != nullptr) {
        const std::size_t written = std::mbsrtowcs(piece.data(), &source, piece.size(), &state);
        if (written == static_cast<std::size_t>(-1)) {
            state = std::mbstate_t{};
            return std::wstring();
        }
        result.append(piece.data(), written);
    }
    return result;
}

} // namespace orvex
