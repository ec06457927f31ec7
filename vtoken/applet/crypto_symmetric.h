#pragma once
// Block ciphers of the token: the SGD algorithm identifiers its session keys carry, and the
// algorithm and mode bytes of the cipher command that brings its own key.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "vtoken/applet/crypto_openssl.h"

namespace vtoken::crypto {

// SGD identifiers (GM/T 0006) of the symmetric algorithms the host may name.
namespace sgd {
inline constexpr uint32_t kSm1Ecb = 0x101;
inline constexpr uint32_t kSm1Mac = 0x110;
inline constexpr uint32_t kSsf33Ecb = 0x201;
inline constexpr uint32_t kSsf33Mac = 0x210;
inline constexpr uint32_t kSm4Ecb = 0x401;
inline constexpr uint32_t kSm4Cbc = 0x402;
inline constexpr uint32_t kSm4Cfb = 0x404;
inline constexpr uint32_t kSm4Ofb = 0x408;
inline constexpr uint32_t kSm4Mac = 0x410;
} // namespace sgd

enum class SymmetricSupport { Supported, HardwareOnly, Unknown };

// SM4 in all its modes is supported; SM1 and SSF33 exist only in silicon, which this token does not
// emulate; anything else is unknown.
SymmetricSupport ClassifySgd(uint32_t algorithm);
// The cipher of an SGD identifier (SM4-ECB for the MAC identifier), or null.
const EVP_CIPHER* SgdCipher(uint32_t algorithm);
inline constexpr size_t kSessionKeyBytes = 16;

// A running cipher without padding: block modes take whole blocks, stream modes any length.
class BlockCipher {
public:
    // Null when the key or IV length does not suit the cipher.
    static std::unique_ptr<BlockCipher> Create(const EVP_CIPHER* cipher, const std::vector<uint8_t>& key,
                                               const std::vector<uint8_t>& iv, bool encrypt);
    // Processes `size` bytes; false (nothing written) when a block mode gets a partial block.
    bool Update(const uint8_t* data, size_t size, std::vector<uint8_t>* out);
    size_t BlockSize() const { return m_blockSize; }
    bool Encrypting() const { return m_encrypt; }

private:
    CipherCtxPtr m_ctx;
    size_t m_blockSize = 1;
    bool m_encrypt = true;
};

// The cipher of SymmetricCipherWithKey's algorithm byte (DES 0x10, triple DES 0x11/0x12, AES
// 0x20-0x22) and whether the mode is CBC; also the key and IV lengths it needs. Null when unknown.
struct KeyedCipher {
    const EVP_CIPHER* cipher = nullptr;
    size_t keyBytes = 0;
    size_t ivBytes = 0;     // 0 for ECB
    bool singleDes = false; // DES runs as triple DES with three equal keys
};
KeyedCipher CipherForAlgorithmByte(uint8_t algorithm, bool cbc);

} // namespace vtoken::crypto
