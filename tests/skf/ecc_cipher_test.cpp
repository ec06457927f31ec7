// SM2 encryption over a virtual token of either framing, checked by OpenSSL: cipher text of the token
// opened by OpenSSL and the other way round, the length rules of decryption, session keys exported
// under a public key, and key pairs imported in an envelope made here.
#include "ecc_support.h"

namespace keycore::test {
namespace {

class EccCipherTest : public EccTest {};

TEST_P(EccCipherTest, TokenCipherTextOpensWithOpenSsl) {
    PkeyPtr key = NewSm2Key();
    ECCPUBLICKEYBLOB pub = PublicBlob(key.get());
    for (size_t len : {1u, 16u, 32u, 255u, 600u}) {
        Bytes plain = RandomBytes(len);
        CipherBlob blob(len);
        std::fill(blob.bytes.begin(), blob.bytes.end(), 0xEE);
        ASSERT_EQ(SKF_ExtECCEncrypt(m_dev, &pub, plain.data(), static_cast<ULONG>(len), blob.get()), SAR_OK) << len;
        EXPECT_EQ(blob.CipherLen(), len);
        EXPECT_TRUE(std::all_of(blob.bytes.begin(), blob.bytes.begin() + 32, [](BYTE b) { return b == 0; }))
            << "C1.x right-aligned in a zeroed field";
        EXPECT_NE(blob.Cipher(), plain);
        EXPECT_EQ(OpenSslDecrypt(key.get(), DerFromBlob(blob)), plain) << len;
    }
}

TEST_P(EccCipherTest, OpenSslCipherTextOpensOnTheToken) {
    PkeyPtr key = NewSm2Key();
    ECCPRIVATEKEYBLOB priv = PrivateBlob(key.get());
    const Bytes plain = RandomBytes(45);
    CipherBlob blob = BlobFromDer(OpenSslEncryptDer(key.get(), plain));
    ASSERT_EQ(blob.CipherLen(), plain.size());

    // The length query needs no token traffic.
    TraceLines(m_token, true);
    ULONG len = 0;
    ASSERT_EQ(SKF_ExtECCDecrypt(m_dev, &priv, blob.get(), nullptr, &len), SAR_OK);
    EXPECT_EQ(len, plain.size());
    EXPECT_TRUE(TraceLines(m_token).empty());

    Bytes out(100, 0xEE);
    len = static_cast<ULONG>(plain.size() - 1);
    EXPECT_EQ(SKF_ExtECCDecrypt(m_dev, &priv, blob.get(), out.data(), &len), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, plain.size()) << "the needed length is reported";
    EXPECT_EQ(out[0], 0xEE);

    len = static_cast<ULONG>(out.size());
    ASSERT_EQ(SKF_ExtECCDecrypt(m_dev, &priv, blob.get(), out.data(), &len), SAR_OK);
    EXPECT_EQ(len, plain.size()) << "the length of the plain text, not of the buffer";
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out.begin()));
    EXPECT_EQ(out[plain.size()], 0xEE) << "nothing written past the plain text";

    // A changed C2 byte fails the C3 check on the token; the wrong key fails too.
    CipherBlob tampered = blob;
    tampered.bytes[offsetof(ECCCIPHERBLOB, Cipher) + 3] ^= 0x01;
    len = static_cast<ULONG>(out.size());
    EXPECT_EQ(SKF_ExtECCDecrypt(m_dev, &priv, tampered.get(), out.data(), &len), SAR_FAIL);
    ECCPRIVATEKEYBLOB other = PrivateBlob(NewSm2Key().get());
    EXPECT_EQ(SKF_ExtECCDecrypt(m_dev, &other, blob.get(), out.data(), &len), SAR_FAIL);
}

