// After a failed HID exchange the token still holds answer reports nobody read; the next command
// must get its own answer, not the leftovers.

#include "transport_test_support.h"

namespace keycore::test {
namespace {

using HidStaleTest = TransportTest;

TEST_F(HidStaleTest, CommandAfterAFailedExchangeGetsItsOwnAnswer) {
    struct Case {
        std::vector<std::string> rules;
        size_t failedLength; // data bytes of the answer left behind
        CK_RV failure;
    };
    const Case cases[] = {
        {{"echo:21"}, 70, CKR_DATA_INVALID},   // a two-report answer behind the 21st echo
        {{"echo:30"}, 300, CKR_DATA_INVALID},  // nine more echoes and six reports left
        {{"timeout"}, 200, CKR_GENERAL_ERROR}, // the first answer read times out
        {{"disorder"}, 120, CKR_DATA_INVALID}, // refused at the first fragment, the others wait
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rules[0]);
        const PluggedToken token = Plug({"--kind", "hid", "--large"});
        auto hid = OpenToken<CToken5105HID>(token);
        ASSERT_EQ(Transmit(*hid, PatternCommand(3)).rv, CKR_OK);
        Fault(token, c.rules);
        EXPECT_EQ(Transmit(*hid, PatternCommand(c.failedLength)).rv, c.failure);

        for (size_t next : {5u, 64u}) {
            const FrameResult result = Transmit(*hid, PatternCommand(next));
            ASSERT_EQ(result.rv, CKR_OK) << next;
            EXPECT_EQ(result.answer, PatternAnswer(next));
        }
    }
}

TEST_F(HidStaleTest, LeftoversOfAnotherTokenObjectAreDrainedToo) {
    // Another holder of the device (here a second object, as in another process) failed and left
    // its answer behind; a freshly opened object starts clean.
    const PluggedToken token = Plug({"--kind", "hid"});
    {
        auto first = OpenToken<CToken5105HID>(token);
        Fault(token, {"timeout"});
        EXPECT_EQ(Transmit(*first, PatternCommand(100)).rv, CKR_GENERAL_ERROR);
    }
    auto second = OpenToken<CToken5105HID>(token);
    const FrameResult result = Transmit(*second, PatternCommand(10));
    ASSERT_EQ(result.rv, CKR_OK);
    EXPECT_EQ(result.answer, PatternAnswer(10));
}

} // namespace
} // namespace keycore::test
