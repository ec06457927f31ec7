#include "core_test_support.h"

#include <fstream>
#include <iterator>
#include <random>

#include "vtoken/applet/image_store.h"

namespace vtoken::testing {
namespace {

class PersistenceTest : public TokenFixture {
protected:
    std::string ImagePath() const { return m_dir + "/token.img"; }
    Bytes ReadImage() const {
        std::ifstream in(ImagePath(), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    void WriteImage(const Bytes& bytes) const {
        std::ofstream out(ImagePath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::string Reopen() {
        m_token.reset();
        std::string error;
        m_token = TokenApplet::Open(m_dir, {"", "OTHER", false}, &error);
        return error;
    }

    // A token with something of every kind in it.
    void Populate() {
        uint16_t app = OpenApp();
        ASSERT_EQ(VerifyPin(app, 1, "12345678"), 0x9000);
        ASSERT_EQ(Sw(Apdu(0x80, 0x02, 0, 0, Text("persisted"))), 0x9000);
        Bytes record = Cat({Text("f"), Bytes(31, 0), U32(16), U32(0x10), U32(0xFF)});
        ASSERT_EQ(Sw(Apdu(0x80, 0x31, app >> 8, app & 0xFF, record)), 0x9000);
        ASSERT_EQ(Sw(Apdu(0x80, 0x3B, 0, 0, Cat({U16(app), U16(0), U16(1), Text("f"), U16(5), Text("hello")}))),
                  0x9000);
        Reply ctr = Send(Apdu(0x80, 0x40, 0, 0, Cat({U16(app), Text("box")}), {0, 2}));
        ASSERT_EQ(ctr.sw, 0x9000);
        ASSERT_EQ(Sw(Apdu(0x80, 0x4C, 0, 0, Cat({U16(app), ctr.data, {0}, U32(3), {1, 2, 3}}))), 0x9000);
        ASSERT_EQ(Sw(ProtectedPinCommand(0x16, 1, app, "12345678", "newpin99")), 0x9000);
        ASSERT_EQ(VerifyPin(app, 0, "bad"), 0x63C9);
        m_ctr = ctr.data;
    }
    Bytes m_ctr;
};

TEST_F(PersistenceTest, ReopenedTokenHasTheSameContent) {
    Populate();
    ASSERT_EQ(Reopen(), "");
    EXPECT_EQ(m_token->Serial(), "VT0000000001") << "the profile of an existing token is ignored";
    EXPECT_EQ(m_token->Label(), "persisted");
    uint16_t app = OpenApp();
    ASSERT_NE(app, 0);
    EXPECT_EQ(PinInfo(app, 1), (Bytes{10, 10, 0}));
    EXPECT_EQ(PinInfo(app, 0), (Bytes{10, 9, 1}));
    ASSERT_EQ(VerifyPin(app, 1, "newpin99"), 0x9000);
    Reply read = Send(Apdu(0x80, 0x39, 0, 0, Cat({U16(app), U16(0), U16(5), U16(1), Text("f")}), {0, 0}));
    EXPECT_EQ(read.data, Text("hello"));
    EXPECT_EQ(Send(Apdu(0x80, 0x42, 0, 0, Cat({U16(app), Text("box")}), {0, 2})).data, m_ctr);
    EXPECT_EQ(Send(Apdu(0x80, 0x4E, 0, 0, Cat({U16(app), m_ctr}), {0, 0})).data, Cat({U32(3), {1, 2, 3}}));
    // A new container after the reopen does not reuse the id.
    EXPECT_NE(Send(Apdu(0x80, 0x40, 0, 0, Cat({U16(app), Text("box2")}), {0, 2})).data, m_ctr);
}

TEST_F(PersistenceTest, SerializeParseRoundTripIsExact) {
    Populate();
    Bytes image = ReadImage();
    TokenImage parsed;
    std::string error;
    ASSERT_TRUE(ParseImage(image, &parsed, &error)) << error;
    EXPECT_EQ(SerializeImage(parsed), image);
}

TEST_F(PersistenceTest, TruncatedOrCorruptImagesAreRefusedWhole) {
    Populate();
    const Bytes good = ReadImage();
    struct Case {
        const char* what;
        Bytes image;
    } cases[] = {
        {"empty file", {}},
        {"cut in half", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2))},
        {"last byte missing", Bytes(good.begin(), good.end() - 1)},
        {"one byte flipped in the body", [&] { Bytes b = good; b[good.size() / 2] ^= 0x40; return b; }()},
        {"one byte flipped in the checksum", [&] { Bytes b = good; b.back() ^= 1; return b; }()},
        {"wrong magic", [&] { Bytes b = good; b[0] = 'X'; return b; }()},
        {"byte appended", Cat({good, {0}})},
    };
    for (const Case& c : cases) {
        WriteImage(c.image);
        EXPECT_NE(Reopen(), "") << c.what;
        EXPECT_EQ(m_token, nullptr) << c.what;
    }
    WriteImage(good);
    EXPECT_EQ(Reopen(), "");
}

TEST_F(PersistenceTest, ParserSurvivesMutatedImagesWithValidChecksums) {
    // Re-sealing a mutated body with a fresh digest reaches the structural checks behind it.
    Populate();
    TokenImage parsed;
    ASSERT_TRUE(ParseImage(ReadImage(), &parsed, nullptr));
    const Bytes good = SerializeImage(parsed);
    const size_t digest = 32;
    std::mt19937 random(20240611);
    int accepted = 0;
    for (int round = 0; round < 2000; ++round) {
        Bytes body(good.begin(), good.end() - digest);
        size_t flips = 1 + random() % 4;
        for (size_t i = 0; i < flips; ++i)
            body[8 + random() % (body.size() - 8)] = static_cast<uint8_t>(random());
        if (random() % 4 == 0)
            body.resize(8 + random() % (body.size() - 8));
        unsigned char sum[digest];
        unsigned int n = 0;
        EVP_Digest(body.data(), body.size(), sum, &n, EVP_sha256(), nullptr);
        Bytes sealed = Cat({body, Bytes(sum, sum + digest)});
        TokenImage out;
        std::string error;
        if (ParseImage(sealed, &out, &error)) {
            ++accepted;
            EXPECT_EQ(SerializeImage(out), sealed) << "whatever parses must be what was stored";
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    EXPECT_LT(accepted, 2000);
}

TEST_F(PersistenceTest, NewTokenNeedsASerialAndADirectory) {
    std::string error;
    EXPECT_EQ(TokenApplet::Open(m_dir + "/fresh", {"", "", false}, &error), nullptr);
    EXPECT_NE(error, "");
    EXPECT_EQ(TokenApplet::Open("", {"", "S", false}, &error), nullptr);
    auto token = TokenApplet::Open(m_dir + "/fresh", {"lab", "S2", false}, &error);
    ASSERT_NE(token, nullptr) << error;
    EXPECT_EQ(token->Label(), "lab");
    EXPECT_EQ(token->Serial(), "S2");
}

TEST_F(PersistenceTest, NoTemporaryFileIsLeftBehind) {
    Populate();
    std::ifstream temporary(ImagePath() + ".tmp");
    EXPECT_FALSE(temporary.good());
}

TEST_F(PersistenceTest, ExecuteSurvivesRandomCommands) {
    // Random APDUs against a populated token: every answer ends in a status word, nothing crashes,
    // and the image on disk stays loadable.
    Populate();
    std::mt19937 random(7);
    const uint8_t classes[] = {0x80, 0x84, 0xC6, 0x00};
    for (int round = 0; round < 5000; ++round) {
        Bytes apdu = {classes[random() % 4], static_cast<uint8_t>(random()), static_cast<uint8_t>(random() % 3),
                      static_cast<uint8_t>(random() % 3)};
        size_t dataSize = random() % 90;
        Bytes data(dataSize);
        for (uint8_t& b : data)
            b = static_cast<uint8_t>(random() % 4 == 0 ? 0 : random());
        if (dataSize >= 2 && random() % 2 == 0) {
            data[0] = 0;
            data[1] = 1; // the default application's id
        }
        Bytes full = random() % 8 == 0 ? data : Apdu(apdu[0], apdu[1], apdu[2], apdu[3], data);
        if (random() % 3 == 0)
            m_token->Execute(Cat({{0x80, 0x26, 0, 0, 0, 0, 11}, Text("KEYCORE-APP")}).data(), 18);
        Bytes answer = m_token->Execute(full.data(), full.size());
        ASSERT_GE(answer.size(), 2u);
    }
    EXPECT_EQ(Reopen(), "");
}

} // namespace
} // namespace vtoken::testing
