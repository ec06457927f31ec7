// SM2 on the token, checked against OpenSSL's own SM2: signatures with the standard identifier,
// ZA digests, encryption in both directions, exported and imported keys.

#include "tests/vtoken_applet/crypto_fixture.h"

namespace vtoken::testing {
namespace {

const std::string kId = "1234567812345678";

class EccTest : public CryptoTokenTest {
protected:
    Bytes GenerateSigningPair(uint16_t container = kContainer) {
        Reply r = Send(0x70, 0, 0, Data().u16(kApp).u16(container).u32(256), true);
        EXPECT_EQ(r.sw, 0x9000);
        EXPECT_EQ(r.data.size(), 64u);
        return r.data;
    }
    // SM3(ZA ‖ message) through DigestInit with a public key and an identifier.
    Bytes TokenDigestWithZa(const Bytes& point, const Bytes& message) {
        Bytes init =
            Data().u32(256).raw(point).u32(static_cast<uint32_t>(kId.size())).raw(Bytes(kId.begin(), kId.end()));
        EXPECT_EQ(Send(0xB4, 0x00, 0x01, init, false).sw, 0x9000);
        Reply r = Send(0xBA, 0, 0, message);
        EXPECT_EQ(r.sw, 0x9000);
        return r.data;
    }
    Reply SignDigest(const Bytes& digest, uint16_t container = kContainer) {
        return Send(0x74, 0x02, 0x00, Data().u16(kApp).u16(container).raw(digest));
    }
};

TEST_F(EccTest, ContainerSignatureOverZaDigestVerifiesWithOpenSslAndTheStandardId) {
    Bytes point = GenerateSigningPair();
    Bytes message = Pattern(1000);
    Bytes e = TokenDigestWithZa(point, message);
    Reply sig = SignDigest(e);
    ASSERT_EQ(sig.sw, 0x9000);
    ASSERT_EQ(sig.data.size(), 68u);
    EXPECT_EQ(Slice(sig.data, 0, 4), Hex("00000100"));
    Pkey pub = Sm2Public(point);
    EXPECT_TRUE(Sm2VerifyMessage(pub.get(), message, kId, Slice(sig.data, 4, 64)));
    EXPECT_FALSE(Sm2VerifyMessage(pub.get(), Concat(message, {0}), kId, Slice(sig.data, 4, 64)));
}

TEST_F(EccTest, SignatureWithIdHashesInsideTheToken) {
    Bytes point = GenerateSigningPair();
    Bytes message = Pattern(77, 9);
    Reply sig = Send(0x74, 0x01, 0x00,
                     Data().u16(kApp).u16(kContainer).u32(77).raw(message).u32(16).raw(Bytes(kId.begin(), kId.end())));
    ASSERT_EQ(sig.sw, 0x9000);
    EXPECT_TRUE(Sm2VerifyMessage(Sm2Public(point).get(), message, kId, Slice(sig.data, 4, 64)));
}

TEST_F(EccTest, VerifyAcceptsOpenSslSignatureAndRefusesTamperedOnes) {
    Pkey key = Sm2Key();
    Bytes point = Sm2Point(key.get());
    Bytes message = Hex("6d65737361676520646967657374");
    Bytes rs = Sm2SignMessage(key.get(), message, kId);
    Bytes e = TokenDigestWithZa(point, message);
    auto verify = [&](const Bytes& digest, const Bytes& sig) {
        return Send(0x76, 0, 0, Data().u32(256).raw(point).u32(32).raw(digest).raw(sig), false).sw;
    };
    EXPECT_EQ(verify(e, rs), 0x9000);
    Bytes badS = rs;
    badS[63] ^= 1;
    EXPECT_EQ(verify(e, badS), 0x6A80);
    Bytes badDigest = e;
    badDigest[0] ^= 0x80;
    EXPECT_EQ(verify(badDigest, rs), 0x6A80);
}

TEST_F(EccTest, ExternalKeySignsRawDigest) {
    Pkey key = Sm2Key();
    Bytes e = Md("SM3", Pattern(40));
    Reply r = Send(0x7E, 0, 0, Data().u32(256).raw(Sm2Private(key.get())).u32(32).raw(e));
    ASSERT_EQ(r.sw, 0x9000);
    ASSERT_EQ(r.data.size(), 64u);
    // The token signs e itself (no ZA): verify the raw digest with OpenSSL.
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(r.data.data(), 32, nullptr), BN_bin2bn(r.data.data() + 32, 32, nullptr));
    unsigned char* der = nullptr;
    int n = i2d_ECDSA_SIG(sig, &der);
    PkeyCtx ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    EVP_PKEY_verify_init(ctx.get());
    EXPECT_EQ(EVP_PKEY_verify(ctx.get(), der, static_cast<size_t>(n), e.data(), e.size()), 1);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
}

TEST_F(EccTest, EncryptionRoundTripsWithOpenSslBothWays) {
    Pkey key = Sm2Key();
    Bytes point = Sm2Point(key.get());
    Bytes d = Sm2Private(key.get());
    for (size_t size : {size_t(1), size_t(16), size_t(33), size_t(300)}) {
        SCOPED_TRACE(size);
        Bytes plain = Pattern(size, static_cast<uint8_t>(size));
        Reply enc = Send(0x7A, 0, 0, Data().u32(256).raw(point).u32(static_cast<uint32_t>(size)).raw(plain));
        ASSERT_EQ(enc.sw, 0x9000);
        ASSERT_EQ(enc.data.size(), 104 + size);
        EXPECT_EQ(Sm2DecryptOpenSsl(key.get(), FromCipherForm(enc.data)), plain);

        Bytes form = CipherForm(Sm2EncryptOpenSsl(key.get(), plain));
        Reply dec = Send(0x7C, 0, 0, Data().u32(256).raw(d).raw(Slice(form, 4, form.size() - 4)));
        ASSERT_EQ(dec.sw, 0x9000);
        ASSERT_EQ(dec.data.size(), size + 4);
        EXPECT_EQ(Slice(dec.data, 0, size), plain);
    }
}

TEST_F(EccTest, DecryptionRefusesTamperedHash) {
    Pkey key = Sm2Key();
    Bytes form = CipherForm(Sm2EncryptOpenSsl(key.get(), Pattern(20)));
    form[70] ^= 1; // inside C3
    Reply dec = Send(0x7C, 0, 0, Data().u32(256).raw(Sm2Private(key.get())).raw(Slice(form, 4, form.size() - 4)));
    EXPECT_EQ(dec.sw, 0x6A80);
    EXPECT_TRUE(dec.data.empty());
}

TEST_F(EccTest, ExportedSessionKeyOpensWithOpenSslAndEncryptsLikeIt) {
    Pkey peer = Sm2Key();
    Reply r = Send(0x78, 0, 0, Data().u16(kApp).u16(kContainer).u32(256).raw(Sm2Point(peer.get())).u32(0x401));
    ASSERT_EQ(r.sw, 0x9000);
    ASSERT_EQ(r.data.size(), 122u);
    Bytes key = Sm2DecryptOpenSsl(peer.get(), FromCipherForm(Slice(r.data, 0, 120)));
    ASSERT_EQ(key.size(), 16u);
    uint16_t index = static_cast<uint16_t>(r.data[120] << 8 | r.data[121]);
    Bytes block = Pattern(16);
    EXPECT_EQ(EncryptBlockWith(index, block), Cipher(EVP_sm4_ecb(), key, {}, block, true));
}

TEST_F(EccTest, SessionKeyWrappedToTheContainerImportsToTheRightKey) {
    Bytes point = GenerateSigningPair(); // the container's only pair also opens what is sent to it
    Bytes key = Hex("0123456789abcdeffedcba9876543210");
    Bytes form = CipherForm(Sm2EncryptOpenSsl(Sm2Public(point).get(), key));
    Reply r =
        Send(0xA0, 0, 0, Data().u16(kApp).u16(kContainer).u32(0x401).u32(static_cast<uint32_t>(form.size())).raw(form));
    ASSERT_EQ(r.sw, 0x9000);
    uint16_t index = static_cast<uint16_t>(r.data[0] << 8 | r.data[1]);
    Bytes block = Pattern(16, 3);
    EXPECT_EQ(EncryptBlockWith(index, block), Cipher(EVP_sm4_ecb(), key, {}, block, true));
}

TEST_F(EccTest, EnvelopedKeyPairImportsAsExchangePair) {
    Bytes signing = GenerateSigningPair();
    Pkey imported = Sm2Key();
    Bytes symmetric = Pattern(16, 0x40);
    Bytes wrapped = Sm2EncryptOpenSsl(Sm2Public(signing).get(), symmetric);
    auto envelope = [&](const Bytes& point) {
        Bytes encrypted = Cipher(EVP_sm4_ecb(), symmetric, {}, Sm2Private(imported.get()), true);
        return Data()
            .u16(kApp)
            .u16(kContainer)
            .u32(0x00020000)
            .u32(0x401)
            .raw(CipherForm(wrapped))
            .u32(256)
            .raw(point)
            .u32(32)
            .raw(encrypted);
    };
    Bytes wrongPoint = Sm2Point(Sm2Key().get());
    EXPECT_EQ(Send(0x72, 0, 0, envelope(wrongPoint), false).sw, 0x6A80);
    EXPECT_EQ(Send(0x72, 0, 0, envelope(Sm2Point(imported.get())), false).sw, 0x9000);

    Reply exchange = Send(0x88, 1, 0, Data().u16(kApp).u16(kContainer));
    ASSERT_EQ(exchange.sw, 0x9000);
    EXPECT_EQ(exchange.data, Concat(Hex("00000100"), Sm2Point(imported.get())));
    Reply sign = Send(0x88, 0, 0, Data().u16(kApp).u16(kContainer));
    EXPECT_EQ(sign.data, Concat(Hex("00000100"), signing));
}

TEST_F(EccTest, GeneratedPairIsKeptInTheImageAsPkcs8) {
    Bytes point = GenerateSigningPair();
    const KeyPairRecord& record = Container().signingKey;
    EXPECT_EQ(record.kind, KeyKind::Sm2);
    EXPECT_EQ(record.bits, 256u);
    EXPECT_EQ(m_imageSaves, 1);
    const unsigned char* p = record.privateKeyDer.data();
    PKCS8_PRIV_KEY_INFO* info = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(record.privateKeyDer.size()));
    ASSERT_NE(info, nullptr);
    Pkey key(EVP_PKCS82PKEY(info));
    PKCS8_PRIV_KEY_INFO_free(info);
    ASSERT_TRUE(key);
    EXPECT_EQ(Sm2Point(key.get()), point);
}

