// A language file as any user could have placed it: arbitrary bytes loaded as INI text, then written out.
#include "multilang/ini_file.h"
#include "multilang/multi_language.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text overload reads up to the first zero byte, as a C string would end.
    const std::string text(reinterpret_cast<const char*>(data), size);

    orvex::IniFile file;
    file.Load(text.c_str());

    // The measured size must be exactly what is written: a guard byte past it stays untouched.
    const std::size_t measured = file.Output(nullptr);
    std::vector<char> buffer(measured + 1, '\x5a');
    if (file.Output(buffer.data()) != measured || buffer[measured] != '\x5a')
        __builtin_trap();
    if (measured != 0 && (buffer[measured - 1] != '\0' || std::strlen(buffer.data()) > measured - 1))
        __builtin_trap();

    // The same bytes through the language tables: a lookup never fails, whatever the file holds.
    orvex::MultiLanguage ml;
    const bool loaded = ml.LoadData(text.c_str());
    if (loaded == ml.UsesDefaults())
        __builtin_trap();
    if (!loaded && ml.GetString(30002ul, "DevList") != "DevList")
        __builtin_trap();
    ml.GetNumber("FontHeight", 8);
    return 0;
}
