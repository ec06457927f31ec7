// Token-level operations against a real vtoken card: PIN state and flags, login and PIN changes,
// token information, the application, containers, RSA key import and the device-key change.

#include "crypto/sm4_helpers.h"
#include "token_test_fixture.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <cstring>

namespace keycore::test {
namespace {

using TokenPinState = TokenTest;

// The flags word of the packed record, read without binding a reference to a misaligned field.
CK_FLAGS FlagsOf(const AUX_PIN_INFO& info) {
    uint64_t flags = 0;
    std::memcpy(&flags, reinterpret_cast<const uint8_t*>(&info) + 4, sizeof flags);
    return flags;
}

constexpr CK_FLAGS kUserPinFlags = CKF_USER_PIN_LOCKED | CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY;

TEST_P(TokenPinState, FlagsFollowTheTriesLeftDownToALockedPin) {
    OpenApp();
    AUX_PIN_INFO info;
    ASSERT_EQ(Token().GetPinInfo(&info), CKR_OK);
    EXPECT_EQ(info.bUserPinMaxRetries, kDefaultRetries);
    EXPECT_EQ(info.bUserPinCurCounter, kDefaultRetries);
    EXPECT_EQ(info.bSOPinCurCounter, kDefaultRetries);
    EXPECT_EQ(FlagsOf(info) & kUserPinFlags, 0u);
    EXPECT_NE(FlagsOf(info) & CKF_USER_PIN_TO_BE_CHANGED, 0u) << "the card still has its default PIN";
    EXPECT_EQ(FlagsOf(info), Token().GetTokenFlags());

    ASSERT_EQ(UserLogin("wrong-pin"), CKR_PIN_INCORRECT);
    EXPECT_EQ(Token().GetTokenFlags() & kUserPinFlags, static_cast<CK_FLAGS>(CKF_USER_PIN_COUNT_LOW));
    for (int i = 0; i < 7; ++i)
        ASSERT_EQ(UserLogin("wrong-pin"), CKR_PIN_INCORRECT);
    ASSERT_EQ(Token().GetPinInfo(&info), CKR_OK);
    EXPECT_EQ(info.bUserPinCurCounter, 2);
    EXPECT_NE(FlagsOf(info) & CKF_USER_PIN_COUNT_LOW, 0u);
    EXPECT_EQ(FlagsOf(info) & CKF_USER_PIN_FINAL_TRY, 0u);

    ASSERT_EQ(UserLogin("wrong-pin"), CKR_PIN_INCORRECT);
    ASSERT_EQ(Token().GetPinInfo(&info), CKR_OK);
    EXPECT_EQ(info.bUserPinCurCounter, 1);
    EXPECT_NE(FlagsOf(info) & CKF_USER_PIN_FINAL_TRY, 0u) << "one try left";
    EXPECT_EQ(FlagsOf(info) & CKF_USER_PIN_LOCKED, 0u);

    EXPECT_EQ(UserLogin("wrong-pin"), CKR_PIN_LOCKED) << "the last try locks the PIN";
    EXPECT_EQ(Token().GetTokenFlags() & kUserPinFlags, static_cast<CK_FLAGS>(CKF_USER_PIN_LOCKED));
    ASSERT_EQ(Token().GetPinInfo(&info), CKR_OK);
    EXPECT_EQ(info.bUserPinCurCounter, 0);
    EXPECT_EQ(FlagsOf(info) & kUserPinFlags, static_cast<CK_FLAGS>(CKF_USER_PIN_LOCKED));
    EXPECT_EQ(UserLogin(kDefaultPin), CKR_PIN_LOCKED) << "even the right PIN";
    uint64_t bytes4to11 = 0;
    std::memcpy(&bytes4to11, reinterpret_cast<const uint8_t*>(&info) + 4, 8);
    EXPECT_EQ(bytes4to11, Token().GetTokenFlags());

    // The administrator unblocks it; the flags clear with the next PIN information.
    ASSERT_EQ(SoLogin(kDefaultPin), CKR_OK);
    std::string newPin = "fresh-pin";
    ASSERT_EQ(Token().InitPin(reinterpret_cast<CK_UTF8CHAR_PTR>(&newPin[0]), newPin.size()), CKR_OK);
    ASSERT_EQ(Token().GetPinInfo(&info), CKR_OK);
    EXPECT_EQ(info.bUserPinCurCounter, kDefaultRetries);
    EXPECT_EQ(FlagsOf(info) & kUserPinFlags, 0u);
    EXPECT_EQ(UserLogin("fresh-pin"), CKR_OK);
}

TEST_P(TokenPinState, AWrongSoPinClearsTheSoFlagsAndCountsOnTheCard) {
    OpenApp();
    Token().SetTokenFlags(Token().GetTokenFlags() | CKF_SO_PIN_LOCKED | CKF_SO_PIN_FINAL_TRY);
    EXPECT_EQ(SoLogin("not-the-admin"), CKR_PIN_INCORRECT);
    EXPECT_EQ(Token().GetTokenFlags() & (CKF_SO_PIN_LOCKED | CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY), 0u);
    AUX_PIN_INFO info;
    ASSERT_EQ(Token().GetPinInfo(&info), CKR_OK);
    EXPECT_EQ(info.bSOPinCurCounter, kDefaultRetries - 1);
    EXPECT_NE(FlagsOf(info) & CKF_SO_PIN_COUNT_LOW, 0u);
}

struct LoginCase {
    const char* sw;
    CK_RV expected;
};

TEST_P(TokenPinState, LoginTranslatesEveryStatusWord) {
    OpenApp();
    const LoginCase cases[] = {
        {"0x63C2", CKR_PIN_INCORRECT}, {"0x63CF", CKR_PIN_INCORRECT},  {"0x6983", CKR_PIN_LOCKED},
        {"0x6984", CKR_DATA_INVALID},  {"0x698A", CKR_DATA_INVALID},   {"0x6A80", CKR_DATA_INVALID},
        {"0x6A86", CKR_DATA_INVALID},  {"0x6581", CKR_DEVICE_REMOVED}, {"0x6F00", CKR_GENERAL_ERROR},
        {"0x63D0", CKR_GENERAL_ERROR},
    };
    for (const LoginCase& c : cases) {
        FaultRule(std::string("sw:INS=0x18,SW=") + c.sw);
        EXPECT_EQ(UserLogin(kDefaultPin), c.expected) << c.sw;
    }
    FaultRule("sw:INS=0x18,SW=0x6983");
    ASSERT_EQ(SoLogin(kDefaultPin), CKR_PIN_LOCKED);
    EXPECT_EQ(Token().GetTokenFlags() & CKF_SO_PIN_LOCKED, static_cast<CK_FLAGS>(CKF_SO_PIN_LOCKED));
    EXPECT_EQ(UserLogin(kDefaultPin), CKR_OK) << "forced answers did not touch the card's counters";
}

TEST_P(TokenPinState, InitPinWithoutSoLoginSendsNothing) {
    OpenApp();
    Commands();
    std::string pin = "new-user-pin";
    EXPECT_EQ(Token().InitPin(reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size()), CKR_GENERAL_ERROR);
    EXPECT_TRUE(Commands().empty());
    ASSERT_EQ(UserLogin(kDefaultPin), CKR_OK);
    EXPECT_EQ(Token().InitPin(reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size()), CKR_GENERAL_ERROR)
        << "a user login does not fill the SO PIN cache";
}

TEST_P(TokenPinState, SoPinCacheHoldsUpTo64BytesAndNeverOverruns) {
    OpenApp();
    unsigned char cache[kSoPinCacheSize];
    ASSERT_EQ(SoLogin(kDefaultPin), CKR_OK);
    ASSERT_EQ(Token().GetSoPinCache(cache), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(cache), strnlen(reinterpret_cast<char*>(cache), 64)), kDefaultPin);

