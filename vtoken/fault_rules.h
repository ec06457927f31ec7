#pragma once
// Faults armed on one virtual token by `vtoken fault ID RULE...`. Each rule fires once (or N
// times) and is then consumed. Rule syntax, NAME or NAME:ARGS:
//   open-fail:N            the next N usb_open calls fail
//   timeout                the next status read (BOT) or answer read (HID) times out
//   stall                  the next read on the IN endpoint stalls (-EPIPE until usb_clear_halt)
//   echo:N                 the next HID answer starts with N echoes of the last report the host sent
//   disorder               the next HID answer sends its fragments out of order
//   busy:N                 the next HID answer starts with N busy replies (2 bytes 00 00)
//   chain:N                the next answer with more than N data bytes is cut after N bytes with 61xx
//   sw:INS=0xII,SW=0xSSSS  the next command with that INS is answered with that status word alone
//   unplug-mid             the token is unplugged once the next command has arrived, before it runs
//   truncate:N             the next answer is cut to its first N bytes (status word included)
//   empty-data             the next BOT data stage starts with the good status wrapper, data follows
//   clear                  disarms every rule

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vtoken {

struct ForcedStatus {
    uint8_t ins = 0;
    uint16_t statusWord = 0;
};

struct FaultRules {
    unsigned openFailures = 0;
    bool statusTimeout = false;
    bool stall = false;
    unsigned echoes = 0;
    bool disorder = false;
    unsigned busyReplies = 0;
    size_t chainAfter = 0;               // 0: not armed
    std::vector<ForcedStatus> forcedStatus;
    bool unplugMidExchange = false;
    bool truncate = false;
    size_t truncateTo = 0;
    bool emptyDataStage = false;

    // Parses one rule and arms it. Returns false with a message when the rule is not understood;
    // nothing is armed then.
    bool Arm(const std::string& rule, std::string* error);

    // The armed rules in rule syntax, blank-separated; empty when none is armed.
    std::string Describe() const;
};

} // namespace vtoken
