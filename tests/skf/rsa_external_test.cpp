// RSA with keys outside the token's containers: key pairs generated for the caller that OpenSSL
// accepts, public- and private-key operations that OpenSSL's raw RSA confirms, the type 2 block the
// library builds, size rules and refused blobs.
#include "rsa_fixture.h"

namespace keycore::test {
namespace {

class RsaExternalTest : public RsaTest {
protected:
    RSAPRIVATEKEYBLOB GenerateExternal(ULONG bits) {
        RSAPRIVATEKEYBLOB blob;
        std::memset(&blob, 0xEE, sizeof blob);
        EXPECT_EQ(SKF_GenExtRSAKey(m_dev, bits, &blob), SAR_OK);
        return blob;
    }

    static RSAPUBLICKEYBLOB PublicPart(const RSAPRIVATEKEYBLOB& pri) {
        RSAPUBLICKEYBLOB pub = {};
        pub.AlgID = pri.AlgID;
        pub.BitLen = pri.BitLen;
        std::memcpy(pub.Modulus, pri.Modulus, sizeof pub.Modulus);
        std::memcpy(pub.PublicExponent, pri.PublicExponent, sizeof pub.PublicExponent);
        return pub;
    }

    ULONG PublicOperation(RSAPUBLICKEYBLOB blob, Bytes input, Bytes* output) {
        ULONG len = static_cast<ULONG>(output->size());
        const ULONG rv = SKF_ExtRSAPubKeyOperation(m_dev, &blob, input.data(), static_cast<ULONG>(input.size()),
                                                   output->data(), &len);
        if (rv == SAR_OK)
            output->resize(len);
        return rv;
    }

    ULONG PrivateOperation(RSAPRIVATEKEYBLOB blob, Bytes input, Bytes* output) {
        ULONG len = static_cast<ULONG>(output->size());
        const ULONG rv = SKF_ExtRSAPriKeyOperation(m_dev, &blob, input.data(), static_cast<ULONG>(input.size()),
                                                   output->data(), &len);
        if (rv == SAR_OK)
            output->resize(len);
        return rv;
    }
};

bool FieldZeroInFront(const BYTE* field, size_t fieldLen, size_t numberLen) {
    return std::all_of(field, field + fieldLen - numberLen, [](BYTE b) { return b == 0; });
}

TEST_P(RsaExternalTest, GeneratedBlobsFormKeysOpenSslAccepts) {
    for (ULONG bits : {1024u, 2048u}) {
        SCOPED_TRACE(bits);
        const RSAPRIVATEKEYBLOB blob = GenerateExternal(bits);
        EXPECT_EQ(blob.AlgID, static_cast<ULONG>(SGD_RSA));
        EXPECT_EQ(blob.BitLen, bits);
        const size_t k = bits / 8;
        // Every number right-aligned behind zeros (the blob was full of 0xEE before).
        EXPECT_TRUE(FieldZeroInFront(blob.Modulus, sizeof blob.Modulus, k));
        EXPECT_TRUE(FieldZeroInFront(blob.PrivateExponent, sizeof blob.PrivateExponent, k));
        for (const BYTE* half : {blob.Prime1, blob.Prime2, blob.Prime1Exponent, blob.Prime2Exponent, blob.Coefficient})
            EXPECT_TRUE(FieldZeroInFront(half, sizeof blob.Prime1, k / 2));
        PkeyPtr key = PrivateKeyFromBlob(blob);
        ASSERT_TRUE(key);
        EXPECT_EQ(EVP_PKEY_get_bits(key.get()), static_cast<int>(bits));
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key.get(), nullptr);
        EXPECT_EQ(EVP_PKEY_check(ctx), 1) << "primes, exponents and coefficient belong together";
        EVP_PKEY_CTX_free(ctx);
    }
}

// The public operation wraps short input in a fresh 00 02 block; the private operation returns the
// raw block; OpenSSL agrees with both.
TEST_P(RsaExternalTest, PublicAndPrivateOperationsRoundTrip) {
    const RSAPRIVATEKEYBLOB pri = GenerateExternal(2048);
    const RSAPUBLICKEYBLOB pub = PublicPart(pri);
    PkeyPtr key = PrivateKeyFromBlob(pri);
    ASSERT_TRUE(key);
    const Bytes secret = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87,
                          0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F};

    std::vector<Bytes> paddings;
    for (int round = 0; round < 2; ++round) {
        Bytes encrypted(256);
        ASSERT_EQ(PublicOperation(pub, secret, &encrypted), SAR_OK);
        ASSERT_EQ(encrypted.size(), 256u);
        EXPECT_EQ(OpenSslDecrypt(key.get(), encrypted), secret);

        Bytes block(256);
        ASSERT_EQ(PrivateOperation(pri, encrypted, &block), SAR_OK);
        ASSERT_EQ(block.size(), 256u);
        EXPECT_EQ(block, OpenSslRaw(key.get(), false, encrypted));
        EXPECT_EQ(block[0], 0x00);
        EXPECT_EQ(block[1], 0x02);
        const Bytes padding(block.begin() + 2, block.end() - 17);
        EXPECT_TRUE(std::none_of(padding.begin(), padding.end(), [](BYTE b) { return b == 0; }))
            << "no zero byte in the padding";
        EXPECT_EQ(block[256 - 17], 0x00);
        EXPECT_TRUE(std::equal(secret.begin(), secret.end(), block.end() - 16));
        paddings.push_back(padding);
    }
    EXPECT_NE(paddings[0], paddings[1]) << "fresh padding for every block";

