#pragma once
// What the session-key, cipher, digest and MAC tests share: the independent OpenSSL computations they
// compare with, and a fixture that makes a session key either loose (an application without
// containers) or inside a container.

#include "storage_fixture.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace keycore::test {

using ByteVec = std::vector<BYTE>;

namespace ins {
inline constexpr uint8_t kImportSessionKey = 0xA0;
inline constexpr uint8_t kSetSymmKey = 0xA2;
inline constexpr uint8_t kEncryptInit = 0xA4;
inline constexpr uint8_t kEncryptUpdate = 0xA8;
inline constexpr uint8_t kEncryptFinal = 0xAA;
inline constexpr uint8_t kDecryptInit = 0xAC;
inline constexpr uint8_t kDecryptUpdate = 0xB0;
inline constexpr uint8_t kDecryptFinal = 0xB2;
inline constexpr uint8_t kDigestInit = 0xB4;
inline constexpr uint8_t kDigestUpdate = 0xB8;
inline constexpr uint8_t kDigestFinal = 0xBA;
inline constexpr uint8_t kMacInit = 0xBC;
inline constexpr uint8_t kMacUpdate = 0xC0;
inline constexpr uint8_t kMacFinal = 0xC2;
inline constexpr uint8_t kSetSymmKeyPlain = 0xE7;
inline constexpr uint8_t kCipherWithIv = 0xE8;
} // namespace ins

inline ByteVec Pattern(size_t len, unsigned seed = 1) {
    ByteVec bytes(len);
    for (size_t i = 0; i < len; ++i)
        bytes[i] = static_cast<BYTE>((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
    return bytes;
}

// SM4 in ECB or CBC by OpenSSL, with PKCS#7 padding or none.
inline ByteVec OpenSslSm4(bool cbc, bool encrypt, bool padding, const ByteVec& key, const ByteVec& iv,
                          const ByteVec& in) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EXPECT_EQ(EVP_CipherInit_ex(ctx.get(), cbc ? EVP_sm4_cbc() : EVP_sm4_ecb(), nullptr, key.data(),
                                cbc ? iv.data() : nullptr, encrypt ? 1 : 0),
              1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
    ByteVec out(in.size() + 32);
    int len = 0;
    int total = 0;
    EXPECT_EQ(EVP_CipherUpdate(ctx.get(), out.data(), &len, in.data(), static_cast<int>(in.size())), 1);
    total = len;
    EXPECT_EQ(EVP_CipherFinal_ex(ctx.get(), out.data() + total, &len), 1);
    out.resize(static_cast<size_t>(total + len));
    return out;
}

// SM4-CBC-MAC: the data padded with 0x80 and zeros when they do not end on a block, encrypted under
// the IV; the last block.
inline ByteVec OpenSslSm4CbcMac(const ByteVec& key, const ByteVec& iv, ByteVec data) {
    if (data.size() % 16 != 0) {
        data.push_back(0x80);
        data.resize((data.size() + 15) / 16 * 16, 0x00);
    }
    const ByteVec cipher = OpenSslSm4(true, true, false, key, iv, data);
    return ByteVec(cipher.end() - 16, cipher.end());
}

inline ByteVec OpenSslDigest(const EVP_MD* md, const ByteVec& prefix, const ByteVec& data) {
    ByteVec out(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EXPECT_EQ(EVP_DigestInit_ex(ctx.get(), md, nullptr), 1);
    EVP_DigestUpdate(ctx.get(), prefix.data(), prefix.size());
    EVP_DigestUpdate(ctx.get(), data.data(), data.size());
    EXPECT_EQ(EVP_DigestFinal_ex(ctx.get(), out.data(), &len), 1);
    out.resize(len);
    return out;
}

inline BLOCKCIPHERPARAM CipherParam(const ByteVec& iv, ULONG padding) {
    BLOCKCIPHERPARAM param = {};
    std::copy(iv.begin(), iv.end(), param.IV);
    param.IVLen = static_cast<ULONG>(iv.size());
    param.PaddingType = padding;
    return param;
}

// The data fields of the commands with that INS in a trace (the part after the 7-byte header).
inline std::vector<vtoken::test::Bytes> CommandsWithIns(const std::vector<std::string>& trace, uint8_t ins) {
    std::vector<vtoken::test::Bytes> commands;
    for (const std::string& line : trace) {
        if (line.rfind("> ", 0) != 0)
            continue;
        const vtoken::test::Bytes c = vtoken::test::FromHex(line.substr(2));
        if (c.size() >= 4 && c[1] == ins)
            commands.push_back(c);
    }
    return commands;
}

// Where the session key lives.
enum class KeyPlace { Loose, Container };

inline const char* PlaceName(KeyPlace place) {
    return place == KeyPlace::Loose ? "loose" : "container";
}

class SessionKeyTest : public SkfStorageTest {
protected:
    // A session key set with SKF_SetSymmKey on the device: loose while the default application has no
    // container, inside the container "keys" otherwise.
    HANDLE SetKey(KeyPlace place, ULONG algId, const ByteVec& key) {
        if (place == KeyPlace::Container && m_container == nullptr) {
            VerifyUserPin();
            EXPECT_EQ(SKF_CreateContainer(m_app, Text("keys"), &m_container), SAR_OK);
        }
        HANDLE handle = nullptr;
        EXPECT_EQ(SKF_SetSymmKey(m_dev, const_cast<BYTE*>(key.data()), algId, &handle), SAR_OK);
        return handle;
    }

    HCONTAINER m_container = nullptr;
    ByteVec m_key = Pattern(16, 7);
    ByteVec m_iv = Pattern(16, 9);
};

} // namespace keycore::test