// A CipherLen of zero, or one larger than any command carries, is refused before anything is sent:
// the library never reads that far into the caller's blob.
TEST_P(EccCipherTest, ImpossibleCipherLengthsAreRefused) {
    ECCPRIVATEKEYBLOB priv = PrivateBlob(NewSm2Key().get());
    Bytes plain = RandomBytes(16);
    for (ULONG cipherLen : {0u, 0x10000u, 0xFFFFFFFFu}) {
        CipherBlob blob(16);
        std::memcpy(blob.bytes.data() + offsetof(ECCCIPHERBLOB, CipherLen), &cipherLen, sizeof cipherLen);
        ULONG len = 0xFFFFFFFF;
        TraceLines(m_token, true);
        EXPECT_EQ(SKF_ExtECCDecrypt(m_dev, &priv, blob.get(), plain.data(), &len), SAR_INDATALENERR) << cipherLen;
        EXPECT_TRUE(CommandsWithIns(ecc_ins::kExtDecrypt).empty());
    }
    ECCPUBLICKEYBLOB pub = PublicBlob(NewSm2Key().get());
    CipherBlob blob(16);
    EXPECT_EQ(SKF_ExtECCEncrypt(m_dev, &pub, plain.data(), 0x10000, blob.get()), SAR_INDATALENERR);
    // A point that is not on the curve is the token's refusal of the input.
    ECCPUBLICKEYBLOB bad = pub;
    bad.YCoordinate[63] ^= 0x01;
    EXPECT_EQ(SKF_ExtECCEncrypt(m_dev, &bad, plain.data(), 16, blob.get()), SAR_INDATAERR);
}

TEST_P(EccCipherTest, ExportedSessionKeyOpensWithOpenSslAndEncryptsLikeIt) {
    GenerateKey();
    PkeyPtr recipient = NewSm2Key();
    ECCPUBLICKEYBLOB pub = PublicBlob(recipient.get());
    CipherBlob wrapped(16);
    std::fill(wrapped.bytes.begin(), wrapped.bytes.end(), 0xEE);
    HANDLE sessionKey = nullptr;
    ASSERT_EQ(SKF_ECCExportSessionKey(m_container, SGD_SM4_ECB, &pub, wrapped.get(), &sessionKey), SAR_OK);
    ASSERT_NE(sessionKey, nullptr);
    EXPECT_EQ(wrapped.CipherLen(), 16u);
    const Bytes keyBytes = OpenSslDecrypt(recipient.get(), DerFromBlob(wrapped));
    ASSERT_EQ(keyBytes.size(), 16u);

    const Bytes block = RandomBytes(32);
    EXPECT_EQ(EncryptBlocks(sessionKey, block), Sm4Ecb(keyBytes, block));
    EXPECT_EQ(SKF_CloseHandle(sessionKey), SAR_OK);
}

// An envelope as a sender would make it: a random SM4 key encrypted with SM2 under the container's
// public key, the new private key encrypted with that SM4 key.
struct Envelope {
    Envelope(const ECCPUBLICKEYBLOB& containerKey, EVP_PKEY* imported, bool rightAligned)
        : bytes(sizeof(ENVELOPEDKEYBLOB) + 16) {
        const Bytes symmetricKey = RandomBytes(16);
        PkeyPtr opener = KeyFromBlob(containerKey);
        CipherBlob wrapped = BlobFromDer(OpenSslEncryptDer(opener.get(), symmetricKey));
        ENVELOPEDKEYBLOB* env = get();
        env->Version = 1;
        env->ulSymmAlgID = SGD_SM4_ECB;
        env->ulBits = 256;
        encryptedKey = Sm4Ecb(symmetricKey, PrivateScalar(imported));
        if (rightAligned) {
            std::memcpy(env->cbEncryptedPriKey + 32, encryptedKey.data(), 32);
        } else {
            std::memcpy(env->cbEncryptedPriKey, encryptedKey.data(), 32);
            std::memset(env->cbEncryptedPriKey + 32, 0x99, 32);
        }
        env->PubKey = PublicBlob(imported);
        std::memcpy(bytes.data() + offsetof(ENVELOPEDKEYBLOB, ECCCipherBlob), wrapped.bytes.data(),
                    wrapped.bytes.size());
    }
    ENVELOPEDKEYBLOB* get() { return reinterpret_cast<ENVELOPEDKEYBLOB*>(bytes.data()); }
    Bytes bytes;
    Bytes encryptedKey;
};

