#include <gtest/gtest.h>

#include <random>

#include "crypto/sm4.h"
#include "crypto/sm4_helpers.h"
#include "tests/crypto/openssl_reference.h"

namespace {

using reference::Bytes;
using reference::FromHex;

const Bytes kStandardKey = FromHex("0123456789abcdeffedcba9876543210");

Bytes RandomBytes(std::mt19937& rng, size_t len) {
    Bytes out(len);
    for (auto& b : out)
        b = static_cast<unsigned char>(rng());
    return out;
}

TEST(Sm4, StandardExampleEncryptsAndDecrypts) {
    const Bytes expected = FromHex("681edf34d206965e86b3e94f536e4246");
    sm4_context enc, dec;
    ASSERT_EQ(sm4_setkey_enc(&enc, kStandardKey.data()), 0);
    ASSERT_EQ(sm4_setkey_dec(&dec, kStandardKey.data()), 0);
    Bytes block(16), back(16);
    ASSERT_EQ(sm4_crypt_ecb(&enc, kStandardKey.data(), block.data()), 0);
    EXPECT_EQ(block, expected);
    ASSERT_EQ(sm4_crypt_ecb(&dec, block.data(), back.data()), 0);
    EXPECT_EQ(back, kStandardKey);
}

TEST(Sm4, StandardMillionIterations) {
    sm4_context enc;
    sm4_setkey_enc(&enc, kStandardKey.data());
    Bytes block = kStandardKey;
    for (int i = 0; i < 1000000; ++i)
        sm4_crypt_ecb(&enc, block.data(), block.data());
    EXPECT_EQ(block, FromHex("595298c7c6fd271f0402f804c33d3f66"));
}

TEST(Sm4, EcbMatchesOpenSsl) {
    std::mt19937 rng(21);
    // Odd and even block counts: blocks are processed in pairs with a single one left over.
    const size_t blockCounts[] = {1, 2, 3, 4, 7, 64, 513};
    for (size_t blocks : blockCounts) {
        Bytes key = RandomBytes(rng, 16);
        Bytes plain = RandomBytes(rng, blocks * 16);
        Bytes expected = reference::Sm4(EVP_sm4_ecb(), true, key, {}, plain);
        ASSERT_EQ(expected.size(), plain.size());

        Bytes cipher(plain.size());
        ASSERT_TRUE(SM4EcbCrypt(key.data(), plain.data(), plain.size(), cipher.data(), true));
        EXPECT_EQ(cipher, expected) << blocks << " blocks";
        Bytes back(plain.size());
        ASSERT_TRUE(SM4EcbCrypt(key.data(), cipher.data(), cipher.size(), back.data(), false));
        EXPECT_EQ(back, plain) << blocks << " blocks";
    }
}

TEST(Sm4, CbcMatchesOpenSslAndUpdatesTheIv) {
    std::mt19937 rng(22);
    const size_t blockCounts[] = {1, 2, 3, 5, 16, 257};
    for (size_t blocks : blockCounts) {
        Bytes key = RandomBytes(rng, 16);
        Bytes iv = RandomBytes(rng, 16);
        Bytes plain = RandomBytes(rng, blocks * 16);
        Bytes expected = reference::Sm4(EVP_sm4_cbc(), true, key, iv, plain);
        ASSERT_EQ(expected.size(), plain.size());

        sm4_context enc, dec;
        sm4_setkey_enc(&enc, key.data());
        sm4_setkey_dec(&dec, key.data());
        Bytes chain = iv;
        Bytes cipher(plain.size());
        ASSERT_EQ(sm4_crypt_cbc(&enc, SM4_ENCRYPT, plain.size(), chain.data(), plain.data(), cipher.data()), 0);
        EXPECT_EQ(cipher, expected) << blocks << " blocks";
        EXPECT_EQ(chain, Bytes(cipher.end() - 16, cipher.end())) << "IV is the last cipher block";

        chain = iv;
        Bytes back(plain.size());
        ASSERT_EQ(sm4_crypt_cbc(&dec, SM4_DECRYPT, cipher.size(), chain.data(), cipher.data(), back.data()), 0);
        EXPECT_EQ(back, plain) << blocks << " blocks";
        EXPECT_EQ(chain, Bytes(cipher.end() - 16, cipher.end())) << "IV after decryption";
    }
}

// Calls that continue one chain through the updated IV equal one call over the whole buffer,
// whatever the split.
TEST(Sm4, CbcChainsAcrossCalls) {
    std::mt19937 rng(23);
    Bytes key = RandomBytes(rng, 16), iv = RandomBytes(rng, 16), plain = RandomBytes(rng, 10 * 16);
    Bytes expected = reference::Sm4(EVP_sm4_cbc(), true, key, iv, plain);
    const size_t splits[] = {16, 48, 80, 144};
    for (size_t split : splits) {
        for (int mode : {SM4_ENCRYPT, SM4_DECRYPT}) {
            sm4_context ctx;
            if (mode == SM4_ENCRYPT)
                sm4_setkey_enc(&ctx, key.data());
            else
                sm4_setkey_dec(&ctx, key.data());
            const Bytes& in = mode == SM4_ENCRYPT ? plain : expected;
            const Bytes& want = mode == SM4_ENCRYPT ? expected : plain;
            Bytes chain = iv, out(in.size());
            ASSERT_EQ(sm4_crypt_cbc(&ctx, mode, split, chain.data(), in.data(), out.data()), 0);
            ASSERT_EQ(sm4_crypt_cbc(&ctx, mode, in.size() - split, chain.data(), in.data() + split, out.data() + split),
                      0);
            EXPECT_EQ(out, want) << "split " << split << " mode " << mode;
        }
    }
}

TEST(Sm4, InPlaceBuffersGiveTheSameResult) {
    std::mt19937 rng(24);
    Bytes key = RandomBytes(rng, 16), iv = RandomBytes(rng, 16), plain = RandomBytes(rng, 5 * 16);
    Bytes ecb = reference::Sm4(EVP_sm4_ecb(), true, key, {}, plain);
    Bytes cbc = reference::Sm4(EVP_sm4_cbc(), true, key, iv, plain);

    Bytes buffer = plain;
    ASSERT_TRUE(SM4EcbCrypt(key.data(), buffer.data(), buffer.size(), buffer.data(), true));
    EXPECT_EQ(buffer, ecb);
    ASSERT_TRUE(SM4EcbCrypt(key.data(), buffer.data(), buffer.size(), buffer.data(), false));
    EXPECT_EQ(buffer, plain);

    ASSERT_TRUE(SM4CbcCrypt(key.data(), iv.data(), buffer.data(), buffer.size(), buffer.data(), true));
    EXPECT_EQ(buffer, cbc);
    ASSERT_TRUE(SM4CbcCrypt(key.data(), iv.data(), buffer.data(), buffer.size(), buffer.data(), false));
    EXPECT_EQ(buffer, plain);
}

TEST(Sm4, CbcHelperMatchesOpenSslAndLeavesTheIvAlone) {
    std::mt19937 rng(25);
    Bytes key = RandomBytes(rng, 16), iv = RandomBytes(rng, 16), plain = RandomBytes(rng, 7 * 16);
    const Bytes ivBefore = iv;
    Bytes cipher(plain.size()), back(plain.size());
    ASSERT_TRUE(SM4CbcCrypt(key.data(), iv.data(), plain.data(), plain.size(), cipher.data(), true));
    EXPECT_EQ(cipher, reference::Sm4(EVP_sm4_cbc(), true, key, iv, plain));
    EXPECT_EQ(iv, ivBefore);
    ASSERT_TRUE(SM4CbcCrypt(key.data(), iv.data(), cipher.data(), cipher.size(), back.data(), false));
    EXPECT_EQ(back, plain);
}

TEST(Sm4CbcMac4, IsTheHeadOfTheLastOpenSslCbcBlock) {
    std::mt19937 rng(26);
    for (size_t blocks : {1, 2, 3, 9}) {
        Bytes key = RandomBytes(rng, 16), iv = RandomBytes(rng, 16), data = RandomBytes(rng, blocks * 16);
        const Bytes dataBefore = data;
        Bytes cipher = reference::Sm4(EVP_sm4_cbc(), true, key, iv, data);
        ASSERT_EQ(cipher.size(), data.size());

        auto mac = SM4CbcMac4(key.data(), iv.data(), data.data(), data.size());
        ASSERT_TRUE(mac.has_value());
        EXPECT_EQ(Bytes(mac->begin(), mac->end()), Bytes(cipher.end() - 16, cipher.end() - 12)) << blocks;
        EXPECT_EQ(data, dataBefore) << "the input is not modified";
        // No state survives between calls.
        auto again = SM4CbcMac4(key.data(), iv.data(), data.data(), data.size());
        EXPECT_EQ(again, mac);
    }
}

// Bad arguments: false (or no MAC) and the output untouched.
TEST(Sm4, HelpersRejectBadArgumentsWithoutWriting) {
    Bytes key(16, 1), iv(16, 2), input(32, 3);
    struct Case {
        const char* name;
        const unsigned char* key;
        const unsigned char* iv;
        const unsigned char* input;
        size_t length;
        bool useOutput;
    } const cases[] = {
        {"length 20", key.data(), iv.data(), input.data(), 20, true},
        {"length 15", key.data(), iv.data(), input.data(), 15, true},
        {"length 0", key.data(), iv.data(), input.data(), 0, true},
        {"null input", key.data(), iv.data(), nullptr, 16, true},
        {"null key", nullptr, iv.data(), input.data(), 16, true},
        {"null output", key.data(), iv.data(), input.data(), 16, false},
    };
    for (const auto& c : cases) {
        for (bool encrypt : {true, false}) {
            Bytes output(32, 0xEE);
            unsigned char* out = c.useOutput ? output.data() : nullptr;
            EXPECT_FALSE(SM4EcbCrypt(c.key, c.input, c.length, out, encrypt)) << c.name;
            EXPECT_FALSE(SM4CbcCrypt(c.key, c.iv, c.input, c.length, out, encrypt)) << c.name;
            EXPECT_EQ(output, Bytes(32, 0xEE)) << c.name;
        }
        if (c.useOutput) {
            EXPECT_FALSE(SM4CbcMac4(c.key, c.iv, c.input, c.length).has_value()) << c.name;
        }
    }
    Bytes output(32, 0xEE);
    EXPECT_FALSE(SM4CbcCrypt(key.data(), nullptr, input.data(), 16, output.data(), true));
    EXPECT_FALSE(SM4CbcMac4(key.data(), nullptr, input.data(), 16).has_value());
    EXPECT_EQ(output, Bytes(32, 0xEE));
}

TEST(Sm4, LowLevelCallsRejectBadArguments) {
    sm4_context ctx;
    unsigned char key[16] = {}, block[16] = {}, iv[16] = {};
    EXPECT_EQ(sm4_setkey_enc(nullptr, key), SM4_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm4_setkey_dec(&ctx, nullptr), SM4_ERR_BAD_INPUT_DATA);
    ASSERT_EQ(sm4_setkey_enc(&ctx, key), 0);
    EXPECT_EQ(sm4_crypt_ecb(nullptr, block, block), SM4_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm4_crypt_ecb(&ctx, nullptr, block), SM4_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm4_crypt_ecb(&ctx, block, nullptr), SM4_ERR_BAD_INPUT_DATA);

    Bytes out(32, 0xEE);
    const Bytes ivBefore(iv, iv + 16);
    EXPECT_EQ(sm4_crypt_cbc(&ctx, SM4_ENCRYPT, 20, iv, block, out.data()), SM4_ERR_INVALID_INPUT_LENGTH);
    EXPECT_EQ(sm4_crypt_cbc(&ctx, SM4_ENCRYPT, 16, nullptr, block, out.data()), SM4_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm4_crypt_cbc(&ctx, SM4_ENCRYPT, 16, iv, nullptr, out.data()), SM4_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm4_crypt_cbc(&ctx, SM4_ENCRYPT, 16, iv, block, nullptr), SM4_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm4_crypt_cbc(nullptr, SM4_ENCRYPT, 16, iv, block, out.data()), SM4_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm4_crypt_cbc(&ctx, 7, 16, iv, block, out.data()), SM4_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(out, Bytes(32, 0xEE));
    EXPECT_EQ(Bytes(iv, iv + 16), ivBefore);
    EXPECT_EQ(sm4_crypt_cbc(&ctx, SM4_ENCRYPT, 0, iv, nullptr, nullptr), 0);
}

TEST(Sm4, FreeWipesTheRoundKeys) {
    sm4_context ctx;
    unsigned char key[16] = {9, 8, 7};
    sm4_setkey_enc(&ctx, key);
    sm4_free(&ctx);
    for (uint32_t word : ctx.rk)
        EXPECT_EQ(word, 0u);
}

} // namespace
