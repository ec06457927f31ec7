// RSA key pairs generated in a container and their signatures: OpenSSL verifies what the token signs
// for SHA-1, SHA-256 and the 36-byte MD5+SHA-1 pair, SKF_RSAVerify accepts the same and refuses
// tampered ones, the signature selector and the library's own type 1 block on the wire, size rules.
#include "rsa_fixture.h"

namespace keycore::test {
namespace {

using vtoken::test::Hex;

Bytes Md5Sha1(const std::string& message) {
    Bytes pair = Digest(EVP_md5(), message);
    const Bytes sha1 = Digest(EVP_sha1(), message);
    pair.insert(pair.end(), sha1.begin(), sha1.end());
    return pair;
}

TEST_P(RsaTest, GeneratedKeySignsDigestsThatOpenSslVerifies) {
    for (ULONG bits : {1024u, 2048u}) {
        SCOPED_TRACE(bits);
        RSAPUBLICKEYBLOB blob;
        std::memset(&blob, 0xEE, sizeof blob);
        ASSERT_EQ(SKF_GenRSAKeyPair(m_container, bits, &blob), SAR_OK);
        EXPECT_EQ(blob.AlgID, static_cast<ULONG>(SGD_RSA));
        EXPECT_EQ(blob.BitLen, bits);
        const size_t k = bits / 8;
        EXPECT_TRUE(std::all_of(blob.Modulus, blob.Modulus + sizeof blob.Modulus - k, [](BYTE b) { return b == 0; }))
            << "the modulus is right-aligned behind zero bytes, whatever the blob held";
        EXPECT_GE(blob.Modulus[sizeof blob.Modulus - k], 0x80) << "a full-size modulus";
        PkeyPtr key = PublicKeyFromBlob(blob);
        ASSERT_TRUE(key);
        ASSERT_EQ(EVP_PKEY_get_bits(key.get()), static_cast<int>(bits));

        const struct {
            const char* what;
            Bytes data;
            const EVP_MD* md;
        } cases[] = {
            {"SHA-1", Digest(EVP_sha1(), "signed with SHA-1"), EVP_sha1()},
            {"SHA-256", Digest(EVP_sha256(), "signed with SHA-256"), EVP_sha256()},
            {"MD5+SHA-1", Md5Sha1("signed with the pair"), EVP_md5_sha1()},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            Bytes signature = Sign(c.data);
            ASSERT_EQ(signature.size(), k);
            EXPECT_TRUE(OpenSslVerifies(key.get(), c.md, c.data, signature));
            EXPECT_EQ(Verify(blob, c.data, signature), SAR_OK);

            Bytes tampered = signature;
            tampered[k / 2] ^= 0x01;
            EXPECT_FALSE(OpenSslVerifies(key.get(), c.md, c.data, tampered));
            EXPECT_EQ(Verify(blob, c.data, tampered), SAR_FAIL);
            Bytes otherData = c.data;
            otherData.back() ^= 0x80;
            EXPECT_EQ(Verify(blob, otherData, signature), SAR_FAIL);
        }

        // A whole block is signed as it is: the public operation gives it back.
        Bytes block(k, 0x00);
        block[1] = 0x01;
        std::fill(block.begin() + 2, block.end() - 21, 0xFF);
        const Bytes digest = Digest(EVP_sha1(), "whole block");
        std::copy(digest.begin(), digest.end(), block.end() - 20);
        Bytes signature = Sign(block);
        EXPECT_EQ(OpenSslRaw(key.get(), true, signature), block);
        EXPECT_EQ(Verify(blob, block, signature), SAR_OK);
        signature[0] ^= 0x01;
        EXPECT_EQ(Verify(blob, block, signature), SAR_FAIL);
    }
}

// The selector tells the token what the data is: 2 for a SHA-1 digest or a whole block, 3 for a
// 32-byte digest and for a block the library padded itself.
TEST_P(RsaTest, SelectorAndLibraryPaddedBlockOnTheWire) {
    GenerateSigningKey(2048);
    const Bytes pair = Md5Sha1("on the wire");
    const struct {
        Bytes data;
        unsigned selector;
        size_t sentLen;
    } cases[] = {
        {Digest(EVP_sha1(), "a"), 2, 20},
        {Digest(EVP_sha256(), "b"), 3, 32},
        {pair, 3, 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data.size());
        TraceLines(m_token, true);
        Sign(c.data);
        const std::vector<Bytes> commands = CommandsWithIns(TraceLines(m_token), rsa_ins::kRsaSignData);
        ASSERT_EQ(commands.size(), 2u) << "one for the size, one for the signature";
        const Bytes& command = commands.back();
        // 80 58 02 P2 | 00 Lc Lc | app (2) container (2) data | 00 00
        ASSERT_EQ(command.size(), 7 + 4 + c.sentLen + 2);
        EXPECT_EQ(command[2], 0x02);
        EXPECT_EQ(command[3], c.selector);
        const Bytes sent(command.begin() + 11, command.end() - 2);
        if (c.sentLen == c.data.size()) {
            EXPECT_EQ(sent, c.data);
            continue;
        }
        Bytes expected(256, 0xFF);
        expected[0] = 0x00;
        expected[1] = 0x01;
        expected[256 - 37] = 0x00;
        std::copy(pair.begin(), pair.end(), expected.end() - 36);
        EXPECT_EQ(Hex(sent), Hex(expected)) << "00 01, FF padding, 00, the data";
    }
}

TEST_P(RsaTest, LibraryPaddedDataMustLeaveElevenBytes) {
    GenerateSigningKey(2048);
    const struct {
        size_t len;
        ULONG expected;
    } cases[] = {{1, SAR_OK}, {245, SAR_OK}, {246, SAR_INDATALENERR}, {250, SAR_INDATALENERR}, {300, SAR_INDATALENERR}};
    for (const auto& c : cases) {
        Bytes data(c.len, 0x5A);
        ULONG len = 0;
        EXPECT_EQ(SKF_RSASignData(m_container, data.data(), static_cast<ULONG>(data.size()), nullptr, &len), c.expected)
            << c.len;
    }
}

TEST_P(RsaTest, SignatureSizeQueryAndShortBuffer) {
    GenerateSigningKey(1024);
    Bytes digest = Digest(EVP_sha1(), "size");
    ULONG len = 0;
    ASSERT_EQ(SKF_RSASignData(m_container, digest.data(), 20, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 128u);

    Bytes out(200, 0xEE);
    len = 127;
    EXPECT_EQ(SKF_RSASignData(m_container, digest.data(), 20, out.data(), &len), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 128u) << "the needed length";
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](BYTE b) { return b == 0xEE; })) << "nothing written";

