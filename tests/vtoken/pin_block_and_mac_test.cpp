// One PIN block and one MAC computed by hand (OpenSSL SM4) and sent through both framings to the
// real card: VerifyPin with the right and a wrong PIN, then ChangePin protected by its MAC.

#include <openssl/evp.h>
#include <openssl/sha.h>

#include "vtoken_test_support.h"

namespace vtoken::test {
namespace {

using PinBlockAndMac = VtokenTest;

constexpr uint8_t kUserPin = 1;

Bytes PinKey(const std::string& pin) {
    uint8_t digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const uint8_t*>(pin.data()), pin.size(), digest);
    return Bytes(digest, digest + 16);
}

Bytes Sm4(const char* mode, const Bytes& key, const Bytes& iv, const Bytes& data) {
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, mode, nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(data.size() + 16);
    int n = 0;
    EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data());
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size()));
    out.resize(static_cast<size_t>(n));
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    return out;
}

class Session {
public:
    Session(usb_dev_handle* h, bool hid) : m_h(h), m_hid(hid) {}
    Bytes Send(const Bytes& apdu) {
        const Exchange exchange = m_hid ? HidTransmit(m_h, apdu) : BotTransmit(m_h, apdu);
        EXPECT_EQ(exchange.rc, 0);
        return exchange.answer;
    }
    static std::string Sw(const Bytes& answer) {
        return answer.size() < 2 ? "" : Hex(Bytes(answer.end() - 2, answer.end()));
    }
    Bytes Challenge() {
        const Bytes answer = Send(FromHex("80500000000008"));
        EXPECT_EQ(Sw(answer), "9000");
        return Bytes(answer.begin(), answer.begin() + 8);
    }

private:
    usb_dev_handle* m_h;
    bool m_hid;
};

TEST_F(PinBlockAndMac, VerifyAndChangeThePinWithHandMadeBlocks) {
    for (const char* kind : {"bot", "hid"}) {
        SCOPED_TRACE(kind);
        const PluggedToken token = Plug({"--kind", kind});
        usb_dev_handle* h = Open(token);
        ASSERT_NE(h, nullptr);
        Session session(h, std::string(kind) == "hid");

        // OpenApplication "KEYCORE-APP": the app id is in answer bytes 8-9.
        const std::string name = "KEYCORE-APP";
        Bytes open = FromHex("80260000000000");
        open[6] = static_cast<uint8_t>(name.size());
        open.insert(open.end(), name.begin(), name.end());
        open.insert(open.end(), {0x00, 0x0A});
        const Bytes opened = session.Send(open);
        ASSERT_EQ(Session::Sw(opened), "9000");
        ASSERT_EQ(opened.size(), 12u);
        const Bytes app(opened.begin() + 8, opened.begin() + 10);

        auto verify = [&](const std::string& pin) {
            // PIN block of the challenge: 08 00, the 8 bytes, 80, five zeros; SM4-ECB under the PIN key.
            Bytes block = {0x08, 0x00};
            const Bytes challenge = session.Challenge();
            block.insert(block.end(), challenge.begin(), challenge.end());
            block.insert(block.end(), {0x80, 0, 0, 0, 0, 0});
            Bytes command = FromHex("80180001000012");
            command[3] = kUserPin;
            command.insert(command.end(), app.begin(), app.end());
            const Bytes cipher = Sm4("SM4-ECB", PinKey(pin), {}, block);
            command.insert(command.end(), cipher.begin(), cipher.end());
            return Session::Sw(session.Send(command));
        };
        EXPECT_EQ(verify("12345678"), "9000");
        EXPECT_EQ(verify("00000000"), "63C9") << "one try used of ten";
        EXPECT_EQ(verify("12345678"), "9000") << "success resets the counter";

        // ChangePin: the new PIN's block under the old key, then a MAC over header, app and
        // ciphertext: padded with 80 00.., SM4-CBC under the old key, IV = 8 fresh random bytes
        // and 8 zeros, the first 4 bytes of the last block.
        const std::string newPin = "87654321";
        Bytes block = {static_cast<uint8_t>(newPin.size()), 0x00};
        block.insert(block.end(), newPin.begin(), newPin.end());
        block.insert(block.end(), {0x80, 0, 0, 0, 0, 0});
        const Bytes cipher = Sm4("SM4-ECB", PinKey("12345678"), {}, block);
        Bytes change = FromHex("84160001000000");
        change[6] = static_cast<uint8_t>(cipher.size() + 6);
        change.insert(change.end(), app.begin(), app.end());
        change.insert(change.end(), cipher.begin(), cipher.end());
        Bytes padded = change;
        padded.push_back(0x80);
        while (padded.size() % 16 != 0)
            padded.push_back(0);
        Bytes iv = session.Challenge();
        iv.resize(16, 0);
        const Bytes macBlocks = Sm4("SM4-CBC", PinKey("12345678"), iv, padded);
        Bytes tampered = change;
        tampered.insert(tampered.end(), macBlocks.end() - 16, macBlocks.end() - 12);
        tampered[tampered.size() - 1] ^= 1;
        EXPECT_NE(Session::Sw(session.Send(tampered)), "9000") << "a wrong MAC is refused";

        iv = session.Challenge();
        iv.resize(16, 0);
        const Bytes mac = Sm4("SM4-CBC", PinKey("12345678"), iv, padded);
        change.insert(change.end(), mac.end() - 16, mac.end() - 12);
        EXPECT_EQ(Session::Sw(session.Send(change)), "9000");
        EXPECT_EQ(verify("87654321"), "9000");

        // The default-PIN flag is gone: QueryPinInfo answers max, left, default.
        Bytes query = FromHex("80140001000002");
        query.insert(query.end(), app.begin(), app.end());
        query.insert(query.end(), {0x00, 0x03});
        EXPECT_EQ(Hex(session.Send(query)), "0A0A009000");
        usb_close(h);
    }
}

} // namespace
} // namespace vtoken::test
