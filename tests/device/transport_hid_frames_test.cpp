// The HID transport's reports as the token receives them, read from vtoken's frame-level trace.

#include "transport_test_support.h"

namespace keycore::test {
namespace {

struct ReportHeader {
    size_t total;
    size_t offset;
    size_t length;
};

class HidFramesTest : public TransportTest {
protected:
    void FramesOn(const PluggedToken& token, const char* state = "on") {
        const vtoken::test::ToolResult result = vtoken::test::RunTool({"trace", "--frames", state, token.id});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }

    // The lines with the given marker, without it.
    std::vector<std::string> Lines(const PluggedToken& token, const std::string& marker) {
        std::vector<std::string> found;
        for (const std::string& line : TraceLines(token, true))
            if (line.rfind(marker + " ", 0) == 0)
                found.push_back(line.substr(marker.size() + 1));
        return found;
    }
};

ReportHeader HeaderOf(const std::string& hex) {
    const Bytes report = FromHex(hex);
    EXPECT_EQ(report.size(), 64u) << hex;
    if (report.size() < 6)
        return {0, 0, 0};
    return {static_cast<size_t>(report[0] << 8 | report[1]), static_cast<size_t>(report[2] << 8 | report[3]),
            static_cast<size_t>(report[4] << 8 | report[5])};
}

TEST_F(HidFramesTest, CommandsOf58And59BytesAreOneAndTwoReports) {
    const PluggedToken token = Plug({"--kind", "hid"});
    auto hid = OpenToken<CToken5105HID>(token);
    FramesOn(token);
    struct Case {
        size_t size;
        std::vector<ReportHeader> reports;
    };
    const Case cases[] = {
        {58, {{58, 0, 58}}},
        {59, {{59, 0, 58}, {59, 58, 1}}},
        {117, {{117, 0, 58}, {117, 58, 58}, {117, 116, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        Bytes command(c.size);
        for (size_t i = 0; i < c.size; ++i)
            command[i] = static_cast<uint8_t>(0xC0 + i);
        ASSERT_EQ(Transmit(*hid, command).rv, CKR_OK);
        const std::vector<std::string> sent = Lines(token, "R>");
        ASSERT_EQ(sent.size(), c.reports.size());
        Bytes reassembled;
        for (size_t i = 0; i < sent.size(); ++i) {
            const ReportHeader header = HeaderOf(sent[i]);
            EXPECT_EQ(header.total, c.reports[i].total) << "report " << i;
            EXPECT_EQ(header.offset, c.reports[i].offset) << "report " << i;
            EXPECT_EQ(header.length, c.reports[i].length) << "report " << i;
            const Bytes report = FromHex(sent[i]);
            reassembled.insert(reassembled.end(), report.begin() + 6,
                               report.begin() + 6 + static_cast<std::ptrdiff_t>(header.length));
            // The rest of the report is zero-filled.
            for (size_t b = 6 + header.length; b < report.size(); ++b)
                EXPECT_EQ(report[b], 0) << "report " << i << " byte " << b;
        }
        EXPECT_EQ(reassembled, command);
    }
}

TEST_F(HidFramesTest, FrameLinesComeOnlyWhenAskedFor) {
    const PluggedToken token = Plug({"--kind", "hid"});
    auto hid = OpenToken<CToken5105HID>(token);
    const Bytes command = FromHex("80500000000008");

    ASSERT_EQ(Transmit(*hid, command).rv, CKR_OK);
    EXPECT_EQ(TraceLines(token, true).size(), 2u) << "the default log holds the command and the answer only";

    FramesOn(token);
    const FrameResult result = Transmit(*hid, command);
    ASSERT_EQ(result.rv, CKR_OK);
    const std::vector<std::string> lines = TraceLines(token, true);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, 3), "R> ");
    EXPECT_EQ(lines[1], "> 80500000000008") << "the frame that completes a command comes before it";
    EXPECT_EQ(lines[2].substr(0, 2), "< ");
    EXPECT_EQ(lines[3].substr(0, 3), "R< ");
    EXPECT_EQ(HeaderOf(lines[3].substr(3)).total, result.answer.size());

    FramesOn(token, "off");
    ASSERT_EQ(Transmit(*hid, command).rv, CKR_OK);
    EXPECT_EQ(TraceLines(token, true).size(), 2u);
}

TEST_F(HidFramesTest, BulkOnlyFramesAreWrappersAndData) {
    const PluggedToken token = Plug({"--kind", "bot"});
    auto bot = OpenToken<CToken5105Auto>(token);
    FramesOn(token);
    ASSERT_EQ(Transmit(*bot, FromHex("80500000000008")).rv, CKR_OK);
    std::vector<std::string> markers;
    for (const std::string& line : TraceLines(token, true))
        markers.push_back(line.substr(0, line.find(' ')));
    const std::vector<std::string> expected{"W>", "D>", ">", "<", "W<", "W>", "D<", "W<"};
    EXPECT_EQ(markers, expected);
}

} // namespace
} // namespace keycore::test
