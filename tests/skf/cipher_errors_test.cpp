// Bad arguments, foreign and wrong-kind handles, operations without an init, and the token's status
// words through the tables and the re-select loop, for session keys and their ciphers.
#include "cipher_support.h"

#include <functional>

namespace keycore::test {
namespace {

class CipherErrorsTest : public SessionKeyTest {
protected:
    void SetUp() override {
        SessionKeyTest::SetUp();
        m_keyHandle = SetKey(KeyPlace::Container, SGD_SM4_CBC, m_key);
        ASSERT_NE(m_keyHandle, nullptr);
    }

    ULONG EncryptBlock(HANDLE key) {
        ULONG len = static_cast<ULONG>(m_out.size());
        return SKF_Encrypt(key, m_in.data(), 32, m_out.data(), &len);
    }

    HANDLE m_keyHandle = nullptr;
    ByteVec m_in = Pattern(32);
    ByteVec m_out = ByteVec(64);
};

TEST_F(CipherErrorsTest, MissingArgumentsAreRefused) {
    BYTE key[16] = {};
    HANDLE handle = nullptr;
    BYTE* in = m_in.data();
    BYTE* out = m_out.data();
    ULONG len = 64;
    BYTE wrapped[256] = {1};
    const BLOCKCIPHERPARAM param = CipherParam(m_iv, 1);
    struct Case {
        const char* what;
        std::function<ULONG()> call;
    };
    const Case cases[] = {
        {"SetSymmKey hDev", [&] { return SKF_SetSymmKey(nullptr, key, SGD_SM4_ECB, &handle); }},
        {"SetSymmKey pbKey", [&] { return SKF_SetSymmKey(m_dev, nullptr, SGD_SM4_ECB, &handle); }},
        {"SetSymmKey phKey", [&] { return SKF_SetSymmKey(m_dev, key, SGD_SM4_ECB, nullptr); }},
        {"Import hContainer", [&] { return SKF_ImportSessionKey(nullptr, SGD_SM4_ECB, wrapped, 256, &handle); }},
        {"Import data", [&] { return SKF_ImportSessionKey(m_container, SGD_SM4_ECB, nullptr, 256, &handle); }},
        {"Import length", [&] { return SKF_ImportSessionKey(m_container, SGD_SM4_ECB, wrapped, 0, &handle); }},
        {"Import phKey", [&] { return SKF_ImportSessionKey(m_container, SGD_SM4_ECB, wrapped, 256, nullptr); }},
        {"EncryptInit", [&] { return SKF_EncryptInit(nullptr, param); }},
        {"DecryptInit", [&] { return SKF_DecryptInit(nullptr, param); }},
        {"Encrypt handle", [&] { return SKF_Encrypt(nullptr, in, 32, out, &len); }},
        {"Encrypt data", [&] { return SKF_Encrypt(m_keyHandle, nullptr, 32, out, &len); }},
        {"Encrypt length", [&] { return SKF_Encrypt(m_keyHandle, in, 0, out, &len); }},
        {"Encrypt out length", [&] { return SKF_Encrypt(m_keyHandle, in, 32, out, nullptr); }},
        {"EncryptUpdate handle", [&] { return SKF_EncryptUpdate(nullptr, in, 32, out, &len); }},
        {"EncryptUpdate data", [&] { return SKF_EncryptUpdate(m_keyHandle, nullptr, 32, out, &len); }},
        {"EncryptUpdate length", [&] { return SKF_EncryptUpdate(m_keyHandle, in, 0, out, &len); }},
        {"EncryptUpdate out length", [&] { return SKF_EncryptUpdate(m_keyHandle, in, 32, out, nullptr); }},
        {"EncryptFinal handle", [&] { return SKF_EncryptFinal(nullptr, out, &len); }},
        {"EncryptFinal out length", [&] { return SKF_EncryptFinal(m_keyHandle, out, nullptr); }},
        {"Decrypt handle", [&] { return SKF_Decrypt(nullptr, in, 32, out, &len); }},
        {"Decrypt data", [&] { return SKF_Decrypt(m_keyHandle, nullptr, 32, out, &len); }},
        {"Decrypt length", [&] { return SKF_Decrypt(m_keyHandle, in, 0, out, &len); }},
        {"Decrypt out length", [&] { return SKF_Decrypt(m_keyHandle, in, 32, out, nullptr); }},
        {"DecryptUpdate handle", [&] { return SKF_DecryptUpdate(nullptr, in, 32, out, &len); }},
        {"DecryptUpdate data", [&] { return SKF_DecryptUpdate(m_keyHandle, nullptr, 32, out, &len); }},
        {"DecryptUpdate length", [&] { return SKF_DecryptUpdate(m_keyHandle, in, 0, out, &len); }},
        {"DecryptUpdate out length", [&] { return SKF_DecryptUpdate(m_keyHandle, in, 32, out, nullptr); }},
        {"DecryptFinal handle", [&] { return SKF_DecryptFinal(nullptr, out, &len); }},
        {"DecryptFinal out length", [&] { return SKF_DecryptFinal(m_keyHandle, out, nullptr); }},
    };
    ASSERT_EQ(SKF_EncryptInit(m_keyHandle, param), SAR_OK);
    for (const Case& c : cases)
        EXPECT_EQ(c.call(), SAR_INVALIDPARAMERR) << c.what;
    EXPECT_EQ(handle, nullptr);
    // None of that disturbed the running encryption.
    const ByteVec expected = OpenSslSm4(true, true, true, m_key, m_iv, m_in);
    len = 64;
    ASSERT_EQ(SKF_Encrypt(m_keyHandle, in, 32, out, &len), SAR_OK);
    EXPECT_EQ(ByteVec(m_out.begin(), m_out.begin() + len), expected);
}

TEST_F(CipherErrorsTest, ForeignClosedAndWrongKindHandlesAreRefused) {
    HANDLE hash = nullptr;
    ASSERT_EQ(SKF_DigestInit(m_dev, SGD_SM3, nullptr, nullptr, 0, &hash), SAR_OK);
    BLOCKCIPHERPARAM macParam = CipherParam(m_iv, 0);
    HANDLE mac = nullptr;
    ASSERT_EQ(SKF_MacInit(m_keyHandle, &macParam, &mac), SAR_OK);
    HANDLE closed = SetKey(KeyPlace::Container, SGD_SM4_ECB, m_key);
    ASSERT_EQ(SKF_CloseHandle(closed), SAR_OK);

    const struct {
        const char* what;
        HANDLE handle;
    } notKeys[] = {{"foreign value", reinterpret_cast<HANDLE>(0x1234)},
                   {"closed key", closed},
                   {"device", m_dev},
                   {"application", m_app},
                   {"container", m_container},
                   {"hash", hash},
                   {"MAC", mac}};
    const BLOCKCIPHERPARAM param = CipherParam(m_iv, 1);
    for (const auto& c : notKeys) {
        SCOPED_TRACE(c.what);
        ULONG len = 64;
        EXPECT_EQ(SKF_EncryptInit(c.handle, param), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(SKF_DecryptInit(c.handle, param), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(SKF_Encrypt(c.handle, m_in.data(), 32, m_out.data(), &len), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(SKF_EncryptUpdate(c.handle, m_in.data(), 32, m_out.data(), &len), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(SKF_EncryptFinal(c.handle, m_out.data(), &len), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(SKF_Decrypt(c.handle, m_in.data(), 32, m_out.data(), &len), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(SKF_DecryptUpdate(c.handle, m_in.data(), 32, m_out.data(), &len), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(SKF_DecryptFinal(c.handle, m_out.data(), &len), SAR_INVALIDHANDLEERR);
        HANDLE mac2 = nullptr;
        EXPECT_EQ(SKF_MacInit(c.handle, &macParam, &mac2), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(mac2, nullptr);
    }
    // Only a container takes a wrapped key.
    BYTE wrapped[256] = {1};
    for (HANDLE notContainer : {m_keyHandle, mac, hash, m_app, reinterpret_cast<HANDLE>(0x1234)}) {
        HANDLE key = nullptr;
        EXPECT_EQ(SKF_ImportSessionKey(notContainer, SGD_SM4_ECB, wrapped, 256, &key), SAR_INVALIDHANDLEERR);
    }
    EXPECT_EQ(SKF_SetSymmKey(reinterpret_cast<HANDLE>(0x1234), m_key.data(), SGD_SM4_ECB, &closed),
              SAR_INVALIDHANDLEERR);
}

TEST_F(CipherErrorsTest, OperationsNeedTheirInit) {
    ULONG len = 64;
    const auto all = [&](HANDLE key) {
        return std::vector<ULONG>{SKF_Encrypt(key, m_in.data(), 32, m_out.data(), &len),
                                  SKF_EncryptUpdate(key, m_in.data(), 32, m_out.data(), &len),
                                  SKF_EncryptFinal(key, m_out.data(), &len),
                                  SKF_Decrypt(key, m_in.data(), 32, m_out.data(), &len),
                                  SKF_DecryptUpdate(key, m_in.data(), 32, m_out.data(), &len),
                                  SKF_DecryptFinal(key, m_out.data(), &len)};
    };
    HANDLE loose = nullptr;
    {
        // A second device shape is not needed: a loose key is set before the container exists.
        HCONTAINER saved = m_container;
        ASSERT_EQ(SKF_DeleteContainer(m_app, Text("keys")), SAR_OK);
        m_container = nullptr;
        loose = SetKey(KeyPlace::Loose, SGD_SM4_ECB, m_key);
        static_cast<void>(saved);
        m_keyHandle = SetKey(KeyPlace::Container, SGD_SM4_ECB, m_key);
    }
    for (HANDLE key : {loose, m_keyHandle}) {
        for (ULONG rv : all(key))
            EXPECT_EQ(rv, SAR_FAIL) << "before any init";
        // Decrypting calls on an encryption and the reverse.
        ASSERT_EQ(SKF_EncryptInit(key, CipherParam({}, 0)), SAR_OK);
        len = 64;
        EXPECT_EQ(SKF_DecryptUpdate(key, m_in.data(), 32, m_out.data(), &len), SAR_FAIL);
        EXPECT_EQ(SKF_DecryptFinal(key, m_out.data(), &len), SAR_FAIL);
        len = 64;
        ASSERT_EQ(SKF_Encrypt(key, m_in.data(), 32, m_out.data(), &len), SAR_OK);
        len = 64;
        EXPECT_EQ(SKF_Encrypt(key, m_in.data(), 32, m_out.data(), &len), SAR_FAIL) << "the final ended it";
        ASSERT_EQ(SKF_DecryptInit(key, CipherParam({}, 0)), SAR_OK);
        len = 64;
        EXPECT_EQ(SKF_EncryptUpdate(key, m_in.data(), 32, m_out.data(), &len), SAR_FAIL);
    }
}

TEST_F(CipherErrorsTest, SizeQueriesAndShortBuffersWriteNothing) {
    ASSERT_EQ(SKF_EncryptInit(m_keyHandle, CipherParam(m_iv, 1)), SAR_OK);
    ULONG len = 0;
    ASSERT_EQ(SKF_Encrypt(m_keyHandle, m_in.data(), 20, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 32u);
    ByteVec out(48, 0xEE);
    len = 31;
    EXPECT_EQ(SKF_Encrypt(m_keyHandle, m_in.data(), 20, out.data(), &len), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 32u);
    len = 15;
    EXPECT_EQ(SKF_EncryptUpdate(m_keyHandle, m_in.data(), 20, out.data(), &len), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 16u);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](BYTE b) { return b == 0xEE; }));
    len = 48;
    ASSERT_EQ(SKF_Encrypt(m_keyHandle, m_in.data(), 20, out.data(), &len), SAR_OK);
    EXPECT_EQ(ByteVec(out.begin(), out.begin() + len),
              OpenSslSm4(true, true, true, m_key, m_iv, ByteVec(m_in.begin(), m_in.begin() + 20)));
    EXPECT_EQ(out[32], 0xEE);

    ASSERT_EQ(SKF_DecryptInit(m_keyHandle, CipherParam(m_iv, 1)), SAR_OK);
    len = 15;
    EXPECT_EQ(SKF_DecryptUpdate(m_keyHandle, out.data(), 32, m_out.data(), &len), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 16u);
}

TEST_F(CipherErrorsTest, StatusWordsOfTheCipherCommands) {
    struct Case {
        const char* what;
        uint8_t ins;
        uint16_t status;
        ULONG expected;
    };
    // Init and final run in the re-select loop; the rest of the table is the cipher's own.
    const Case initCases[] = {
        {"init 6982", ins::kEncryptInit, 0x6982, SAR_USER_NOT_LOGGED_IN},
        {"init 6A88", ins::kEncryptInit, 0x6A88, SAR_OBJERR},
        {"init 6A8C", ins::kEncryptInit, 0x6A8C, SAR_KEYNOTFOUNTERR},
        {"init 6A80", ins::kEncryptInit, 0x6A80, SAR_FAIL},
        {"init 6A9D", ins::kEncryptInit, 0x6A9D, SAR_FAIL},
        {"init, container re-opened", ins::kEncryptInit, 0x6A94, SAR_OK},
        {"init, application re-selected", ins::kEncryptInit, 0x698A, SAR_OK},
    };
    for (const Case& c : initCases) {
        ForceStatus(c.ins, c.status);
        EXPECT_EQ(SKF_EncryptInit(m_keyHandle, CipherParam(m_iv, 0)), c.expected) << c.what;
    }
    ForceStatus(ins::kEncryptInit, 0x6A94);
    ForceStatus(ins::kEncryptInit, 0x6A94);
    EXPECT_EQ(SKF_EncryptInit(m_keyHandle, CipherParam(m_iv, 0)), SAR_FAIL) << "two re-opens";
    {
        // The failed init ended the encryption the successful one before it had started.
        TraceLines(m_token, true);
        ULONG len = 64;
        EXPECT_EQ(SKF_EncryptUpdate(m_keyHandle, m_in.data(), 32, m_out.data(), &len), SAR_FAIL);
        EXPECT_TRUE(CommandsWithIns(TraceLines(m_token), ins::kEncryptUpdate).empty());
    }
    Fault(m_token, {"clear"});
    ForceStatus(ins::kEncryptInit, 0x6A94);
    ForceStatus(ins::kOpenContainer, 0x6A91);
    EXPECT_EQ(SKF_EncryptInit(m_keyHandle, CipherParam(m_iv, 0)), SAR_FILE_NOT_EXIST);
    Fault(m_token, {"clear"});

    // An update is not retried: the token is made ready for the next call and this one fails.
    const Case updateCases[] = {
        {"update 6982", ins::kEncryptUpdate, 0x6982, SAR_USER_NOT_LOGGED_IN},
        {"update 6A8C", ins::kEncryptUpdate, 0x6A8C, SAR_KEYNOTFOUNTERR},
        {"update 6A94", ins::kEncryptUpdate, 0x6A94, SAR_FAIL},
        {"update 698A", ins::kEncryptUpdate, 0x698A, SAR_FAIL},
        {"update 6984", ins::kEncryptUpdate, 0x6984, SAR_FAIL},
        {"update 6700", ins::kEncryptUpdate, 0x6700, SAR_FAIL},
    };
    for (const Case& c : updateCases) {
        ASSERT_EQ(SKF_EncryptInit(m_keyHandle, CipherParam(m_iv, 0)), SAR_OK);
        ForceStatus(c.ins, c.status);
        TraceLines(m_token, true);
        ULONG len = 64;
        EXPECT_EQ(SKF_EncryptUpdate(m_keyHandle, m_in.data(), 32, m_out.data(), &len), c.expected) << c.what;
        const std::vector<std::string> trace = TraceLines(m_token);
        const size_t reopened = CommandsWithIns(trace, ins::kOpenContainer).size();
        const size_t reselected = CommandsWithIns(trace, ins::kOpenApplication).size();
        EXPECT_EQ(CommandsWithIns(trace, ins::kEncryptUpdate).size(), 1u) << c.what << ": no second attempt";
        EXPECT_EQ(reopened, c.status == 0x6A94 || c.status == 0x698A ? 1u : 0u) << c.what;
        EXPECT_EQ(reselected, c.status == 0x6984 ? 1u : 0u) << c.what;
    }
    ASSERT_EQ(SKF_EncryptInit(m_keyHandle, CipherParam(m_iv, 0)), SAR_OK);
    ForceStatus(ins::kEncryptUpdate, 0x6984);
    ForceStatus(ins::kOpenApplication, 0x6A8B);
    ULONG len = 64;
    EXPECT_EQ(SKF_EncryptUpdate(m_keyHandle, m_in.data(), 32, m_out.data(), &len), SAR_APPLICATION_NOT_EXISTS);

    // The final: re-opened once and then done, and the result is right.
    ASSERT_EQ(SKF_EncryptInit(m_keyHandle, CipherParam(m_iv, 1)), SAR_OK);
    ForceStatus(ins::kEncryptFinal, 0x6A94);
    len = 64;
    ASSERT_EQ(SKF_Encrypt(m_keyHandle, m_in.data(), 20, m_out.data(), &len), SAR_OK);
    EXPECT_EQ(ByteVec(m_out.begin(), m_out.begin() + len),
              OpenSslSm4(true, true, true, m_key, m_iv, ByteVec(m_in.begin(), m_in.begin() + 20)));
    ASSERT_EQ(SKF_DecryptInit(m_keyHandle, CipherParam(m_iv, 1)), SAR_OK);
    ForceStatus(ins::kDecryptFinal, 0x6A88);
    len = 64;
    EXPECT_EQ(SKF_Decrypt(m_keyHandle, m_out.data(), 32, m_in.data(), &len), SAR_OBJERR);
}

TEST_F(CipherErrorsTest, StatusWordsOfSetSymmKey) {
    const struct {
        uint16_t status;
        ULONG expected;
    } cases[] = {{0x6A84, SAR_NO_ROOM},        {0x6A88, SAR_OBJERR}, {0x6A94, SAR_FILE_NOT_EXIST},
                 {0x6A95, SAR_KEYNOTFOUNTERR}, {0x6982, SAR_FAIL},   {0x6A80, SAR_FAIL}};
    for (const auto& c : cases) {
        ForceStatus(ins::kSetSymmKey, c.status);
        HANDLE key = nullptr;
        EXPECT_EQ(SKF_SetSymmKey(m_dev, m_key.data(), SGD_SM4_ECB, &key), c.expected) << std::hex << c.status;
        EXPECT_EQ(key, nullptr);
    }
}

TEST_F(CipherErrorsTest, KeyOfARemovedDeviceIsAnInvalidHandle) {
    ASSERT_EQ(SKF_EncryptInit(m_keyHandle, CipherParam(m_iv, 1)), SAR_OK);
    Unplug();
    ULONG len = 64;
    EXPECT_EQ(SKF_EncryptInit(m_keyHandle, CipherParam(m_iv, 1)), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(SKF_Encrypt(m_keyHandle, m_in.data(), 32, m_out.data(), &len), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(SKF_DecryptFinal(m_keyHandle, m_out.data(), &len), SAR_INVALIDHANDLEERR);
    HANDLE key = nullptr;
    EXPECT_EQ(SKF_SetSymmKey(m_dev, m_key.data(), SGD_SM4_ECB, &key), SAR_INVALIDHANDLEERR);
}

} // namespace
} // namespace keycore::test
