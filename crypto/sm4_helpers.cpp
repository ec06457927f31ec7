#include "crypto/sm4_helpers.h"

#include <cstring>

#include "crypto/sm4.h"
#include "runtime/secure_wipe.h"

namespace {

// Round keys of one direction that are wiped when the holder goes out of scope.
class ScopedSm4Key {
public:
    ScopedSm4Key(const unsigned char* key, bool encrypt) {
        if (encrypt)
            sm4_setkey_enc(&m_ctx, key);
        else
            sm4_setkey_dec(&m_ctx, key);
    }
    ScopedSm4Key(const ScopedSm4Key&) = delete;
    ScopedSm4Key& operator=(const ScopedSm4Key&) = delete;
    ~ScopedSm4Key() { sm4_free(&m_ctx); }

    const sm4_context* get() const { return &m_ctx; }

private:
    sm4_context m_ctx;
};

bool ArgumentsUsable(const unsigned char* key, const unsigned char* input, size_t length, const unsigned char* output) {
    return key != nullptr && input != nullptr && output != nullptr && length > 0 && length % SM4_BLOCK_SIZE == 0;
}

} // namespace

bool SM4EcbCrypt(const unsigned char* key, const unsigned char* input, size_t length, unsigned char* output,
                 bool encrypt) {
    if (!ArgumentsUsable(key, input, length, output))
        return false;
    ScopedSm4Key schedule(key, encrypt);
    sm4_crypt_ecb_blocks(schedule.get(), length / SM4_BLOCK_SIZE, input, output);
    return true;
}

bool SM4CbcCrypt(const unsigned char* key, const unsigned char* iv, const unsigned char* input, size_t length,
                 unsigned char* output, bool encrypt) {
    if (iv == nullptr || !ArgumentsUsable(key, input, length, output))
        return false;
    ScopedSm4Key schedule(key, encrypt);
    unsigned char chain[SM4_BLOCK_SIZE];
    std::memcpy(chain, iv, sizeof chain);
    int rc = sm4_crypt_cbc(schedule.get(), encrypt ? SM4_ENCRYPT : SM4_DECRYPT, length, chain, input, output);
    return rc == 0;
}

std::optional<std::array<unsigned char, 4>> SM4CbcMac4(const unsigned char* key, const unsigned char* iv,
                                                       const unsigned char* input, size_t length) {
    if (iv == nullptr || !ArgumentsUsable(key, input, length, input))
        return std::nullopt;
    ScopedSm4Key schedule(key, true);
    // Chain block by block through a private buffer: the caller's input is left untouched and
    // only the last cipher block matters.
    unsigned char chain[SM4_BLOCK_SIZE];
    std::memcpy(chain, iv, sizeof chain);
    for (size_t offset = 0; offset < length; offset += SM4_BLOCK_SIZE) {
        for (size_t i = 0; i < SM4_BLOCK_SIZE; ++i)
            chain[i] = static_cast<unsigned char>(chain[i] ^ input[offset + i]);
        sm4_crypt_ecb(schedule.get(), chain, chain);
    }
    std::array<unsigned char, 4> mac{};
    std::memcpy(mac.data(), chain, mac.size());
    keycore::SecureWipe(chain, sizeof chain);
    return mac;
}
