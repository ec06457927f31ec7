#include "skf/skf_rsa_padding.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cstring>

namespace keycore::rsa_padding {

namespace {

constexpr size_t kSha1Digest = 20;
constexpr size_t kLongDigest = 32;
constexpr size_t kBlock1024 = 128;
constexpr size_t kBlock2048 = 256;
constexpr size_t kFixedBytes = 3;
constexpr uint8_t kSelectorAsIs = 2;
constexpr uint8_t kSignatureType = 0x01;
constexpr uint8_t kEncryptionType = 0x02;

// Fills n bytes with random non-zero bytes. The generator's zero bytes are dropped rather than mapped
// to another value, so every non-zero value stays equally likely.
bool FillNonZero(uint8_t* out, size_t n) {
    uint8_t batch[64];
    size_t filled = 0;
    while (filled < n) {
        if (RAND_bytes(batch, static_cast<int>(sizeof batch)) != 1)
            return false;
        for (uint8_t byte : batch) {
            if (byte != 0 && filled < n)
                out[filled++] = byte;
        }
    }
    std::memset(batch, 0, sizeof batch);
    return true;
}

} // namespace

bool TokenTakesAsIs(size_t dataLen) {
    return dataLen == kSha1Digest || dataLen == kLongDigest || dataLen == kBlock1024 || dataLen == kBlock2048;
}

uint8_t SelectorFor(size_t dataLen) {
    return dataLen == kLongDigest ? kSelectorPaddedBlock : kSelectorAsIs;
}

bool SignatureBlock(const uint8_t* data, size_t dataLen, size_t k, std::vector<uint8_t>* block) {
    if (k < kMinimumOverhead || dataLen > k - kMinimumOverhead)
        return false;
    block->assign(k, 0xFF);
    (*block)[0] = 0x00;
    (*block)[1] = kSignatureType;
    (*block)[k - dataLen - 1] = 0x00;
    std::copy(data, data + dataLen, block->begin() + static_cast<std::ptrdiff_t>(k - dataLen));
    return true;
}

bool EncryptionBlock(const uint8_t* data, size_t dataLen, size_t k, std::vector<uint8_t>* block) {
    if (k < kFixedBytes || dataLen > k - kFixedBytes)
        return false;
    block->assign(k, 0x00);
    (*block)[1] = kEncryptionType;
    if (!FillNonZero(block->data() + 2, k - kFixedBytes - dataLen))
        return false;
    std::copy(data, data + dataLen, block->begin() + static_cast<std::ptrdiff_t>(k - dataLen));
    return true;
}

bool IsSignatureBlockOf(const uint8_t* block, size_t k, const uint8_t* data, size_t dataLen) {
    if (k < kMinimumOverhead || dataLen > k - kMinimumOverhead)
        return false;
    if (block[0] != 0x00 || block[1] != kSignatureType || block[k - dataLen - 1] != 0x00)
        return false;
    const uint8_t* padEnd = block + k - dataLen - 1;
    if (std::any_of(block + 2, padEnd, [](uint8_t b) { return b != 0xFF; }))
        return false;
    return std::equal(data, data + dataLen, block + k - dataLen);
}

} // namespace keycore::rsa_padding