    // A whole block goes as it is: OpenSSL's private operation gives it back unchanged.
    Bytes whole(256, 0x3C);
    whole[0] = 0x00;
    TraceLines(m_token, true);
    Bytes encrypted(256);
    ASSERT_EQ(PublicOperation(pub, whole, &encrypted), SAR_OK);
    EXPECT_EQ(OpenSslRaw(key.get(), false, encrypted), whole);
    const std::vector<Bytes> sent = CommandsWithIns(TraceLines(m_token), rsa_ins::kExtRsaPubKeyOperation);
    ASSERT_EQ(sent.size(), 1u);
    // header (7), bits (4), modulus (256), exponent (4), input length (4), input, expected length (2)
    ASSERT_EQ(sent[0].size(), 7u + 4 + 256 + 4 + 4 + 256 + 2);
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), sent[0].begin() + 275));
    Bytes back(256);
    ASSERT_EQ(PrivateOperation(pri, encrypted, &back), SAR_OK);
    EXPECT_EQ(back, whole);
}

TEST_P(RsaExternalTest, InputLengthsOfThePublicOperation) {
    PkeyPtr key = NewOpenSslKey(1024);
    const RSAPUBLICKEYBLOB pub = PublicBlobOf(key.get());
    const struct {
        size_t len;
        ULONG expected;
    } cases[] = {
        {1, SAR_OK},     {117, SAR_OK}, // eight padding bytes
        {118, SAR_FAIL},                // seven: the token refuses the block
        {125, SAR_FAIL},                // no padding byte at all
        {126, SAR_FAIL},                // no room for the fixed bytes
        {129, SAR_FAIL},                // longer than the key
        {128, SAR_OK},                  // a whole block
    };
    for (const auto& c : cases) {
        Bytes input(c.len, 0x42);
        input[0] = 0x00;
        Bytes out(128);
        EXPECT_EQ(PublicOperation(pub, input, &out), c.expected) << c.len;
        if (c.expected == SAR_OK && c.len < 128) {
            EXPECT_EQ(OpenSslDecrypt(key.get(), out), input) << c.len;
        }
    }
}

TEST_P(RsaExternalTest, SizeQueriesAndShortBuffers) {
    PkeyPtr key = NewOpenSslKey(2048);
    RSAPUBLICKEYBLOB pub = PublicBlobOf(key.get());
    RSAPRIVATEKEYBLOB pri = PrivateBlobOf(key.get());
    Bytes input(256, 0x11);
    input[0] = 0x00;
    Bytes out(300, 0xEE);

    TraceLines(m_token, true);
    ULONG len = 0;
    ASSERT_EQ(SKF_ExtRSAPubKeyOperation(m_dev, &pub, input.data(), 16, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 256u);
    len = 0;
    ASSERT_EQ(SKF_ExtRSAPriKeyOperation(m_dev, &pri, input.data(), 256, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 256u);
    EXPECT_TRUE(CommandsWithIns(TraceLines(m_token), rsa_ins::kExtRsaPubKeyOperation).empty());
    EXPECT_TRUE(CommandsWithIns(TraceLines(m_token), rsa_ins::kExtRsaPriKeyOperation).empty());

    len = 255;
    EXPECT_EQ(SKF_ExtRSAPubKeyOperation(m_dev, &pub, input.data(), 16, out.data(), &len), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 256u);
    len = 255;
    EXPECT_EQ(SKF_ExtRSAPriKeyOperation(m_dev, &pri, input.data(), 256, out.data(), &len), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 256u);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](BYTE b) { return b == 0xEE; }));

    // The private operation takes exactly one block.
    len = static_cast<ULONG>(out.size());
    EXPECT_EQ(SKF_ExtRSAPriKeyOperation(m_dev, &pri, input.data(), 255, out.data(), &len), SAR_INDATALENERR);
    EXPECT_EQ(SKF_ExtRSAPriKeyOperation(m_dev, &pri, input.data(), 257, out.data(), &len), SAR_INDATALENERR);
    len = static_cast<ULONG>(out.size());
    ASSERT_EQ(SKF_ExtRSAPriKeyOperation(m_dev, &pri, input.data(), 256, out.data(), &len), SAR_OK);
    EXPECT_EQ(len, 256u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 256), OpenSslRaw(key.get(), false, input));
    EXPECT_EQ(out[256], 0xEE);
}

