#pragma once
// Command bytes from a hexadecimal template such as "8002 0000 0000%02x".
//
// First the directives "%02x" and "%04x" are replaced, in order, by the next argument in lower-case
// hexadecimal of at least 2 (or 4) digits; every other character is copied. Then the text is read
// from its end towards its start: each hexadecimal digit (either case) is a nibble, two nibbles make a
// byte, anything else is skipped; a single nibble left over at the start becomes a byte of its own.
// The bytes keep their order.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace keycore {

// The formatted text. A directive without an argument left formats nothing; surplus arguments are
// ignored (the command builders always pass matching lists).
std::string FormatApduTemplate(const char* pszTemplate, std::initializer_list<unsigned long> args);

// The bytes of a formatted text, read from its end.
std::vector<uint8_t> HexTextToBytes(const std::string& text);

// Both steps; an empty vector for a null template.
std::vector<uint8_t> CommandFromTemplate(const char* pszTemplate, std::initializer_list<unsigned long> args = {});

} // namespace keycore
