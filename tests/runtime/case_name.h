#pragma once
// Test names for tables of cases, made from each case's label ("open missing" -> "OpenMissing").

#include <cctype>
#include <string>

namespace keycore::testing {

inline std::string CaseName(const char* label) {
    std::string name;
    bool upper = true;
    for (const char* p = label; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (std::isalnum(c)) {
            name += static_cast<char>(upper ? std::toupper(c) : c);
            upper = false;
        } else {
            upper = true;
        }
    }
    return name;
}

} // namespace keycore::testing
