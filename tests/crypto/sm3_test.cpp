#include <gtest/gtest.h>

#include <openssl/kdf.h>

#include <random>
#include <string>

#include "crypto/sm3.h"
#include "tests/crypto/openssl_reference.h"

namespace {

using reference::Bytes;
using reference::FromHex;

Bytes LibrarySm3(const Bytes& data) {
    Bytes out(SM3_DIGEST_SIZE);
    EXPECT_EQ(sm3(data.data(), data.size(), out.data()), 0);
    return out;
}

Bytes RandomBytes(std::mt19937& rng, size_t len) {
    Bytes out(len);
    for (auto& b : out)
        b = static_cast<unsigned char>(rng());
    return out;
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

TEST(Sm3, StandardVectors) {
    struct Case {
        std::string message;
        const char* digest;
    } const cases[] = {
        {"abc", "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
        {Repeat("abcd", 16), "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732"},
    };
    for (const auto& c : cases) {
        Bytes message(c.message.begin(), c.message.end());
        EXPECT_EQ(LibrarySm3(message), FromHex(c.digest)) << c.message;
    }
}

TEST(Sm3, EmptyMessageMatchesOpenSsl) {
    Bytes out(SM3_DIGEST_SIZE);
    ASSERT_EQ(sm3(nullptr, 0, out.data()), 0);
    EXPECT_EQ(out, reference::Sm3({}));
}

// Lengths around the padding boundaries (55/56 bytes leave no room for the length field) and
// across several blocks.
TEST(Sm3, OneShotMatchesOpenSslForManyLengths) {
    std::mt19937 rng(3);
    for (size_t len = 0; len <= 300; ++len) {
        Bytes data = RandomBytes(rng, len);
        ASSERT_EQ(LibrarySm3(data), reference::Sm3(data)) << "length " << len;
    }
    Bytes big = RandomBytes(rng, 100000);
    EXPECT_EQ(LibrarySm3(big), reference::Sm3(big));
}

TEST(Sm3, StreamingSplitsGiveTheOneShotDigest) {
    std::mt19937 rng(7);
    const size_t lengths[] = {1, 63, 64, 65, 127, 128, 129, 1000, 4099};
    for (size_t len : lengths) {
        Bytes data = RandomBytes(rng, len);
        Bytes expected = reference::Sm3(data);
        // Pieces of random sizes, including empty ones and pieces that straddle block edges.
        for (int trial = 0; trial < 20; ++trial) {
            sm3_context ctx;
            ASSERT_EQ(sm3_starts(&ctx), 0);
            size_t offset = 0;
            while (offset < len) {
                size_t piece = std::min<size_t>(rng() % 70, len - offset);
                ASSERT_EQ(sm3_update(&ctx, data.data() + offset, piece), 0);
                offset += piece;
            }
            Bytes out(SM3_DIGEST_SIZE);
            ASSERT_EQ(sm3_finish(&ctx, out.data()), 0);
            ASSERT_EQ(out, expected) << "length " << len << " trial " << trial;
        }
        // Byte by byte.
        sm3_context ctx;
        sm3_starts(&ctx);
        for (unsigned char b : data)
            sm3_update(&ctx, &b, 1);
        Bytes out(SM3_DIGEST_SIZE);
        sm3_finish(&ctx, out.data());
        EXPECT_EQ(out, expected) << "byte by byte, length " << len;
    }
}

TEST(Sm3, ContextIsReusableAfterStarts) {
    Bytes first = {'x', 'y', 'z'};
    Bytes second = {'a', 'b', 'c'};
    sm3_context ctx;
    Bytes out(SM3_DIGEST_SIZE);
    sm3_starts(&ctx);
    sm3_update(&ctx, first.data(), first.size());
    sm3_finish(&ctx, out.data());
    sm3_starts(&ctx);
    sm3_update(&ctx, second.data(), second.size());
    sm3_finish(&ctx, out.data());
    EXPECT_EQ(out, reference::Sm3(second));
}

TEST(Sm3, NullArgumentsAreRejected) {
    sm3_context ctx;
    unsigned char out[SM3_DIGEST_SIZE];
    unsigned char byte = 0;
    EXPECT_EQ(sm3_starts(nullptr), SM3_ERR_BAD_INPUT_DATA);
    ASSERT_EQ(sm3_starts(&ctx), 0);
    EXPECT_EQ(sm3_update(nullptr, &byte, 1), SM3_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm3_update(&ctx, nullptr, 1), SM3_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm3_update(&ctx, nullptr, 0), 0);
    EXPECT_EQ(sm3_finish(&ctx, nullptr), SM3_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm3_finish(nullptr, out), SM3_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm3(nullptr, 5, out), SM3_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm3(&byte, 1, nullptr), SM3_ERR_BAD_INPUT_DATA);
    // The rejected calls left the context usable: it still hashes the empty message.
    ASSERT_EQ(sm3_finish(&ctx, out), 0);
    EXPECT_EQ(Bytes(out, out + SM3_DIGEST_SIZE), reference::Sm3({}));
}

// The key derivation written out from its definition over OpenSSL's SM3.
Bytes ReferenceKdf(const Bytes& z, size_t klen) {
    Bytes out;
    for (uint32_t counter = 1; out.size() < klen; ++counter) {
        Bytes block = z;
        block.push_back(static_cast<unsigned char>(counter >> 24));
        block.push_back(static_cast<unsigned char>(counter >> 16));
        block.push_back(static_cast<unsigned char>(counter >> 8));
        block.push_back(static_cast<unsigned char>(counter));
        Bytes digest = reference::Sm3(block);
        out.insert(out.end(), digest.begin(), digest.end());
    }
    out.resize(klen);
    return out;
}

// OpenSSL's ANSI X9.63 KDF with SM3 and no shared info is the same construction.
Bytes X963Kdf(const Bytes& z, size_t klen) {
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "X963KDF", nullptr);
    EVP_KDF_CTX* ctx = kdf != nullptr ? EVP_KDF_CTX_new(kdf) : nullptr;
    Bytes out(klen);
    char digest[] = "SM3";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<unsigned char*>(z.data()), z.size()),
        OSSL_PARAM_construct_end(),
    };
    bool ok = ctx != nullptr && EVP_KDF_derive(ctx, out.data(), out.size(), params) == 1;
    EVP_KDF_CTX_free(ctx);
    EVP_KDF_free(kdf);
    return ok ? out : Bytes{};
}

