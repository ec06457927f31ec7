#include "vtoken/applet/pin_block.h"

#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

namespace vtoken {

void Wipe(void* data, size_t size) {
    if (data != nullptr && size != 0)
        OPENSSL_cleanse(data, size);
}

void Wipe(std::vector<uint8_t>& bytes) {
    Wipe(bytes.data(), bytes.size());
    bytes.clear();
}

void Wipe(std::string& text) {
    Wipe(text.data(), text.size());
    text.clear();
}

std::vector<uint8_t> PinKey(const std::string& pin) {
    uint8_t digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(pin.data()), pin.size(), digest);
    std::vector<uint8_t> key(digest, digest + kSm4Block);
    Wipe(digest, sizeof digest);
    return key;
}

size_t PaddedLength(size_t n) {
    size_t withMarker = n + 1;
    if (withMarker % kSm4Block == 0)
        return withMarker + kSm4Block;
    return (withMarker + kSm4Block - 1) / kSm4Block * kSm4Block;
}

std::vector<uint8_t> PadIso(std::vector<uint8_t> data) {
    size_t padded = PaddedLength(data.size());
    data.push_back(0x80);
    data.resize(padded, 0);
    return data;
}

std::optional<std::vector<uint8_t>> Sm4Ecb(const uint8_t key[16], const std::vector<uint8_t>& input, bool encrypt) {
    if (input.empty() || input.size() % kSm4Block != 0)
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    std::vector<uint8_t> out(input.size());
    int written = 0;
    if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_sm4_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), out.data(), &written, input.data(), static_cast<int>(input.size())) != 1 ||
        static_cast<size_t>(written) != input.size())
        return std::nullopt;
    return out;
}

std::optional<std::vector<uint8_t>> OpenPinBlock(const uint8_t key[16], const std::vector<uint8_t>& ciphertext) {
    std::optional<std::vector<uint8_t>> plain = Sm4Ecb(key, ciphertext, false);
    if (!plain || plain->size() < kSm4Block)
        return std::nullopt;
    std::vector<uint8_t>& block = *plain;
    size_t length = static_cast<size_t>(block[0]) | (static_cast<size_t>(block[1]) << 8);
    bool valid = length <= block.size() - 3 && PaddedLength(2 + length) == block.size() && block[2 + length] == 0x80;
    for (size_t i = 2 + length + 1; valid && i < block.size(); ++i)
        valid = block[i] == 0;
    std::optional<std::vector<uint8_t>> content;
    if (valid)
        content.emplace(block.begin() + 2, block.begin() + 2 + static_cast<std::ptrdiff_t>(length));
    Wipe(block);
    return content;
}

bool IsAcceptablePin(const std::vector<uint8_t>& content) {
    if (content.empty() || content.size() > kMaxPinLength)
        return false;
    for (uint8_t c : content) {
        if (c == 0)
            return false;
    }
    return true;
}

} // namespace vtoken
