#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <thread>

#include "crypto/sm2.h"
#include "crypto/sm2_curve.h"
#include "crypto/sm2_random.h"
#include "crypto/sm3.h"
#include "tests/crypto/openssl_reference.h"

namespace {

using reference::Bytes;
using reference::FromHex;

const char* const kGx = "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7";
const char* const kGy = "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0";
const char* const kOrder = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";
const char* const kOrderMinusOne = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54122";

// A context holding the public key of an OpenSSL key pair.
class Sm2Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sm2_init(&m_ctx), 0);
        m_key = reference::GenerateSm2Key();
        ASSERT_TRUE(m_key);
        m_point = reference::PublicPoint(m_key.get());
        ASSERT_EQ(m_point.size(), 65u);
        ASSERT_EQ(sm2_read_public_hex(&m_ctx, reference::Hex(m_point.data() + 1, 32).c_str(),
                                      reference::Hex(m_point.data() + 33, 32).c_str()),
                  0);
    }
    void TearDown() override { sm2_free(&m_ctx); }

    Bytes Encrypt(const Bytes& plain, sm2_rng_function rng = nullptr, void* state = nullptr) {
        size_t len = plain.size() + SM2_CIPHER_OVERHEAD;
        Bytes out(len);
        int rc = sm2_encrypt(&m_ctx, plain.data(), plain.size(), out.data(), &len, rng, state);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(len, plain.size() + 97);
        return rc == 0 ? out : Bytes{};
    }

    Bytes OpenSslDecrypt(const Bytes& raw) {
        Bytes plain;
        EXPECT_TRUE(reference::Sm2Decrypt(m_key.get(), reference::Sm2RawToDer(raw), plain));
        return plain;
    }

    sm2_context m_ctx;
    reference::Pkey m_key;
    Bytes m_point; // 04 || X || Y
};

TEST_F(Sm2Test, OpenSslDecryptsWhatTheLibraryEncrypts) {
    std::mt19937 rng(31);
    for (size_t len : {1, 15, 16, 31, 32, 33, 100, 1000}) {
        Bytes plain(len);
        for (auto& b : plain)
            b = static_cast<unsigned char>(rng());
        Bytes cipher = Encrypt(plain);
        ASSERT_EQ(cipher.size(), len + 97);
        EXPECT_EQ(cipher[0], 0x04);
        EXPECT_EQ(OpenSslDecrypt(cipher), plain) << "length " << len;
    }
}

TEST_F(Sm2Test, SixteenBytesGiveA113ByteCipherText) {
    Bytes key(16, 0x42);
    size_t len = 0;
    ASSERT_EQ(sm2_encrypt(&m_ctx, key.data(), key.size(), nullptr, &len, nullptr, nullptr), 0);
    EXPECT_EQ(len, 113u);
    Bytes cipher = Encrypt(key);
    ASSERT_EQ(cipher.size(), 113u);
    EXPECT_EQ(cipher[0], 0x04);
    // The key transport drops the leading 04: 112 bytes reach the token.
    EXPECT_EQ(cipher.size() - 1, 112u);
    EXPECT_EQ(OpenSslDecrypt(cipher), key);
}

TEST_F(Sm2Test, TwoEncryptionsOfOneMessageDiffer) {
    Bytes plain(16, 7);
    EXPECT_NE(Encrypt(plain), Encrypt(plain));
}

// Hands out scripted scalars first, then pseudo-random bytes (for the blinding of the point
// multiplications); counts its calls.
struct ScriptedRandom {
    std::deque<Bytes> scalars;
    std::mt19937 tail{5};
    int calls = 0;
    bool fail = false;

    static int Fill(void* state, unsigned char* out, size_t len) {
        auto* self = static_cast<ScriptedRandom*>(state);
        ++self->calls;
        if (self->fail)
            return -1;
        if (!self->scalars.empty() && self->scalars.front().size() == len) {
            std::memcpy(out, self->scalars.front().data(), len);
            self->scalars.pop_front();
            return 0;
        }
        for (size_t i = 0; i < len; ++i)
            out[i] = static_cast<unsigned char>(self->tail());
        return 0;
    }
};