    // The card accepts no such PINs; a forced success stands in for a token that would.
    const std::string exactly64(64, 'x');
    FaultRule("sw:INS=0x18,SW=0x9000");
    ASSERT_EQ(SoLogin(exactly64), CKR_OK);
    ASSERT_EQ(Token().GetSoPinCache(cache), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(cache), 64), exactly64);

    const std::string tooLong(100, 'y');
    FaultRule("sw:INS=0x18,SW=0x9000");
    ASSERT_EQ(SoLogin(tooLong), CKR_OK);
    ASSERT_EQ(Token().GetSoPinCache(cache), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(cache), 64), exactly64)
        << "a PIN that does not fit is not cached, not even cut";
}

TEST_P(TokenPinState, SetPinClearsTheCallersBuffersAndMapsTheAnswer) {
    OpenApp();
    std::string oldPin = kDefaultPin;
    std::string newPin = "changed-pin";
    ASSERT_EQ(Token().SetPin(CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&oldPin[0]), oldPin.size(),
                             reinterpret_cast<CK_UTF8CHAR_PTR>(&newPin[0]), newPin.size()),
              CKR_OK);
    EXPECT_EQ(oldPin, std::string(8, '\0'));
    EXPECT_EQ(newPin, std::string(11, '\0'));
    EXPECT_EQ(UserLogin("changed-pin"), CKR_OK);
    AUX_PIN_INFO info;
    ASSERT_EQ(Token().GetPinInfo(&info), CKR_OK);
    EXPECT_EQ(FlagsOf(info) & CKF_USER_PIN_TO_BE_CHANGED, 0u) << "no longer the default PIN";

    oldPin = "not-it";
    newPin = "whatever";
    EXPECT_EQ(Token().SetPin(CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&oldPin[0]), oldPin.size(),
                             reinterpret_cast<CK_UTF8CHAR_PTR>(&newPin[0]), newPin.size()),
              CKR_PIN_INCORRECT);
    EXPECT_EQ(Token().GetTokenFlags() & kUserPinFlags, static_cast<CK_FLAGS>(CKF_USER_PIN_COUNT_LOW));
}

