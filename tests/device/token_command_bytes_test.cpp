// The exact bytes the command set puts on the wire, read back from the card's trace, over every
// transport: chunked random numbers and file transfers, and the protected PIN commands.

#include "crypto/sm4_helpers.h"
#include "device/pin_block.h"
#include "device/secure_messaging.h"
#include "token_test_fixture.h"

#include <openssl/evp.h>

#include <cstring>

namespace keycore::test {
namespace {

using TokenCommandBytes = TokenTest;

TEST_P(TokenCommandBytes, GenRandomOf600BytesIsThreeCommandsOf255And255And90) {
    Commands();
    std::vector<unsigned char> random(600 + 8, 0xEE);
    ASSERT_EQ(Token().GenRandom(random.data(), 600), kSwSuccess);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"80500000000"
                                                    "0FF",
                                                    "805000000000FF", "8050000000005A"}));
    EXPECT_EQ(random[600], 0xEE) << "nothing past the requested count";
    EXPECT_NE(std::count(random.begin(), random.begin() + 600, 0xEE), 600);
}

// A digest without a public key starts with the five bytes 80 B4 00 alg 00; the card's SM3 of the
// data equals OpenSSL's.
TEST_P(TokenCommandBytes, PlainDigestStartsWithFiveBytesAndMatchesOpenSsl) {
    const uint8_t kSm3 = 0x01;
    const std::string data = "the quick brown fox";
    Commands();
    ASSERT_EQ(Token().DigestInit(kSm3, nullptr, nullptr, nullptr, 0), kSwSuccess);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"80B4000100"}));
    unsigned char digest[64] = {};
    CK_ULONG digestLen = sizeof digest;
    ASSERT_EQ(
        Token().DigestFinal(reinterpret_cast<const unsigned char*>(data.data()), data.size(), 32, digest, &digestLen),
        kSwSuccess);
    unsigned char expected[EVP_MAX_MD_SIZE];
    unsigned int expectedLen = 0;
    ASSERT_EQ(EVP_Digest(data.data(), data.size(), expected, &expectedLen, EVP_sm3(), nullptr), 1);
    ASSERT_EQ(digestLen, expectedLen);
    EXPECT_EQ(0, std::memcmp(digest, expected, expectedLen));
}

TEST_P(TokenCommandBytes, GenRandomStopsAtTheFirstFailingStatusWord) {
    FaultRule("sw:INS=0x50,SW=0x6A86");
    std::vector<unsigned char> random(600);
    EXPECT_EQ(Token().GenRandom(random.data(), random.size()), 0x6A86u);
    EXPECT_EQ(Commands().size(), 1u) << "no further chunk after a failure";
}

class TokenFileBytes : public TokenTest {
protected:
    void SetUp() override {
        TokenTest::SetUp();
        m_app = OpenApp();
        ASSERT_EQ(UserLogin(kDefaultPin), CKR_OK);
    }
    uint16_t m_app = 0;
};

// The commands that start with prefix; GET RESPONSE commands of a chained HID answer are left out.
std::vector<std::string> Only(const std::vector<std::string>& commands, const std::string& prefix) {
    std::vector<std::string> kept;
    for (const std::string& c : commands)
        if (c.rfind(prefix, 0) == 0)
            kept.push_back(c);
    return kept;
}

