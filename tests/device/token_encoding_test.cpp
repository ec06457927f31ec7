// Encodings that need no token: command templates, PIN blocks and their MAC, DER of RSA keys, and
// the mechanism table.

#include "crypto/sm4_helpers.h"
#include "device/apdu_template.h"
#include "device/der_encode.h"
#include "device/pin_block.h"
#include "device/secure_messaging.h"
#include "device/token5105_auto.h"
#include "vtoken_test_support.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace keycore::test {
namespace {

using vtoken::test::Bytes;
using vtoken::test::FromHex;
using vtoken::test::Hex;

struct TemplateCase {
    const char* what;
    const char* text;
    std::initializer_list<unsigned long> args;
    const char* expected;
};

TEST(CommandTemplate, FormatsDirectivesThenReadsNibblesFromTheEnd) {
    const TemplateCase cases[] = {
        {"fixed bytes, blanks skipped", "80040000 000000", {}, "80040000000000"},
        {"two-digit directive", "8002 0000 0000%02x", {0x20}, "80020000000020"},
        {"four-digit directive",
         "8052 0000 000002 %04x 0000",
         {2048},
         "805200000000020800"
         "0000"},
        {"several directives in order",
         "8014 00%02x 000002 %02x%02x 0003",
         {1, 0x12, 0x34},
         "80140001000002123400"
         "03"},
        {"a value wider than its directive keeps every digit", "8002 0000 0000%02x", {0x123}, "0800200000000123"},
        {"upper and lower case digits", "ab CD eF", {}, "ABCDEF"},
        {"odd digit count: the leftover first nibble is a byte of its own", "123", {}, "0123"},
        {"other characters are separators only", "80-50:00.00", {}, "80500000"},
        {"a directive without an argument formats nothing", "80%02x", {}, "80"},
        {"surplus arguments are ignored", "8001", {1, 2}, "8001"},
        {"an unknown directive is copied and its digits read", "%03x 01", {5}, "0301"},
        {"empty template", "", {}, ""},
    };
    for (const TemplateCase& c : cases)
        EXPECT_EQ(Hex(CommandFromTemplate(c.text, c.args)), c.expected) << c.what;
    EXPECT_TRUE(CommandFromTemplate(nullptr, {1}).empty());
}

TEST(CommandTemplate, FormattedTextUsesLowerCaseAndMinimumWidth) {
    EXPECT_EQ(FormatApduTemplate("x%02x-%04x-%02x", {0xAB, 0x1F, 7}), "xab-001f-07");
}

// The token's view of a PIN block: decrypt and check the layout byte by byte.
struct PinBlockCase {
    size_t pinLength;
    size_t blockLength;
};

TEST(PinBlock, LengthPrefixContentMarkerAndZerosToTheNextBlock) {
    const PinBlockCase cases[] = {
        {0, 16}, {1, 16}, {8, 16}, {12, 16}, {13, 32}, {14, 32}, {28, 32}, {29, 48}, {30, 48}, {64, 80},
    };
    for (const PinBlockCase& c : cases) {
        std::string pin(c.pinLength, 'p');
        for (size_t i = 0; i < pin.size(); ++i)
            pin[i] = static_cast<char>('a' + i % 26);
        const Bytes block = MakePinBlock(pin.data(), pin.size());
        ASSERT_EQ(block.size(), c.blockLength) << c.pinLength;
        EXPECT_EQ(block[0], static_cast<uint8_t>(c.pinLength)) << "length is little-endian";
        EXPECT_EQ(block[1], 0);
        EXPECT_EQ(std::string(block.begin() + 2, block.begin() + 2 + static_cast<long>(pin.size())), pin);
        EXPECT_EQ(block[2 + pin.size()], 0x80);
        for (size_t i = 3 + pin.size(); i < block.size(); ++i)
            EXPECT_EQ(block[i], 0) << "pin " << c.pinLength << " byte " << i;
    }
}

TEST(PinBlock, LongContentKeepsBothLengthBytes) {
    const Bytes content(300, 0x41);
    const Bytes block = MakePinBlock(content.data(), content.size());
    ASSERT_EQ(block.size(), IsoPaddedLength(302));
    EXPECT_EQ(block[0], 0x2C);
    EXPECT_EQ(block[1], 0x01);
    EXPECT_TRUE(MakePinBlock(content.data(), 0x10000).empty()) << "longer than the length field";
}

TEST(PinBlock, EncryptionIsSm4EcbUnderTheFirst16BytesOfSha1) {
    const std::string pin = "12345678";
    unsigned char sha1[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(pin.data()), pin.size(), sha1);
    const PinKey key = DerivePinKey(pin.data(), pin.size());
    EXPECT_EQ(Hex(Bytes(key.begin(), key.end())), Hex(Bytes(sha1, sha1 + 16)));

    const std::string content = "0123456789ABCD"; // 14 bytes: two blocks
    const Bytes cipher = EncryptPinBlock(key, content.data(), content.size());
    ASSERT_EQ(cipher.size(), 32u);
    Bytes plain(cipher.size());
    ASSERT_TRUE(SM4EcbCrypt(key.data(), cipher.data(), cipher.size(), plain.data(), false));
    EXPECT_EQ(plain, MakePinBlock(content.data(), content.size()));
    // ECB: each block on its own, so the second block does not depend on the first.
    Bytes secondOnly(16);
    ASSERT_TRUE(SM4EcbCrypt(key.data(), cipher.data() + 16, 16, secondOnly.data(), false));
    EXPECT_EQ(Bytes(plain.begin() + 16, plain.end()), secondOnly);
}

TEST(CommandMac, IsTheFirstFourBytesOfTheLastCbcBlockWithTheChallengeAsIv) {
    const PinKey key = DerivePinKey("12345678", 8);
    const Bytes challenge = FromHex("0102030405060708");
    const Bytes commands[] = {FromHex("8416000100002600 01"), Bytes(15, 0x11), Bytes(16, 0x22), Bytes(40, 0x33)};
    for (const Bytes& command : commands) {
        const auto mac = CommandMac(key, challenge.data(), command);
        ASSERT_TRUE(mac.has_value());
        Bytes padded = command;
        padded.push_back(0x80);
        while (padded.size() % 16 != 0)
            padded.push_back(0);
        if (command.size() % 16 == 15)
            padded.insert(padded.end(), 16, 0); // 0x80 ended a block: one whole zero block follows
        Bytes iv = challenge;
        iv.resize(16, 0);
        Bytes cbc(padded.size());
        ASSERT_TRUE(SM4CbcCrypt(key.data(), iv.data(), padded.data(), padded.size(), cbc.data(), true));
        EXPECT_EQ(Hex(Bytes(mac->begin(), mac->end())), Hex(Bytes(cbc.end() - 16, cbc.end() - 12))) << Hex(command);
    }
    EXPECT_FALSE(CommandMac(key, nullptr, Bytes(4, 0)).has_value());
}

struct DerIntegerCase {
    size_t length;
    uint8_t first;
    const char* header; // tag and length bytes
    bool leadingZero;
};

TEST(DerInteger, LengthFormsAndTheSignByte) {
    const DerIntegerCase cases[] = {
        {1, 0x01, "0201", false},         {1, 0x80, "0202", true},        {127, 0x7F, "027F", false},
        {127, 0x80, "028180", true},      {128, 0x01, "028180", false},   {255, 0x01, "0281FF", false},
        {255, 0xFF, "02820100", true},    {256, 0x01, "02820100", false}, {0xFFFE, 0x01, "0282FFFE", false},
        {0xFFFD, 0x80, "0282FFFE", true},
    };
    for (const DerIntegerCase& c : cases) {
        Bytes value(c.length, 0x5A);
        value[0] = c.first;
        Bytes out(c.length + 8, 0xEE);
        size_t outLen = 0;
        ASSERT_TRUE(DerEncodeInteger(value.data(), value.size(), out.data(), &outLen)) << c.length;
        const Bytes header = FromHex(c.header);
        const size_t expectedLen = header.size() + (c.leadingZero ? 1 : 0) + c.length;
        ASSERT_EQ(outLen, expectedLen) << c.length;
        EXPECT_EQ(Hex(Bytes(out.begin(), out.begin() + static_cast<long>(header.size()))), c.header);
        if (c.leadingZero) {
            EXPECT_EQ(out[header.size()], 0);
        }
        if (c.length > 1) {
            EXPECT_EQ(out[outLen - 1], 0x5A);
        }
        EXPECT_EQ(out[outLen], 0xEE) << "nothing written past the INTEGER";
    }
}

TEST(DerInteger, RefusesTooLongOrMissingValues) {
    Bytes value(0xFFFF, 0x01);
    size_t len = 7;
    EXPECT_FALSE(DerEncodeInteger(value.data(), value.size(), nullptr, &len));
    value.assign(0xFFFE, 0x80); // the sign byte makes it 0xFFFF
    EXPECT_FALSE(DerEncodeInteger(value.data(), value.size(), nullptr, &len));
    EXPECT_FALSE(DerEncodeInteger(nullptr, 4, nullptr, &len));
    EXPECT_FALSE(DerEncodeInteger(value.data(), 0, nullptr, &len));
    EXPECT_EQ(len, 7u) << "nothing stored on failure";

    CToken5105Auto token(nullptr, "001:001", false);
    unsigned char out[8];
    CK_ULONG outLen = 0;
    EXPECT_EQ(token.EncodeDerInteger(value.data(), 0xFFFF, out, &outLen), 0);
    const unsigned char small[] = {0x80};
    EXPECT_EQ(token.EncodeDerInteger(small, 1, out, &outLen), 1);
    EXPECT_EQ(Hex(Bytes(out, out + outLen)), "02020080");
}

// An RSA key from OpenSSL, its components as big-endian byte strings.
struct RsaParts {
    Bytes n, e, d, p, q, dp, dq, qinv;
};

Bytes BigNumBytes(EVP_PKEY* key, const char* name) {
    BIGNUM* bn = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, name, &bn), 1) << name;
    Bytes out(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_free(bn);
    return out;
}