using TokenInformation = TokenTest;

class LabelledToken : public TokenTest {
protected:
    std::vector<std::string> PlugOptions() const override {
        std::vector<std::string> options = GetParam().plugOptions;
        options.insert(options.end(), {"--label", "Team token", "--serial", "SN-0042"});
        return options;
    }
};

std::string Field(const CK_UTF8CHAR* field, size_t size) {
    return std::string(reinterpret_cast<const char*>(field), size);
}

TEST_P(LabelledToken, TokenInfoFieldsComeFromTheDeviceInformationAnswer) {
    OpenApp();
    unsigned char devInfo[512];
    CK_ULONG devInfoLen = sizeof devInfo;
    ASSERT_EQ(Token().GetDevInfo(devInfo, &devInfoLen), kSwSuccess);
    ASSERT_GE(devInfoLen, 224u);

    CK_TOKEN_INFO info;
    std::memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(Token().GetTokenInfo(&info), CKR_OK);
    EXPECT_EQ(Field(info.label, 10), "Team token");
    EXPECT_EQ(std::memcmp(info.label, devInfo + 132, 32), 0);
    EXPECT_EQ(Field(info.serialNumber, 7), "SN-0042");
    EXPECT_EQ(std::memcmp(info.serialNumber, devInfo + 164, 16), 0);
    EXPECT_EQ(Field(info.manufacturerID, 32), "Quorvel Technologies Co., Ltd.  ");
    EXPECT_EQ(Field(info.model, 16), "Orvex5100GMG    ");
    EXPECT_EQ(info.hardwareVersion.major, devInfo[196]);
    EXPECT_EQ(info.hardwareVersion.minor, devInfo[197]);
    EXPECT_EQ(info.firmwareVersion.major, devInfo[198]);
    EXPECT_EQ(info.firmwareVersion.minor, devInfo[199]);
    const CK_ULONG total =
        static_cast<CK_ULONG>(devInfo[216]) << 24 | devInfo[217] << 16 | devInfo[218] << 8 | devInfo[219];
    const CK_ULONG freeSpace =
        static_cast<CK_ULONG>(devInfo[220]) << 24 | devInfo[221] << 16 | devInfo[222] << 8 | devInfo[223];
    EXPECT_EQ(info.ulTotalPublicMemory, total);
    EXPECT_EQ(info.ulTotalPrivateMemory, total);
    EXPECT_EQ(info.ulFreePublicMemory, freeSpace);
    EXPECT_EQ(info.ulFreePrivateMemory, freeSpace);
    EXPECT_EQ(total, 128u * 1024u);
    EXPECT_LE(freeSpace, total);
    EXPECT_EQ(info.ulMaxSessionCount, 0u);
    EXPECT_EQ(info.ulMaxRwSessionCount, 0u);
    EXPECT_EQ(info.ulMaxPinLen, 255u);
    EXPECT_EQ(info.ulMinPinLen, 6u);
    EXPECT_EQ(info.flags, Token().GetTokenFlags());
    EXPECT_NE(info.flags & CKF_USER_PIN_TO_BE_CHANGED, 0u) << "PIN flags refreshed";
    EXPECT_NE(info.flags & CKF_RNG, 0u);

    FaultRule("truncate:100");
    EXPECT_EQ(Token().GetTokenInfo(&info), CKR_GENERAL_ERROR) << "a cut answer is not read past its end";
}

