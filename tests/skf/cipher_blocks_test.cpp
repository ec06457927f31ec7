// The block arithmetic of the streaming cipher and MAC calls and the wrapped-key conversion, without a
// token: what each update sends and keeps, and that any cut of a message through updates and a final
// gives exactly the padded message.
#include "skf/skf_cipher_blocks.h"
#include "skf/skf_session_key_wrap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace keycore {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Seq(size_t len, unsigned char first = 1) {
    Bytes b(len);
    for (size_t i = 0; i < len; ++i)
        b[i] = static_cast<unsigned char>(first + i);
    return b;
}

Bytes Pkcs7(Bytes b) {
    const size_t pad = 16 - b.size() % 16;
    b.insert(b.end(), pad, static_cast<unsigned char>(pad));
    return b;
}

Bytes Iso9797(Bytes b) {
    if (b.size() % 16 == 0)
        return b;
    b.push_back(0x80);
    b.resize((b.size() + 15) / 16 * 16, 0);
    return b;
}

// Random cuts of a message, as the update calls of a caller would make them.
std::vector<size_t> Cuts(std::mt19937& rng, size_t len, size_t minPiece) {
    std::vector<size_t> cuts;
    std::uniform_int_distribution<size_t> piece(1, 40);
    size_t done = 0;
    while (done < len) {
        size_t n = std::min(len - done, std::max(minPiece, piece(rng)));
        cuts.push_back(n);
        done += n;
    }
    return cuts;
}

TEST(CipherBlocks, EncryptUpdatesAndFinalGiveThePaddedMessageForAnyCut) {
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
        const bool padding = round % 2 == 0;
        const size_t len = padding ? rng() % 150 + 1 : (rng() % 9 + 1) * 16;
        const Bytes message = Seq(len, static_cast<unsigned char>(round));
        Bytes pending;
        Bytes sent;
        size_t offset = 0;
        for (size_t n : Cuts(rng, len, padding ? 1 : 16)) {
            const size_t expectedLen = EncryptUpdateLength(pending, n, padding);
            BlockPlan plan;
            ASSERT_EQ(PlanEncryptUpdate(pending, message.data() + offset, n, padding, &plan), SAR_OK);
            EXPECT_EQ(plan.send.size(), expectedLen) << "the size query agrees with the update";
            EXPECT_EQ(plan.send.size() % 16, 0u);
            EXPECT_TRUE(plan.keep.empty() || (padding ? plan.keep.size() == 16 : plan.keep.size() < 16));
            sent.insert(sent.end(), plan.send.begin(), plan.send.end());
            pending = plan.keep;
            offset += n;
        }
        const Bytes last = EncryptFinalBlock(pending, padding);
        sent.insert(sent.end(), last.begin(), last.end());
        EXPECT_EQ(sent, padding ? Pkcs7(message) : message) << "round " << round;
    }
}

TEST(CipherBlocks, DecryptUpdatesHoldBackThePaddedBlockForAnyCut) {
    std::mt19937 rng(11);
    for (int round = 0; round < 400; ++round) {
        const bool padding = round % 2 == 0;
        const Bytes message = Seq(padding ? rng() % 150 : (rng() % 9 + 1) * 16, static_cast<unsigned char>(round));
        const Bytes input = padding ? Pkcs7(message) : message;
        Bytes pending;
        Bytes plain;
        size_t offset = 0;
        for (size_t n : Cuts(rng, input.size(), padding ? 1 : 16)) {
            BlockPlan plan;
            ASSERT_EQ(PlanDecryptUpdate(pending, input.data() + offset, n, padding, &plan), SAR_OK);
            EXPECT_EQ(plan.send.size(), DecryptUpdateLength(pending.size(), n, padding));
            EXPECT_LE(plan.keep.size(), 16u);
            plain.insert(plain.end(), plan.send.begin(), plan.send.end());
            pending = plan.keep;
            offset += n;
        }
        const size_t keep = padding ? UnpaddedLength(pending.data(), pending.size()) : pending.size();
        plain.insert(plain.end(), pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(keep));
        EXPECT_EQ(plain, message) << "round " << round;
    }
}

TEST(CipherBlocks, MacUpdatesSendWholeBlocksAndTheFinalPadsTheRest) {
    std::mt19937 rng(13);
    for (int round = 0; round < 300; ++round) {
        const Bytes message = Seq(rng() % 100 + 1, static_cast<unsigned char>(round));
        Bytes pending;
        Bytes sent;
        size_t offset = 0;
        for (size_t n : Cuts(rng, message.size(), 1)) {
            BlockPlan plan;
            PlanMacUpdate(pending, message.data() + offset, n, &plan);
            EXPECT_EQ(plan.send.size() % 16, 0u);
            EXPECT_LT(plan.keep.size(), 16u);
            sent.insert(sent.end(), plan.send.begin(), plan.send.end());
            pending = plan.keep;
            offset += n;
        }
        const Bytes last = MacFinalBlock(pending);
        sent.insert(sent.end(), last.begin(), last.end());
        EXPECT_EQ(sent, Iso9797(message));
    }
}

