// Digests on a virtual token compared with OpenSSL: SM3 with and without the SM2 preprocessing value
// (computed here from the curve, the public key and the identifier), SHA-1 and SHA-256, whole and
// across update calls; the pieces sent, the sizes and the errors.
#include "cipher_support.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

namespace keycore::test {
namespace {

constexpr char kSm2Id[] = "1234567812345678";

struct Algorithm {
    const char* name;
    ULONG algId;
    const EVP_MD* (*md)();
};
const Algorithm kAlgorithms[] = {
    {"SM3", SGD_SM3, EVP_sm3}, {"SHA-1", SGD_SHA1, EVP_sha1}, {"SHA-256", SGD_SHA256, EVP_sha256}};

ByteVec Bn(const BIGNUM* n) {
    ByteVec out(32);
    BN_bn2binpad(n, out.data(), 32);
    return out;
}

// ZA = SM3(ENTL ‖ ID ‖ a ‖ b ‖ xG ‖ yG ‖ xA ‖ yA).
ByteVec Za(const ByteVec& x, const ByteVec& y, const std::string& id) {
    std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(EC_GROUP_new_by_curve_name(NID_sm2), EC_GROUP_free);
    BIGNUM* p = BN_new();
    BIGNUM* a = BN_new();
    BIGNUM* b = BN_new();
    BIGNUM* gx = BN_new();
    BIGNUM* gy = BN_new();
    EC_GROUP_get_curve(group.get(), p, a, b, nullptr);
    EC_POINT_get_affine_coordinates(group.get(), EC_GROUP_get0_generator(group.get()), gx, gy, nullptr);
    const unsigned bits = static_cast<unsigned>(id.size() * 8);
    ByteVec z = {static_cast<BYTE>(bits >> 8), static_cast<BYTE>(bits)};
    z.insert(z.end(), id.begin(), id.end());
    for (const BIGNUM* n : {a, b, gx, gy}) {
        const ByteVec v = Bn(n);
        z.insert(z.end(), v.begin(), v.end());
    }
    z.insert(z.end(), x.begin(), x.end());
    z.insert(z.end(), y.begin(), y.end());
    for (BIGNUM* n : {p, a, b, gx, gy})
        BN_free(n);
    return OpenSslDigest(EVP_sm3(), {}, z);
}

class HashTest : public SessionKeyTest {
protected:
    HANDLE Init(ULONG algId, ECCPUBLICKEYBLOB* key = nullptr, const char* id = nullptr) {
        HANDLE hash = nullptr;
        EXPECT_EQ(SKF_DigestInit(m_dev, algId, key, reinterpret_cast<BYTE*>(const_cast<char*>(id)),
                                 id != nullptr ? static_cast<ULONG>(std::strlen(id)) : 0, &hash),
                  SAR_OK);
        return hash;
    }

