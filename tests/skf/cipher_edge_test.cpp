// The held-back bytes and the padding of the streaming cipher calls at their edges, where the key
// lives (loose or in a container), and the token's cipher chain of a loose key.
#include "cipher_support.h"

namespace keycore::test {
namespace {

class CipherEdgeTest : public SessionKeyTest {
protected:
    void SetUp() override {
        SessionKeyTest::SetUp();
        m_ecb = SetKey(KeyPlace::Loose, SGD_SM4_ECB, m_key);
        ASSERT_NE(m_ecb, nullptr);
    }

    ByteVec EcbNoPad(const ByteVec& in, bool encrypt = true) {
        return OpenSslSm4(false, encrypt, false, m_key, {}, in);
    }

    ULONG Update(HANDLE key, bool encrypt, const ByteVec& in, ByteVec* out, ULONG capacity = 8192) {
        out->assign(capacity, 0);
        ULONG len = capacity;
        BYTE* data = const_cast<BYTE*>(in.data());
        const ULONG rv = encrypt ? SKF_EncryptUpdate(key, data, static_cast<ULONG>(in.size()), out->data(), &len)
                                 : SKF_DecryptUpdate(key, data, static_cast<ULONG>(in.size()), out->data(), &len);
        out->resize(rv == SAR_OK ? len : 0);
        return rv;
    }

    ULONG Final(HANDLE key, bool encrypt, ByteVec* out) {
        out->assign(16, 0);
        ULONG len = 16;
        const ULONG rv = encrypt ? SKF_EncryptFinal(key, out->data(), &len) : SKF_DecryptFinal(key, out->data(), &len);
        out->resize(rv == SAR_OK ? len : 0);
        return rv;
    }

    HANDLE m_ecb = nullptr;
};

TEST_F(CipherEdgeTest, EncryptWithPaddingGivesTheWholeBlocksAndOnePaddedBlock) {
    struct Case {
        size_t len;
        size_t cipherLen;
        BYTE padByte;
    };
    const Case cases[] = {{20, 32, 0x0C}, {32, 48, 0x10}, {5, 16, 0x0B}, {1, 16, 0x0F}, {15, 16, 0x01}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.len);
        const ByteVec plain = Pattern(c.len);
        ASSERT_EQ(SKF_EncryptInit(m_ecb, CipherParam({}, 1)), SAR_OK);
        ByteVec cipher(64);
        ULONG len = static_cast<ULONG>(cipher.size());
        ASSERT_EQ(SKF_Encrypt(m_ecb, const_cast<BYTE*>(plain.data()), static_cast<ULONG>(c.len), cipher.data(), &len),
                  SAR_OK);
        ASSERT_EQ(len, c.cipherLen);
        cipher.resize(len);
        const ByteVec opened = EcbNoPad(cipher, false);
        EXPECT_TRUE(std::equal(plain.begin(), plain.end(), opened.begin()));
        EXPECT_TRUE(std::all_of(opened.begin() + static_cast<std::ptrdiff_t>(c.len), opened.end(),
                                [&](BYTE b) { return b == c.padByte; }));
    }
}

TEST_F(CipherEdgeTest, WithoutPaddingShortInputIsRefusedAndHeldBytesSurvive) {
    ASSERT_EQ(SKF_EncryptInit(m_ecb, CipherParam({}, 0)), SAR_OK);
    ByteVec twenty = Pattern(20);
    ULONG len = 64;
    ByteVec out(64);
    EXPECT_EQ(SKF_Encrypt(m_ecb, twenty.data(), 20, out.data(), &len), SAR_INDATAERR);

    const ByteVec message = Pattern(32, 3);
    ByteVec first;
    ASSERT_EQ(Update(m_ecb, true, ByteVec(message.begin(), message.begin() + 20), &first), SAR_OK);
    EXPECT_EQ(first.size(), 16u) << "4 bytes held back";
    ByteVec refused;
    EXPECT_EQ(Update(m_ecb, true, ByteVec(8, 0x55), &refused), SAR_INVALIDPARAMERR)
        << "4 held + 8 new is less than a block";
    ByteVec second;
    ASSERT_EQ(Update(m_ecb, true, ByteVec(message.begin() + 20, message.end()), &second), SAR_OK);
    ByteVec last;
    ASSERT_EQ(Final(m_ecb, true, &last), SAR_OK);
    EXPECT_TRUE(last.empty());
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_EQ(first, EcbNoPad(message)) << "the refused call lost none of the held-back bytes";
}

TEST_F(CipherEdgeTest, EncryptUpdateKeepsProvisionalPaddingThatTheNextUpdateDrops) {
    ASSERT_EQ(SKF_EncryptInit(m_ecb, CipherParam({}, 1)), SAR_OK);
    const ByteVec message = Pattern(45, 5);
    ByteVec out;
    ULONG queried = 0;
    // Size queries change nothing, however often they are asked.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(SKF_EncryptUpdate(m_ecb, const_cast<BYTE*>(message.data()), 20, nullptr, &queried), SAR_OK);
        EXPECT_EQ(queried, 16u);
    }
    ByteVec piece;
    ASSERT_EQ(Update(m_ecb, true, ByteVec(message.begin(), message.begin() + 20), &piece), SAR_OK);
    out = piece;
    ULONG finalLen = 0;
    ASSERT_EQ(SKF_EncryptFinal(m_ecb, nullptr, &finalLen), SAR_OK);
    EXPECT_EQ(finalLen, 16u) << "the held 4 bytes with their provisional padding";
    ASSERT_EQ(Update(m_ecb, true, ByteVec(message.begin() + 20, message.begin() + 25), &piece), SAR_OK);
    EXPECT_EQ(piece.size(), 0u) << "9 bytes wait for more";
    out.insert(out.end(), piece.begin(), piece.end());
    ASSERT_EQ(Update(m_ecb, true, ByteVec(message.begin() + 25, message.end()), &piece), SAR_OK);
    EXPECT_EQ(piece.size(), 16u);
    out.insert(out.end(), piece.begin(), piece.end());

