// A small reader and writer of INI-style 8-bit text: named sections of key=value lines.
//
// Format, line by line: leading blanks, tabs and carriage returns are dropped; empty lines and lines
// starting with '#' or ';' are skipped; "[name]" starts (or continues) a section; "key=value" adds to the
// current section, the key trimmed at both ends, the value taken to the end of the line as it stands
// (trailing blanks and a carriage return included) with the escapes \r \n \t \\ resolved. An empty section
// name or a key already present ends the load with failure. A key line before any header and a '[' line
// without ']' are skipped. Other lines are ignored.
#pragma once

#include "multilang/ini_section.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>

namespace orvex {

class IniFile {
public:
    IniFile();
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Reads the file at the path. An unopenable file gives false and keeps the previous content; otherwise
    // the content is replaced and the result is true when every line was accepted, false when a line ended
    // the load (sections read before that line stay).
    // Note: a string literal selects the text overload below; pass paths as std::string.
    bool Load(const std::string& path);
    // The same on zero-terminated text in memory; null or empty text gives false and keeps the content.
    bool Load(const char* text);

    // The section, or null. The file keeps ownership.
    IniSection* GetSection(const std::string& name) const;
    // Null for an empty name; the existing section of that name; otherwise a new empty one.
    IniSection* CreateSection(const std::string& name);

    // Writes "[name]\r\n" and the section's lines for every section in name order, then a terminating
    // zero. Returns the length of the text plus one (0 for a file without sections, when nothing is
    // written). A null buffer only measures; a non-null one must hold at least the measured length.
    std::size_t Output(char* buffer) const;

    // Deletes all sections.
    void ClearUp();

private:
    // Processes one line; false ends the load.
    bool ParseLine(std::string line, IniSection*& current);
    bool LoadText(const std::string& text);

    std::map<std::string, std::unique_ptr<IniSection>> m_sections;
};

// Flags of RemoveSpaceChar.
enum : unsigned { kTrimStart = 1u, kTrimEnd = 2u };

// Removes blanks, tabs and carriage returns at the start (kTrimStart) and/or end (kTrimEnd) of the string.
// A string made only of such characters is left unchanged.
void RemoveSpaceChar(std::string& s, unsigned flags);

// Replaces every occurrence of `from`, each time searching again from the start of the string, so a
// replacement that forms a new occurrence with the text before it is replaced as well. An empty `from`
// changes nothing; a `to` containing `from` is replaced in one left-to-right pass instead (the repeated
// search would never end).
void ReplaceString(std::string& s, const std::string& from, const std::string& to);

// Conversions between wide and multibyte text under the C library's current LC_CTYPE locale, in pieces of
// up to 2048 characters. Each direction keeps its conversion state between calls of the thread; resetState
// starts from the initial state. A character that cannot be converted gives an empty string.
std::string ToStringA(const std::wstring& wide, bool resetState = true);
std::wstring ToStringW(const std::string& narrow, bool resetState = true);

} // namespace orvex
