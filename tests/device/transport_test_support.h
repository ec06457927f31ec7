#pragma once
// The transport classes against vtoken's echo card: frames go through the library's own exchange.

#include "device/token5105_auto.h"
#include "device/token5105_hid.h"
#include "vtoken_test_support.h"

#include <memory>
#include <string>

namespace keycore::test {

using vtoken::test::Bytes;
using vtoken::test::FromHex;
using vtoken::test::Hex;
using vtoken::test::PluggedToken;

struct FrameResult {
    CK_RV rv = CKR_OK;
    Bytes answer;
};

// One TransmitFrame with a response buffer of the given capacity (guarded on both sides, so an
// overrun shows as a changed guard).
FrameResult Transmit(CTokenBase& token, const Bytes& command, CK_ULONG capacity = kApduAnswerCapacity);

// Echo card: "80EE" P1P2 answers P1P2 bytes 00 01 02 ...; anything else comes back as it was sent.
Bytes PatternCommand(size_t dataLength);
Bytes PatternAnswer(size_t dataLength);

class TransportTest : public vtoken::test::EchoVtokenTest {
protected:
    template <typename Token> std::unique_ptr<Token> OpenToken(const PluggedToken& token) {
        auto object = std::make_unique<Token>(nullptr, token.path, false);
        EXPECT_EQ(object->OpenDevice(), CKR_OK) << token.path;
        return object;
    }
    void Unplug(const PluggedToken& token);
    // The card's log of commands only ("> ..." lines without the marker).
    std::vector<std::string> Commands(const PluggedToken& token, bool clear = true);
};

} // namespace keycore::test