TEST_P(TokenInformation, AnswerBuffersThatAreTooSmall) {
    unsigned char small[16];
    CK_ULONG len = sizeof small;
    EXPECT_EQ(Token().GetDevInfo(small, &len), kDevInfoBufferTooSmall);
    EXPECT_GE(len, 224u);

    char names[4];
    len = sizeof names;
    EXPECT_EQ(Token().EnumApplication(names, &len), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, sizeof names) << "the length is left as it was";
    ASSERT_EQ(Token().EnumApplication(nullptr, &len), kSwSuccess);
    EXPECT_GE(len, std::strlen(kAppName) + 1);

    // An answer of only the status word: data length 0.
    const unsigned char getRandom0[] = {0x80, 0x50, 0x00, 0x00, 0x00, 0x00, 0x00};
    unsigned char raw[8];
    CK_ULONG rawLen = sizeof raw;
    const TokenStatus status = Token().TransmitRawApdu(getRandom0, sizeof getRandom0, raw, &rawLen);
    EXPECT_EQ(rawLen, 2u);
    EXPECT_EQ(static_cast<TokenStatus>(raw[0] << 8 | raw[1]), status);
    const unsigned char getRandom8[] = {0x80, 0x50, 0x00, 0x00, 0x00, 0x00, 0x08};
    rawLen = 9;
    EXPECT_EQ(Token().TransmitRawApdu(getRandom8, sizeof getRandom8, raw, &rawLen), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(rawLen, 10u) << "8 data bytes and the status word";
}

TEST_P(TokenInformation, ApplicationIsLoadedOnceAndEmptyNamesAreNotSent) {
    ASSERT_EQ(Token().EnsureApplication(), CKR_OK);
    EXPECT_EQ(Token().GetApplicationName(), kAppName);
    EXPECT_TRUE(Token().IsApplicationOpen());
    Commands();
    EXPECT_EQ(Token().EnsureApplication(), CKR_OK);
    EXPECT_TRUE(Commands().empty()) << "an open application is not opened again";
    uint16_t app = 0;
    EXPECT_EQ(Token().OpenApplication("", &app, nullptr, nullptr, nullptr, nullptr), 0x6700u);
    EXPECT_TRUE(Commands().empty());
    app = 0x1234;
    EXPECT_NE(Token().OpenApplication("NO-SUCH-APP", &app, nullptr, nullptr, nullptr, nullptr), kSwSuccess);
    EXPECT_EQ(app, 0x1234) << "no id from a failed open";
}

TEST_P(TokenInformation, ContainersWithRandomNamesAndCertificates) {
    const uint16_t app = OpenApp();
    ASSERT_EQ(UserLogin(kDefaultPin), CKR_OK);
    std::string name;
    uint16_t ctr = 0xFFFF;
    ASSERT_EQ(Token().CreateContainerNamed(name, &ctr), CKR_OK);
    ASSERT_EQ(name.size(), 20u);
    EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF"), std::string::npos) << name;
    std::string again = name;
    uint16_t other = 0;
    EXPECT_EQ(Token().CreateContainerNamed(again, &other), CKR_GENERAL_ERROR) << "the name exists";

    char names[256] = {};
    CK_ULONG len = sizeof names;
    ASSERT_EQ(Token().EnumContainer(app, names, &len), kSwSuccess);
    EXPECT_EQ(std::string(names), name);

    Bytes cert(996);
    for (size_t i = 0; i < cert.size(); ++i)
        cert[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(Token().ImportCertificate(app, ctr, true, cert.data(), cert.size()), kSwSuccess);
    Bytes back(996);
    CK_ULONG backLen = 995;
    EXPECT_EQ(Token().ExportCertificate(app, ctr, true, back.data(), &backLen), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(backLen, 996u);
    ASSERT_EQ(Token().ExportCertificate(app, ctr, true, back.data(), &backLen), kSwSuccess);
    EXPECT_EQ(backLen, 996u) << "the 1,000-byte answer less its length prefix";
    EXPECT_EQ(back, cert);
}

Bytes BigNumBytes(EVP_PKEY* key, const char* param) {
    BIGNUM* bn = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, param, &bn), 1);
    Bytes out(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_free(bn);
    return out;
}

TEST_P(TokenInformation, AnImportedRsaKeySignsWhatOpenSslVerifies) {
    const uint16_t app = OpenApp();
    ASSERT_EQ(UserLogin(kDefaultPin), CKR_OK);
    EVP_PKEY* key = EVP_RSA_gen(2048);
    ASSERT_NE(key, nullptr);
    const Bytes n = BigNumBytes(key, OSSL_PKEY_PARAM_RSA_N), e = BigNumBytes(key, OSSL_PKEY_PARAM_RSA_E),
                d = BigNumBytes(key, OSSL_PKEY_PARAM_RSA_D), p = BigNumBytes(key, OSSL_PKEY_PARAM_RSA_FACTOR1),
                q = BigNumBytes(key, OSSL_PKEY_PARAM_RSA_FACTOR2), dp = BigNumBytes(key, OSSL_PKEY_PARAM_RSA_EXPONENT1),
                dq = BigNumBytes(key, OSSL_PKEY_PARAM_RSA_EXPONENT2),
                qinv = BigNumBytes(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
    std::string container;
    uint16_t ctr = 0;
    ASSERT_EQ(Token().ImportRsaKeyObject(n.data(), n.size(), e.data(), e.size(), d.data(), d.size(), p.data(), p.size(),
                                         q.data(), q.size(), dp.data(), dp.size(), dq.data(), dq.size(), qinv.data(),
                                         qinv.size(), container, &ctr, 0),
              CKR_OK);
    EXPECT_EQ(container.size(), 20u) << "a container was made for the key";

    unsigned char modulus[256];
    CK_ULONG modulusLen = sizeof modulus;
    unsigned char exponent[4];
    CK_ULONG exponentLen = 0;
    ASSERT_EQ(Token().ExportRsaPublicKey(container, modulus, &modulusLen, exponent, &exponentLen, 0), CKR_OK);
    EXPECT_EQ(Bytes(modulus, modulus + modulusLen), n);
    EXPECT_EQ(exponentLen, 4u);

    const std::string message = "signed by the token";
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest);
    unsigned char signature[256];
    CK_ULONG signatureLen = sizeof signature;
    ASSERT_EQ(Token().RsaPrivateOperation(ctr, digest, sizeof digest, signature, &signatureLen, 0), CKR_OK);
    ASSERT_EQ(signatureLen, 256u);

    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ASSERT_EQ(EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, key), 1);
    EXPECT_EQ(EVP_DigestVerify(md, signature, signatureLen, reinterpret_cast<const unsigned char*>(message.data()),
                               message.size()),
              1);
    EVP_MD_CTX_free(md);
    EVP_PKEY_free(key);

    // Unknown container: the open fails on the card.
    EXPECT_EQ(Token().ExportRsaPublicKey("NO-SUCH", modulus, &modulusLen, exponent, &exponentLen, 0), CKR_DEVICE_ERROR);
    (void)app;
}

TEST_P(TokenInformation, KeyPairGenerationNeedsASlotAndReturnsModulusAndExponent) {
    OpenApp();
    ASSERT_EQ(UserLogin(kDefaultPin), CKR_OK);
    std::string name = "gen";
    uint16_t ctr = 0;
    ASSERT_EQ(Token().CreateContainerNamed(name, &ctr), CKR_OK);
    unsigned char modulus[128];
    CK_ULONG modulusLen = sizeof modulus;
    CK_ULONG exponent = 0;
    ASSERT_EQ(Token().GenerateRsaKeyPair(ctr, 1024, &exponent, modulus, &modulusLen), CKR_OK);
    EXPECT_EQ(modulusLen, 128u);
    EXPECT_EQ(exponent, 65537u);
    EXPECT_NE(modulus[0] & 0x80, 0) << "a full 1,024-bit modulus";

    CToken5105Auto orphan(nullptr, m_plugged.path, false);
    EXPECT_EQ(orphan.GenerateRsaKeyPair(ctr, 1024, &exponent, modulus, &modulusLen), CKR_GENERAL_ERROR);
}

TEST_P(TokenInformation, DeviceKeyChangeUnderSm2IsAcceptedByTheCard) {
    // Authenticate with the current key: SM4 of the zero-padded challenge.
    auto authenticate = [this](const char* deviceKey) {
        unsigned char challenge[16] = {};
        EXPECT_EQ(Token().GenRandom(challenge, 8), kSwSuccess);
        unsigned char response[16];
        EXPECT_TRUE(SM4EcbCrypt(reinterpret_cast<const unsigned char*>(deviceKey), challenge, 16, response, true));
        return Token().DevAuth(response, sizeof response);
    };
    ASSERT_EQ(authenticate("1234567812345678"), kSwSuccess);
    unsigned char challenge[8];
    ASSERT_EQ(Token().GenRandom(challenge, sizeof challenge), kSwSuccess);
    ASSERT_EQ(Token().PrepareDevAuthKeyChange(), CKR_OK);
    const unsigned char newKey[17] = "ABCDEFGHIJKLMNOP";
    std::vector<unsigned char> answer;
    Commands();
    ASSERT_EQ(Token().ChangeDevAuthKeySm2(newKey, &answer), kSwSuccess);
    const std::vector<std::string> sent = Commands();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].substr(0, 14), "80030000000070");
    EXPECT_EQ(sent[0].size(), 2u * (7 + 112));
    ASSERT_EQ(answer.size(), 20u) << "the new key under the old one, and its MAC";
    ASSERT_EQ(Token().ChangeDevAuthKey(answer.data(), answer.size()), kSwSuccess);
    EXPECT_EQ(authenticate("1234567812345678"), 0x63C9u) << "the old key is gone";
    EXPECT_EQ(authenticate("ABCDEFGHIJKLMNOP"), kSwSuccess);
}