TEST_F(EccTest, BadInputsGetTheirStatusWords) {
    Pkey key = Sm2Key();
    Bytes point = Sm2Point(key.get());
    Bytes offCurve = point;
    offCurve[63] ^= 1;
    struct Case {
        const char* name;
        uint8_t ins, p1;
        Bytes data;
        uint16_t sw;
    } cases[] = {
        {"verify with a 20-byte digest", 0x76, 0, Data().u32(256).raw(point).u32(20).raw(Pattern(20)).raw(Pattern(64)),
         0x6700},
        {"verify with a point off the curve", 0x76, 0,
         Data().u32(256).raw(offCurve).u32(32).raw(Pattern(32)).raw(Pattern(64)), 0x6A80},
        {"encrypt with a truncated key", 0x7A, 0, Data().u32(256).raw(Slice(point, 0, 40)), 0x6700},
        {"encrypt nothing", 0x7A, 0, Data().u32(256).raw(point).u32(0), 0x6700},
        {"encrypt with a 384-bit key size", 0x7A, 0, Data().u32(384).raw(point).u32(1).u8(7), 0x6A80},
        {"external sign with a zero key", 0x7E, 0, Data().u32(256).raw(Bytes(32, 0)).u32(32).raw(Pattern(32)), 0x6A80},
        {"container sign with an unknown P1", 0x74, 0x03, Data().u16(kApp).u16(kContainer).raw(Pattern(32)), 0x6A86},
        {"container sign with a short digest", 0x74, 0x02, Data().u16(kApp).u16(kContainer).raw(Pattern(31)), 0x6700},
        {"generate a 192-bit pair", 0x70, 0, Data().u16(kApp).u16(kContainer).u32(192), 0x6A81},
        {"export session key under SM1", 0x78, 0, Data().u16(kApp).u16(kContainer).u32(256).raw(point).u32(0x101),
         0x6A81},
        {"export session key under an unknown algorithm", 0x78, 0,
         Data().u16(kApp).u16(kContainer).u32(256).raw(point).u32(0x12345), 0x6A81},
        {"export public key selector 2", 0x88, 2, Data().u16(kApp).u16(kContainer), 0x6A86},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reply r = Send(c.ins, c.p1, 0, c.data);
        EXPECT_EQ(r.sw, c.sw);
        EXPECT_TRUE(r.data.empty());
    }
}

} // namespace
} // namespace vtoken::testing
