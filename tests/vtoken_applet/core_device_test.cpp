#include "core_test_support.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>

#include "device/token_identity.h"

namespace vtoken::testing {
namespace {

namespace identity = keycore::token_identity;

const Bytes kDefaultDeviceKey = Text("1234567812345678");

Bytes AccessCodeApdu() {
    Bytes apdu(identity::kAccessCodeHeader, identity::kAccessCodeHeader + 5);
    apdu.insert(apdu.end(), identity::kAccessCode, identity::kAccessCode + 16);
    return apdu;
}

uint32_t BigEndianAt(const Bytes& b, size_t offset) {
    return (uint32_t(b[offset]) << 24) | (uint32_t(b[offset + 1]) << 16) | (uint32_t(b[offset + 2]) << 8) |
           b[offset + 3];
}

// SM2 encryption to the token's fixed public key, in the token's form: C1 without 04, C3, C2.
Bytes EncryptToTokenKey(const Bytes& plain) {
    Bytes pub = {0x04};
    pub.insert(pub.end(), identity::kDeviceKeyTransportPublicX, identity::kDeviceKeyTransportPublicX + 32);
    pub.insert(pub.end(), identity::kDeviceKeyTransportPublicY, identity::kDeviceKeyTransportPublicY + 32);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, pub.data(), pub.size());
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* kctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(kctx);
    EVP_PKEY_fromdata(kctx, &key, EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX* ectx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_encrypt_init(ectx);
    size_t size = 0;
    EVP_PKEY_encrypt(ectx, nullptr, &size, plain.data(), plain.size());
    Bytes der(size);
    EVP_PKEY_encrypt(ectx, der.data(), &size, plain.data(), plain.size());
    der.resize(size);
    EVP_PKEY_CTX_free(ectx);
    EVP_PKEY_free(key);
    EVP_PKEY_CTX_free(kctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);

    // SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3, OCTET STRING C2 }, all short lengths here.
    size_t pos = 2;
    auto element = [&]() {
        size_t length = der[pos + 1];
        Bytes value(der.begin() + pos + 2, der.begin() + pos + 2 + length);
        pos += 2 + length;
        return value;
    };
    auto coordinate = [](Bytes v) {
        while (v.size() > 32)
            v.erase(v.begin());
        v.insert(v.begin(), 32 - v.size(), 0);
        return v;
    };
    Bytes x = coordinate(element()), y = coordinate(element()), c3 = element(), c2 = element();
    return Cat({x, y, c3, c2});
}

using DeviceTest = TokenFixture;

TEST_F(DeviceTest, DeviceInfoCarriesTheFieldsWhereTheHostReadsThem) {
    ASSERT_EQ(Sw(Apdu(0x80, 0x02, 0, 0, Text("my token"))), 0x9000);
    Reply r = Send({0x80, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00});
    ASSERT_EQ(r.sw, 0x9000);
    ASSERT_GE(r.data.size(), 224u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.data[132])), "my token");
    EXPECT_EQ(std::string(r.data.begin() + 164, r.data.begin() + 176), "VT0000000001");
    EXPECT_EQ(r.data[176], 0);
    EXPECT_NE(r.data[198], 0x10) << "a firmware major of 0x10 would make the host render the serial in hex";
    EXPECT_EQ(BigEndianAt(r.data, 212), 0x401u);
    uint32_t total = BigEndianAt(r.data, 216), free = BigEndianAt(r.data, 220);
    EXPECT_GT(total, 0u);
    EXPECT_LT(free, total);

    // Writing a file uses space.
    uint16_t app = OpenApp();
    Bytes record = Cat({Text("f"), Bytes(31, 0), U32(4000), U32(0xFF), U32(0xFF)});
    ASSERT_EQ(Sw(Apdu(0x80, 0x30, app >> 8, app & 0xFF, record)), 0x9000);
    Reply after = Send({0x80, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00});
    EXPECT_LE(BigEndianAt(after.data, 220) + 4000, free);
}

TEST_F(DeviceTest, LabelLimits) {
    EXPECT_EQ(Sw(Apdu(0x80, 0x02, 0, 0, Bytes(32, 'L'))), 0x9000);
    EXPECT_EQ(m_token->Label(), std::string(32, 'L'));
    EXPECT_EQ(Sw(Apdu(0x80, 0x02, 0, 0, Bytes(33, 'L'))), 0x6700);
    EXPECT_EQ(m_token->Label(), std::string(32, 'L'));
    OpenToken();
    EXPECT_EQ(m_token->Label(), std::string(32, 'L'));
}

TEST_F(DeviceTest, DeviceAuthenticationWithEightAndSixteenByteChallenges) {
    for (unsigned size : {8u, 16u}) {
        Bytes challenge = Challenge(size);
        challenge.resize(16, 0);
        Bytes auth = Sm4(kDefaultDeviceKey, challenge);
        EXPECT_EQ(Sw(Apdu(0x80, 0x10, 0, 0, auth)), 0x9000) << size;
        // The challenge is spent.
        EXPECT_EQ(Sw(Apdu(0x80, 0x10, 0, 0, auth)), 0x6985) << size;
    }
}

TEST_F(DeviceTest, WrongDeviceAuthenticationCountsDownLocksAndResets) {
    auto attempt = [&](const Bytes& key) {
        Bytes challenge = Challenge(8);
        challenge.resize(16, 0);
        return Sw(Apdu(0x80, 0x10, 0, 0, Sm4(key, challenge)));
    };
    Bytes wrongKey(16, 0x55);
    EXPECT_EQ(attempt(wrongKey), 0x63C9);
    EXPECT_EQ(attempt(kDefaultDeviceKey), 0x9000);
    for (unsigned left = 9; left >= 1; --left)
        ASSERT_EQ(attempt(wrongKey), 0x63C0 | left);
    EXPECT_EQ(attempt(wrongKey), 0x6983);
    EXPECT_EQ(attempt(kDefaultDeviceKey), 0x6983);
    OpenToken();
    EXPECT_EQ(attempt(kDefaultDeviceKey), 0x6983) << "the lock is persistent";
    EXPECT_EQ(Sw(Apdu(0x80, 0x10, 0, 0, Bytes(15, 0))), 0x6700);
}