TEST(Sm3Kdf, MatchesIndependentDerivations) {
    std::mt19937 rng(11);
    const size_t zLengths[] = {1, 32, 64, 65};
    const size_t kLengths[] = {1, 16, 31, 32, 33, 64, 100, 1000};
    for (size_t zlen : zLengths) {
        Bytes z = RandomBytes(rng, zlen);
        for (size_t klen : kLengths) {
            Bytes out(klen);
            ASSERT_EQ(sm3_kdf(z.data(), z.size(), out.data(), out.size()), 0);
            EXPECT_EQ(out, ReferenceKdf(z, klen)) << "z " << zlen << " k " << klen;
            EXPECT_EQ(out, X963Kdf(z, klen)) << "z " << zlen << " k " << klen;
        }
    }
}

TEST(Sm3Kdf, ShortOutputIsAPrefixOfLongerOutput) {
    Bytes z(64, 0x5a);
    Bytes longOut(80), shortOut(20);
    ASSERT_EQ(sm3_kdf(z.data(), z.size(), longOut.data(), longOut.size()), 0);
    ASSERT_EQ(sm3_kdf(z.data(), z.size(), shortOut.data(), shortOut.size()), 0);
    EXPECT_TRUE(std::equal(shortOut.begin(), shortOut.end(), longOut.begin()));
}

TEST(Sm3Kdf, BadArgumentsAreRejected) {
    unsigned char z[4] = {1, 2, 3, 4};
    unsigned char out[8] = {};
    EXPECT_EQ(sm3_kdf(nullptr, 4, out, sizeof out), SM3_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm3_kdf(z, sizeof z, nullptr, 8), SM3_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm3_kdf(z, sizeof z, out, 0), 0);
    // More output than the 32-bit counter can number.
    EXPECT_EQ(sm3_kdf(z, sizeof z, out, SIZE_MAX), SM3_ERR_BAD_INPUT_DATA);
}

} // namespace