// With k = 1 every part of the cipher text follows from the public key alone: C1 = G,
// (x2, y2) = Q, C2 = M xor KDF(x2 || y2), C3 = SM3(x2 || M || y2). Scalars out of [1, n - 2]
// (0, n - 1, n and all ones) are drawn again.
TEST_F(Sm2Test, ScalarOneGivesTheCipherTextComputedIndependently) {
    ScriptedRandom random;
    random.scalars = {Bytes(32, 0), FromHex(kOrderMinusOne), FromHex(kOrder), Bytes(32, 0xFF),
                      FromHex(std::string(62, '0') + "01")};
    const Bytes plain = {'k', 'e', 'y', 'c', 'o', 'r', 'e', ' ', 'm', 'e', 's', 's', 'a', 'g', 'e', '!', '?'};

    Bytes cipher = Encrypt(plain, &ScriptedRandom::Fill, &random);
    ASSERT_EQ(cipher.size(), plain.size() + 97);
    EXPECT_TRUE(random.scalars.empty()) << "all scripted scalars were drawn";

    const Bytes x2(m_point.begin() + 1, m_point.begin() + 33), y2(m_point.begin() + 33, m_point.end());
    Bytes z = x2;
    z.insert(z.end(), y2.begin(), y2.end());
    Bytes t(plain.size());
    ASSERT_EQ(sm3_kdf(z.data(), z.size(), t.data(), t.size()), 0); // checked against OpenSSL elsewhere
    Bytes c2(plain.size());
    for (size_t i = 0; i < plain.size(); ++i)
        c2[i] = static_cast<unsigned char>(plain[i] ^ t[i]);
    Bytes hashed = x2;
    hashed.insert(hashed.end(), plain.begin(), plain.end());
    hashed.insert(hashed.end(), y2.begin(), y2.end());

    Bytes c1 = FromHex(std::string("04") + kGx + kGy);
    EXPECT_EQ(Bytes(cipher.begin(), cipher.begin() + 65), c1);
    EXPECT_EQ(Bytes(cipher.begin() + 65, cipher.end() - 32), c2);
    EXPECT_EQ(Bytes(cipher.end() - 32, cipher.end()), reference::Sm3(hashed));
    EXPECT_EQ(OpenSslDecrypt(cipher), plain);
}

TEST_F(Sm2Test, RandomFailuresAreReportedAndWriteNothing) {
    struct Case {
        const char* name;
        bool fail;
        Bytes scalar; // repeated for every draw
    } const cases[] = {
        {"generator fails", true, {}},
        {"scalar always zero", false, Bytes(32, 0)},
        {"scalar always above n - 2", false, Bytes(32, 0xFF)},
        {"scalar always n - 1", false, FromHex(kOrderMinusOne)},
    };
    for (const auto& c : cases) {
        ScriptedRandom random;
        random.fail = c.fail;
        for (int i = 0; i < 100 && !c.scalar.empty(); ++i)
            random.scalars.push_back(c.scalar);
        Bytes plain(16, 1), out(113, 0xEE);
        size_t len = out.size();
        EXPECT_EQ(sm2_encrypt(&m_ctx, plain.data(), plain.size(), out.data(), &len, &ScriptedRandom::Fill, &random),
                  SM2_ERR_RANDOM_FAILED)
            << c.name;
        EXPECT_EQ(out, Bytes(113, 0xEE)) << c.name;
        // The draws are bounded: a generator that never helps does not hang the caller.
        if (!c.fail) {
            EXPECT_EQ(random.calls, 30) << c.name;
        }
    }
}

