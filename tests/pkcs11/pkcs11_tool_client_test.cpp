// A real PKCS#11 client, OpenSC's pkcs11-tool, loads the shared library the way applications do and
// talks to two virtual tokens started by scripts/with-vtoken.
#include "vtoken_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct ClientCase {
    const char* name;
    const char* arguments;
    int exitCode;
    // Each text must occur in stdout and stderr together exactly `times` times.
    std::vector<std::pair<const char*, int>> texts;
};

void PrintTo(const ClientCase& c, std::ostream* os) {
    *os << c.name;
}

std::string SourceDir() {
    const char* dir = std::getenv("KEYCORE_SOURCE_DIR");
    return dir != nullptr ? dir : KEYCORE_SOURCE_DIR_FALLBACK;
}

int CountOccurrences(const std::string& text, const std::string& literal) {
    int count = 0;
    for (size_t at = text.find(literal); at != std::string::npos; at = text.find(literal, at + literal.size()))
        ++count;
    return count;
}

class P11ToolClient : public ::testing::TestWithParam<ClientCase> {};

TEST_P(P11ToolClient, AnswersAsExpected) {
    const ClientCase& c = GetParam();
    ASSERT_EQ(vtoken::test::RunShell("command -v pkcs11-tool").exitCode, 0)
        << "pkcs11-tool is missing: scripts/setup installs it (Debian package opensc)";
    const std::string command = "'" + SourceDir() + "/scripts/with-vtoken' --tokens bot,hid -- pkcs11-tool --module '" +
                                KEYCORE_LIBRARY_PATH + "' " + c.arguments + " 2>&1";
    const auto result = vtoken::test::RunShell(command);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.out;
    for (const auto& [text, times] : c.texts)
        EXPECT_EQ(CountOccurrences(result.out, text), times) << "text: " << text << "\n" << result.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, P11ToolClient,
    ::testing::Values(
        ClientCase{"ListSlots",
                   "-L",
                   0,
                   {{"Slot 0 (0x1): ", 1},
                    {"Slot 1 (0x2): ", 1},
                    {"token label        : vtoken\n", 2},
                    {"token manufacturer : Quorvel Technologies Co., Ltd.\n", 2},
                    {"token model        : Orvex5100GMG\n", 2},
                    {"serial num         : VT", 2},
                    {"token flags        : login required, rng, token initialized, PIN initialized", 2}}},
        ClientCase{
            "ListTokens", "-T", 0, {{"token label        : vtoken\n", 2}, {"Slot 0 (0x1)", 1}, {"Slot 1 (0x2)", 1}}},
        ClientCase{"ListMechanisms",
                   "-M",
                   0,
                   {{"Supported mechanisms:\n", 1}, {"\n  RSA-PKCS, keySize={512,2048}, hw, encrypt, decrypt", 1}}},
        ClientCase{"ShowInfo",
                   "-I",
                   0,
                   {{"Cryptoki version 2.40\n", 1},
                    {"Manufacturer     Quorvel Technologies Co., Ltd.\n", 1},
                    {"Library          Quorvel PKCS#11 Library. (ver 1.20)\n", 1}}},
        ClientCase{"LoginRightPin",
                   "--login --pin 12345678 --generate-random 16 --output-file /dev/null",
                   0,
                   {{"Using slot 0 with a present token (0x1)", 1}, {"failed", 0}}},
        ClientCase{"LoginWrongPin",
                   "--login --pin 87654321 --generate-random 16",
                   1,
                   {{"C_Login failed: rv = CKR_PIN_INCORRECT", 1}}}),
    [](const ::testing::TestParamInfo<ClientCase>& param) { return std::string(param.param.name); });

} // namespace
