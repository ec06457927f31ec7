#include "vtoken/applet/crypto_symmetric.h"

namespace vtoken::crypto {

SymmetricSupport ClassifySgd(uint32_t algorithm) {
    if (SgdCipher(algorithm) != nullptr)
        return SymmetricSupport::Supported;
    uint32_t family = algorithm & 0xFFFFFF00u;
    uint32_t mode = algorithm & 0xFFu;
    bool knownMode = mode == 0x01 || mode == 0x02 || mode == 0x04 || mode == 0x08 || mode == 0x10;
    if ((family == 0x100 || family == 0x200) && knownMode)
        return SymmetricSupport::HardwareOnly;
    return SymmetricSupport::Unknown;
}

const EVP_CIPHER* SgdCipher(uint32_t algorithm) {
    switch (algorithm) {
    case sgd::kSm4Ecb:
    case sgd::kSm4Mac:
        return EVP_sm4_ecb();
    case sgd::kSm4Cbc:
        return EVP_sm4_cbc();
    case sgd::kSm4Cfb:
        return EVP_sm4_cfb128();
    case sgd::kSm4Ofb:
        return EVP_sm4_ofb();
    default:
        return nullptr;
    }
}

std::unique_ptr<BlockCipher> BlockCipher::Create(const EVP_CIPHER* cipher, const std::vector<uint8_t>& key,
                                                 const std::vector<uint8_t>& iv, bool encrypt) {
    if (cipher == nullptr || key.size() != static_cast<size_t>(EVP_CIPHER_get_key_length(cipher)))
        return nullptr;
    size_t ivLength = static_cast<size_t>(EVP_CIPHER_get_iv_length(cipher));
    if (ivLength > 0 && iv.size() != ivLength)
        return nullptr;
    std::unique_ptr<BlockCipher> result(new BlockCipher());
    result->m_ctx.reset(EVP_CIPHER_CTX_new());
    if (!result->m_ctx ||
        EVP_CipherInit_ex(result->m_ctx.get(), cipher, nullptr, key.data(), ivLength > 0 ? iv.data() : nullptr,
                          encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(result->m_ctx.get(), 0) != 1)
        return nullptr;
    result->m_blockSize = static_cast<size_t>(EVP_CIPHER_get_block_size(cipher));
    result->m_encrypt = encrypt;
    return result;
}

bool BlockCipher::Update(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
    if (m_blockSize > 1 && size % m_blockSize != 0)
        return false;
    out->assign(size + m_blockSize, 0);
    int length = 0;
    if (size > 0 && EVP_CipherUpdate(m_ctx.get(), out->data(), &length, data, static_cast<int>(size)) != 1) {
        out->clear();
        return false;
    }
    out->resize(static_cast<size_t>(length));
    return true;
}

KeyedCipher CipherForAlgorithmByte(uint8_t algorithm, bool cbc) {
    KeyedCipher c;
    switch (algorithm) {
    case 0x10:
        c = {cbc ? EVP_des_ede3_cbc() : EVP_des_ede3_ecb(), 8, 8, true};
        break;
    case 0x11:
        c = {cbc ? EVP_des_ede_cbc() : EVP_des_ede_ecb(), 16, 8, false};
        break;
    case 0x12:
        c = {cbc ? EVP_des_ede3_cbc() : EVP_des_ede3_ecb(), 24, 8, false};
        break;
    case 0x20:
        c = {cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb(), 16, 16, false};
        break;
    case 0x21:
        c = {cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb(), 24, 16, false};
        break;
    case 0x22:
        c = {cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb(), 32, 16, false};
        break;
    default:
        return KeyedCipher();
    }
    if (!cbc)
        c.ivBytes = 0;
    return c;
}

} // namespace vtoken::crypto
