// SM4 through session keys on a virtual token, compared with OpenSSL: whole messages through
// SKF_Encrypt/SKF_Decrypt and streams cut into awkward pieces through update/final, for a loose key
// and a key in a container, over both USB framings.
#include "cipher_support.h"

#include <tuple>

namespace keycore::test {
namespace {

struct Mode {
    const char* name;
    ULONG algId;
    bool cbc;
};
constexpr Mode kModes[] = {{"ECB", SGD_SM4_ECB, false}, {"CBC", SGD_SM4_CBC, true}};

class CipherStreamTest : public SessionKeyTest,
                         public ::testing::WithParamInterface<std::tuple<KeyPlace, const char*>> {
protected:
    std::vector<std::string> PlugOptions() const override { return {"--kind", std::get<1>(GetParam())}; }
    KeyPlace Place() const { return std::get<0>(GetParam()); }

    HANDLE Key(const Mode& mode) {
        HANDLE& key = m_keys[mode.cbc ? 1 : 0];
        if (key == nullptr)
            key = SetKey(Place(), mode.algId, m_key);
        return key;
    }

    ByteVec Iv(const Mode& mode) const { return mode.cbc ? m_iv : ByteVec(); }

    // Update calls of `piece` bytes, then the final; the concatenated output.
    ByteVec Stream(HANDLE key, bool encrypt, const ByteVec& in, size_t piece) {
        ByteVec out;
        for (size_t offset = 0; offset < in.size(); offset += piece) {
            const size_t len = std::min(piece, in.size() - offset);
            ULONG outLen = 0;
            BYTE* data = const_cast<BYTE*>(in.data() + offset);
            const ULONG query = encrypt ? SKF_EncryptUpdate(key, data, static_cast<ULONG>(len), nullptr, &outLen)
                                        : SKF_DecryptUpdate(key, data, static_cast<ULONG>(len), nullptr, &outLen);
            EXPECT_EQ(query, SAR_OK) << "size query at " << offset;
            ByteVec chunk(outLen + 1, 0xEE);
            ULONG got = outLen;
            const ULONG rv = encrypt ? SKF_EncryptUpdate(key, data, static_cast<ULONG>(len), chunk.data(), &got)
                                     : SKF_DecryptUpdate(key, data, static_cast<ULONG>(len), chunk.data(), &got);
            EXPECT_EQ(rv, SAR_OK) << "update at " << offset;
            EXPECT_EQ(got, outLen) << "the size query told the truth at " << offset;
            EXPECT_EQ(chunk[outLen], 0xEE) << "nothing written past the length at " << offset;
            out.insert(out.end(), chunk.begin(), chunk.begin() + got);
            if (rv != SAR_OK)
                return out;
        }
        ULONG lastLen = 0;
        EXPECT_EQ(encrypt ? SKF_EncryptFinal(key, nullptr, &lastLen) : SKF_DecryptFinal(key, nullptr, &lastLen),
                  SAR_OK);
        ByteVec last(16, 0xEE);
        ULONG got = static_cast<ULONG>(last.size());
        EXPECT_EQ(encrypt ? SKF_EncryptFinal(key, last.data(), &got) : SKF_DecryptFinal(key, last.data(), &got),
                  SAR_OK);
        EXPECT_LE(got, lastLen);
        out.insert(out.end(), last.begin(), last.begin() + got);
        return out;
    }

    HANDLE m_keys[2] = {};
};

TEST_P(CipherStreamTest, WholeMessagesEqualOpenSslAndDecryptBack) {
    for (const Mode& mode : kModes) {
        for (const ULONG padding : {1u, 0u}) {
            for (const size_t len : {16u, 20u, 32u, 100u, 2016u, 2017u, 4100u, 4112u}) {
                if (padding == 0 && len % 16 != 0)
                    continue;
                SCOPED_TRACE(std::string(mode.name) + " padding " + std::to_string(padding) + " length " +
                             std::to_string(len));
                const ByteVec plain = Pattern(len, static_cast<unsigned>(len));
                const ByteVec expected = OpenSslSm4(mode.cbc, true, padding == 1, m_key, m_iv, plain);
                HANDLE key = Key(mode);
                ASSERT_EQ(SKF_EncryptInit(key, CipherParam(Iv(mode), padding)), SAR_OK);
                ULONG size = 0;
                ASSERT_EQ(SKF_Encrypt(key, const_cast<BYTE*>(plain.data()), static_cast<ULONG>(len), nullptr, &size),
                          SAR_OK);
                EXPECT_EQ(size, expected.size());
                ByteVec cipher(size);
                ASSERT_EQ(
                    SKF_Encrypt(key, const_cast<BYTE*>(plain.data()), static_cast<ULONG>(len), cipher.data(), &size),
                    SAR_OK);
                cipher.resize(size);
                EXPECT_EQ(cipher, expected);

                ASSERT_EQ(SKF_DecryptInit(key, CipherParam(Iv(mode), padding)), SAR_OK);
                ULONG plainLen = 0;
                ASSERT_EQ(SKF_Decrypt(key, cipher.data(), static_cast<ULONG>(cipher.size()), nullptr, &plainLen),
                          SAR_OK);
                EXPECT_GE(plainLen, len) << "the size query covers the whole plain text";
                ByteVec back(plainLen);
                ASSERT_EQ(SKF_Decrypt(key, cipher.data(), static_cast<ULONG>(cipher.size()), back.data(), &plainLen),
                          SAR_OK);
                back.resize(plainLen);
                EXPECT_EQ(back, plain);
            }
        }
    }
}

TEST_P(CipherStreamTest, UpdatePiecesOfAwkwardSizesEqualOpenSsl) {
    for (const Mode& mode : kModes) {
        for (const ULONG padding : {1u, 0u}) {
            for (const size_t piece : {1u, 15u, 16u, 17u, 4100u}) {
                // Without padding every update must reach a whole block.
                if (padding == 0 && piece < 16)
                    continue;
                const size_t len = padding == 1 ? (piece == 1 ? 77u : 4133u) : 4160u;
                SCOPED_TRACE(std::string(mode.name) + " padding " + std::to_string(padding) + " pieces of " +
                             std::to_string(piece));
                const ByteVec plain = Pattern(len, static_cast<unsigned>(piece));
                const ByteVec expected = OpenSslSm4(mode.cbc, true, padding == 1, m_key, m_iv, plain);
                HANDLE key = Key(mode);
                ASSERT_EQ(SKF_EncryptInit(key, CipherParam(Iv(mode), padding)), SAR_OK);
                const ByteVec cipher = Stream(key, true, plain, piece);
                EXPECT_EQ(cipher, expected);

                ASSERT_EQ(SKF_DecryptInit(key, CipherParam(Iv(mode), padding)), SAR_OK);
                EXPECT_EQ(Stream(key, false, expected, piece), plain);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PlacesAndFramings, CipherStreamTest,
                         ::testing::Combine(::testing::Values(KeyPlace::Loose, KeyPlace::Container),
                                            ::testing::Values("bot", "hid")),
                         [](const auto& paramInfo) {
                             return std::string(PlaceName(std::get<0>(paramInfo.param))) + "_" +
                                    std::get<1>(paramInfo.param);
                         });

} // namespace
} // namespace keycore::test
