// The library's own RSA pieces without a token: the PKCS#1 v1.5 blocks, the signature selector, and
// the parsers of the token's answers fed every length around the right one.
#include "skf/skf_rsa_blob.h"
#include "skf/skf_rsa_padding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <set>
#include <vector>

namespace keycore::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Counting(size_t n, uint8_t start = 1) {
    Bytes b(n);
    std::iota(b.begin(), b.end(), start);
    return b;
}

TEST(RsaBlocks, SelectorByDataLength) {
    const struct {
        size_t len;
        bool asIs;
        uint8_t selector;
    } cases[] = {{20, true, 2},  {32, true, 3},  {128, true, 2},  {256, true, 2},
                 {36, false, 0}, {19, false, 0}, {129, false, 0}, {64, false, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(rsa_padding::TokenTakesAsIs(c.len), c.asIs) << c.len;
        if (c.asIs) {
            EXPECT_EQ(rsa_padding::SelectorFor(c.len), c.selector) << c.len;
        }
    }
}

TEST(RsaBlocks, SignatureBlockLayoutAndLimits) {
    const Bytes data = Counting(36);
    Bytes block;
    ASSERT_TRUE(rsa_padding::SignatureBlock(data.data(), data.size(), 128, &block));
    ASSERT_EQ(block.size(), 128u);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0x01);
    EXPECT_TRUE(std::all_of(block.begin() + 2, block.begin() + 91, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(block[91], 0x00);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), block.begin() + 92));
    EXPECT_TRUE(rsa_padding::IsSignatureBlockOf(block.data(), 128, data.data(), data.size()));

    const Bytes longest = Counting(117);
    EXPECT_TRUE(rsa_padding::SignatureBlock(longest.data(), 117, 128, &block));
    EXPECT_TRUE(std::all_of(block.begin() + 2, block.begin() + 10, [](uint8_t b) { return b == 0xFF; }));
    const Bytes tooLong = Counting(118);
    EXPECT_FALSE(rsa_padding::SignatureBlock(tooLong.data(), 118, 128, &block));
    EXPECT_FALSE(rsa_padding::SignatureBlock(data.data(), 0, 10, &block)) << "no key that small";
}