    len = static_cast<ULONG>(out.size());
    ASSERT_EQ(SKF_RSASignData(m_container, digest.data(), 20, out.data(), &len), SAR_OK);
    EXPECT_EQ(len, 128u);
    EXPECT_EQ(out[128], 0xEE) << "nothing past the signature";
}

// Library padding needs the signing key's size; a container without one has no key to sign with.
TEST_P(RsaTest, ContainerWithoutSigningKey) {
    Bytes pair = Md5Sha1("no key");
    ULONG len = 0;
    EXPECT_EQ(SKF_RSASignData(m_container, pair.data(), 36, nullptr, &len), SAR_KEYNOTFOUNTERR);
    Bytes digest = Digest(EVP_sha1(), "no key");
    EXPECT_EQ(SKF_RSASignData(m_container, digest.data(), 20, nullptr, &len), SAR_OBJERR);
}

// For data the token does not take as it is, the recovered block must be the whole signature block of
// the data: the same tail under other padding is no signature.
TEST_P(RsaTest, VerifyOfOtherLengthsChecksTheWholeBlock) {
    PkeyPtr key = NewOpenSslKey(1024);
    const RSAPUBLICKEYBLOB blob = PublicBlobOf(key.get());
    const Bytes data = Md5Sha1("whole block");
    const auto signBlock = [&](const Bytes& block) { return OpenSslRaw(key.get(), false, block); };
    Bytes good(128, 0xFF);
    good[0] = 0x00;
    good[1] = 0x01;
    good[128 - 37] = 0x00;
    std::copy(data.begin(), data.end(), good.end() - 36);
    EXPECT_EQ(Verify(blob, data, signBlock(good)), SAR_OK);

    Bytes encryption = good;
    encryption[1] = 0x02;
    Bytes brokenPadding = good;
    brokenPadding[40] = 0x7F;
    Bytes noSeparator = good;
    noSeparator[128 - 37] = 0xFF;
    for (const Bytes& block : {encryption, brokenPadding, noSeparator}) {
        EXPECT_EQ(Verify(blob, data, signBlock(block)), SAR_FAIL) << Hex(block);
    }
    Bytes shortSignature = signBlock(good);
    shortSignature.pop_back();
    EXPECT_EQ(Verify(blob, data, shortSignature), SAR_FAIL);

    // 117 bytes leave eleven in a 128-byte block; 118 do not.
    EXPECT_EQ(Verify(blob, Bytes(118, 1), signBlock(good)), SAR_INDATALENERR);
    EXPECT_EQ(Verify(blob, Bytes(117, 1), signBlock(good)), SAR_FAIL);
}