TEST_F(DeviceTest, ChangeDeviceKeyThroughTheTokensSm2Key) {
    Bytes newKey = Text("ABCDEFGHIJKLMNOP");
    auto authenticate = [&](const Bytes& key) {
        Bytes challenge = Challenge(8);
        challenge.resize(16, 0);
        return Sw(Apdu(0x80, 0x10, 0, 0, Sm4(key, challenge)));
    };
    Bytes sm2 = Apdu(0x80, 0x03, 0, 0, EncryptToTokenKey(newKey));
    ASSERT_EQ(sm2.size(), 7u + 112u);

    // Without device authentication, and without the access code, the change is refused.
    Challenge();
    ASSERT_EQ(Sw(AccessCodeApdu()), 0x9000);
    EXPECT_EQ(Sw(sm2), 0x6982);
    ASSERT_EQ(authenticate(kDefaultDeviceKey), 0x9000);
    Challenge();
    EXPECT_EQ(Sw(sm2), 0x6982);

    // The host's sequence: challenge, access code, SM2 command, then ChangeDevAuthKey with the answer.
    Bytes challenge = Challenge();
    ASSERT_EQ(Sw(AccessCodeApdu()), 0x9000);
    Reply answer = Send(sm2);
    ASSERT_EQ(answer.sw, 0x9000);
    ASSERT_EQ(answer.data.size(), 20u);
    Bytes header = {0x84, 0x12, 0x00, 0x00, 0x00, 0x00, 0x14};
    Bytes wrapped(answer.data.begin(), answer.data.begin() + 16);
    EXPECT_EQ(Sm4Decrypt(kDefaultDeviceKey, wrapped), newKey);
    EXPECT_EQ(Bytes(answer.data.begin() + 16, answer.data.end()),
              HostMac(Cat({header, wrapped}), kDefaultDeviceKey, challenge));
    Bytes change = Cat({header, answer.data});
    Bytes tampered = change;
    tampered[8] ^= 1;
    EXPECT_EQ(Sw(tampered), 0x6988);
    EXPECT_EQ(authenticate(kDefaultDeviceKey), 0x9000) << "a tampered change changes nothing";

    challenge = Challenge();
    ASSERT_EQ(Sw(AccessCodeApdu()), 0x9000);
    answer = Send(sm2);
    ASSERT_EQ(answer.sw, 0x9000);
    EXPECT_EQ(Sw(Cat({header, answer.data})), 0x9000);
    EXPECT_EQ(authenticate(kDefaultDeviceKey), 0x63C9);
    EXPECT_EQ(authenticate(newKey), 0x9000);
    OpenToken();
    EXPECT_EQ(authenticate(newKey), 0x9000);
}

TEST_F(DeviceTest, CorruptSm2CiphertextIsRefused) {
    Bytes challenge = Challenge(8);
    challenge.resize(16, 0);
    ASSERT_EQ(Sw(Apdu(0x80, 0x10, 0, 0, Sm4(kDefaultDeviceKey, challenge))), 0x9000);
    Bytes cipher = EncryptToTokenKey(Text("ABCDEFGHIJKLMNOP"));
    cipher[100] ^= 0x01; // C3 no longer matches
    Challenge();
    ASSERT_EQ(Sw(AccessCodeApdu()), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x03, 0, 0, cipher)), 0x6A80);
    Challenge();
    ASSERT_EQ(Sw(AccessCodeApdu()), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x03, 0, 0, Bytes(111, 1))), 0x6700);
}

TEST_F(DeviceTest, AccessCodeGrantsExactlyTheNextCommand) {
    Bytes reset = {0x80, 0x01, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x05};
    EXPECT_EQ(Sw(reset), 0x6982);
    ASSERT_EQ(Sw(AccessCodeApdu()), 0x9000);
    EXPECT_EQ(Sw(reset), 0x9000);
    EXPECT_EQ(Sw(reset), 0x6982) << "the grant is used up";
    // Any command in between uses the grant up.
    ASSERT_EQ(Sw(AccessCodeApdu()), 0x9000);
    Challenge();
    EXPECT_EQ(Sw(reset), 0x6982);

    Bytes wrong = AccessCodeApdu();
    wrong.back() ^= 1;
    EXPECT_EQ(Sw(wrong), 0x6982);
    EXPECT_EQ(Sw(reset), 0x6982);
    // A wrong code right after a good one withdraws the grant.
    ASSERT_EQ(Sw(AccessCodeApdu()), 0x9000);
    EXPECT_EQ(Sw(wrong), 0x6982);
    EXPECT_EQ(Sw(reset), 0x6982);
    Bytes shortCode = AccessCodeApdu();
    shortCode.pop_back();
    EXPECT_EQ(Sw(shortCode), 0x6700);
}

TEST_F(DeviceTest, ResetSecurityStateDropsEveryVerification) {
    uint16_t app = OpenApp();
    ASSERT_EQ(VerifyPin(app, 1, "12345678"), 0x9000);
    ASSERT_EQ(Sw(AccessCodeApdu()), 0x9000);
    ASSERT_EQ(Sw({0x80, 0x01, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x05}), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x40, 0, 0, Cat({U16(app), Text("c")}), {0, 2})), 0x6982);
}

} // namespace
} // namespace vtoken::testing