std::string Be16(size_t v) {
    return Hex(Bytes{static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}

TEST_P(TokenFileBytes, WriteAndReadOf4500BytesGoInChunksOf2000) {
    const char* name = "data";
    ASSERT_EQ(Token().CreateFile(m_app, name, 4500, 0xFF, 0xFF), kSwSuccess);
    Bytes data(4500);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    Commands();
    ASSERT_EQ(Token().WriteFile(m_app, name, 0, data.data(), data.size()), kSwSuccess);
    const std::vector<std::string> writes = Commands();
    ASSERT_EQ(writes.size(), 3u);
    const size_t chunks[] = {2000, 2000, 500};
    for (size_t i = 0; i < 3; ++i) {
        // 80 3A 00 00 00 LL LL, app, offset, name length, name, chunk length, chunk
        const std::string head = "803A000000" + Be16(4 + chunks[i] + 8) + Be16(m_app) + Be16(i * 2000) + "0004" +
                                 Hex(Bytes(name, name + 4)) + Be16(chunks[i]);
        EXPECT_EQ(writes[i].substr(0, head.size()), head) << i;
        EXPECT_EQ(writes[i].size(), head.size() + 2 * chunks[i]);
    }

    Bytes back(4500 + 16, 0xEE);
    CK_ULONG readLen = 0;
    ASSERT_EQ(Token().ReadFile(m_app, name, 0, 4500, back.data(), &readLen), kSwSuccess);
    EXPECT_EQ(readLen, 4500u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
    EXPECT_EQ(back[4500], 0xEE);
    const std::vector<std::string> reads = Only(Commands(), "8038");
    ASSERT_EQ(reads.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(reads[i], "8038000000000C" + Be16(m_app) + Be16(i * 2000) + Be16(chunks[i]) + "0004" +
                                Hex(Bytes(name, name + 4)) + "0000")
            << i;
}

TEST_P(TokenFileBytes, SecondFileSpaceMovesChunksOf3000) {
    const char* name = "obj";
    ASSERT_EQ(Token().CreateFileEx(m_app, name, 7000, 0xFF, 0xFF), kSwSuccess);
    Bytes data(7000, 0x42);
    data[6999] = 0x24;
    Commands();
    ASSERT_EQ(Token().WriteFileEx(m_app, name, 0, data.data(), data.size()), kSwSuccess);
    const std::vector<std::string> writes = Commands();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[2].substr(0, 4), "803B");
    EXPECT_EQ(writes[2].substr(18, 4), Be16(6000)) << "offset of the third chunk";

    Bytes back(7000);
    CK_ULONG readLen = 0;
    ASSERT_EQ(Token().ReadFileEx(m_app, name, 0, 7000, back.data(), &readLen), kSwSuccess);
    EXPECT_EQ(back, data);
    const std::vector<std::string> reads = Only(Commands(), "8039");
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[1].substr(18, 8), Be16(3000) + Be16(3000)) << "offset 3,000, length 3,000";
    EXPECT_EQ(reads[2].substr(18, 8), Be16(6000) + Be16(1000));

    // The first file space does not see the second one's file.
    CK_ULONG len = 0;
    EXPECT_NE(Token().ReadFile(m_app, name, 0, 10, back.data(), &len), kSwSuccess);
}

TEST_P(TokenFileBytes, ReadFileStopsAtTheEndOfTheFileAndAtAFailingChunk) {
    const char* name = "short";
    ASSERT_EQ(Token().CreateFile(m_app, name, 3000, 0xFF, 0xFF), kSwSuccess);
    Bytes data(3000, 0x33);
    ASSERT_EQ(Token().WriteFile(m_app, name, 0, data.data(), data.size()), kSwSuccess);
    Bytes back(4500);
    CK_ULONG readLen = 0;
    Commands();
    // Reading past the end of the file: the card answers what there is, then nothing; the loop ends
    // there instead of asking again and again.
    EXPECT_EQ(Token().ReadFile(m_app, name, 0, 4500, back.data(), &readLen), kSwSuccess);
    EXPECT_EQ(readLen, 3000u);
    EXPECT_EQ(Only(Commands(), "8038").size(), 3u);
    FaultRule("sw:INS=0x38,SW=0x6A82");
    EXPECT_EQ(Token().ReadFile(m_app, name, 0, 4500, back.data(), &readLen), 0x6A82u);
    EXPECT_EQ(readLen, 0u);
    EXPECT_EQ(Token().ReadFile(m_app, name, 0x10000, 1, back.data(), &readLen), CKR_ARGUMENTS_BAD)
        << "offsets travel in 16 bits";
    EXPECT_EQ(Token().ReadFile(m_app, nullptr, 0, 1, back.data(), &readLen), CKR_ARGUMENTS_BAD);
}

// The card's answer to the last "> 8050..." command: the challenge the next command is bound to.
Bytes ChallengeBefore(const std::vector<std::string>& lines, size_t commandIndex) {
    for (size_t i = commandIndex; i-- > 0;)
        if (lines[i].rfind("> 8050", 0) == 0 && i + 1 < lines.size())
            return FromHex(lines[i + 1].substr(2, lines[i + 1].size() - 6));
    return {};
}

size_t FindCommand(const std::vector<std::string>& lines, const std::string& prefix) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind("> " + prefix, 0) == 0)
            return i;
    return lines.size();
}

using TokenPinBytes = TokenTest;

