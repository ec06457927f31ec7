#pragma once
// A real vtoken card behind each transport: the fixture plugs one token of the parameter's kind,
// builds the library's transport object for its device path and opens it. Commands then go through
// the whole stack (token object, frame exchange, preloaded libusb replacement, daemon, card).

#include "device/token5105_auto.h"
#include "device/token5105_hid.h"
#include "vtoken_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace keycore::test {

using vtoken::test::Bytes;
using vtoken::test::FromHex;
using vtoken::test::Hex;
using vtoken::test::PluggedToken;

struct TokenKind {
    const char* name;
    std::vector<std::string> plugOptions;
};

inline void PrintTo(const TokenKind& kind, std::ostream* out) {
    *out << kind.name;
}

inline std::string KindName(const ::testing::TestParamInfo<TokenKind>& info) {
    return info.param.name;
}

inline const TokenKind kTokenKinds[] = {
    {"BulkOnly", {"--kind", "bot"}},
    {"Hid", {"--kind", "hid"}},
    {"HidLarge", {"--kind", "hid", "--large"}},
};

// The defaults of a fresh vtoken card.
inline constexpr const char* kAppName = "KEYCORE-APP";
inline constexpr const char* kDefaultPin = "12345678";
inline constexpr uint8_t kDefaultRetries = 10;

class TokenTest : public vtoken::test::VtokenTest, public ::testing::WithParamInterface<TokenKind> {
protected:
    void SetUp() override {
        VtokenTest::SetUp();
        m_plugged = Plug(PlugOptions());
        if (GetParam().plugOptions[1] == std::string("bot"))
            m_token = std::make_unique<CToken5105Auto>(Slot(), m_plugged.path, false);
        else
            m_token = std::make_unique<CToken5105HID>(Slot(), m_plugged.path, false);
        ASSERT_EQ(m_token->OpenDevice(), CKR_OK) << m_plugged.path;
    }
    void TearDown() override {
        m_token.reset();
        VtokenTest::TearDown();
    }

    virtual std::vector<std::string> PlugOptions() const { return GetParam().plugOptions; }

    // The token keeps its slot pointer but never follows it; any non-null value stands for "a slot".
    static CSlot* Slot() {
        static char slotStandIn;
        return reinterpret_cast<CSlot*>(&slotStandIn);
    }

    CToken5105& Token() { return *m_token; }

    // The card's command lines since the last call ("> " lines without the marker).
    std::vector<std::string> Commands() {
        std::vector<std::string> commands;
        for (const std::string& line : TraceLines(m_plugged, true))
            if (line.rfind("> ", 0) == 0)
                commands.push_back(line.substr(2));
        return commands;
    }
    // Both directions since the last call, markers kept.
    std::vector<std::string> Exchanges() { return TraceLines(m_plugged, true); }

    void FaultRule(const std::string& rule) { Fault(m_plugged, {rule}); }

    uint16_t OpenApp() {
        EXPECT_EQ(Token().EnsureApplication(), CKR_OK);
        return Token().GetApplicationId();
    }

    CK_RV UserLogin(const std::string& pin) {
        std::string copy = pin;
        return Token().Login(CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&copy[0]), copy.size());
    }
    CK_RV SoLogin(const std::string& pin) {
        std::string copy = pin;
        return Token().Login(CKU_SO, reinterpret_cast<CK_UTF8CHAR_PTR>(&copy[0]), copy.size());
    }

    PluggedToken m_plugged;
    std::unique_ptr<CToken5105> m_token;
};

} // namespace keycore::test
