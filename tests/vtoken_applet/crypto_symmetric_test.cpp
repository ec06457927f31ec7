// Session-key ciphers, the keyed cipher command, digests and MACs, each compared with OpenSSL.

#include "tests/vtoken_applet/crypto_fixture.h"

namespace vtoken::testing {
namespace {

class SymmetricTest : public CryptoTokenTest {
protected:
    Reply Stage(uint8_t ins, uint16_t index, const Bytes& data) {
        return Send(ins, 0, 0, Data().u16(kApp).u16(kContainer).u16(index).raw(data));
    }
};

TEST_F(SymmetricTest, StreamedCipherEqualsOneOpenSslPass) {
    Bytes key = Pattern(16, 0x10);
    Bytes iv = Pattern(16, 0x90);
    // The host pads; awkward piece sizes, a 2016-byte piece included, then an empty final.
    Bytes message = PadBlocks(Pattern(2100, 2));
    const std::vector<size_t> pieces = {16, 2016, 48, message.size() - 16 - 2016 - 48};
    struct Case {
        const char* name;
        uint32_t algorithm;
        const EVP_CIPHER* cipher;
        bool encrypt;
    } cases[] = {
        {"SM4-ECB encrypt", 0x401, EVP_sm4_ecb(), true}, {"SM4-ECB decrypt", 0x401, EVP_sm4_ecb(), false},
        {"SM4-CBC encrypt", 0x402, EVP_sm4_cbc(), true}, {"SM4-CBC decrypt", 0x402, EVP_sm4_cbc(), false},
        {"SM4-OFB encrypt", 0x408, EVP_sm4_ofb(), true}, {"SM4-CFB decrypt", 0x404, EVP_sm4_cfb128(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint16_t index = SetKey(key, c.algorithm);
        ASSERT_EQ(CipherInit(index, c.algorithm, c.algorithm == 0x401 ? Bytes() : iv, c.encrypt), 0x9000);
        Bytes out;
        size_t at = 0;
        for (size_t piece : pieces) {
            Reply r = Stage(c.encrypt ? 0xA8 : 0xB0, index, Slice(message, at, piece));
            ASSERT_EQ(r.sw, 0x9000);
            out = Concat(out, r.data);
            at += piece;
        }
        Reply last = Stage(c.encrypt ? 0xAA : 0xB2, index, {});
        ASSERT_EQ(last.sw, 0x9000);
        EXPECT_EQ(out, Cipher(c.cipher, key, iv, message, c.encrypt));
        // The final step ended the operation.
        EXPECT_EQ(Stage(c.encrypt ? 0xA8 : 0xB0, index, Bytes(16)).sw, 0x6985);
    }
}

TEST_F(SymmetricTest, CipherStepsRefuseWhatDoesNotFit) {
    uint16_t index = SetKey(Pattern(16));
    EXPECT_EQ(Stage(0xA8, index, Bytes(16)).sw, 0x6985); // no init
    ASSERT_EQ(CipherInit(index, 0x402, Pattern(16)), 0x9000);
    EXPECT_EQ(Stage(0xA8, index, Bytes(20)).sw, 0x6700); // partial block
    EXPECT_EQ(Stage(0xB0, index, Bytes(16)).sw, 0x6985); // wrong direction
    EXPECT_EQ(Stage(0xA8, static_cast<uint16_t>(index + 1), Bytes(16)).sw, 0x6A8C);
    EXPECT_EQ(CipherInit(index, 0x402, Pattern(8)), 0x6A80);  // CBC wants a 16-byte IV
    EXPECT_EQ(CipherInit(index, 0x102, Pattern(16)), 0x6A81); // SM1 is hardware-only
    EXPECT_EQ(CipherInit(static_cast<uint16_t>(index + 9), 0x401, {}), 0x6A8C);
}

TEST_F(SymmetricTest, SingleStepCipherAndInitWithIvSizeField) {
    Bytes key = Pattern(16, 0x33);
    Bytes iv = Pattern(16, 0x44);
    uint16_t index = SetKey(key, 0x402);
    // IV length, IV, then the fixed 00 10 field some hosts send, padding type, feedback bits.
    Bytes init = Data().u16(kApp).u16(kContainer).u16(index).u32(0x402).u16(16).raw(iv).u16(0x10).u32(1).u32(0);
    ASSERT_EQ(Send(0xA4, 0, 0, init, false).sw, 0x9000);
    Bytes data = Pattern(64);
    Reply r = Stage(0xA6, index, data);
    ASSERT_EQ(r.sw, 0x9000);
    EXPECT_EQ(r.data, Cipher(EVP_sm4_cbc(), key, iv, data, true));
    EXPECT_EQ(Stage(0xA6, index, data).sw, 0x6985);
}

TEST_F(SymmetricTest, SessionKeysAreRefusedForUnsupportedAlgorithmsAndClosedForGood) {
    struct Case {
        uint32_t algorithm;
        uint16_t sw;
    } cases[] = {{0x101, 0x6A81}, {0x201, 0x6A81}, {0x999, 0x6A81}, {0x401, 0x9000}, {0x410, 0x9000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.algorithm);
        EXPECT_EQ(Send(0xA2, 0, 0, Data().u16(kApp).u16(kContainer).u32(c.algorithm).u16(16).raw(Pattern(16))).sw,
                  c.sw);
    }
    EXPECT_EQ(Send(0xA2, 0, 0, Data().u16(kApp).u16(kContainer).u32(0x401).u16(8).raw(Pattern(8))).sw, 0x6700);
    EXPECT_EQ(Send(0xA2, 0, 0, Data().u16(kApp).u16(77).u32(0x401).u16(16).raw(Pattern(16))).sw, 0x6A94);

    uint16_t index = SetKey(Pattern(16));
    ASSERT_EQ(CipherInit(index, 0x401, {}), 0x9000);
    EXPECT_EQ(Send(0xC4, 0, 0, Data().u16(kApp).u16(kContainer).u16(index)).sw, 0x9000);
    EXPECT_EQ(m_state.sessionKeys.count(index), 0u);
    EXPECT_EQ(Stage(0xA8, index, Bytes(16)).sw, 0x6A8C);
    EXPECT_EQ(Send(0xC4, 0, 0, Data().u16(kApp).u16(kContainer).u16(index)).sw, 0x6A8C);
}

TEST_F(SymmetricTest, SessionKeyStoreIsBounded) {
    uint16_t status = 0x9000;
    size_t stored = 0;
    while (status == 0x9000 && stored < 1000) {
        status = Send(0xE7, 0, 0, Data().u32(0x401).u16(16).raw(Pattern(16))).sw;
        stored += status == 0x9000;
    }
    EXPECT_EQ(status, 0x6A84);
    EXPECT_LT(stored, 1000u);
}

TEST_F(SymmetricTest, LooseKeyChainsAcrossCommandsThatCarryTheIv) {
    Bytes key = Pattern(16, 0x61);
    Bytes iv = Pattern(16, 0x62);
    Reply set = Send(0xE7, 0, 0, Data().u32(0x402).u16(16).raw(key));
    ASSERT_EQ(set.sw, 0x9000);
    Bytes message = Pattern(80);
    auto withIv = [&](uint8_t sub, const Bytes& data) {
        return Send(0xE8, 0, 0, Data().u32(0x402).u8(sub).u16(16).raw(iv).raw(data));
    };
    Reply a = withIv(0xA6, Slice(message, 0, 32));
    Reply b = withIv(0xA6, Slice(message, 32, 32));
    Reply c = withIv(0xAA, Slice(message, 64, 16));
    ASSERT_EQ(c.sw, 0x9000);
    Bytes expected = Cipher(EVP_sm4_cbc(), key, iv, message, true);
    EXPECT_EQ(Concat(Concat(a.data, b.data), c.data), expected);
    // After the final sub-command a new chain starts from the IV again.
    EXPECT_EQ(withIv(0xA6, Slice(message, 0, 32)).data, Slice(expected, 0, 32));
    Reply d = withIv(0xB0, expected);
    EXPECT_EQ(d.data, message);
    EXPECT_EQ(withIv(0x55, Bytes(16)).sw, 0x6A80);
}

TEST_F(SymmetricTest, KeyedCipherCommandMatchesOpenSslForEveryAlgorithmByte) {
    Bytes data = Pattern(48, 0x70);
    struct Case {
        const char* name;
        uint8_t algorithm;
        const EVP_CIPHER* ecb;
        const EVP_CIPHER* cbc;
        size_t keyBytes, ivBytes;
    } cases[] = {
        {"3DES two keys", 0x11, EVP_des_ede_ecb(), EVP_des_ede_cbc(), 16, 8},
        {"3DES three keys", 0x12, EVP_des_ede3_ecb(), EVP_des_ede3_cbc(), 24, 8},
        {"AES-128", 0x20, EVP_aes_128_ecb(), EVP_aes_128_cbc(), 16, 16},
        {"AES-192", 0x21, EVP_aes_192_ecb(), EVP_aes_192_cbc(), 24, 16},
        {"AES-256", 0x22, EVP_aes_256_ecb(), EVP_aes_256_cbc(), 32, 16},
    };
    for (const Case& c : cases) {
        Bytes key = Pattern(c.keyBytes, c.algorithm);
        Bytes iv = Pattern(c.ivBytes, 0x99);
        for (uint8_t mode = 1; mode <= 4; ++mode) {
            SCOPED_TRACE(std::string(c.name) + " mode " + std::to_string(mode));
            bool cbc = mode >= 3, encrypt = mode % 2 == 1;
            Reply r = Send(0xA1, c.algorithm, mode, Data().raw(key).raw(cbc ? iv : Bytes()).raw(data), false);
            ASSERT_EQ(r.sw, 0x9000);
            EXPECT_EQ(r.data, Cipher(cbc ? c.cbc : c.ecb, key, cbc ? iv : Bytes(), data, encrypt));
        }
    }
}

TEST_F(SymmetricTest, KeyedCipherSingleDesMatchesTheClassicVector) {
    // FIPS 46 worked example: key 133457799BBCDFF1, plain text 0123456789ABCDEF.
    Reply r = Send(0xA1, 0x10, 1, Data().raw(Hex("133457799bbcdff1")).raw(Hex("0123456789abcdef")), false);
    ASSERT_EQ(r.sw, 0x9000);
    EXPECT_EQ(r.data, Hex("85e813540f0ab405"));
    Reply back = Send(0xA1, 0x10, 2, Data().raw(Hex("133457799bbcdff1")).raw(r.data), false);
    EXPECT_EQ(back.data, Hex("0123456789abcdef"));
}

TEST_F(SymmetricTest, KeyedCipherRefusesBadRequests) {
    struct Case {
        const char* name;
        uint8_t p1, p2;
        Bytes data;
        uint16_t sw;
    } cases[] = {
        {"unknown algorithm byte", 0x30, 1, Pattern(32), 0x6A81},
        {"mode 0", 0x20, 0, Pattern(32), 0x6A86},
        {"mode 5", 0x20, 5, Pattern(32), 0x6A86},
        {"partial AES block", 0x20, 1, Pattern(16 + 20), 0x6700},
        {"key only", 0x20, 1, Pattern(16), 0x6700},
        {"CBC without room for the IV", 0x20, 3, Pattern(20), 0x6700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reply r = Send(0xA1, c.p1, c.p2, c.data, false);
        EXPECT_EQ(r.sw, c.sw);
        EXPECT_TRUE(r.data.empty());
    }
}

TEST_F(SymmetricTest, DigestsEqualOpenSslAcrossPieces) {
    Bytes message = Pattern(4100, 5);
    struct Case {
        uint8_t algorithm;
        const char* md;
    } cases[] = {{0x01, "SM3"}, {0x02, "SHA1"}, {0x04, "SHA256"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.md);
        ASSERT_EQ(Send(0xB4, 0, c.algorithm, {}, false).sw, 0x9000);
        ASSERT_EQ(Send(0xB8, 0, 0, Slice(message, 0, 2000), false).sw, 0x9000);
        ASSERT_EQ(Send(0xB8, 0, 0, Slice(message, 2000, 2000), false).sw, 0x9000);
        Reply r = Send(0xBA, 0, 0, Slice(message, 4000, 100));
        ASSERT_EQ(r.sw, 0x9000);
        EXPECT_EQ(r.data, Md(c.md, message));
        EXPECT_EQ(Send(0xB8, 0, 0, Pattern(3), false).sw, 0x6985);

        ASSERT_EQ(Send(0xB4, 0, c.algorithm, {}, false).sw, 0x9000);
        EXPECT_EQ(Send(0xB6, 0, 0, Hex("616263")).data, Md(c.md, Hex("616263")));
    }
    EXPECT_EQ(Md("SM3", Hex("616263")), Hex("66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"));
}

TEST_F(SymmetricTest, DigestInitRefusesUnknownAlgorithmsAndZaOutsideSm3) {
    Pkey key = Sm2Key();
    Bytes za = Data().u32(256).raw(Sm2Point(key.get())).u32(16).raw(Pattern(16));
    EXPECT_EQ(Send(0xB4, 0, 0x03, {}, false).sw, 0x6A81);
    EXPECT_EQ(Send(0xB4, 0, 0x02, za, false).sw, 0x6A80);
    EXPECT_EQ(Send(0xB4, 0, 0x01, Slice(za, 0, 50), false).sw, 0x6700);
    EXPECT_EQ(Send(0xBA, 0, 0, {}).sw, 0x6985);
}

// The MAC the token must give: the last block of SM4-CBC over the (host-padded) data.
Bytes CbcMac(const Bytes& key, const Bytes& iv, const Bytes& data) {
    Bytes c = Cipher(EVP_sm4_cbc(), key, iv, data, true);
    return Slice(c, c.size() - 16, 16);
}

TEST_F(SymmetricTest, MacEqualsCbcMacComputedHere) {
    Bytes key = Pattern(16, 0x5C);
    Bytes iv = Pattern(16, 0x11);
    uint16_t index = SetKey(key, 0x401);
    auto init = [&](const Bytes& v) {
        return Send(0xBC, 0, 0,
                    Data()
                        .u16(kApp)
                        .u16(kContainer)
                        .u16(index)
                        .u32(0x410)
                        .u16(static_cast<uint16_t>(v.size()))
                        .raw(v)
                        .u32(1)
                        .u32(0),
                    false)
            .sw;
    };
    // 20 bytes of data padded by the host: one block, then 4 bytes + 80 + 11 zero bytes.
    Bytes data = Pattern(20, 0xA0);
    Bytes padded = Concat(Concat(data, {0x80}), Bytes(11, 0));
    ASSERT_EQ(init(iv), 0x9000);
    ASSERT_EQ(Send(0xC0, 0, 0, Data().u16(kApp).u16(kContainer).u16(index).raw(Slice(padded, 0, 16)), false).sw,
              0x9000);
    Reply mac = Send(0xC2, 0, 0, Data().u16(kApp).u16(kContainer).u16(index).raw(Slice(padded, 16, 16)));
    ASSERT_EQ(mac.sw, 0x9000);
    EXPECT_EQ(mac.data, CbcMac(key, iv, padded));

    // Without an IV the chain starts from zeros; one command does it all.
    ASSERT_EQ(init({}), 0x9000);
    Reply single = Send(0xBE, 0, 0, Data().u16(kApp).u16(kContainer).u16(index).raw(Pattern(48)));
    EXPECT_EQ(single.data, CbcMac(key, Bytes(16, 0), Pattern(48)));
}

TEST_F(SymmetricTest, MacRefusesPartialBlocksEmptyMacsAndForeignKeys) {
    uint16_t index = SetKey(Pattern(16));
    Bytes init = Data().u16(kApp).u16(kContainer).u16(index).u32(0x401).u16(0).u32(0).u32(0);
    auto final = [&](uint16_t key, const Bytes& data) {
        return Send(0xC2, 0, 0, Data().u16(kApp).u16(kContainer).u16(key).raw(data)).sw;
    };
    EXPECT_EQ(final(index, Pattern(16)), 0x6985);
    ASSERT_EQ(Send(0xBC, 0, 0, init, false).sw, 0x9000);
    EXPECT_EQ(Send(0xC0, 0, 0, Data().u16(kApp).u16(kContainer).u16(index).raw(Pattern(15)), false).sw, 0x6700);
    uint16_t other = SetKey(Pattern(16, 9));
    EXPECT_EQ(final(other, Pattern(16)), 0x6985);
    EXPECT_EQ(final(index, {}), 0x6700);
    EXPECT_EQ(Send(0xBC, 0, 0, Data().u16(kApp).u16(kContainer).u16(0x4444).u32(0x401).u16(0).u32(0).u32(0), false).sw,
              0x6A8C);
}

} // namespace
} // namespace vtoken::testing
