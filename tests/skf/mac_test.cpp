// MACs with session keys on a virtual token compared with an SM4-CBC-MAC by OpenSSL (the last block
// padded with 0x80 and zeros, whole blocks unpadded): in one call and across updates, the blocks the
// token receives, and the errors.
#include "cipher_support.h"

#include <functional>

namespace keycore::test {
namespace {

class MacTest : public SessionKeyTest, public ::testing::WithParamInterface<KeyPlace> {
protected:
    void SetUp() override {
        SessionKeyTest::SetUp();
        m_keyHandle = SetKey(GetParam(), SGD_SM4_MAC, m_key);
        ASSERT_NE(m_keyHandle, nullptr);
    }

    HANDLE Init(const ByteVec& iv) {
        BLOCKCIPHERPARAM param = CipherParam(iv, 0);
        HANDLE mac = nullptr;
        EXPECT_EQ(SKF_MacInit(m_keyHandle, &param, &mac), SAR_OK);
        return mac;
    }

    HANDLE m_keyHandle = nullptr;
};

TEST_P(MacTest, MacEqualsCbcMacWithPaddingInOneCallAndAcrossUpdates) {
    for (const size_t len : {1u, 15u, 16u, 20u, 32u, 2016u, 2017u, 4100u}) {
        SCOPED_TRACE(len);
        const ByteVec data = Pattern(len, static_cast<unsigned>(len));
        const ByteVec expected = OpenSslSm4CbcMac(m_key, m_iv, data);

        HANDLE mac = Init(m_iv);
        ULONG macLen = 0;
        ASSERT_EQ(SKF_Mac(mac, const_cast<BYTE*>(data.data()), static_cast<ULONG>(len), nullptr, &macLen), SAR_OK);
        EXPECT_EQ(macLen, 16u);
        ByteVec out(20, 0xEE);
        macLen = static_cast<ULONG>(out.size());
        ASSERT_EQ(SKF_Mac(mac, const_cast<BYTE*>(data.data()), static_cast<ULONG>(len), out.data(), &macLen), SAR_OK);
        EXPECT_EQ(macLen, 16u);
        EXPECT_EQ(ByteVec(out.begin(), out.begin() + 16), expected);
        EXPECT_EQ(out[16], 0xEE);
        EXPECT_EQ(SKF_CloseHandle(mac), SAR_OK);

        for (const size_t piece : {1u, 7u, 16u, 17u, 2500u}) {
            SCOPED_TRACE(piece);
            mac = Init(m_iv);
            for (size_t offset = 0; offset < len; offset += piece) {
                const ULONG n = static_cast<ULONG>(std::min(piece, len - offset));
                ASSERT_EQ(SKF_MacUpdate(mac, const_cast<BYTE*>(data.data() + offset), n), SAR_OK);
            }
            ByteVec tag(16);
            macLen = 16;
            ASSERT_EQ(SKF_MacFinal(mac, tag.data(), &macLen), SAR_OK);
            EXPECT_EQ(tag, expected);
        }
    }
    // An IV of zeros is what no IV means.
    const ByteVec data = Pattern(40);
    HANDLE mac = Init({});
    ByteVec tag(16);
    ULONG macLen = 16;
    ASSERT_EQ(SKF_Mac(mac, const_cast<BYTE*>(data.data()), 40, tag.data(), &macLen), SAR_OK);
    EXPECT_EQ(tag, OpenSslSm4CbcMac(m_key, ByteVec(16, 0), data));
}

TEST_P(MacTest, WholeBlocksGoAtOnceAndTheFinalSendsThePaddedRest) {
    HANDLE mac = Init(m_iv);
    const ByteVec data = Pattern(20);
    TraceLines(m_token, true);
    ASSERT_EQ(SKF_MacUpdate(mac, const_cast<BYTE*>(data.data()), 20), SAR_OK);
    ByteVec tag(16);
    ULONG len = 16;
    ASSERT_EQ(SKF_MacFinal(mac, tag.data(), &len), SAR_OK);
    const std::vector<std::string> trace = TraceLines(m_token);
    // 80 C0 00 00 | 00 Lc Lc | app ctr key | data
    const auto updates = CommandsWithIns(trace, ins::kMacUpdate);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(ByteVec(updates[0].begin() + 13, updates[0].end()), ByteVec(data.begin(), data.begin() + 16));
    const auto finals = CommandsWithIns(trace, ins::kMacFinal);
    ASSERT_EQ(finals.size(), 1u);
    ASSERT_EQ(finals[0].size(), 13u + 16u + 2u);
    ByteVec last(data.begin() + 16, data.end());
    last.push_back(0x80);
    last.resize(16, 0x00);
    EXPECT_EQ(ByteVec(finals[0].begin() + 13, finals[0].begin() + 29), last);

    // 4100 bytes: two pieces of 2016 and one of 64, 4 bytes kept.
    mac = Init(m_iv);
    const ByteVec big = Pattern(4100);
    TraceLines(m_token, true);
    ASSERT_EQ(SKF_MacUpdate(mac, const_cast<BYTE*>(big.data()), 4100), SAR_OK);
    std::vector<size_t> pieces;
    for (const auto& c : CommandsWithIns(TraceLines(m_token), ins::kMacUpdate))
        pieces.push_back(c.size() - 13);
    EXPECT_EQ(pieces, (std::vector<size_t>{2016, 2016, 64}));
}

TEST_P(MacTest, ArgumentsHandlesAndShortBuffers) {
    HANDLE mac = Init(m_iv);
    BYTE data[20] = {};
    BYTE out[16];
    ULONG len = 16;
    BLOCKCIPHERPARAM param = CipherParam(m_iv, 0);
    HANDLE unused = nullptr;
    EXPECT_EQ(SKF_MacInit(nullptr, &param, &unused), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_MacInit(m_keyHandle, nullptr, &unused), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_MacInit(m_keyHandle, &param, nullptr), SAR_INVALIDPARAMERR);
    param.IVLen = 33;
    EXPECT_EQ(SKF_MacInit(m_keyHandle, &param, &unused), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_MacUpdate(nullptr, data, 20), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_MacUpdate(mac, nullptr, 20), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_MacFinal(nullptr, out, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_MacFinal(mac, out, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_Mac(nullptr, data, 20, out, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_Mac(mac, nullptr, 20, out, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_Mac(mac, data, 0, out, &len), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_Mac(mac, data, 20, out, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_MacUpdate(mac, data, 0), SAR_FAIL) << "no data at all on a fresh handle";

    HANDLE hash = nullptr;
    ASSERT_EQ(SKF_DigestInit(m_dev, SGD_SM3, nullptr, nullptr, 0, &hash), SAR_OK);
    for (HANDLE notMac : {m_keyHandle, hash, static_cast<HANDLE>(m_dev), reinterpret_cast<HANDLE>(0x77)}) {
        len = 16;
        EXPECT_EQ(SKF_MacUpdate(notMac, data, 20), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(SKF_MacFinal(notMac, out, &len), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(SKF_Mac(notMac, data, 20, out, &len), SAR_INVALIDHANDLEERR);
    }
    param.IVLen = 16;
    for (HANDLE notKey : {mac, hash, static_cast<HANDLE>(m_app), reinterpret_cast<HANDLE>(0x77)})
        EXPECT_EQ(SKF_MacInit(notKey, &param, &unused), SAR_INVALIDHANDLEERR);

    // Too little room: refused before the data reach the token, and nothing is spent.
    const ByteVec message = Pattern(20);
    len = 8;
    EXPECT_EQ(SKF_Mac(mac, const_cast<BYTE*>(message.data()), 20, out, &len), SAR_BUFFER_TOO_SMALL);
    len = 8;
    EXPECT_EQ(SKF_MacFinal(mac, out, &len), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 8u) << "the length is not written";
    len = 16;
    ASSERT_EQ(SKF_Mac(mac, const_cast<BYTE*>(message.data()), 20, out, &len), SAR_OK);
    EXPECT_EQ(ByteVec(out, out + 16), OpenSslSm4CbcMac(m_key, m_iv, message));
}

TEST_P(MacTest, StatusWordsOfTheMacCommands) {
    struct Case {
        const char* what;
        uint8_t ins;
        uint16_t status;
        ULONG expected;
    };
    const Case cases[] = {
        {"init 6982", ins::kMacInit, 0x6982, SAR_USER_NOT_LOGGED_IN},
        {"init 6A8C", ins::kMacInit, 0x6A8C, SAR_KEYNOTFOUNTERR},
        {"init 6A80", ins::kMacInit, 0x6A80, SAR_FAIL},
        {"update 6A88", ins::kMacUpdate, 0x6A88, SAR_OBJERR},
        {"update 6700", ins::kMacUpdate, 0x6700, SAR_FAIL},
        {"final 6A8C", ins::kMacFinal, 0x6A8C, SAR_KEYNOTFOUNTERR},
        {"final 6982", ins::kMacFinal, 0x6982, SAR_USER_NOT_LOGGED_IN},
    };
    const ByteVec data = Pattern(20);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.ins == ins::kMacInit) {
            ForceStatus(c.ins, c.status);
            BLOCKCIPHERPARAM param = CipherParam(m_iv, 0);
            HANDLE mac = nullptr;
            EXPECT_EQ(SKF_MacInit(m_keyHandle, &param, &mac), c.expected);
            EXPECT_EQ(mac, nullptr);
            continue;
        }
        HANDLE mac = Init(m_iv);
        ForceStatus(c.ins, c.status);
        BYTE out[16];
        ULONG len = 16;
        EXPECT_EQ(SKF_Mac(mac, const_cast<BYTE*>(data.data()), 20, out, &len), c.expected);
    }
    // 0x6A94 on a container key re-opens the container and tries again; a loose key has no container to
    // re-open.
    HANDLE mac = Init(m_iv);
    ForceStatus(ins::kMacUpdate, 0x6A94);
    BYTE out[16];
    ULONG len = 16;
    const ULONG rv = SKF_Mac(mac, const_cast<BYTE*>(data.data()), 20, out, &len);
    if (GetParam() == KeyPlace::Container) {
        ASSERT_EQ(rv, SAR_OK);
        EXPECT_EQ(ByteVec(out, out + 16), OpenSslSm4CbcMac(m_key, m_iv, data));
    } else {
        EXPECT_EQ(rv, SAR_FILE_NOT_EXIST);
    }
}

INSTANTIATE_TEST_SUITE_P(Places, MacTest, ::testing::Values(KeyPlace::Loose, KeyPlace::Container),
                         [](const ::testing::TestParamInfo<KeyPlace>& place) {
                             return std::string(PlaceName(place.param));
                         });

} // namespace
} // namespace keycore::test