TEST(CipherBlocks, EdgesOfOneUpdate) {
    BlockPlan plan;
    // 20 bytes with padding: one block out, 4 bytes kept with 12 bytes of 0x0C.
    const Bytes twenty = Seq(20);
    ASSERT_EQ(PlanEncryptUpdate({}, twenty.data(), 20, true, &plan), SAR_OK);
    EXPECT_EQ(plan.send, Bytes(twenty.begin(), twenty.begin() + 16));
    Bytes kept(twenty.begin() + 16, twenty.end());
    kept.insert(kept.end(), 12, 0x0C);
    EXPECT_EQ(plan.keep, kept);
    EXPECT_EQ(HeldBackDataLength(plan.keep, true), 4u);

    // 5 bytes with padding wait in one provisionally padded block.
    ASSERT_EQ(PlanEncryptUpdate({}, twenty.data(), 5, true, &plan), SAR_OK);
    EXPECT_TRUE(plan.send.empty());
    EXPECT_EQ(plan.keep.size(), 16u);
    EXPECT_EQ(EncryptFinalBlock(plan.keep, true), plan.keep);

    // Nothing held back with padding: the final is a whole block of 0x10.
    EXPECT_EQ(EncryptFinalBlock({}, true), Bytes(16, 0x10));
    EXPECT_TRUE(EncryptFinalBlock({}, false).empty());

    // Without padding less than a block is refused.
    EXPECT_EQ(PlanEncryptUpdate({}, twenty.data(), 8, false, &plan), SAR_INVALIDPARAMERR);
    EXPECT_EQ(PlanEncryptUpdate(Bytes(4, 1), twenty.data(), 11, false, &plan), SAR_INVALIDPARAMERR);
    EXPECT_EQ(PlanDecryptUpdate({}, twenty.data(), 15, false, &plan), SAR_INVALIDPARAMERR);

    // Decryption with padding: 32 bytes give 16 and keep 16; 10 bytes give nothing.
    const Bytes thirtyTwo = Seq(32);
    ASSERT_EQ(PlanDecryptUpdate({}, thirtyTwo.data(), 32, true, &plan), SAR_OK);
    EXPECT_EQ(plan.send.size(), 16u);
    EXPECT_EQ(plan.keep, Bytes(thirtyTwo.begin() + 16, thirtyTwo.end()));
    ASSERT_EQ(PlanDecryptUpdate({}, thirtyTwo.data(), 10, true, &plan), SAR_OK);
    EXPECT_TRUE(plan.send.empty());
    EXPECT_EQ(plan.keep.size(), 10u);

    // MAC: 20 bytes send one block and keep 4; the final pads them with 0x80 and 11 zeros.
    PlanMacUpdate({}, twenty.data(), 20, &plan);
    EXPECT_EQ(plan.send.size(), 16u);
    Bytes padded(twenty.begin() + 16, twenty.end());
    padded.push_back(0x80);
    padded.insert(padded.end(), 11, 0x00);
    EXPECT_EQ(MacFinalBlock(plan.keep), padded);
    EXPECT_TRUE(MacFinalBlock({}).empty());
}

TEST(CipherBlocks, PaddingIsRemovedOnlyWhenValid) {
    struct Case {
        const char* what;
        Bytes block;
        size_t expected;
    };
    Bytes one = Seq(16);
    one[15] = 0x01;
    Bytes full(16, 0x10);
    Bytes b11 = Seq(16);
    b11[15] = 0x11;
    Bytes b00 = Seq(16);
    b00[15] = 0x00;
    Bytes broken = Seq(16);
    broken[13] = 0x07;
    broken[14] = 0x03;
    broken[15] = 0x03;
    const Case cases[] = {{"one byte", one, 15},
                          {"a whole block", full, 0},
                          {"0x11", b11, 16},
                          {"0x00", b00, 16},
                          {"uneven run", broken, 16},
                          {"empty", {}, 0},
                          {"short block", {5, 5, 5, 5}, 4}};
    for (const Case& c : cases)
        EXPECT_EQ(UnpaddedLength(c.block.data(), c.block.size()), c.expected) << c.what;
}

TEST(SessionKeyWrap, EccBlobOfSixteenBytesBecomesTheTokensForm) {
    Bytes blob(164 + 16);
    for (size_t i = 0; i < blob.size(); ++i)
        blob[i] = static_cast<unsigned char>(i);
    const uint32_t sixteen = 16;
    std::memcpy(blob.data() + 160, &sixteen, 4);
    Bytes out;
    ASSERT_EQ(WrappedKeyForToken(blob.data(), blob.size(), &out), SAR_OK);
    Bytes expected = {0, 0, 1, 0};
    expected.insert(expected.end(), blob.begin() + 32, blob.begin() + 64);
    expected.insert(expected.end(), blob.begin() + 96, blob.begin() + 160);
    expected.insert(expected.end(), {0, 0, 0, 0x10});
    expected.insert(expected.end(), blob.begin() + 164, blob.end());
    EXPECT_EQ(out, expected);
    EXPECT_EQ(out.size(), 120u);

    EXPECT_EQ(WrappedKeyForToken(blob.data(), 179, &out), SAR_INDATALENERR) << "the blob is cut";

    // Anything else is an RSA-wrapped key and goes as it is.
    const uint32_t other = 32;
    std::memcpy(blob.data() + 160, &other, 4);
    ASSERT_EQ(WrappedKeyForToken(blob.data(), blob.size(), &out), SAR_OK);
    EXPECT_EQ(out, blob);
    const Bytes rsa = Seq(256);
    ASSERT_EQ(WrappedKeyForToken(rsa.data(), 100, &out), SAR_OK);
    EXPECT_EQ(out, Bytes(rsa.begin(), rsa.begin() + 100));
}

} // namespace
} // namespace keycore