TEST_F(Sm2Test, SizeAndArgumentErrors) {
    Bytes plain(16, 3);
    Bytes out(200, 0xEE);
    size_t len = 112;
    EXPECT_EQ(sm2_encrypt(&m_ctx, plain.data(), plain.size(), out.data(), &len, nullptr, nullptr),
              SM2_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 113u) << "the size needed is reported";
    EXPECT_EQ(out, Bytes(200, 0xEE));

    len = out.size();
    EXPECT_EQ(sm2_encrypt(&m_ctx, nullptr, 16, out.data(), &len, nullptr, nullptr), SM2_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm2_encrypt(&m_ctx, plain.data(), 0, out.data(), &len, nullptr, nullptr), SM2_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm2_encrypt(&m_ctx, plain.data(), 0, nullptr, &len, nullptr, nullptr), SM2_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm2_encrypt(&m_ctx, plain.data(), plain.size(), out.data(), nullptr, nullptr, nullptr),
              SM2_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm2_encrypt(nullptr, plain.data(), plain.size(), out.data(), &len, nullptr, nullptr),
              SM2_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm2_encrypt(&m_ctx, plain.data(), SIZE_MAX - 10, nullptr, &len, nullptr, nullptr),
              SM2_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(out, Bytes(200, 0xEE));

    // A larger buffer than needed is fine; the length written is reported.
    len = out.size();
    ASSERT_EQ(sm2_encrypt(&m_ctx, plain.data(), plain.size(), out.data(), &len, nullptr, nullptr), 0);
    EXPECT_EQ(len, 113u);
    EXPECT_EQ(out[113], 0xEE);
}

TEST_F(Sm2Test, PlainTextBufferMayReceiveTheCipherText) {
    Bytes plain(8, 0x33);
    Bytes buffer(8 + 97, 0);
    std::memcpy(buffer.data(), plain.data(), plain.size());
    size_t len = buffer.size();
    ASSERT_EQ(sm2_encrypt(&m_ctx, buffer.data(), plain.size(), buffer.data(), &len, nullptr, nullptr), 0);
    EXPECT_EQ(OpenSslDecrypt(buffer), plain);
}

TEST(Sm2Key, PublicKeyMustBeAPointOfTheSm2Curve) {
    sm2_context ctx;
    ASSERT_EQ(sm2_init(&ctx), 0);
    EXPECT_EQ(sm2_read_public_hex(&ctx, kGx, kGy), 0);
    // G with one bit of Y flipped is off the curve; Q keeps its previous value.
    std::string badY = kGy;
    badY.back() = '1';
    EXPECT_EQ(sm2_read_public_hex(&ctx, kGx, badY.c_str()), SM2_ERR_INVALID_KEY);
    EXPECT_EQ(sm2_read_public_hex(&ctx, "xyz", kGy), SM2_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm2_read_public_hex(&ctx, nullptr, kGy), SM2_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm2_read_public_hex(&ctx, kGx, nullptr), SM2_ERR_BAD_INPUT_DATA);
    // Coordinates not below p.
    EXPECT_EQ(sm2_read_public_hex(&ctx, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", kGy),
              SM2_ERR_INVALID_KEY);
    mbedtls_mpi gx;
    mbedtls_mpi_init(&gx);
    mbedtls_mpi_read_string(&gx, 16, kGx);
    EXPECT_EQ(mbedtls_mpi_cmp_mpi(&ctx.Q.X, &gx), 0);
    mbedtls_mpi_free(&gx);
    sm2_free(&ctx);
}

TEST(Sm2Key, ContextWithoutTheSm2CurveIsRefused) {
    sm2_context ctx;
    ASSERT_EQ(sm2_init(&ctx), 0);
    sm2_free(&ctx);
    EXPECT_EQ(sm2_read_public_hex(&ctx, kGx, kGy), SM2_ERR_BAD_INPUT_DATA);
    unsigned char plain[4] = {1, 2, 3, 4};
    size_t len = 0;
    EXPECT_EQ(sm2_encrypt(&ctx, plain, sizeof plain, nullptr, &len, nullptr, nullptr), SM2_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm2_read_public_hex(nullptr, kGx, kGy), SM2_ERR_BAD_INPUT_DATA);
    EXPECT_EQ(sm2_init(nullptr), SM2_ERR_BAD_INPUT_DATA);
}

TEST(Sm2Key, EncryptionWithoutAPublicKeyFails) {
    sm2_context ctx;
    ASSERT_EQ(sm2_init(&ctx), 0);
    unsigned char plain[4] = {1, 2, 3, 4};
    Bytes out(101, 0xEE);
    size_t len = out.size();
    EXPECT_EQ(sm2_encrypt(&ctx, plain, sizeof plain, out.data(), &len, nullptr, nullptr), SM2_ERR_INVALID_KEY);
    EXPECT_EQ(out, Bytes(101, 0xEE));
    sm2_free(&ctx);
}

// The curve table: identifier 16 is SM2; [k]G agrees with OpenSSL's SM2 key derivation.
TEST(Sm2Curve, ScalarMultiplesMatchOpenSsl) {
    mbedtls_ecp_group grp;
    mbedtls_ecp_group_init(&grp);
    ASSERT_EQ(keycore_ecp_group_load(&grp, SM2_CURVE_ID), 0);
    for (int i = 0; i < 5; ++i) {
        reference::Pkey key = reference::GenerateSm2Key();
        ASSERT_TRUE(key);
        BIGNUM* priv = nullptr;
        ASSERT_EQ(EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &priv), 1);
        Bytes d(32);
        ASSERT_EQ(BN_bn2binpad(priv, d.data(), 32), 32);
        BN_clear_free(priv);

        mbedtls_mpi k;
        mbedtls_ecp_point point;
        mbedtls_mpi_init(&k);
        mbedtls_ecp_point_init(&point);
        ASSERT_EQ(mbedtls_mpi_read_binary(&k, d.data(), d.size()), 0);
        ASSERT_EQ(mbedtls_ecp_mul(&grp, &point, &k, &grp.G, sm2_default_random, nullptr), 0);
        Bytes encoded(65);
        size_t len = 0;
        ASSERT_EQ(mbedtls_ecp_point_write_binary(&grp, &point, MBEDTLS_ECP_PF_UNCOMPRESSED, &len, encoded.data(),
                                                 encoded.size()),
                  0);
        EXPECT_EQ(encoded, reference::PublicPoint(key.get()));
        mbedtls_mpi_free(&k);
        mbedtls_ecp_point_free(&point);
    }
    mbedtls_ecp_group_free(&grp);

    // Other identifiers still reach the built-in curves.
    mbedtls_ecp_group_init(&grp);
    EXPECT_EQ(keycore_ecp_group_load(&grp, MBEDTLS_ECP_DP_SECP256R1), 0);
    EXPECT_EQ(grp.id, MBEDTLS_ECP_DP_SECP256R1);
    mbedtls_ecp_group_free(&grp);
    EXPECT_EQ(keycore_ecp_group_load(nullptr, SM2_CURVE_ID), MBEDTLS_ERR_ECP_BAD_INPUT_DATA);
}

TEST(Sm2Random, DefaultGeneratorFillsLargeRequests) {
    // Larger than one DRBG request, so the generator has to loop.
    Bytes first(3000, 0), second(3000, 0);
    ASSERT_EQ(sm2_default_random(nullptr, first.data(), first.size()), 0);
    ASSERT_EQ(sm2_default_random(nullptr, second.data(), second.size()), 0);
    EXPECT_NE(first, second);
    EXPECT_NE(Bytes(first.end() - 32, first.end()), Bytes(32, 0)) << "the tail was written";
    EXPECT_EQ(sm2_default_random(nullptr, nullptr, 0), 0);
    EXPECT_NE(sm2_default_random(nullptr, nullptr, 16), 0);
}

// Contexts are private to their callers and the default generator is built per call, so threads
// may encrypt at the same time.
TEST(Sm2Threads, ConcurrentEncryptionsAllDecrypt) {
    reference::Pkey key = reference::GenerateSm2Key();
    ASSERT_TRUE(key);
    Bytes point = reference::PublicPoint(key.get());
    const std::string x = reference::Hex(point.data() + 1, 32), y = reference::Hex(point.data() + 33, 32);
    std::vector<Bytes> results(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            sm2_context ctx;
            if (sm2_init(&ctx) == 0 && sm2_read_public_hex(&ctx, x.c_str(), y.c_str()) == 0) {
                Bytes plain(16, static_cast<unsigned char>(t));
                Bytes out(113);
                size_t len = out.size();
                for (int i = 0; i < 5; ++i) {
                    if (sm2_encrypt(&ctx, plain.data(), plain.size(), out.data(), &len, nullptr, nullptr) != 0)
                        break;
                    results[t] = out;
                }
            }
            sm2_free(&ctx);
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (size_t t = 0; t < results.size(); ++t) {
        Bytes plain;
        ASSERT_TRUE(reference::Sm2Decrypt(key.get(), reference::Sm2RawToDer(results[t]), plain)) << t;
        EXPECT_EQ(plain, Bytes(16, static_cast<unsigned char>(t)));
    }
}

} // namespace
