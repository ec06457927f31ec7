// One named section of an INI text: a set of unique keys with their values, kept in byte order of the keys.
#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace orvex {

// What a lookup of an absent key returns. A stored value equal to it cannot be told apart from a missing
// key; callers compare against it.
extern const char* const kIniMissing;

class IniSection {
public:
    explicit IniSection(const std::string& name);

    const std::string& GetName() const { return m_name; }

    // True when added; false (and nothing changes) when the key already exists.
    bool AddKeyValue(const std::string& key, const std::string& value);
    // The key is the decimal text of the number.
    bool AddKeyValue(unsigned long number, const std::string& value);

    // The value, or kIniMissing.
    std::string GetString(const std::string& key) const;
    std::string GetString(unsigned long number) const;

    // Replaces any value the key has; returns the result of the add.
    bool SetString(const std::string& key, const std::string& value);

    // Writes "key=value\r\n" for every entry in key order (no header, no terminating zero) and returns the
    // length in bytes. A null buffer only measures; a non-null one must hold at least the measured length.
    std::size_t Output(char* buffer) const;

    // Key order is byte order (std::string compares its characters as unsigned bytes).
    const std::map<std::string, std::string>& Entries() const { return m_values; }

private:
    std::string m_name;
    std::map<std::string, std::string> m_values;
};

} // namespace orvex