    // Updates of `piece` bytes and the final.
    ByteVec ByUpdates(HANDLE hash, const ByteVec& data, size_t piece) {
        for (size_t offset = 0; offset < data.size(); offset += piece) {
            const ULONG len = static_cast<ULONG>(std::min(piece, data.size() - offset));
            EXPECT_EQ(SKF_DigestUpdate(hash, const_cast<BYTE*>(data.data() + offset), len), SAR_OK);
        }
        ByteVec out(64, 0xEE);
        ULONG len = static_cast<ULONG>(out.size());
        EXPECT_EQ(SKF_DigestFinal(hash, out.data(), &len), SAR_OK);
        out.resize(len);
        return out;
    }
};

TEST_F(HashTest, DigestsEqualOpenSslWholeAndAcrossUpdates) {
    for (const Algorithm& alg : kAlgorithms) {
        for (const size_t len : {0u, 1u, 55u, 64u, 2000u, 2001u, 4100u, 5000u}) {
            SCOPED_TRACE(std::string(alg.name) + " of " + std::to_string(len) + " bytes");
            const ByteVec data = Pattern(len, static_cast<unsigned>(len) + 3);
            const ByteVec expected = OpenSslDigest(alg.md(), {}, data);
            EXPECT_EQ(ByUpdates(Init(alg.algId), data, 777), expected);
            EXPECT_EQ(ByUpdates(Init(alg.algId), data, 1), expected) << "one byte at a time";
            if (len == 0)
                continue;
            HANDLE hash = Init(alg.algId);
            ByteVec out(32, 0xEE);
            ULONG outLen = static_cast<ULONG>(out.size());
            ASSERT_EQ(SKF_Digest(hash, const_cast<BYTE*>(data.data()), static_cast<ULONG>(len), out.data(), &outLen),
                      SAR_OK);
            ASSERT_EQ(outLen, expected.size());
            EXPECT_EQ(ByteVec(out.begin(), out.begin() + outLen), expected);
            EXPECT_TRUE(std::all_of(out.begin() + outLen, out.end(), [](BYTE b) { return b == 0xEE; }));
        }
    }
}

TEST_F(HashTest, Sm3WithPublicKeyAndIdentifierStartsWithZa) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> sm2(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"), EVP_PKEY_free);
    BYTE point[65] = {};
    size_t pointLen = 0;
    ASSERT_EQ(EVP_PKEY_get_octet_string_param(sm2.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &pointLen), 1);
    ECCPUBLICKEYBLOB blob = {};
    blob.BitLen = 256;
    std::memcpy(blob.XCoordinate + 32, point + 1, 32);
    std::memcpy(blob.YCoordinate + 32, point + 33, 32);
    const ByteVec za = Za(ByteVec(point + 1, point + 33), ByteVec(point + 33, point + 65), kSm2Id);

    for (const size_t len : {0u, 3u, 2000u, 5000u}) {
        SCOPED_TRACE(len);
        const ByteVec message = Pattern(len, 77);
        EXPECT_EQ(ByUpdates(Init(SGD_SM3, &blob, kSm2Id), message, 1500), OpenSslDigest(EVP_sm3(), za, message));
    }
    // Without the identifier (or without the key) the plain digest results.
    const ByteVec message = Pattern(100);
    EXPECT_EQ(ByUpdates(Init(SGD_SM3, &blob, nullptr), message, 100), OpenSslDigest(EVP_sm3(), {}, message));
    EXPECT_EQ(ByUpdates(Init(SGD_SM3, nullptr, kSm2Id), message, 100), OpenSslDigest(EVP_sm3(), {}, message));
}

TEST_F(HashTest, UpdatesGoToTheTokenInPiecesOfTwoThousand) {
    HANDLE hash = Init(SGD_SHA256);
    const ByteVec data = Pattern(4100);
    TraceLines(m_token, true);
    ASSERT_EQ(SKF_DigestUpdate(hash, const_cast<BYTE*>(data.data()), 4100), SAR_OK);
    std::vector<size_t> pieces;
    for (const auto& c : CommandsWithIns(TraceLines(m_token), ins::kDigestUpdate))
        pieces.push_back(c.size() - 7);
    EXPECT_EQ(pieces, (std::vector<size_t>{2000, 2000, 100}));
    // The token got the algorithm's low byte only.
    TraceLines(m_token, true);
    Init(0x12345601);
    const auto inits = CommandsWithIns(TraceLines(m_token), ins::kDigestInit);
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(inits[0][3], 0x01);
}

TEST_F(HashTest, SizesShortBuffersAndMissingArguments) {
    struct Size {
        ULONG algId;
        ULONG size;
    };
    for (const Size& s : {Size{SGD_SM3, 32}, Size{SGD_SHA1, 20}, Size{SGD_SHA256, 32}}) {
        HANDLE hash = Init(s.algId);
        ULONG len = 0;
        EXPECT_EQ(SKF_DigestFinal(hash, nullptr, &len), SAR_OK);
        EXPECT_EQ(len, s.size);
        len = 0;
        BYTE data[3] = {1, 2, 3};
        EXPECT_EQ(SKF_Digest(hash, data, 3, nullptr, &len), SAR_OK);
        EXPECT_EQ(len, s.size);
        ByteVec out(s.size, 0xEE);
        len = s.size - 1;
        EXPECT_EQ(SKF_DigestFinal(hash, out.data(), &len), SAR_BUFFER_TOO_SMALL);
        len = s.size - 1;
        EXPECT_EQ(SKF_Digest(hash, data, 3, out.data(), &len), SAR_BUFFER_TOO_SMALL);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](BYTE b) { return b == 0xEE; }));
        // Neither the queries nor the refusals spent the digest.
        len = s.size;
        ASSERT_EQ(SKF_Digest(hash, data, 3, out.data(), &len), SAR_OK);
        const ByteVec expected = OpenSslDigest(s.algId == SGD_SHA1  ? EVP_sha1()
                                               : s.algId == SGD_SM3 ? EVP_sm3()
                                                                    : EVP_sha256(),
                                               {}, ByteVec(data, data + 3));
        EXPECT_EQ(out, expected);
    }

    HANDLE hash = Init(SGD_SM3);
    BYTE data[4] = {};
    ULONG len = 32;
    BYTE out[32];
    HANDLE unused = nullptr;
    EXPECT_EQ(SKF_DigestInit(nullptr, SGD_SM3, nullptr, nullptr, 0, &unused), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_DigestInit(m_dev, SGD_SM3, nullptr, nullptr, 0, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_DigestUpdate(nullptr, data, 4), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_DigestUpdate(hash, nullptr, 4), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_DigestUpdate(hash, data, 0), SAR_FAIL) << "no data is a failed update";
    EXPECT_EQ(SKF_DigestFinal(nullptr, out, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_DigestFinal(hash, out, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_Digest(nullptr, data, 4, out, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_Digest(hash, nullptr, 4, out, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_Digest(hash, data, 0, out, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_Digest(hash, data, 4, out, nullptr), SAR_INVALIDPARAMERR);

    // A digest of an algorithm the library has no size for.
    ForceStatus(ins::kDigestInit, 0x9000);
    HANDLE odd = Init(0x00000008);
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(SKF_DigestFinal(odd, nullptr, &len), SAR_OBJERR);
    EXPECT_EQ(SKF_Digest(odd, data, 4, nullptr, &len), SAR_OBJERR);
}

TEST_F(HashTest, ForeignAndWrongKindHandlesAndStatusWords) {
    HANDLE key = SetKey(KeyPlace::Loose, SGD_SM4_ECB, m_key);
    BYTE data[4] = {};
    BYTE out[32];
    for (HANDLE notHash :
         {key, static_cast<HANDLE>(m_dev), static_cast<HANDLE>(m_app), reinterpret_cast<HANDLE>(0x99)}) {
        ULONG len = 32;
        EXPECT_EQ(SKF_DigestUpdate(notHash, data, 4), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(SKF_DigestFinal(notHash, out, &len), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(SKF_Digest(notHash, data, 4, out, &len), SAR_INVALIDHANDLEERR);
    }
    HANDLE unused = nullptr;
    EXPECT_EQ(SKF_DigestInit(reinterpret_cast<HANDLE>(0x99), SGD_SM3, nullptr, nullptr, 0, &unused),
              SAR_INVALIDHANDLEERR);

    struct Case {
        uint8_t ins;
        uint16_t status;
        ULONG expected;
    };
    const Case cases[] = {
        {ins::kDigestInit, 0x6982, SAR_USER_NOT_LOGGED_IN},
        {ins::kDigestInit, 0x6A88, SAR_OBJERR},
        {ins::kDigestInit, 0x6A8C, SAR_KEYNOTFOUNTERR},
        {ins::kDigestInit, 0x6A94, SAR_FILE_NOT_EXIST},
        {ins::kDigestInit, 0x6A9D, SAR_INVALIDPARAMERR},
        {ins::kDigestInit, 0x6A81, SAR_FAIL},
        {ins::kDigestUpdate, 0x6A9D, SAR_INVALIDPARAMERR},
        {ins::kDigestUpdate, 0x6985, SAR_FAIL},
        {ins::kDigestFinal, 0x6A88, SAR_OBJERR},
        {ins::kDigestFinal, 0x6700, SAR_FAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.ins) << " " << c.status);
        HANDLE hash = nullptr;
        if (c.ins == ins::kDigestInit) {
            ForceStatus(c.ins, c.status);
            EXPECT_EQ(SKF_DigestInit(m_dev, SGD_SM3, nullptr, nullptr, 0, &hash), c.expected);
            EXPECT_EQ(hash, nullptr);
            continue;
        }
        hash = Init(SGD_SM3);
        ForceStatus(c.ins, c.status);
        ULONG len = 32;
        EXPECT_EQ(SKF_Digest(hash, data, 4, out, &len), c.expected);
    }
    // The second piece fails: the call stops there.
    HANDLE hash = Init(SGD_SM3);
    const ByteVec big = Pattern(4100);
    ForceStatus(ins::kDigestUpdate, 0x9000);
    ForceStatus(ins::kDigestUpdate, 0x6982);
    TraceLines(m_token, true);
    EXPECT_EQ(SKF_DigestUpdate(hash, const_cast<BYTE*>(big.data()), 4100), SAR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(CommandsWithIns(TraceLines(m_token), ins::kDigestUpdate).size(), 2u);

    // A token that answers a digest of the wrong length is not believed.
    hash = Init(SGD_SHA256);
    ByteVec outLong(32, 0xEE);
    ULONG len = 32;
    Fault(m_token, {"truncate:12"});
    EXPECT_NE(SKF_DigestFinal(hash, outLong.data(), &len), SAR_OK);
    EXPECT_TRUE(std::all_of(outLong.begin(), outLong.end(), [](BYTE b) { return b == 0xEE; }));
}

} // namespace
} // namespace keycore::test
