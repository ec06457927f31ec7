#include "device/pin_block.h"

#include "crypto/sm4_helpers.h"
#include "runtime/secure_wipe.h"

#include <mbedtls/sha1.h>

namespace keycore {

namespace {
constexpr size_t kBlock = 16;
constexpr size_t kMaxContent = 0xFFFF;
} // namespace

size_t IsoPaddedLength(size_t n) {
    const size_t withMarker = n + 1;
    return withMarker % kBlock == 0 ? withMarker + kBlock : (withMarker / kBlock + 1) * kBlock;
}

void AppendIsoPadding(std::vector<uint8_t>& data) {
    const size_t padded = IsoPaddedLength(data.size());
    data.push_back(0x80);
    data.resize(padded, 0);
}

PinKey DerivePinKey(const void* pin, size_t pinLen) {
    unsigned char digest[20];
    static const unsigned char kNothing = 0;
    mbedtls_sha1_ret(pin != nullptr ? static_cast<const unsigned char*>(pin) : &kNothing, pin != nullptr ? pinLen : 0,
                     digest);
    PinKey key;
    std::copy(digest, digest + kPinKeySize, key.begin());
    SecureWipe(digest, sizeof digest);
    return key;
}

std::vector<uint8_t> MakePinBlock(const void* content, size_t contentLen) {
    if (contentLen > kMaxContent || (content == nullptr && contentLen != 0))
        return {};
    std::vector<uint8_t> block;
    block.reserve(IsoPaddedLength(2 + contentLen));
    block.push_back(static_cast<uint8_t>(contentLen));
    block.push_back(static_cast<uint8_t>(contentLen >> 8));
    const auto* bytes = static_cast<const uint8_t*>(content);
    block.insert(block.end(), bytes, bytes + contentLen);
    AppendIsoPadding(block);
    return block;
}

std::vector<uint8_t> EncryptPinBlock(const PinKey& key, const void* content, size_t contentLen) {
    std::vector<uint8_t> block = MakePinBlock(content, contentLen);
    if (block.empty())
        return {};
    std::vector<uint8_t> cipher(block.size());
    const bool ok = SM4EcbCrypt(key.data(), block.data(), block.size(), cipher.data(), true);
    SecureWipe(block);
    if (!ok)
        return {};
    return cipher;
}

} // namespace keycore
