#include "multilang/ini_section.h"

#include <cstring>

namespace orvex {

const char* const kIniMissing = "DEFAULT_F94174A7C1D94A0E9D57739193CF18CC";

IniSection::IniSection(const std::string& name) : m_name(name) {}

bool IniSection::AddKeyValue(const std::string& key, const std::string& value) {
    return m_values.emplace(key, value).second;
}

bool IniSection::AddKeyValue(unsigned long number, const std::string& value) {
    return AddKeyValue(std::to_string(number), value);
}

std::string IniSection::GetString(const std::string& key) const {
    const auto it = m_values.find(key);
    return it == m_values.end() ? std::string(kIniMissing) : it->second;
}

std::string IniSection::GetString(unsigned long number) const {
    return GetString(std::to_string(number));
}

bool IniSection::SetString(const std::string& key, const std::string& value) {
    m_values.erase(key);
    return AddKeyValue(key, value);
}

std::size_t IniSection::Output(char* buffer) const {
    std::size_t length = 0;
    for (const auto& [key, value] : m_values) {
        if (buffer != nullptr) {
            char* out = buffer + length;
            std::memcpy(out, key.data(), key.size());
            out += key.size();
            *out++ = '=';
            std::memcpy(out, value.data(), value.size());
            out += value.size();
            *out++ = '\r';
            *out = '\n';
        }
        length += key.size() + value.size() + 3;
    }
    return length;
}

} // namespace orvex