TEST(RsaBlocks, SignatureBlockCheckRefusesEveryOtherBlock) {
    const Bytes data = Counting(36);
    Bytes good;
    ASSERT_TRUE(rsa_padding::SignatureBlock(data.data(), data.size(), 128, &good));
    const auto broken = [&](size_t at, uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    for (const Bytes& b :
         {broken(0, 0x01), broken(1, 0x02), broken(2, 0xFE), broken(90, 0x00), broken(91, 0xFF), broken(127, 0x00)}) {
        EXPECT_FALSE(rsa_padding::IsSignatureBlockOf(b.data(), 128, data.data(), data.size()));
    }
    // The same block read as carrying 35 or 37 bytes of data.
    EXPECT_FALSE(rsa_padding::IsSignatureBlockOf(good.data(), 128, data.data() + 1, 35));
    const Bytes longer = Counting(37, 0);
    EXPECT_FALSE(rsa_padding::IsSignatureBlockOf(good.data(), 128, longer.data(), 37));
}

// The padding comes from a cryptographic generator: never a zero byte, never the same twice.
TEST(RsaBlocks, EncryptionBlockPaddingIsFreshAndNonZero) {
    const Bytes data = Counting(16);
    std::set<Bytes> paddings;
    for (int round = 0; round < 50; ++round) {
        Bytes block;
        ASSERT_TRUE(rsa_padding::EncryptionBlock(data.data(), data.size(), 256, &block));
        ASSERT_EQ(block.size(), 256u);
        EXPECT_EQ(block[0], 0x00);
        EXPECT_EQ(block[1], 0x02);
        const Bytes padding(block.begin() + 2, block.begin() + 239);
        EXPECT_TRUE(std::none_of(padding.begin(), padding.end(), [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(block[239], 0x00);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), block.begin() + 240));
        paddings.insert(padding);
    }
    EXPECT_EQ(paddings.size(), 50u);

    Bytes block;
    const Bytes full = Counting(125);
    EXPECT_TRUE(rsa_padding::EncryptionBlock(full.data(), 125, 128, &block)) << "00 02 00 data still fits";
    EXPECT_EQ(block[2], 0x00);
    const Bytes over = Counting(126);
    EXPECT_FALSE(rsa_padding::EncryptionBlock(over.data(), 126, 128, &block));
}

TEST(RsaBlobs, BlobSizes) {
    for (ULONG bits : {16u, 512u, 1024u, 1536u, 2048u})
        EXPECT_TRUE(rsa_blob::BitsFitBlob(bits)) << bits;
    for (ULONG bits : {0u, 8u, 1000u, 1032u, 2064u, 4096u, 0xFFFFFFF0u})
        EXPECT_FALSE(rsa_blob::BitsFitBlob(bits)) << bits;
}

TEST(RsaBlobs, PublicKeyAnswerOfEveryLength) {
    const Bytes modulus = Counting(128, 0x80);
    const Bytes exponent = {0x00, 0x01, 0x00, 0x01};
    for (size_t len = 0; len <= 520; ++len) {
        Bytes answer(len, 0x33);
        std::copy_n(modulus.begin(), std::min<size_t>(len, 128), answer.begin());
        if (len >= 4)
            std::copy(exponent.begin(), exponent.end(), answer.end() - 4);
        RSAPUBLICKEYBLOB blob;
        std::memset(&blob, 0xEE, sizeof blob);
        const bool ok = rsa_blob::PublicBlobFromAnswer(answer.data(), answer.size(), 1024, &blob);
        ASSERT_EQ(ok, len >= 132 && len <= 512) << len;
        if (!ok) {
            EXPECT_EQ(blob.BitLen, 0xEEEEEEEEu) << "untouched";
            continue;
        }
        EXPECT_EQ(blob.AlgID, static_cast<ULONG>(SGD_RSA));
        EXPECT_EQ(blob.BitLen, 1024u);
        EXPECT_TRUE(std::all_of(blob.Modulus, blob.Modulus + 128, [](BYTE b) { return b == 0; }));
        EXPECT_TRUE(std::equal(modulus.begin(), modulus.end(), blob.Modulus + 128));
        EXPECT_TRUE(std::equal(exponent.begin(), exponent.end(), blob.PublicExponent)) << "the last four bytes";
    }
    RSAPUBLICKEYBLOB blob;
    Bytes answer(600);
    EXPECT_FALSE(rsa_blob::PublicBlobFromAnswer(answer.data(), 520, 4096, &blob)) << "a size beyond the blob";
    EXPECT_FALSE(rsa_blob::PublicBlobFromAnswer(nullptr, 0, 1024, &blob));
}

TEST(RsaBlobs, KeyPairAnswerMustBeExact) {
    for (ULONG bits : {1024u, 2048u}) {
        const size_t k = bits / 8;
        const size_t h = k / 2;
        const size_t exact = 2 * k + 4 + 5 * h;
        const Bytes answer = Counting(exact);
        RSAPRIVATEKEYBLOB blob;
        for (size_t len : {exact - 1, exact + 1, size_t{0}, k}) {
            std::memset(&blob, 0xEE, sizeof blob);
            Bytes copy(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(std::min(len, exact)));
            copy.resize(len, 0x01);
            EXPECT_FALSE(rsa_blob::PrivateBlobFromAnswer(copy.data(), copy.size(), bits, &blob)) << len;
            EXPECT_EQ(blob.Coefficient[0], 0xEE);
        }
        std::memset(&blob, 0xEE, sizeof blob);
        ASSERT_TRUE(rsa_blob::PrivateBlobFromAnswer(answer.data(), answer.size(), bits, &blob));
        // Each number at the right end of its field, in answer order, zeros in front.
        const struct {
            const BYTE* field;
            size_t fieldLen;
            size_t len;
        } fields[] = {{blob.Modulus, 256, k},        {blob.PublicExponent, 4, 4}, {blob.PrivateExponent, 256, k},
                      {blob.Prime1, 128, h},         {blob.Prime2, 128, h},       {blob.Prime1Exponent, 128, h},
                      {blob.Prime2Exponent, 128, h}, {blob.Coefficient, 128, h}};
        size_t offset = 0;
        for (const auto& f : fields) {
            EXPECT_TRUE(std::all_of(f.field, f.field + f.fieldLen - f.len, [](BYTE b) { return b == 0; })) << offset;
            EXPECT_TRUE(std::equal(f.field + f.fieldLen - f.len, f.field + f.fieldLen, answer.begin() + offset))
                << offset;
            offset += f.len;
        }
        EXPECT_EQ(offset, exact);
        const rsa_blob::PrivateKeyNumbers numbers = rsa_blob::NumbersOf(blob);
        EXPECT_EQ(numbers.modulus, blob.Modulus + 256 - k);
        EXPECT_EQ(numbers.coefficient, blob.Coefficient + 128 - h);
    }
}

TEST(RsaBlobs, SessionKeyAnswer) {
    Bytes answer = Counting(130);
    answer[128] = 0x01;
    answer[129] = 0x2C;
    uint16_t index = 0;
    ASSERT_TRUE(rsa_blob::SplitSessionKeyAnswer(answer.data(), 130, 128, &index));
    EXPECT_EQ(index, 0x012C);
    for (size_t len : {0u, 2u, 128u, 129u, 131u, 258u}) {
        Bytes copy(len, 0x01);
        EXPECT_FALSE(rsa_blob::SplitSessionKeyAnswer(copy.data(), copy.size(), 128, &index)) << len;
    }
}

} // namespace
} // namespace keycore::test