RsaParts PartsOf(EVP_PKEY* key) {
    return {BigNumBytes(key, OSSL_PKEY_PARAM_RSA_N),         BigNumBytes(key, OSSL_PKEY_PARAM_RSA_E),
            BigNumBytes(key, OSSL_PKEY_PARAM_RSA_D),         BigNumBytes(key, OSSL_PKEY_PARAM_RSA_FACTOR1),
            BigNumBytes(key, OSSL_PKEY_PARAM_RSA_FACTOR2),   BigNumBytes(key, OSSL_PKEY_PARAM_RSA_EXPONENT1),
            BigNumBytes(key, OSSL_PKEY_PARAM_RSA_EXPONENT2), BigNumBytes(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1)};
}

TEST(RsaPrivateKeyDer, OpenSslReadsBackTheSameKey) {
    for (unsigned bits : {512u, 1024u, 2048u}) {
        EVP_PKEY* key = EVP_RSA_gen(bits);
        ASSERT_NE(key, nullptr);
        const RsaParts parts = PartsOf(key);
        CToken5105Auto token(nullptr, "001:001", false);
        CK_ULONG needed = 0;
        ASSERT_TRUE(token.EncodeRsaPrivateKey(
            0, parts.n.data(), parts.n.size(), parts.e.data(), parts.e.size(), parts.d.data(), parts.d.size(),
            parts.p.data(), parts.p.size(), parts.q.data(), parts.q.size(), parts.dp.data(), parts.dp.size(),
            parts.dq.data(), parts.dq.size(), parts.qinv.data(), parts.qinv.size(), nullptr, &needed));
        Bytes der(needed);
        CK_ULONG derLen = der.size();
        ASSERT_TRUE(token.EncodeRsaPrivateKey(
            0, parts.n.data(), parts.n.size(), parts.e.data(), parts.e.size(), parts.d.data(), parts.d.size(),
            parts.p.data(), parts.p.size(), parts.q.data(), parts.q.size(), parts.dp.data(), parts.dp.size(),
            parts.dq.data(), parts.dq.size(), parts.qinv.data(), parts.qinv.size(), der.data(), &derLen));
        ASSERT_EQ(derLen, needed);
        EXPECT_EQ(der[0], 0x30);
        EXPECT_EQ(der[1], 0x82) << "the sequence length always takes two bytes";
        EXPECT_EQ(static_cast<size_t>(der[2] << 8 | der[3]), derLen - 4);
        EXPECT_EQ(Hex(Bytes(der.begin() + 4, der.begin() + 7)), "020100");

        const unsigned char* p = der.data();
        EVP_PKEY* parsed = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size()));
        ASSERT_NE(parsed, nullptr) << bits;
        EXPECT_EQ(p, der.data() + der.size()) << "every byte consumed";
        EXPECT_EQ(EVP_PKEY_eq(key, parsed), 1);
        const RsaParts back = PartsOf(parsed);
        EXPECT_EQ(back.d, parts.d);
        EXPECT_EQ(back.qinv, parts.qinv);
        EVP_PKEY_free(parsed);
        EVP_PKEY_free(key);

        CK_ULONG tooSmall = derLen - 1;
        EXPECT_FALSE(token.EncodeRsaPrivateKey(
            0, parts.n.data(), parts.n.size(), parts.e.data(), parts.e.size(), parts.d.data(), parts.d.size(),
            parts.p.data(), parts.p.size(), parts.q.data(), parts.q.size(), parts.dp.data(), parts.dp.size(),
            parts.dq.data(), parts.dq.size(), parts.qinv.data(), parts.qinv.size(), der.data(), &tooSmall))
            << "a buffer one byte short is refused, not overrun";
    }
}