// Digests and whole blocks are verified by the token; other data by the public-key operation and the
// library's own comparison of the block.
TEST_P(RsaTest, VerificationRoutesByDataLength) {
    PkeyPtr key = NewOpenSslKey(1024);
    const RSAPUBLICKEYBLOB blob = PublicBlobOf(key.get());
    const auto signedBy = [&](const Bytes& data, const EVP_MD* md) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key.get(), nullptr);
        Bytes signature(128);
        size_t len = signature.size();
        EVP_PKEY_sign_init(ctx);
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
        EVP_PKEY_CTX_set_signature_md(ctx, md);
        EXPECT_EQ(EVP_PKEY_sign(ctx, signature.data(), &len, data.data(), data.size()), 1);
        EVP_PKEY_CTX_free(ctx);
        return signature;
    };
    const struct {
        Bytes data;
        const EVP_MD* md;
        uint8_t ins;
        int selector;
    } cases[] = {
        {Digest(EVP_sha1(), "route"), EVP_sha1(), rsa_ins::kRsaVerify, 2},
        {Digest(EVP_sha256(), "route"), EVP_sha256(), rsa_ins::kRsaVerify, 3},
        {Md5Sha1("route"), EVP_md5_sha1(), rsa_ins::kExtRsaPubKeyOperation, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data.size());
        TraceLines(m_token, true);
        EXPECT_EQ(Verify(blob, c.data, signedBy(c.data, c.md)), SAR_OK);
        const std::vector<std::string> trace = TraceLines(m_token);
        const std::vector<Bytes> verifies = CommandsWithIns(trace, rsa_ins::kRsaVerify);
        const std::vector<Bytes> publicOps = CommandsWithIns(trace, rsa_ins::kExtRsaPubKeyOperation);
        EXPECT_EQ(verifies.size(), c.ins == rsa_ins::kRsaVerify ? 1u : 0u);
        EXPECT_EQ(publicOps.size(), c.ins == rsa_ins::kExtRsaPubKeyOperation ? 1u : 0u);
        if (!verifies.empty()) {
            EXPECT_EQ(verifies[0][3], c.selector);
        }
    }
}

TEST_P(RsaTest, ArgumentsAndHandles) {
    Bytes digest = Digest(EVP_sha1(), "args");
    ULONG len = 256;
    BYTE out[256];
    RSAPUBLICKEYBLOB blob = {};
    int foreign = 0;
    EXPECT_EQ(SKF_GenRSAKeyPair(nullptr, 1024, &blob), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_GenRSAKeyPair(&foreign, 1024, &blob), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(SKF_RSASignData(nullptr, digest.data(), 20, out, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_RSASignData(m_container, nullptr, 20, out, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_RSASignData(m_container, digest.data(), 0, out, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_RSASignData(m_container, digest.data(), 20, out, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_RSASignData(&foreign, digest.data(), 20, out, &len), SAR_INVALIDHANDLEERR);
    // Handles of other kinds name no container.
    EXPECT_EQ(SKF_GenRSAKeyPair(m_dev, 1024, &blob), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(SKF_GenRSAKeyPair(m_app, 1024, &blob), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(SKF_RSASignData(m_app, digest.data(), 20, out, &len), SAR_INVALIDHANDLEERR);

    // Sizes whose numbers do not fit the blob are never sent; other sizes are the token's to refuse.
    for (ULONG bits : {0u, 8u, 1000u, 2056u, 4096u, 0x10400u}) {
        EXPECT_EQ(SKF_GenRSAKeyPair(m_container, bits, &blob), SAR_INVALIDPARAMERR) << bits;
    }
    EXPECT_EQ(SKF_GenRSAKeyPair(m_container, 1536, &blob), SAR_NOTSUPPORTYETERR);

    // The public key blob is optional.
    EXPECT_EQ(SKF_GenRSAKeyPair(m_container, 1024, nullptr), SAR_OK);

    // A closed container handle is gone.
    HCONTAINER other = nullptr;
    ASSERT_EQ(SKF_CreateContainer(m_app, Text("closed"), &other), SAR_OK);
    ASSERT_EQ(SKF_CloseContainer(other), SAR_OK);
    EXPECT_EQ(SKF_GenRSAKeyPair(other, 1024, &blob), SAR_INVALIDHANDLEERR);
}

TEST_P(RsaTest, RemovedDeviceInvalidatesTheContainer) {
    Unplug();
    RSAPUBLICKEYBLOB blob = {};
    EXPECT_EQ(SKF_GenRSAKeyPair(m_container, 1024, &blob), SAR_INVALIDHANDLEERR);
    Bytes digest = Digest(EVP_sha1(), "gone");
    ULONG len = 0;
    EXPECT_EQ(SKF_RSASignData(m_container, digest.data(), 20, nullptr, &len), SAR_INVALIDHANDLEERR);
}

INSTANTIATE_TEST_SUITE_P(Transports, RsaTest, ::testing::Values("bot", "hid"));

} // namespace
} // namespace keycore::test
