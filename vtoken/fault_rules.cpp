#include "vtoken/fault_rules.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace vtoken {

namespace {

// Accepts decimal or 0x-prefixed hexadecimal, the whole text, within [0, max].
bool ParseNumber(const std::string& text, unsigned long max, unsigned long* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v > max)
        return false;
    *value = v;
    return true;
}

bool ParseStatusRule(const std::string& args, ForcedStatus* forced) {
    // INS=0x26,SW=0x698A (the two keys in either order)
    bool haveIns = false;
    bool haveSw = false;
    std::stringstream parts(args);
    std::string part;
    while (std::getline(parts, part, ',')) {
        const size_t eq = part.find('=');
        if (eq == std::string::npos)
            return false;
        const std::string key = part.substr(0, eq);
        unsigned long value = 0;
        if (key == "INS" && !haveIns && ParseNumber(part.substr(eq + 1), 0xFF, &value)) {
            forced->ins = static_cast<uint8_t>(value);
            haveIns = true;
        } else if (key == "SW" && !haveSw && ParseNumber(part.substr(eq + 1), 0xFFFF, &value)) {
            forced->statusWord = static_cast<uint16_t>(value);
            haveSw = true;
        } else {
            return false;
        }
    }
    return haveIns && haveSw;
}

} // namespace

bool FaultRules::Arm(const std::string& rule, std::string* error) {
    const size_t colon = rule.find(':');
    const std::string name = rule.substr(0, colon);
    const bool hasArgs = colon != std::string::npos;
    const std::string args = hasArgs ? rule.substr(colon + 1) : std::string();
    auto fail = [&](const char* why) {
        *error = "bad fault rule \"" + rule + "\": " + why;
        return false;
    };
    auto count = [&](unsigned long max, unsigned long* value) { return hasArgs && ParseNumber(args, max, value); };

    unsigned long n = 0;
    if (name == "open-fail" || name == "echo" || name == "busy") {
        if (!count(1000, &n) || n == 0)
            return fail("expects a count from 1 to 1000, e.g. echo:3");
        (name == "open-fail" ? openFailures : name == "echo" ? echoes : busyReplies) = static_cast<unsigned>(n);
        return true;
    }
    if (name == "chain") {
        if (!count(4096, &n) || n == 0)
            return fail("expects the number of data bytes sent before 61xx, 1 to 4096, e.g. chain:32");
        chainAfter = n;
        return true;
    }
    if (name == "truncate") {
        if (!count(65535, &n))
            return fail("expects the number of answer bytes kept, e.g. truncate:1");
        truncate = true;
        truncateTo = n;
        return true;
    }
    if (name == "sw") {
        ForcedStatus forced;
        if (!hasArgs || !ParseStatusRule(args, &forced))
            return fail("expects INS=0xII,SW=0xSSSS, e.g. sw:INS=0x26,SW=0x698A");
        forcedStatus.push_back(forced);
        return true;
    }
    if (hasArgs)
        return fail("takes no arguments");
    if (name == "timeout")
        statusTimeout = true;
    else if (name == "stall")
        stall = true;
    else if (name == "disorder")
        disorder = true;
    else if (name == "unplug-mid")
        unplugMidExchange = true;
    else if (name == "empty-data")
        emptyDataStage = true;
    else if (name == "clear")
        *this = FaultRules();
    else
        return fail("unknown rule (see vtoken --help)");
    return true;
}

std::string FaultRules::Describe() const {
    std::ostringstream out;
    auto add = [&](const std::string& text) { out << (out.tellp() > 0 ? " " : "") << text; };
    if (openFailures)
        add("open-fail:" + std::to_string(openFailures));
    if (statusTimeout)
        add("timeout");
    if (stall)
        add("stall");
    if (echoes)
        add("echo:" + std::to_string(echoes));
    if (disorder)
        add("disorder");
    if (busyReplies)
        add("busy:" + std::to_string(busyReplies));
    if (chainAfter)
        add("chain:" + std::to_string(chainAfter));
    for (const ForcedStatus& f : forcedStatus) {
        char text[40];
        std::snprintf(text, sizeof text, "sw:INS=0x%02X,SW=0x%04X", f.ins, f.statusWord);
        add(text);
    }
    if (unplugMidExchange)
        add("unplug-mid");
    if (truncate)
        add("truncate:" + std::to_string(truncateTo));
    if (emptyDataStage)
        add("empty-data");
    return out.str();
}

} // namespace vtoken