    // A final with too little room keeps the operation going.
    ByteVec small(8);
    ULONG smallLen = static_cast<ULONG>(small.size());
    EXPECT_EQ(SKF_EncryptFinal(m_ecb, small.data(), &smallLen), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(smallLen, 16u);
    ASSERT_EQ(Final(m_ecb, true, &piece), SAR_OK);
    out.insert(out.end(), piece.begin(), piece.end());
    EXPECT_EQ(out, OpenSslSm4(false, true, true, m_key, {}, message));
}

TEST_F(CipherEdgeTest, DecryptUpdateHoldsBackTheLastBlockAndShortInput) {
    const ByteVec plain = Pattern(20, 11);
    const ByteVec cipher = OpenSslSm4(false, true, true, m_key, {}, plain);
    ASSERT_EQ(cipher.size(), 32u);

    ASSERT_EQ(SKF_DecryptInit(m_ecb, CipherParam({}, 1)), SAR_OK);
    ByteVec got;
    ASSERT_EQ(Update(m_ecb, false, cipher, &got), SAR_OK);
    EXPECT_EQ(got, ByteVec(plain.begin(), plain.begin() + 16)) << "16 returned, 16 held back";
    ULONG bound = 0;
    ASSERT_EQ(SKF_DecryptFinal(m_ecb, nullptr, &bound), SAR_OK);
    EXPECT_EQ(bound, 16u);
    ByteVec last;
    ASSERT_EQ(Final(m_ecb, false, &last), SAR_OK);
    EXPECT_EQ(last, ByteVec(plain.begin() + 16, plain.end())) << "the padding is gone";

    ASSERT_EQ(SKF_DecryptInit(m_ecb, CipherParam({}, 1)), SAR_OK);
    ASSERT_EQ(Update(m_ecb, false, ByteVec(cipher.begin(), cipher.begin() + 10), &got), SAR_OK);
    EXPECT_TRUE(got.empty()) << "10 bytes stay for the next call";
    ASSERT_EQ(Update(m_ecb, false, ByteVec(cipher.begin() + 10, cipher.end()), &got), SAR_OK);
    EXPECT_EQ(got, ByteVec(plain.begin(), plain.begin() + 16));
    ASSERT_EQ(Final(m_ecb, false, &last), SAR_OK);
    EXPECT_EQ(last, ByteVec(plain.begin() + 16, plain.end()));
}

TEST_F(CipherEdgeTest, LastBlockWithoutValidPaddingIsReturnedWhole) {
    struct Case {
        const char* what;
        ByteVec block;
    };
    ByteVec endsIn11 = Pattern(16);
    endsIn11[15] = 0x11;
    ByteVec endsIn00 = Pattern(16);
    endsIn00[15] = 0x00;
    ByteVec uneven = Pattern(16);
    uneven[13] = 0x07;
    uneven[14] = 0x03;
    uneven[15] = 0x03;
    const Case cases[] = {{"last byte 0x11", endsIn11}, {"last byte 0x00", endsIn00}, {"03 03 after 07", uneven}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ByteVec cipher = EcbNoPad(c.block);
        ASSERT_EQ(SKF_DecryptInit(m_ecb, CipherParam({}, 1)), SAR_OK);
        ByteVec out(16);
        ULONG len = 16;
        ASSERT_EQ(SKF_Decrypt(m_ecb, cipher.data(), 16, out.data(), &len), SAR_OK);
        EXPECT_EQ(len, 16u);
        EXPECT_EQ(out, c.block);
    }
}

TEST_F(CipherEdgeTest, DecryptChecksTheRoomForTheLastBlockBeforeSpendingIt) {
    const ByteVec plain = Pattern(20, 13);
    ByteVec cipher = OpenSslSm4(false, true, true, m_key, {}, plain);
    ASSERT_EQ(SKF_DecryptInit(m_ecb, CipherParam({}, 1)), SAR_OK);
    ULONG query = 0;
    ASSERT_EQ(SKF_Decrypt(m_ecb, cipher.data(), 32, nullptr, &query), SAR_OK);
    EXPECT_EQ(query, 32u) << "room for both blocks, since the padding is known only afterwards";
    ByteVec out(32, 0xEE);
    ULONG len = 20;
    TraceLines(m_token, true);
    EXPECT_EQ(SKF_Decrypt(m_ecb, cipher.data(), 32, out.data(), &len), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 32u);
    EXPECT_TRUE(CommandsWithIns(TraceLines(m_token), ins::kCipherWithIv).empty()) << "nothing was sent";
    len = 32;
    ASSERT_EQ(SKF_Decrypt(m_ecb, cipher.data(), 32, out.data(), &len), SAR_OK);
    out.resize(len);
    EXPECT_EQ(out, plain);
}

TEST_F(CipherEdgeTest, NewInitDiscardsHeldBackBytes) {
    ASSERT_EQ(SKF_EncryptInit(m_ecb, CipherParam({}, 1)), SAR_OK);
    ByteVec out;
    ASSERT_EQ(Update(m_ecb, true, Pattern(7, 1), &out), SAR_OK);
    ASSERT_EQ(SKF_EncryptInit(m_ecb, CipherParam({}, 1)), SAR_OK);
    const ByteVec message = Pattern(3, 2);
    ASSERT_EQ(Update(m_ecb, true, message, &out), SAR_OK);
    ByteVec last;
    ASSERT_EQ(Final(m_ecb, true, &last), SAR_OK);
    EXPECT_EQ(last, OpenSslSm4(false, true, true, m_key, {}, message));
}

// A loose key's IV travels with every command; the token chains commands with the same key and IV,
// so each decryption must end its chain or the next one would go on from the old state.
TEST_F(CipherEdgeTest, LooseKeyDecryptionsWithTheSameIvStartAfresh) {
    HANDLE cbc = SetKey(KeyPlace::Loose, SGD_SM4_CBC, m_key);
    for (const ULONG padding : {0u, 1u}) {
        SCOPED_TRACE(padding);
        for (unsigned seed : {1u, 2u, 3u}) {
            const ByteVec plain = Pattern(48, seed);
            ByteVec cipher = OpenSslSm4(true, true, padding == 1, m_key, m_iv, plain);
            ASSERT_EQ(SKF_DecryptInit(cbc, CipherParam(m_iv, padding)), SAR_OK);
            ByteVec out(cipher.size());
            ULONG len = static_cast<ULONG>(out.size());
            ASSERT_EQ(SKF_Decrypt(cbc, cipher.data(), static_cast<ULONG>(cipher.size()), out.data(), &len), SAR_OK);
            out.resize(len);
            EXPECT_EQ(out, plain) << "message " << seed;
        }
    }
}

TEST_F(CipherEdgeTest, InitRefusesPaddingTypesAndIvLengthsItCannotKeep) {
    HANDLE container = SetKey(KeyPlace::Container, SGD_SM4_CBC, m_key);
    for (HANDLE key : {m_ecb, container}) {
        TraceLines(m_token, true);
        BLOCKCIPHERPARAM param = CipherParam(m_iv, 2);
        EXPECT_EQ(SKF_EncryptInit(key, param), SAR_INVALIDPARAMERR);
        EXPECT_EQ(SKF_DecryptInit(key, param), SAR_INVALIDPARAMERR);
        param = CipherParam(m_iv, 1);
        param.IVLen = 33;
        EXPECT_EQ(SKF_EncryptInit(key, param), SAR_INVALIDPARAMERR);
        param.IVLen = 32;
        param.PaddingType = 0xFFFFFFFF;
        EXPECT_EQ(SKF_DecryptInit(key, param), SAR_INVALIDPARAMERR);
        EXPECT_TRUE(CommandsWithIns(TraceLines(m_token), ins::kEncryptInit).empty());
        // Nothing was started: the key still refuses to encrypt.
        ByteVec data = Pattern(16);
        ULONG len = 32;
        ByteVec out(32);
        EXPECT_EQ(SKF_Encrypt(key, data.data(), 16, out.data(), &len), SAR_FAIL);
    }
}

// Where SKF_SetSymmKey puts the key: the plain form on a device without applications or in an
// application without containers, the container form in the first container. A MAC init shows which
// application and container the handle names.
class SetSymmKeyPlaceTest : public SessionKeyTest, public ::testing::WithParamInterface<int> {
protected:
    std::vector<std::string> PlugOptions() const override {
        return GetParam() == 0 ? std::vector<std::string>{"--blank"} : std::vector<std::string>{};
    }
    bool OpenDefaultApplication() const override { return GetParam() != 0; }
};

TEST_P(SetSymmKeyPlaceTest, KeyGoesWhereTheDeviceHasRoomForIt) {
    if (GetParam() == 2) {
        VerifyUserPin();
        ASSERT_EQ(SKF_CreateContainer(m_app, Text("first"), &m_container), SAR_OK);
    }
    TraceLines(m_token, true);
    HANDLE key = nullptr;
    ASSERT_EQ(SKF_SetSymmKey(m_dev, const_cast<BYTE*>(m_key.data()), SGD_SM4_ECB, &key), SAR_OK);
    const std::vector<std::string> trace = TraceLines(m_token, true);
    const auto plain = CommandsWithIns(trace, ins::kSetSymmKeyPlain);
    const auto inContainer = CommandsWithIns(trace, ins::kSetSymmKey);
    ASSERT_EQ(plain.size() + inContainer.size(), 1u);
    EXPECT_EQ(inContainer.size(), GetParam() == 2 ? 1u : 0u);

    BLOCKCIPHERPARAM param = CipherParam(m_iv, 0);
    HANDLE mac = nullptr;
    ASSERT_EQ(SKF_MacInit(key, &param, &mac), SAR_OK);
    const auto macInit = CommandsWithIns(TraceLines(m_token), ins::kMacInit);
    ASSERT_EQ(macInit.size(), 1u);
    ASSERT_GE(macInit[0].size(), 11u);
    const unsigned appId = macInit[0][7] << 8 | macInit[0][8];
    const unsigned conId = macInit[0][9] << 8 | macInit[0][10];
    if (GetParam() == 0)
        EXPECT_EQ(appId, 0u) << "no application";
    else
        EXPECT_NE(appId, 0u);
    EXPECT_EQ(conId == 0xFFFF, GetParam() != 2);

    // The key works wherever it went.
    const ByteVec plainText = Pattern(32);
    ASSERT_EQ(SKF_EncryptInit(key, CipherParam({}, 0)), SAR_OK);
    ByteVec out(32);
    ULONG len = 32;
    ASSERT_EQ(SKF_Encrypt(key, const_cast<BYTE*>(plainText.data()), 32, out.data(), &len), SAR_OK);
    EXPECT_EQ(out, OpenSslSm4(false, true, false, m_key, {}, plainText));
}

std::string DeviceShapeName(const ::testing::TestParamInfo<int>& shape) {
    static const char* const kShapes[] = {"BlankDevice", "ApplicationWithoutContainers", "FirstContainer"};
    return kShapes[shape.param];
}

INSTANTIATE_TEST_SUITE_P(Devices, SetSymmKeyPlaceTest, ::testing::Values(0, 1, 2), DeviceShapeName);

} // namespace
} // namespace keycore::test