TEST_P(EccCipherTest, EnvelopedKeyPairBecomesTheExchangeKey) {
    // The token opens an envelope with the container's exchange key, the signing key standing in
    // until there is one.
    ECCPUBLICKEYBLOB opener = GenerateKey();
    for (bool rightAligned : {true, false}) {
        PkeyPtr imported = NewSm2Key();
        Envelope envelope(opener, imported.get(), rightAligned);
        TraceLines(m_token, true);
        ASSERT_EQ(SKF_ImportECCKeyPair(m_container, envelope.get()), SAR_OK) << rightAligned;
        // The 32 encrypted bytes picked from the field travel in the command.
        const std::vector<std::string> sent = CommandsWithIns(ecc_ins::kImportKeyPair);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_NE(sent[0].find(vtoken::test::Hex(envelope.encryptedKey)), std::string::npos);

        ECCPUBLICKEYBLOB exported{};
        ULONG len = sizeof exported;
        ASSERT_EQ(SKF_ExportPublicKey(m_container, FALSE, reinterpret_cast<BYTE*>(&exported), &len), SAR_OK);
        const ECCPUBLICKEYBLOB expected = PublicBlob(imported.get());
        EXPECT_EQ(std::memcmp(&exported, &expected, sizeof expected), 0);
        opener = expected;
    }
    // An envelope whose public key does not match its private key is refused by the token.
    PkeyPtr imported = NewSm2Key();
    Envelope mismatched(opener, imported.get(), true);
    mismatched.get()->PubKey = PublicBlob(NewSm2Key().get());
    EXPECT_EQ(SKF_ImportECCKeyPair(m_container, mismatched.get()), SAR_FAIL);
    // So is one whose symmetric key was wrapped for another container key.
    Envelope foreign(PublicBlob(NewSm2Key().get()), imported.get(), true);
    EXPECT_EQ(SKF_ImportECCKeyPair(m_container, foreign.get()), SAR_FAIL);
    // A wrapped key of impossible length never reaches the token.
    Envelope broken(opener, imported.get(), true);
    const ULONG zero = 0;
    std::memcpy(broken.bytes.data() + offsetof(ENVELOPEDKEYBLOB, ECCCipherBlob) + offsetof(ECCCIPHERBLOB, CipherLen),
                &zero, sizeof zero);
    EXPECT_EQ(SKF_ImportECCKeyPair(m_container, broken.get()), SAR_INDATALENERR);
}

// A container holding an RSA key exports it as an RSAPUBLICKEYBLOB: modulus right-aligned, the
// exponent's four bytes as the token sent them.
TEST_P(EccCipherTest, RsaPublicKeyExport) {
    for (unsigned bits : {1024u, 2048u}) {
        PkeyPtr rsa(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)), EVP_PKEY_free);
        const int derLen = i2d_PrivateKey(rsa.get(), nullptr);
        Bytes der(static_cast<size_t>(derLen));
        unsigned char* p = der.data();
        i2d_PrivateKey(rsa.get(), &p);
        ASSERT_EQ(SKF_ImportCertificate(m_container, TRUE, der.data(), static_cast<ULONG>(der.size())), SAR_OK);

        ULONG len = 0;
        ASSERT_EQ(SKF_ExportPublicKey(m_container, TRUE, nullptr, &len), SAR_OK);
        EXPECT_EQ(len, 268u);
        Bytes out(300, 0xEE);
        len = 267;
        EXPECT_EQ(SKF_ExportPublicKey(m_container, TRUE, out.data(), &len), SAR_BUFFER_TOO_SMALL);
        EXPECT_EQ(len, 268u);
        len = static_cast<ULONG>(out.size());
        ASSERT_EQ(SKF_ExportPublicKey(m_container, TRUE, out.data(), &len), SAR_OK);
        EXPECT_EQ(len, 268u);
        RSAPUBLICKEYBLOB blob;
        std::memcpy(&blob, out.data(), sizeof blob);
        EXPECT_EQ(blob.AlgID, static_cast<ULONG>(SGD_RSA));
        EXPECT_EQ(blob.BitLen, bits);
        BIGNUM* n = nullptr;
        EVP_PKEY_get_bn_param(rsa.get(), OSSL_PKEY_PARAM_RSA_N, &n);
        Bytes modulus(256);
        BN_bn2binpad(n, modulus.data(), 256);
        BN_free(n);
        EXPECT_EQ(std::memcmp(blob.Modulus, modulus.data(), 256), 0) << bits;
        const BYTE exponent[4] = {0x00, 0x01, 0x00, 0x01};
        EXPECT_EQ(std::memcmp(blob.PublicExponent, exponent, 4), 0);
        EXPECT_TRUE(std::all_of(out.begin() + 268, out.end(), [](BYTE b) { return b == 0; }));
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, EccCipherTest, ::testing::Values("bot", "hid"));

} // namespace
} // namespace keycore::test
