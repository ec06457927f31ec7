// Random bytes, device authentication with the card's key computed here with OpenSSL's SM4, and the
// change of that key through the SM2 key transport, over a virtual token.
#include "storage_fixture.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace keycore::test {
namespace {

constexpr uint8_t kInsDevAuth = 0x10;
constexpr uint8_t kInsChangeDevAuthKey = 0x12;
constexpr uint8_t kInsDevKeyTransport = 0x03;
constexpr uint8_t kInsGenRandom = 0x50;

class SkfDeviceAuthTest : public SkfStorageTest, public ::testing::WithParamInterface<const char*> {
protected:
    std::vector<std::string> PlugOptions() const override { return {"--kind", GetParam()}; }
    bool OpenDefaultApplication() const override { return false; }

    // The authentication value for a 16-byte key: the token's 8-byte challenge and 8 zero bytes,
    // one SM4 block.
    ULONG AuthenticateWith(const std::string& key) {
        BYTE block[16] = {};
        const ULONG rv = SKF_GenRandom(m_dev, block, 8);
        if (rv != SAR_OK)
            return rv;
        BYTE value[16] = {};
        int outLen = 0;
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, reinterpret_cast<const unsigned char*>(key.data()), nullptr);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_EncryptUpdate(ctx, value, &outLen, block, sizeof block);
        EVP_CIPHER_CTX_free(ctx);
        return SKF_DevAuth(m_dev, value, sizeof value);
    }

    // The data lengths asked of the token by each random command since the trace was cleared.
    std::vector<int> RandomCommandLengths() {
        std::vector<int> lengths;
        for (const std::string& line : TraceLines(m_token)) {
            // "> 8050000000LLLL"
            if (line.rfind("> 8050", 0) == 0 && line.size() >= 16)
                lengths.push_back(std::stoi(line.substr(12, 4), nullptr, 16));
        }
        return lengths;
    }
};

TEST_P(SkfDeviceAuthTest, RandomArgumentsAndHandles) {
    BYTE random[8];
    EXPECT_EQ(SKF_GenRandom(nullptr, random, sizeof random), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_GenRandom(m_dev, nullptr, sizeof random), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_GenRandom(m_dev, random, 0), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_GenRandom(reinterpret_cast<DEVHANDLE>(0x10), random, sizeof random), SAR_INVALIDHANDLEERR);
    ForceStatus(kInsGenRandom, 0x6A88);
    EXPECT_EQ(SKF_GenRandom(m_dev, random, sizeof random), SAR_FAIL);
}

TEST_P(SkfDeviceAuthTest, LongRandomComesInPiecesOf2000Bytes) {
    std::vector<BYTE> first(5000, 0);
    std::vector<BYTE> second(5000, 0);
    TraceLines(m_token, true);
    ASSERT_EQ(SKF_GenRandom(m_dev, first.data(), static_cast<ULONG>(first.size())), SAR_OK);
    // Each piece asks the token for 255 bytes at a time, so the piece boundaries show as short commands.
    std::vector<int> expected;
    for (int piece : {2000, 2000, 1000}) {
        for (; piece > 255; piece -= 255)
            expected.push_back(255);
        expected.push_back(piece);
    }
    EXPECT_EQ(RandomCommandLengths(), expected);

    ASSERT_EQ(SKF_GenRandom(m_dev, second.data(), static_cast<ULONG>(second.size())), SAR_OK);
    EXPECT_NE(first, second);
    // The tail is filled too, not only the first piece.
    EXPECT_FALSE(std::all_of(first.begin() + 4000, first.end(), [](BYTE b) { return b == 0; }));
}

TEST_P(SkfDeviceAuthTest, DefaultKeyAuthenticatesAndWrongValuesEndInABlockedKey) {
    EXPECT_EQ(AuthenticateWith(kDeviceKey), SAR_OK);
    EXPECT_EQ(AuthenticateWith("0000000000000000"), SAR_FAIL);
    EXPECT_EQ(AuthenticateWith(kDeviceKey), SAR_OK) << "a failure alone does not block";

    ULONG result = SAR_FAIL;
    int tries = 0;
    while (result == SAR_FAIL && tries < 20) {
        result = AuthenticateWith("0000000000000000");
        ++tries;
    }
    EXPECT_EQ(result, SAR_PIN_LOCKED);
    EXPECT_LE(tries, 10);
    EXPECT_EQ(AuthenticateWith(kDeviceKey), SAR_PIN_LOCKED) << "a blocked key refuses the right value too";
}