TEST_P(TokenInformation, ResetSecurityStateSendsTheAccessCodeThenTheReset) {
    Commands();
    ASSERT_EQ(Token().ResetSecurityState(), CKR_OK);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"C68C385A103F10C7729A4D06B5E1287C93DA5F4068", "80010A0000000105"}));
    FaultRule("sw:INS=0x8C,SW=0x6982");
    EXPECT_EQ(Token().ResetSecurityState(), 0x6982u) << "a refused access code is returned as is";
}

using TokenFailures = TokenTest;

TEST_P(TokenFailures, UnpluggedOrBrokenAnswersGiveCodesNeverHangs) {
    OpenApp();
    FaultRule("unplug-mid");
    unsigned char random[16];
    EXPECT_EQ(Token().GenRandom(random, sizeof random), kSwTransportFailure);
    EXPECT_EQ(UserLogin(kDefaultPin), CKR_GENERAL_ERROR);
    AUX_PIN_INFO info;
    EXPECT_EQ(Token().GetPinInfo(&info), CKR_GENERAL_ERROR);
    CK_TOKEN_INFO tokenInfo;
    EXPECT_EQ(Token().GetTokenInfo(&tokenInfo), CKR_GENERAL_ERROR);
    Bytes data(4500);
    CK_ULONG readLen = 0;
    EXPECT_EQ(Token().ReadFile(1, "data", 0, 4500, data.data(), &readLen), kSwTransportFailure);
}

