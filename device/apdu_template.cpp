#include "device/apdu_template.h"

#include <cstdio>
#include <cstring>

namespace keycore {

namespace {

int NibbleOf(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string FormatApduTemplate(const char* pszTemplate, std::initializer_list<unsigned long> args) {
    std::string text;
    if (pszTemplate == nullptr)
        return text;
    auto next = args.begin();
    for (const char* p = pszTemplate; *p != '\0';) {
        const bool twoDigits = std::strncmp(p, "%02x", 4) == 0;
        const bool fourDigits = std::strncmp(p, "%04x", 4) == 0;
        if (!twoDigits && !fourDigits) {
            text.push_back(*p++);
            continue;
        }
        p += 4;
        if (next == args.end())
            continue;
        char digits[24];
        std::snprintf(digits, sizeof digits, twoDigits ? "%02lx" : "%04lx", *next++);
        text += digits;
    }
    return text;
}

std::vector<uint8_t> HexTextToBytes(const std::string& text) {
    std::vector<uint8_t> reversed;
    int low = -1;
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
        const int nibble = NibbleOf(*it);
        if (nibble < 0)
            continue;
        if (low < 0) {
            low = nibble;
        } else {
            reversed.push_back(static_cast<uint8_t>(nibble << 4 | low));
            low = -1;
        }
    }
    if (low >= 0)
        reversed.push_back(static_cast<uint8_t>(low));
    return std::vector<uint8_t>(reversed.rbegin(), reversed.rend());
}

std::vector<uint8_t> CommandFromTemplate(const char* pszTemplate, std::initializer_list<unsigned long> args) {
    if (pszTemplate == nullptr)
        return {};
    return HexTextToBytes(FormatApduTemplate(pszTemplate, args));
}

} // namespace keycore
