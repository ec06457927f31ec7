#pragma once
// Test side of the card core: a token in a private directory, APDUs built by hand, and the host's
// half of PIN protection computed here with OpenSSL, independently of the applet's own code.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/sha.h>

#include "vtoken/applet/token_applet.h"

namespace vtoken::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes U16(unsigned v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
inline Bytes U32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

// CLA INS P1 P2 00 HH LL data [Le].
inline Bytes Apdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const Bytes& data, const Bytes& le = {}) {
    Bytes out = {cla, ins, p1, p2, 0};
    Bytes lc = U16(static_cast<unsigned>(data.size()));
    out.insert(out.end(), lc.begin(), lc.end());
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), le.begin(), le.end());
    return out;
}

struct Reply {
    Bytes data;
    uint16_t sw = 0;
};

inline Bytes Sm4(const Bytes& key, const Bytes& in, bool cbc = false, const Bytes& iv = Bytes(16, 0)) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size());
    int n = 0;
    EVP_EncryptInit_ex(ctx, cbc ? EVP_sm4_cbc() : EVP_sm4_ecb(), nullptr, key.data(), cbc ? iv.data() : nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

inline Bytes Sm4Decrypt(const Bytes& key, const Bytes& in) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size());
    int n = 0;
    EVP_DecryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_DecryptUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

inline Bytes HostPinKey(const std::string& pin) {
    unsigned char d[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(pin.data()), pin.size(), d);
    return Bytes(d, d + 16);
}

// 0x80 then zeros to a multiple of 16; a whole zero block when the 0x80 ends on a boundary.
inline Bytes HostPad(Bytes b) {
    b.push_back(0x80);
    if (b.size() % 16 == 0)
        b.insert(b.end(), 16, 0);
    while (b.size() % 16 != 0)
        b.push_back(0);
    return b;
}

inline Bytes HostPinBlock(const Bytes& content) {
    Bytes b = {static_cast<uint8_t>(content.size()), static_cast<uint8_t>(content.size() >> 8)};
    b.insert(b.end(), content.begin(), content.end());
    return HostPad(b);
}

inline Bytes HostMac(const Bytes& message, const Bytes& key, const Bytes& challenge) {
    Bytes iv(challenge.begin(), challenge.begin() + 8);
    iv.resize(16, 0);
    Bytes c = Sm4(key, HostPad(message), true, iv);
    return Bytes(c.end() - 16, c.end() - 12);
}

// A token in its own temporary directory, removed afterwards.
class TokenFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vtoken-core-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        OpenToken();
    }
    void TearDown() override {
        m_token.reset();
        std::string cmd = "rm -rf '" + m_dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    void OpenToken(TokenProfile profile = {"", "VT0000000001", false}) {
        m_token.reset();
        std::string error;
        m_token = TokenApplet::Open(m_dir, profile, &error);
        ASSERT_NE(m_token, nullptr) << error;
    }

    Reply Send(const Bytes& apdu) {
        Bytes answer = m_token->Execute(apdu.data(), apdu.size());
        Reply r;
        if (answer.size() < 2) {
            ADD_FAILURE() << "answer shorter than a status word";
            return r;
        }
        r.sw = static_cast<uint16_t>((answer[answer.size() - 2] << 8) | answer.back());
        r.data.assign(answer.begin(), answer.end() - 2);
        return r;
    }

    uint16_t Sw(const Bytes& apdu) { return Send(apdu).sw; }

    Bytes Challenge(unsigned count = 8) {
        Reply r = Send({0x80, 0x50, 0x00, 0x00, 0x00, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)});
        EXPECT_EQ(r.sw, 0x9000);
        return r.data;
    }

    // OpenApplication by name: the application id, or 0 on failure.
    uint16_t OpenApp(const std::string& name = "KEYCORE-APP") {
        Reply r = Send(Apdu(0x80, 0x26, 0, 0, Text(name), {0x00, 0x0A}));
        if (r.sw != 0x9000 || r.data.size() != 10)
            return 0;
        return static_cast<uint16_t>((r.data[8] << 8) | r.data[9]);
    }

    uint16_t VerifyPin(uint16_t app, uint8_t pinType, const std::string& pin) {
        Bytes challenge = Challenge();
        Bytes block = Sm4(HostPinKey(pin), HostPinBlock(challenge));
        return Sw(Apdu(0x80, 0x18, 0x00, pinType, Cat({U16(app), block})));
    }

    // ChangePin (INS 16, PIN type in P2) or UnblockPin (INS 1A): PIN block of the new PIN under
    // `keyPin`'s key, MAC under the same key over the header and data.
    Bytes ProtectedPinCommand(uint8_t ins, uint8_t pinType, uint16_t app, const std::string& keyPin,
                              const std::string& newPin) {
        Bytes key = HostPinKey(keyPin);
        Bytes cipher = Sm4(key, HostPinBlock(Text(newPin)));
        Bytes data = Cat({U16(app), cipher});
        Bytes header = {0x84, ins, 0x00, pinType, 0x00};
        Bytes lc = U16(static_cast<unsigned>(data.size() + 4));
        Bytes message = Cat({header, lc, data});
        Bytes challenge = Challenge();
        return Cat({message, HostMac(message, key, challenge)});
    }

    Bytes PinInfo(uint16_t app, uint8_t pinType, uint16_t* sw = nullptr) {
        Reply r = Send(Apdu(0x80, 0x14, 0x00, pinType, U16(app), {0x00, 0x03}));
        if (sw)
            *sw = r.sw;
        return r.data;
    }

    std::string m_dir;
    std::unique_ptr<TokenApplet> m_token;
};

} // namespace vtoken::testing
