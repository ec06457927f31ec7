// The shared library's dynamic symbol table holds the standard C entry points and nothing else:
// no C++ symbol, no helper with C linkage (sm3_*, say) that could clash with a host program.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct DynamicSymbol {
    std::string type;
    std::string name;
};

std::vector<DynamicSymbol> DefinedDynamicSymbols(const std::string& library) {
    std::vector<DynamicSymbol> symbols;
    std::string command = "nm -D --defined-only '" + library + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return symbols;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        // "<address> <type> <name>"
        char address[64] = {}, type[8] = {}, name[900] = {};
        if (std::sscanf(line, "%63s %7s %899s", address, type, name) == 3)
            symbols.push_back({type, name});
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return symbols;
}

// C_ followed by letters, SKF_ followed by letters and digits, or E_GetAuxFunctionList; a version
// suffix ("@@VERS") is allowed after the name.
bool IsEntryPoint(const std::string& symbol) {
    const std::string name = symbol.substr(0, symbol.find('@'));
    auto allOf = [&](size_t from, bool digitsToo) {
        if (from >= name.size())
            return false;
        for (size_t i = from; i < name.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(name[i]);
            if (!std::isalpha(c) && !(digitsToo && std::isdigit(c)))
                return false;
        }
        return true;
    };
    if (name.rfind("C_", 0) == 0)
        return allOf(2, false);
    if (name.rfind("SKF_", 0) == 0)
        return allOf(4, true);
    return name == "E_GetAuxFunctionList";
}

TEST(ExportedSymbols, OnlyTheCEntryPointsAreExported) {
    auto symbols = DefinedDynamicSymbols(KEYCORE_LIBRARY_PATH);
    for (const auto& symbol : symbols) {
        // Absolute symbols such as the version node carry no code.
        if (symbol.type == "A")
            continue;
        EXPECT_TRUE(IsEntryPoint(symbol.name)) << "unexpected export: " << symbol.type << " " << symbol.name;
        EXPECT_TRUE(symbol.type == "T" || symbol.type == "W" || symbol.type == "i")
            << symbol.name << " is exported as " << symbol.type << ", not as a function";
    }
}

// An entry point that calls another entry point must reach the library's own function, never a
// function of the same name that the host program exports: the library is linked so that such
// calls bind at link time, which leaves no dynamic relocation against an entry point's name.
TEST(ExportedSymbols, EntryPointsBindInsideTheLibrary) {
    std::string command = std::string("readelf -W -r '") + KEYCORE_LIBRARY_PATH + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[2048];
    std::vector<std::string> interposable;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        // "<offset> <info> <type> <value> <name> + <addend>"
        char offset[64] = {}, info[64] = {}, type[64] = {}, value[64] = {}, name[900] = {};
        if (std::sscanf(line, "%63s %63s %63s %63s %899s", offset, info, type, value, name) == 5 && IsEntryPoint(name))
            interposable.push_back(std::string(type) + " " + name);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    EXPECT_TRUE(interposable.empty()) << "first: " << (interposable.empty() ? "" : interposable.front());
}

TEST(ExportedSymbols, NameFilterAcceptsEntryPointsAndRefusesHelpers) {
    struct Case {
        const char* name;
        bool entry;
    } cases[] = {
        {"C_GetFunctionList", true},
        {"C_Initialize", true},
        {"SKF_EnumDev", true},
        {"SKF_ECCSignData", true},
        {"E_GetAuxFunctionList", true},
        {"sm3_hash", false},
        {"SM4EcbCrypt", false},
        {"_ZN12ThreadMutex4LockEv", false},
        {"usb_open", false},
        {"C_", false},
        {"SKF_", false},
        {"C_Initialize@@KEYCORE_1", true},
        {"C_Get1", false},
        {"mbedtls_mpi_init", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsEntryPoint(c.name), c.entry) << c.name;
}

} // namespace
