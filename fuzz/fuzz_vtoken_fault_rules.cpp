// The fault-rule parser of `vtoken fault` on arbitrary text: a rule is armed whole or refused
// with a message, and an armed set describes itself in rule syntax that parses again.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "vtoken/fault_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string rule(reinterpret_cast<const char*>(data), size);
    vtoken::FaultRules rules;
    std::string error;
    if (!rules.Arm(rule, &error)) {
        if (error.empty())
            __builtin_trap();
        return 0;
    }
    vtoken::FaultRules again;
    std::istringstream described(rules.Describe());
    std::string word;
    while (described >> word) {
        if (!again.Arm(word, &error))
            __builtin_trap();
    }
    return 0;
}
