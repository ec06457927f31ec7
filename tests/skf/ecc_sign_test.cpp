// SM2 key pairs and signatures over a virtual token of either framing, checked by OpenSSL: the
// generated key and its export, signatures of the container key and of a caller's key verified by
// OpenSSL with the identifier "1234567812345678", OpenSSL's signatures verified by the token, and
// tampered ones refused.
#include "ecc_support.h"

namespace keycore::test {
namespace {

class EccSignTest : public EccTest {};

bool IsZero(const BYTE* p, size_t n) {
    return std::all_of(p, p + n, [](BYTE b) { return b == 0; });
}

TEST_P(EccSignTest, GeneratedKeyBlobAndItsExport) {
    ECCPUBLICKEYBLOB generated;
    std::memset(&generated, 0xEE, sizeof generated);
    ASSERT_EQ(SKF_GenECCKeyPair(m_container, SGD_SM2_1, &generated), SAR_OK);
    EXPECT_EQ(generated.BitLen, 256u);
    EXPECT_TRUE(IsZero(generated.XCoordinate, 32)) << "bytes 4-35 of the blob";
    EXPECT_TRUE(IsZero(generated.YCoordinate, 32)) << "bytes 68-99 of the blob";
    EXPECT_FALSE(IsZero(generated.XCoordinate + 32, 32));
    PkeyPtr key = KeyFromBlob(generated);
    ASSERT_NE(key, nullptr) << "the point lies on the SM2 curve";

    ULONG len = 0;
    ASSERT_EQ(SKF_ExportPublicKey(m_container, TRUE, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 132u);
    Bytes out(200, 0xEE);
    len = 131;
    EXPECT_EQ(SKF_ExportPublicKey(m_container, TRUE, out.data(), &len), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 132u);
    EXPECT_EQ(out[0], 0xEE);
    len = static_cast<ULONG>(out.size());
    ASSERT_EQ(SKF_ExportPublicKey(m_container, TRUE, out.data(), &len), SAR_OK);
    EXPECT_EQ(len, 132u);
    EXPECT_EQ(std::memcmp(out.data(), &generated, sizeof generated), 0);
    EXPECT_TRUE(IsZero(out.data() + 132, out.size() - 132)) << "the rest of the caller's length is zeroed";

    // The selector asks for exactly the exchange pair, which this container does not have.
    EXPECT_EQ(SKF_ExportPublicKey(m_container, FALSE, nullptr, &len), SAR_OBJERR);
    // A second generation replaces the key.
    const ECCPUBLICKEYBLOB second = GenerateKey();
    EXPECT_NE(std::memcmp(&second, &generated, sizeof second), 0);
}

TEST_P(EccSignTest, ContainerSignatureVerifiesWithOpenSsl) {
    const ECCPUBLICKEYBLOB pub = GenerateKey();
    PkeyPtr key = KeyFromBlob(pub);
    ASSERT_NE(key, nullptr);
    for (size_t messageLen : {0u, 1u, 64u, 1000u}) {
        const Bytes message = RandomBytes(messageLen);
        Bytes digest = SignedDigest(pub, message);
        ECCSIGNATUREBLOB sig;
        std::memset(&sig, 0xEE, sizeof sig);
        ASSERT_EQ(SKF_ECCSignData(m_container, digest.data(), 32, &sig), SAR_OK);
        EXPECT_TRUE(IsZero(sig.r, 32) && IsZero(sig.s, 32)) << "values right-aligned, blob zeroed";
        EXPECT_TRUE(OpenSslVerifies(key.get(), message, sig)) << messageLen;

        // The token's verification agrees, through both names; a changed s or digest is refused.
        ECCPUBLICKEYBLOB verifyKey = pub;
        EXPECT_EQ(SKF_ECCVerify(m_dev, &verifyKey, digest.data(), 32, &sig), SAR_OK);
        EXPECT_EQ(SKF_ExtECCVerify(m_dev, &verifyKey, digest.data(), 32, &sig), SAR_OK);
        ECCSIGNATUREBLOB tampered = sig;
        tampered.s[63] ^= 0x01;
        EXPECT_FALSE(OpenSslVerifies(key.get(), message, tampered));
        EXPECT_EQ(SKF_ECCVerify(m_dev, &verifyKey, digest.data(), 32, &tampered), SAR_FAIL);
        EXPECT_EQ(SKF_ExtECCVerify(m_dev, &verifyKey, digest.data(), 32, &tampered), SAR_FAIL);
        digest[0] ^= 0x80;
        EXPECT_EQ(SKF_ECCVerify(m_dev, &verifyKey, digest.data(), 32, &sig), SAR_FAIL);
    }
}

// The digest computed by the token with the public key and the identifier is the one OpenSSL's SM2
// verification hashes.
TEST_P(EccSignTest, SignatureOverTheTokensDigestWithZa) {
    ECCPUBLICKEYBLOB pub = GenerateKey();
    PkeyPtr key = KeyFromBlob(pub);
    const Bytes message = RandomBytes(300);
    HANDLE hash = nullptr;
    ASSERT_EQ(SKF_DigestInit(m_dev, SGD_SM3, &pub, reinterpret_cast<BYTE*>(const_cast<char*>(kSm2Id)),
                             static_cast<ULONG>(std::strlen(kSm2Id)), &hash),
              SAR_OK);
    Bytes digest(32);
    ULONG digestLen = static_cast<ULONG>(digest.size());
    ASSERT_EQ(SKF_Digest(hash, const_cast<BYTE*>(message.data()), static_cast<ULONG>(message.size()), digest.data(),
                         &digestLen),
              SAR_OK);
    ASSERT_EQ(digestLen, 32u);
    EXPECT_EQ(digest, SignedDigest(pub, message));
    SKF_CloseHandle(hash);

    ECCSIGNATUREBLOB sig{};
    ASSERT_EQ(SKF_ECCSignData(m_container, digest.data(), digestLen, &sig), SAR_OK);
    ULONG len = sizeof pub;
    ECCPUBLICKEYBLOB exported{};
    ASSERT_EQ(SKF_ExportPublicKey(m_container, TRUE, reinterpret_cast<BYTE*>(&exported), &len), SAR_OK);
    PkeyPtr exportedKey = KeyFromBlob(exported);
    ASSERT_NE(exportedKey, nullptr);
    EXPECT_TRUE(OpenSslVerifies(exportedKey.get(), message, sig));
}

TEST_P(EccSignTest, OpenSslSignatureVerifiesOnTheToken) {
    PkeyPtr key = NewSm2Key();
    ECCPUBLICKEYBLOB pub = PublicBlob(key.get());
    const Bytes message = RandomBytes(77);
    ECCSIGNATUREBLOB sig = OpenSslSign(key.get(), message);
    Bytes digest = SignedDigest(pub, message);
    EXPECT_EQ(SKF_ECCVerify(m_dev, &pub, digest.data(), 32, &sig), SAR_OK);
    EXPECT_EQ(SKF_ExtECCVerify(m_dev, &pub, digest.data(), 32, &sig), SAR_OK);

    // Only bytes 32-63 of each field count: noise in bytes 0-31 changes nothing.
    ECCPUBLICKEYBLOB noisyKey = pub;
    ECCSIGNATUREBLOB noisySig = sig;
    std::memset(noisyKey.XCoordinate, 0x5A, 32);
    std::memset(noisySig.r, 0xA5, 32);
    EXPECT_EQ(SKF_ECCVerify(m_dev, &noisyKey, digest.data(), 32, &noisySig), SAR_OK);

    ECCSIGNATUREBLOB tampered = sig;
    tampered.r[40] ^= 0x10;
    EXPECT_EQ(SKF_ECCVerify(m_dev, &pub, digest.data(), 32, &tampered), SAR_FAIL);
    ECCPUBLICKEYBLOB otherKey = PublicBlob(NewSm2Key().get());
    EXPECT_EQ(SKF_ECCVerify(m_dev, &otherKey, digest.data(), 32, &sig), SAR_FAIL);
}

TEST_P(EccSignTest, SignatureWithTheCallersKeyVerifiesWithOpenSsl) {
    PkeyPtr key = NewSm2Key();
    ECCPUBLICKEYBLOB pub = PublicBlob(key.get());
    ECCPRIVATEKEYBLOB priv = PrivateBlob(key.get());
    const Bytes message = RandomBytes(41);
    Bytes digest = SignedDigest(pub, message);
    ECCSIGNATUREBLOB sig;
    std::memset(&sig, 0xEE, sizeof sig);
    ASSERT_EQ(SKF_ExtECCSign(m_dev, &priv, digest.data(), 32, &sig), SAR_OK);
    EXPECT_TRUE(IsZero(sig.r, 32) && IsZero(sig.s, 32));
    EXPECT_TRUE(OpenSslVerifies(key.get(), message, sig));
    EXPECT_EQ(SKF_ECCVerify(m_dev, &pub, digest.data(), 32, &sig), SAR_OK);

    // The private key is taken from bytes 32-63 only.
    std::memset(priv.PrivateKey, 0x77, 32);
    ASSERT_EQ(SKF_ExtECCSign(m_dev, &priv, digest.data(), 32, &sig), SAR_OK);
    EXPECT_TRUE(OpenSslVerifies(key.get(), message, sig));
}

// The container's SM2 key signs only a 32-byte digest; other lengths are refused before anything is
// sent (the command would otherwise read past a shorter buffer).
TEST_P(EccSignTest, ContainerSigningTakesOnlyADigest) {
    GenerateKey();
    Bytes data(64, 0x42);
    ECCSIGNATUREBLOB sig;
    std::memset(&sig, 0xEE, sizeof sig);
    TraceLines(m_token, true);
    for (ULONG len : {1u, 20u, 31u, 33u, 64u})
        EXPECT_EQ(SKF_ECCSignData(m_container, data.data(), len, &sig), SAR_INDATALENERR) << len;
    EXPECT_TRUE(CommandsWithIns(ecc_ins::kSign).empty());
    EXPECT_EQ(sig.r[0], 0xEE);
}

// Signing in a container without a key pair is the token's "no such object".
TEST_P(EccSignTest, SigningWithoutAKeyPair) {
    Bytes digest(32, 1);
    ECCSIGNATUREBLOB sig;
    std::memset(&sig, 0xEE, sizeof sig);
    EXPECT_EQ(SKF_ECCSignData(m_container, digest.data(), 32, &sig), SAR_OBJERR);
    EXPECT_EQ(sig.s[63], 0xEE);
    ULONG len = 0;
    EXPECT_EQ(SKF_ExportPublicKey(m_container, TRUE, nullptr, &len), SAR_OBJERR);
}

INSTANTIATE_TEST_SUITE_P(Transports, EccSignTest, ::testing::Values("bot", "hid"));

} // namespace
} // namespace keycore::test