TEST(RsaPrivateKeyDer, ShortSequencesStillUseTheTwoByteLength) {
    const unsigned char one[] = {0x01};
    RsaKeyComponents key = {one, 1, one, 1, one, 1, one, 1, one, 1, one, 1, one, 1, one, 1};
    uint8_t out[64];
    size_t len = sizeof out;
    ASSERT_TRUE(DerEncodeRsaPrivateKey(0, key, out, &len));
    EXPECT_EQ(Hex(Bytes(out, out + len)),
              "3082001B020100" + std::string("020101020101020101020101020101020101020101020101"));
    key.prime2 = nullptr;
    EXPECT_FALSE(DerEncodeRsaPrivateKey(0, key, out, &len)) << "a missing component";
}

TEST(MechanismTable, ListRespectsTheCallersCountAndIsAscending) {
    CToken5105Auto token(nullptr, "001:001", false);
    CK_ULONG count = 0;
    ASSERT_EQ(token.GetMechanismList(nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 44u);

    std::vector<CK_MECHANISM_TYPE> list(45, 0xDEAD);
    count = 43;
    EXPECT_EQ(token.GetMechanismList(list.data(), &count), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 44u);
    EXPECT_EQ(list[0], 0xDEADu) << "nothing written on a short buffer";

    count = 44;
    ASSERT_EQ(token.GetMechanismList(list.data(), &count), CKR_OK);
    EXPECT_EQ(count, 44u);
    EXPECT_EQ(list.front(), CKM_RSA_PKCS_KEY_PAIR_GEN);
    EXPECT_EQ(list[43], CKM_AES_CBC);
    EXPECT_EQ(list[44], 0xDEADu) << "nothing past the 44 entries";
    EXPECT_TRUE(std::is_sorted(list.begin(), list.begin() + 44));
    EXPECT_TRUE(std::adjacent_find(list.begin(), list.begin() + 44) == list.begin() + 44);
    EXPECT_EQ(token.GetMechanismList(list.data(), nullptr), CKR_ARGUMENTS_BAD);
}

TEST(MechanismTable, InfoRowsAndUnknownMechanisms) {
    CToken5105Auto token(nullptr, "001:001", false);
    struct Row {
        CK_MECHANISM_TYPE type;
        CK_ULONG min, max;
        CK_FLAGS flags;
    };
    const Row rows[] = {
        {CKM_RSA_PKCS, 512, 2048,
         CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_SIGN_RECOVER | CKF_VERIFY | CKF_VERIFY_RECOVER | CKF_WRAP |
             CKF_UNWRAP},
        {CKM_RSA_PKCS_OAEP, 1024, 2048, CKF_ENCRYPT | CKF_DECRYPT},
        {CKM_SHA512_RSA_PKCS, 1024, 2048, CKF_HW | CKF_SIGN | CKF_VERIFY},
        {CKM_DES_KEY_GEN, 56, 56, CKF_GENERATE},
        {CKM_DES3_ECB, 24, 24, CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP},
        {CKM_SHA224, 0, 0, CKF_DIGEST},
        {CKM_AES_KEY_GEN, 16, 32, CKF_GENERATE},
    };
    for (const Row& row : rows) {
        CK_MECHANISM_INFO info = {};
        ASSERT_EQ(token.GetMechanismInfo(row.type, &info), CKR_OK) << row.type;
        EXPECT_EQ(info.ulMinKeySize, row.min) << row.type;
        EXPECT_EQ(info.ulMaxKeySize, row.max) << row.type;
        EXPECT_EQ(info.flags, row.flags) << row.type;
    }
    CK_MECHANISM_INFO info = {};
    EXPECT_EQ(token.GetMechanismInfo(CKM_SHA256_HMAC, &info), CKR_MECHANISM_INVALID);
    EXPECT_EQ(token.GetMechanismInfo(CKM_RSA_PKCS, nullptr), CKR_ARGUMENTS_BAD);
}

TEST(TokenObject, FreshObjectStateAndLocalOperations) {
    CToken5105Auto token(nullptr, "001:001", false);
    EXPECT_EQ(token.GetTokenFlags(), static_cast<CK_FLAGS>(0x40D));
    EXPECT_FALSE(token.IsOpen());
    unsigned char cache[kSoPinCacheSize];
    EXPECT_EQ(token.GetSoPinCache(cache), CKR_GENERAL_ERROR) << "empty before any SO login";
    EXPECT_EQ(token.InitToken(nullptr, 0, nullptr), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(token.Unsupported7(), CKR_FUNCTION_NOT_SUPPORTED);

    EXPECT_EQ(token.SetPinTypeBytes(0x11, 0x22), CKR_OK);
    EXPECT_EQ(token.PinTypeByte(0), 0x11);
    EXPECT_EQ(token.PinTypeByte(1), 0x22);
    EXPECT_EQ(token.PinTypeByte(2), -1);

    const unsigned char data[] = "container";
    const std::vector<unsigned char> id = token.HashToId(data, sizeof data - 1);
    ASSERT_EQ(id.size(), 16u);
    EXPECT_TRUE(std::find(id.begin(), id.end(), 0xFF) == id.end());
    EXPECT_TRUE(token.HashToId(nullptr, 4).empty());

    // Without a device every command fails with a code, none touches USB.
    unsigned char random[8];
    EXPECT_EQ(token.GenRandom(random, sizeof random), kSwTransportFailure);
    AUX_PIN_INFO pinInfo;
    EXPECT_EQ(token.GetPinInfo(&pinInfo), CKR_GENERAL_ERROR);
    CK_TOKEN_INFO info;
    EXPECT_EQ(token.GetTokenInfo(&info), CKR_GENERAL_ERROR);
    EXPECT_EQ(token.EnsureApplication(), CKR_GENERAL_ERROR);
}

TEST(TokenObject, HashToIdReplacesEveryFfByte) {
    CToken5105Auto token(nullptr, "001:001", false);
    // Search a small input whose MD5 holds 0xFF, then check the substitution against OpenSSL's MD5.
    for (unsigned i = 0; i < 4096; ++i) {
        const std::string text = std::to_string(i);
        unsigned char md[16];
        unsigned int mdLen = 0;
        EVP_Digest(text.data(), text.size(), md, &mdLen, EVP_md5(), nullptr);
        if (std::find(md, md + 16, 0xFF) == md + 16)
            continue;
        std::replace(md, md + 16, static_cast<unsigned char>(0xFF), static_cast<unsigned char>(0xFE));
        EXPECT_EQ(token.HashToId(reinterpret_cast<const unsigned char*>(text.data()), text.size()),
                  std::vector<unsigned char>(md, md + 16));
        return;
    }
    FAIL() << "no input with an 0xFF digest byte";
}

} // namespace
} // namespace keycore::test