TEST_P(RsaExternalTest, BlobsThatDoNotFitAndMissingArguments) {
    PkeyPtr key = NewOpenSslKey(1024);
    RSAPUBLICKEYBLOB pub = PublicBlobOf(key.get());
    RSAPRIVATEKEYBLOB pri = PrivateBlobOf(key.get());
    Bytes data(128, 0x01);
    Bytes out(600);
    ULONG len = static_cast<ULONG>(out.size());
    for (ULONG bits : {0u, 8u, 1000u, 2056u, 4096u, 0xFFFFFFF0u}) {
        SCOPED_TRACE(bits);
        RSAPUBLICKEYBLOB badPub = pub;
        badPub.BitLen = bits;
        RSAPRIVATEKEYBLOB badPri = pri;
        badPri.BitLen = bits;
        EXPECT_EQ(SKF_ExtRSAPubKeyOperation(m_dev, &badPub, data.data(), 16, out.data(), &len), SAR_INVALIDPARAMERR);
        EXPECT_EQ(SKF_ExtRSAPriKeyOperation(m_dev, &badPri, data.data(), 128, out.data(), &len), SAR_INVALIDPARAMERR);
        EXPECT_EQ(SKF_RSAVerify(m_dev, &badPub, data.data(), 20, data.data(), 128), SAR_INVALIDPARAMERR);
        EXPECT_EQ(SKF_GenExtRSAKey(m_dev, bits, &pri), SAR_INVALIDPARAMERR);
    }
    // A size the blob holds but the token does not generate.
    EXPECT_EQ(SKF_GenExtRSAKey(m_dev, 1536, &pri), SAR_FAIL);

    int foreign = 0;
    EXPECT_EQ(SKF_GenExtRSAKey(nullptr, 1024, &pri), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_GenExtRSAKey(m_dev, 1024, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_GenExtRSAKey(&foreign, 1024, &pri), SAR_INVALIDHANDLEERR);

    EXPECT_EQ(SKF_ExtRSAPubKeyOperation(nullptr, &pub, data.data(), 16, out.data(), &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExtRSAPubKeyOperation(m_dev, nullptr, data.data(), 16, out.data(), &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExtRSAPubKeyOperation(m_dev, &pub, nullptr, 16, out.data(), &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExtRSAPubKeyOperation(m_dev, &pub, data.data(), 0, out.data(), &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExtRSAPubKeyOperation(m_dev, &pub, data.data(), 16, out.data(), nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExtRSAPubKeyOperation(&foreign, &pub, data.data(), 16, out.data(), &len), SAR_INVALIDHANDLEERR);

    EXPECT_EQ(SKF_ExtRSAPriKeyOperation(nullptr, &pri, data.data(), 128, out.data(), &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExtRSAPriKeyOperation(m_dev, nullptr, data.data(), 128, out.data(), &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExtRSAPriKeyOperation(m_dev, &pri, nullptr, 128, out.data(), &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExtRSAPriKeyOperation(m_dev, &pri, data.data(), 0, out.data(), &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExtRSAPriKeyOperation(m_dev, &pri, data.data(), 128, out.data(), nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ExtRSAPriKeyOperation(&foreign, &pri, data.data(), 128, out.data(), &len), SAR_INVALIDHANDLEERR);

    EXPECT_EQ(SKF_RSAVerify(nullptr, &pub, data.data(), 20, data.data(), 128), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_RSAVerify(m_dev, nullptr, data.data(), 20, data.data(), 128), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_RSAVerify(m_dev, &pub, nullptr, 20, data.data(), 128), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_RSAVerify(m_dev, &pub, data.data(), 0, data.data(), 128), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_RSAVerify(m_dev, &pub, data.data(), 20, nullptr, 128), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_RSAVerify(m_dev, &pub, data.data(), 20, data.data(), 0), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_RSAVerify(&foreign, &pub, data.data(), 20, data.data(), 128), SAR_INVALIDHANDLEERR);
}

// Any handle names its device; a device that is gone leaves them all without a token.
TEST_P(RsaExternalTest, HandlesOfEveryKindAndARemovedDevice) {
    PkeyPtr key = NewOpenSslKey(1024);
    RSAPUBLICKEYBLOB pub = PublicBlobOf(key.get());
    Bytes input(16, 0x07);
    ULONG len = 0;
    EXPECT_EQ(SKF_ExtRSAPubKeyOperation(m_app, &pub, input.data(), 16, nullptr, &len), SAR_OK);
    EXPECT_EQ(SKF_ExtRSAPubKeyOperation(m_container, &pub, input.data(), 16, nullptr, &len), SAR_OK);
    Unplug();
    RSAPRIVATEKEYBLOB pri = {};
    EXPECT_EQ(SKF_GenExtRSAKey(m_dev, 1024, &pri), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(SKF_ExtRSAPubKeyOperation(m_dev, &pub, input.data(), 16, nullptr, &len), SAR_INVALIDHANDLEERR);
}

INSTANTIATE_TEST_SUITE_P(Transports, RsaExternalTest, ::testing::Values("bot", "hid"));

} // namespace
} // namespace keycore::test