TEST_P(TokenFailures, TruncatedAnswersAreRejected) {
    const uint16_t app = OpenApp();
    FaultRule("truncate:1");
    unsigned char random[8];
    EXPECT_EQ(Token().GenRandom(random, sizeof random), kSwTransportFailure) << "shorter than a status word";
    FaultRule("sw:INS=0x14,SW=0x9000");
    uint8_t maxRetries = 0xEE, left = 0xEE, isDefault = 0xEE;
    EXPECT_EQ(Token().QueryPinInfo(kPinTypeUser, app, &maxRetries, &left, &isDefault), kSwTransportFailure)
        << "a PIN-information answer without its three bytes";
    EXPECT_EQ(left, 0xEE);
    FaultRule("sw:INS=0x14,SW=0x9000");
    AUX_PIN_INFO info;
    EXPECT_EQ(Token().GetPinInfo(&info), CKR_GENERAL_ERROR);
    FaultRule("sw:INS=0x42,SW=0x9000");
    uint16_t ctr = 0;
    EXPECT_EQ(Token().OpenContainer(app, "any", &ctr), kSwTransportFailure) << "no container id in the answer";
}

INSTANTIATE_TEST_SUITE_P(Transports, TokenPinState, ::testing::ValuesIn(kTokenKinds), KindName);
INSTANTIATE_TEST_SUITE_P(Transports, LabelledToken, ::testing::ValuesIn(kTokenKinds), KindName);
INSTANTIATE_TEST_SUITE_P(Transports, TokenInformation, ::testing::ValuesIn(kTokenKinds), KindName);
INSTANTIATE_TEST_SUITE_P(Transports, TokenFailures, ::testing::ValuesIn(kTokenKinds), KindName);

} // namespace
} // namespace keycore::test
