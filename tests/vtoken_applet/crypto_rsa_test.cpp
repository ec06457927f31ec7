// RSA on the token, checked against OpenSSL: container signatures by selector, raw operations for
// the PKCS#11 key objects, operations with keys the host supplies, and wrapped imports.

#include "tests/vtoken_applet/crypto_fixture.h"

namespace vtoken::testing {
namespace {

class RsaTest : public CryptoTokenTest {
protected:
    // Generates the container's signing pair; returns the public key the token answered.
    Pkey GenerateSigningPair(uint16_t bits = 1024) {
        Reply r = Send(0x54, 0, 0, Data().u16(kApp).u16(kContainer).u16(bits));
        EXPECT_EQ(r.sw, 0x9000);
        size_t k = bits / 8;
        EXPECT_EQ(r.data.size(), k + 4);
        return RsaPublic(Slice(r.data, 0, k), Slice(r.data, k, 4));
    }
    Reply Sign(uint8_t selector, const Bytes& data) {
        return Send(0x58, 0x02, selector, Data().u16(kApp).u16(kContainer).raw(data));
    }
    Reply ContainerKey(uint8_t pair, uint8_t flag, const Bytes& data) {
        GrantAccessCode();
        return Send(0x05, 1, pair, Data().u16(kApp).u16(kContainer).u8(flag).raw(data));
    }
    static Bytes PublicPart(EVP_PKEY* key, size_t k) {
        return Data()
            .u32(static_cast<uint32_t>(k * 8))
            .raw(RsaNumber(key, OSSL_PKEY_PARAM_RSA_N, k))
            .raw(RsaNumber(key, OSSL_PKEY_PARAM_RSA_E, 4));
    }
};

TEST_F(RsaTest, SignaturesByEverySelectorVerifyWithOpenSsl) {
    Pkey pub = GenerateSigningPair();
    Bytes message = Pattern(500);
    Bytes sha1 = Md("SHA1", message);
    Bytes sha256 = Md("SHA256", message);
    // A whole block padded by the host: type 1 around a SHA-256 DigestInfo.
    Bytes info = Concat(Hex("3031300d060960864801650304020105000420"), sha256);
    Bytes block = Concat(Concat(Hex("0001"), Bytes(128 - 3 - info.size(), 0xFF)), Concat({0x00}, info));
    struct Case {
        const char* name;
        uint8_t selector;
        Bytes data;
        const char* md;
        Bytes digest;
    } cases[] = {
        {"SHA-1 digest, selector 2", 2, sha1, "SHA1", sha1},
        {"SHA-256 digest, selector 3", 3, sha256, "SHA256", sha256},
        {"host-padded block, selector 2", 2, block, "SHA256", sha256},
        {"host-padded block, selector 3", 3, block, "SHA256", sha256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reply sig = Sign(c.selector, c.data);
        ASSERT_EQ(sig.sw, 0x9000);
        ASSERT_EQ(sig.data.size(), 128u);
        EXPECT_TRUE(RsaVerifyDigest(pub.get(), c.md, c.digest, sig.data));
    }
}

TEST_F(RsaTest, SigningRefusesOtherLengthsAndMissingPairs) {
    EXPECT_EQ(Sign(2, Pattern(20)).sw, 0x6A88);
    GenerateSigningPair();
    EXPECT_EQ(Sign(2, Pattern(36)).sw, 0x6700);
    EXPECT_EQ(Sign(2, Pattern(127)).sw, 0x6700);
    EXPECT_EQ(Send(0x58, 0x01, 2, Data().u16(kApp).u16(kContainer).raw(Pattern(20))).sw, 0x6A86);
}

TEST_F(RsaTest, TwoThousandFortyEightBitPairSignsToo) {
    Pkey pub = GenerateSigningPair(2048);
    Bytes digest = Md("SHA256", Pattern(3));
    Reply sig = Sign(3, digest);
    ASSERT_EQ(sig.sw, 0x9000);
    EXPECT_EQ(sig.data.size(), 256u);
    EXPECT_TRUE(RsaVerifyDigest(pub.get(), "SHA256", digest, sig.data));
}

TEST_F(RsaTest, ContainerKeyCommandRunsRawOperationsOfTheNamedPair) {
    Pkey pub = GenerateSigningPair();
    Bytes block = Concat({0x00}, Pattern(127, 5));
    Reply encrypted = ContainerKey(0, 1, block);
    ASSERT_EQ(encrypted.sw, 0x9000);
    EXPECT_EQ(encrypted.data, RsaRaw(pub.get(), block, false));
    Reply decrypted = ContainerKey(0, 0, encrypted.data);
    ASSERT_EQ(decrypted.sw, 0x9000);
    EXPECT_EQ(decrypted.data, block);

    // An exchange pair of its own is used once it exists.
    GrantAccessCode();
    Reply exchange = Send(0x55, 0, 0, Data().u16(kApp).u16(kContainer).u16(1024));
    ASSERT_EQ(exchange.sw, 0x9000);
    Pkey exchangePub = RsaPublic(Slice(exchange.data, 0, 128), Slice(exchange.data, 128, 4));
    Bytes info = Concat(Hex("3021300906052b0e03021a05000414"), Md("SHA1", block));
    Bytes padded = Concat(Concat(Hex("0001"), Bytes(128 - 3 - info.size(), 0xFF)), Concat({0x00}, info));
    Reply sig = ContainerKey(1, 0, padded);
    ASSERT_EQ(sig.sw, 0x9000);
    EXPECT_TRUE(RsaVerifyDigest(exchangePub.get(), "SHA1", Md("SHA1", block), sig.data));
    EXPECT_FALSE(RsaVerifyDigest(pub.get(), "SHA1", Md("SHA1", block), sig.data));
}

TEST_F(RsaTest, PrivilegedCommandsConsumeTheAccessCode) {
    GenerateSigningPair();
    Bytes block = Concat({0x00}, Pattern(127));
    EXPECT_EQ(ContainerKey(0, 1, block).sw, 0x9000);
    EXPECT_FALSE(m_state.accessCodeGranted);
    struct Case {
        const char* name;
        uint8_t ins, p1, p2;
        Bytes data;
    } cases[] = {
        {"container key command", 0x05, 1, 0, Data().u16(kApp).u16(kContainer).u8(1).raw(block)},
        {"generate exchange pair", 0x55, 0, 0, Data().u16(kApp).u16(kContainer).u16(1024)},
        {"wrapped import", 0x57, 1, 0,
         Data().u16(kApp).u16(kContainer).u32(0x401).u16(0).u32(1024).u32(16).raw(Pattern(16))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Send(c.ins, c.p1, c.p2, c.data).sw, 0x6982);
    }
}

TEST_F(RsaTest, ContainerKeyCommandNeedsThePinForPrivateOperationsOnly) {
    GenerateSigningPair();
    m_state.userVerified[kApp] = false;
    Bytes block = Concat({0x00}, Pattern(127));
    EXPECT_EQ(ContainerKey(0, 1, block).sw, 0x9000);
    EXPECT_EQ(ContainerKey(0, 0, block).sw, 0x6982);
    EXPECT_EQ(ContainerKey(0, 1, Pattern(100)).sw, 0x6700);
    GrantAccessCode();
    EXPECT_EQ(Send(0x05, 3, 0, Data().u16(kApp).u16(kContainer).u8(1).raw(block)).sw, 0x6A86);
}

TEST_F(RsaTest, VerifyChecksOpenSslSignatures) {
    Pkey key = RsaKey(1024);
    Bytes digest = Md("SHA256", Pattern(10));
    Bytes sig = RsaSignDigest(key.get(), "SHA256", digest);
    auto verify = [&](const Bytes& data, const Bytes& signature) {
        return Send(0x5E, 1, 3,
                    Data()
                        .raw(PublicPart(key.get(), 128))
                        .u32(static_cast<uint32_t>(data.size()))
                        .raw(data)
                        .u16(static_cast<uint16_t>(signature.size()))
                        .raw(signature),
                    false)
            .sw;
    };
    EXPECT_EQ(verify(digest, sig), 0x9000);
    Bytes bad = sig;
    bad[5] ^= 1;
    EXPECT_EQ(verify(digest, bad), 0x6A80);
    EXPECT_EQ(verify(Md("SHA1", Pattern(10)), sig), 0x6A80);
    EXPECT_EQ(verify(digest, Slice(sig, 0, 127)), 0x6700);
}

TEST_F(RsaTest, ExternalKeyOperationsMatchOpenSsl) {
    Pkey key = RsaKey(1024);
    Bytes input = Concat({0x00}, Pattern(127, 11));
    Reply pub = Send(0x60, 0, 0, Data().raw(PublicPart(key.get(), 128)).u32(128).raw(input));
    ASSERT_EQ(pub.sw, 0x9000);
    EXPECT_EQ(pub.data, RsaRaw(key.get(), input, false));

    Bytes priv = Data()
                     .raw(PublicPart(key.get(), 128))
                     .raw(RsaNumber(key.get(), OSSL_PKEY_PARAM_RSA_D, 128))
                     .raw(RsaNumber(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR1, 64))
                     .raw(RsaNumber(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR2, 64))
                     .raw(RsaNumber(key.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1, 64))
                     .raw(RsaNumber(key.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2, 64))
                     .raw(RsaNumber(key.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1, 64));
    Reply back = Send(0x62, 0, 0, Data().raw(priv).u32(128).raw(pub.data));
    ASSERT_EQ(back.sw, 0x9000);
    EXPECT_EQ(back.data, input);
    EXPECT_EQ(Send(0x62, 0, 0, Data().raw(priv).u32(127).raw(Slice(pub.data, 0, 127))).sw, 0x6700);
}

TEST_F(RsaTest, PublicOperationRefusesEncryptionBlocksWithTooLittlePadding) {
    Pkey key = RsaKey(1024);
    auto block = [](size_t paddingBytes) {
        Bytes b = Hex("0002");
        b.insert(b.end(), paddingBytes, 0x5A);
        b.push_back(0);
        b.resize(128, 0x33);
        return b;
    };
    auto send = [&](const Bytes& b) {
        return Send(0x60, 0, 0, Data().raw(PublicPart(key.get(), 128)).u32(128).raw(b)).sw;
    };
    EXPECT_EQ(send(block(8)), 0x9000);
    EXPECT_EQ(send(block(7)), 0x6A80);
    // A value at or above the modulus is no block.
    EXPECT_EQ(send(Bytes(128, 0xFF)), 0x6A80);
}

TEST_F(RsaTest, GeneratedExternalPairIsConsistent) {
    Reply r = Send(0x52, 0, 0, Data().u16(1024));
    ASSERT_EQ(r.sw, 0x9000);
    ASSERT_EQ(r.data.size(), 128u + 4 + 128 + 5 * 64);
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM* n = BN_bin2bn(r.data.data(), 128, nullptr);
    BIGNUM* p = BN_bin2bn(r.data.data() + 260, 64, nullptr);
    BIGNUM* q = BN_bin2bn(r.data.data() + 324, 64, nullptr);
    BIGNUM* pq = BN_new();
    BN_mul(pq, p, q, ctx);
    EXPECT_EQ(BN_cmp(pq, n), 0);
    BN_free(n), BN_free(p), BN_free(q), BN_free(pq), BN_CTX_free(ctx);
    // The pair works: public, then private operation with the answered numbers.
    Bytes input = Concat({0x00}, Pattern(127));
    Reply enc = Send(0x60, 0, 0, Data().u32(1024).raw(Slice(r.data, 0, 132)).u32(128).raw(input));
    Reply dec = Send(0x62, 0, 0, Data().u32(1024).raw(r.data).u32(128).raw(enc.data));
    EXPECT_EQ(dec.data, input);
    EXPECT_EQ(Send(0x52, 0, 0, Data().u16(1000)).sw, 0x6A81);
}

TEST_F(RsaTest, SessionKeysTravelWrappedBothWays) {
    Pkey peer = RsaKey(1024);
    Reply exported = Send(0x5A, 0, 0, Data().u16(kApp).u16(kContainer).u32(0x401).raw(PublicPart(peer.get(), 128)));
    ASSERT_EQ(exported.sw, 0x9000);
    ASSERT_EQ(exported.data.size(), 130u);
    Bytes key = RsaDecryptPkcs1(peer.get(), Slice(exported.data, 0, 128));
    ASSERT_EQ(key.size(), 16u);
    uint16_t index = static_cast<uint16_t>(exported.data[128] << 8 | exported.data[129]);
    Bytes block = Pattern(16);
    EXPECT_EQ(EncryptBlockWith(index, block), Cipher(EVP_sm4_ecb(), key, {}, block, true));

    Pkey own = GenerateSigningPair();
    Bytes chosen = Hex("00112233445566778899aabbccddeeff");
    Bytes wrapped = RsaEncryptPkcs1(own.get(), chosen);
    Reply imported = Send(0xA0, 0, 0, Data().u16(kApp).u16(kContainer).u32(0x401).u32(128).raw(wrapped));
    ASSERT_EQ(imported.sw, 0x9000);
    uint16_t importedIndex = static_cast<uint16_t>(imported.data[0] << 8 | imported.data[1]);
    EXPECT_EQ(EncryptBlockWith(importedIndex, block), Cipher(EVP_sm4_ecb(), chosen, {}, block, true));
    // Wrapped for somebody else: the block does not open.
    Bytes foreign = RsaEncryptPkcs1(peer.get(), chosen);
    EXPECT_EQ(Send(0xA0, 0, 0, Data().u16(kApp).u16(kContainer).u32(0x401).u32(128).raw(foreign)).sw, 0x6A80);
}

TEST_F(RsaTest, ImportedPairArrivesInTheExchangeSlot) {
    Pkey own = GenerateSigningPair();
    Pkey imported = RsaKey(1024);
    Bytes symmetric = Pattern(16, 0x21);
    Bytes encrypted = Cipher(EVP_sm4_ecb(), symmetric, {}, PadBlocks(RsaPkcs1Der(imported.get())), true);
    Bytes wrapped = RsaEncryptPkcs1(own.get(), symmetric);
    auto import = [&](uint32_t bits) {
        return Send(0x56, 0, 0,
                    Data()
                        .u16(kApp)
                        .u16(kContainer)
                        .u32(0x401)
                        .u32(128)
                        .raw(wrapped)
                        .u32(bits)
                        .u32(static_cast<uint32_t>(encrypted.size()))
                        .raw(encrypted),
                    false)
            .sw;
    };
    EXPECT_EQ(import(2048), 0x6A80);
    EXPECT_EQ(import(1024), 0x9000);
    Reply exported = Send(0x88, 1, 0, Data().u16(kApp).u16(kContainer));
    ASSERT_EQ(exported.sw, 0x9000);
    EXPECT_EQ(exported.data, Concat(Hex("00000400"), Concat(RsaNumber(imported.get(), OSSL_PKEY_PARAM_RSA_N, 128),
                                                            RsaNumber(imported.get(), OSSL_PKEY_PARAM_RSA_E, 4))));
}

TEST_F(RsaTest, WrappedImportUnderTransportKeyOrSessionKey) {
    uint8_t transport[16];
    keycore::token_identity::BuildImportTransportKey(transport);
    Pkey rsaPair = RsaKey(1024);
    Bytes rsaBlob =
        Cipher(EVP_sm4_ecb(), Bytes(transport, transport + 16), {}, PadBlocks(RsaPkcs1Der(rsaPair.get())), true);
    GrantAccessCode();
    Reply r = Send(0x57, 1, 0,
                   Data()
                       .u16(kApp)
                       .u16(kContainer)
                       .u32(0x401)
                       .u16(0)
                       .u32(1024)
                       .u32(static_cast<uint32_t>(rsaBlob.size()))
                       .raw(rsaBlob),
                   false);
    ASSERT_EQ(r.sw, 0x9000);
    EXPECT_EQ(Send(0x88, 0, 0, Data().u16(kApp).u16(kContainer)).data,
              Concat(Hex("00000400"), Concat(RsaNumber(rsaPair.get(), OSSL_PKEY_PARAM_RSA_N, 128),
                                             RsaNumber(rsaPair.get(), OSSL_PKEY_PARAM_RSA_E, 4))));

    Bytes sessionKey = Pattern(16, 0x77);
    uint16_t index = SetKey(sessionKey);
    Pkey sm2Pair = Sm2Key();
    Bytes encryptedD = Cipher(EVP_sm4_ecb(), sessionKey, {}, Sm2Private(sm2Pair.get()), true);
    Bytes sm2Blob = Data().raw(Sm2Point(sm2Pair.get())).u32(32).raw(encryptedD);
    auto importSm2 = [&](uint16_t keyIndex) {
        GrantAccessCode();
        return Send(0x57, 2, 1,
                    Data()
                        .u16(kApp)
                        .u16(kContainer)
                        .u32(0x401)
                        .u16(keyIndex)
                        .u32(256)
                        .u32(static_cast<uint32_t>(sm2Blob.size()))
                        .raw(sm2Blob),
                    false)
            .sw;
    };
    EXPECT_EQ(importSm2(static_cast<uint16_t>(index + 40)), 0x6A8C);
    EXPECT_EQ(importSm2(0), 0x6A80); // under the transport key the scalar decrypts to garbage
    EXPECT_EQ(importSm2(index), 0x9000);
    EXPECT_EQ(Send(0x88, 1, 0, Data().u16(kApp).u16(kContainer)).data,
              Concat(Hex("00000100"), Sm2Point(sm2Pair.get())));
}

} // namespace
} // namespace vtoken::testing