TEST_P(SkfDeviceAuthTest, DevAuthArguments) {
    BYTE value[16] = {};
    EXPECT_EQ(SKF_DevAuth(m_dev, nullptr, 16), SAR_INVALIDPARAMERR);
    // Sixteen bytes are sent whatever the length says; a shorter buffer would be read past its end.
    EXPECT_EQ(SKF_DevAuth(m_dev, value, 8), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_DevAuth(reinterpret_cast<DEVHANDLE>(0x10), value, sizeof value), SAR_INVALIDHANDLEERR);
    ForceStatus(kInsDevAuth, 0x6983);
    EXPECT_EQ(SKF_DevAuth(m_dev, value, sizeof value), SAR_PIN_LOCKED);
}

TEST_P(SkfDeviceAuthTest, ChangedKeyReplacesTheOldOne) {
    ASSERT_EQ(AuthenticateWith(kDeviceKey), SAR_OK);
    // 32 bytes are accepted; only the first 16 become the key.
    std::string newKey = "ABCDEFGHIJKLMNOPqrstuvwxyz012345";
    ASSERT_EQ(SKF_ChangeDevAuthKey(m_dev, reinterpret_cast<BYTE*>(newKey.data()), 32), SAR_OK);
    EXPECT_EQ(AuthenticateWith(newKey.substr(0, 16)), SAR_OK);
    EXPECT_EQ(AuthenticateWith(kDeviceKey), SAR_FAIL);

    std::string again = "1111222233334444";
    ASSERT_EQ(AuthenticateWith(newKey.substr(0, 16)), SAR_OK);
    ASSERT_EQ(SKF_ChangeDevAuthKey(m_dev, reinterpret_cast<BYTE*>(again.data()), 16), SAR_OK);
    EXPECT_EQ(AuthenticateWith(again), SAR_OK);
}

TEST_P(SkfDeviceAuthTest, ChangeKeyArgumentsAndTokenRefusals) {
    BYTE key[32] = {};
    for (ULONG len : {0u, 8u, 15u, 17u, 24u, 33u})
        EXPECT_EQ(SKF_ChangeDevAuthKey(m_dev, key, len), SAR_INVALIDPARAMERR) << len;
    EXPECT_EQ(SKF_ChangeDevAuthKey(m_dev, nullptr, 16), SAR_INVALIDPARAMERR);
    EXPECT_EQ(SKF_ChangeDevAuthKey(reinterpret_cast<DEVHANDLE>(0x10), key, 16), SAR_INVALIDHANDLEERR);

    ASSERT_EQ(AuthenticateWith(kDeviceKey), SAR_OK);
    struct Case {
        uint8_t ins;
        uint16_t status;
        ULONG result;
    } cases[] = {
        {kInsGenRandom, 0x6A88, SAR_FAIL},
        {kInsDevKeyTransport, 0x6983, SAR_FAIL},
        {kInsChangeDevAuthKey, 0x6983, SAR_PIN_LOCKED},
        {kInsChangeDevAuthKey, 0x6A80, SAR_FAIL},
    };
    for (const Case& c : cases) {
        ForceStatus(c.ins, c.status);
        EXPECT_EQ(SKF_ChangeDevAuthKey(m_dev, key, 16), c.result) << std::hex << int(c.ins) << ' ' << c.status;
    }
    EXPECT_EQ(AuthenticateWith(kDeviceKey), SAR_OK) << "no refused change replaced the key";
}

// Both transports: the SCSI-style one and HID.
INSTANTIATE_TEST_SUITE_P(Transports, SkfDeviceAuthTest, ::testing::Values("bot", "hid"));

} // namespace
} // namespace keycore::test