TEST_P(TokenPinBytes, VerifyPinSendsTheChallengeInAPinBlockUnderThePinKey) {
    const uint16_t app = OpenApp();
    Exchanges();
    ASSERT_EQ(UserLogin(kDefaultPin), CKR_OK);
    const std::vector<std::string> lines = Exchanges();
    ASSERT_EQ(lines.size(), 4u) << "GenRandom of 8 bytes, then the verify command";
    EXPECT_EQ(lines[0], "> 80500000000008");
    const size_t verify = FindCommand(lines, "8018");
    ASSERT_EQ(verify, 2u);
    const Bytes command = FromHex(lines[verify].substr(2));
    ASSERT_EQ(command.size(), 7u + 18u);
    EXPECT_EQ(Hex(Bytes(command.begin(), command.begin() + 9)), "801800010000"
                                                                "12" +
                                                                    Be16(app));
    const Bytes challenge = ChallengeBefore(lines, verify);
    ASSERT_EQ(challenge.size(), 8u);
    const PinKey key = DerivePinKey(kDefaultPin, 8);
    Bytes plain(16);
    ASSERT_TRUE(SM4EcbCrypt(key.data(), command.data() + 9, 16, plain.data(), false));
    EXPECT_EQ(Hex(plain), "0800" + Hex(challenge) +
                              "8000000000"
                              "00");
    EXPECT_EQ(lines[3], "< 9000");
}

struct ChangeCase {
    const char* newPin;
    size_t cipherLength;
};

TEST_P(TokenPinBytes, ChangePinCarriesTheNewPinBlockAndAMacTheCardAccepts) {
    const uint16_t app = OpenApp();
    std::string current = kDefaultPin;
    // 13 and 14 characters both make a 32-byte PIN block; 8 characters one block.
    const ChangeCase cases[] = {{"abcdefghijklm", 32}, {"abcdefghijklmn", 32}, {"87654321", 16}};
    for (const ChangeCase& c : cases) {
        const std::string newPin = c.newPin;
        Exchanges();
        ASSERT_EQ(Token().ChangePin(kPinTypeUser, app, newPin.data(), newPin.size(), current.data(), current.size()),
                  kSwSuccess)
            << newPin;
        const std::vector<std::string> lines = Exchanges();
        const size_t change = FindCommand(lines, "8416");
        ASSERT_LT(change, lines.size());
        ASSERT_LT(FindCommand(lines, "8050"), change) << "the challenge comes first";
        const Bytes command = FromHex(lines[change].substr(2));
        ASSERT_EQ(command.size(), 7 + 2 + c.cipherLength + 4);
        EXPECT_EQ(Hex(Bytes(command.begin(), command.begin() + 9)),
                  "8416000100" + Be16(c.cipherLength + 6) + Be16(app));

        const PinKey oldKey = DerivePinKey(current.data(), current.size());
        Bytes plain(c.cipherLength);
        ASSERT_TRUE(SM4EcbCrypt(oldKey.data(), command.data() + 9, c.cipherLength, plain.data(), false));
        EXPECT_EQ(plain, MakePinBlock(newPin.data(), newPin.size())) << newPin;

        const Bytes body(command.begin(), command.end() - 4);
        const auto mac = CommandMac(oldKey, ChallengeBefore(lines, change).data(), body);
        ASSERT_TRUE(mac.has_value());
        EXPECT_EQ(Hex(Bytes(command.end() - 4, command.end())), Hex(Bytes(mac->begin(), mac->end())));
        EXPECT_EQ(lines[change + 1], "< 9000");

        ASSERT_EQ(UserLogin(newPin), CKR_OK) << "the card took the new PIN";
        current = newPin;
    }
}

TEST_P(TokenPinBytes, UnblockPinSetsTheUserPinUnderTheAdminKey) {
    const uint16_t app = OpenApp();
    Exchanges();
    const std::string newPin = "unblocked-pin";
    ASSERT_EQ(Token().UnblockPin(app, newPin.data(), newPin.size(), kDefaultPin, 8), kSwSuccess);
    const std::vector<std::string> lines = Exchanges();
    const size_t unblock = FindCommand(lines, "841A");
    ASSERT_LT(unblock, lines.size());
    const Bytes command = FromHex(lines[unblock].substr(2));
    EXPECT_EQ(Hex(Bytes(command.begin(), command.begin() + 9)), "841A00000000"
                                                                "26" +
                                                                    Be16(app));
    EXPECT_EQ(UserLogin(newPin), CKR_OK);
}

INSTANTIATE_TEST_SUITE_P(Transports, TokenCommandBytes, ::testing::ValuesIn(kTokenKinds), KindName);
INSTANTIATE_TEST_SUITE_P(Transports, TokenFileBytes, ::testing::ValuesIn(kTokenKinds), KindName);
INSTANTIATE_TEST_SUITE_P(Transports, TokenPinBytes, ::testing::ValuesIn(kTokenKinds), KindName);

} // namespace
} // namespace keycore::test
