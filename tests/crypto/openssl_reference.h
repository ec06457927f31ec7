#pragma once
// Independent reference results from OpenSSL 3 (EVP) for the SM algorithms, and the conversion of
// a raw SM2 cipher text into the DER form OpenSSL decrypts.

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace reference {

using Bytes = std::vector<unsigned char>;

struct PkeyDeleter {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

inline Bytes Sm3(const Bytes& data) {
    Bytes out(32);
    unsigned int len = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_sm3(), nullptr) != 1 || len != 32)
        return {};
    return out;
}

// SM4 without padding; returns an empty vector on any OpenSSL failure.
inline Bytes Sm4(const EVP_CIPHER* cipher, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& in) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 16);
    int len = 0, tail = 0;
    bool ok = ctx != nullptr &&
              EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), encrypt) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
              EVP_CipherUpdate(ctx, out.data(), &len, in.data(), static_cast<int>(in.size())) == 1 &&
              EVP_CipherFinal_ex(ctx, out.data() + len, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        return {};
    out.resize(static_cast<size_t>(len + tail));
    return out;
}

inline Pkey GenerateSm2Key() {
    return Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
}

// The public point as 0x04 || X || Y.
inline Bytes PublicPoint(EVP_PKEY* key) {
    Bytes point(65);
    size_t len = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(), &len) != 1 ||
        len != 65 || point[0] != 0x04)
        return {};
    return point;
}

inline std::string Hex(const unsigned char* p, size_t len) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < len; ++i) {
        text += digits[p[i] >> 4];
        text += digits[p[i] & 15];
    }
    return text;
}

inline Bytes FromHex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

inline void AppendDerLength(Bytes& out, size_t len) {
    if (len < 0x80) {
        out.push_back(static_cast<unsigned char>(len));
        return;
    }
    Bytes digits;
    for (; len > 0; len >>= 8)
        digits.insert(digits.begin(), static_cast<unsigned char>(len));
    out.push_back(static_cast<unsigned char>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
}

inline void AppendDer(Bytes& out, unsigned char tag, const Bytes& content) {
    out.push_back(tag);
    AppendDerLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
}

// A non-negative INTEGER from big-endian bytes: minimal, with a zero byte before a set top bit.
inline Bytes DerUnsignedInteger(const unsigned char* p, size_t len) {
    while (len > 1 && *p == 0) {
        ++p;
        --len;
    }
    Bytes content;
    if (*p & 0x80)
        content.push_back(0);
    content.insert(content.end(), p, p + len);
    Bytes out;
    AppendDer(out, 0x02, content);
    return out;
}

// C1 || C2 || C3 (C1 = 04 || x || y) to SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3, OCTET STRING C2 }.
inline Bytes Sm2RawToDer(const Bytes& raw) {
    if (raw.size() < 97 || raw[0] != 0x04)
        return {};
    const size_t messageLen = raw.size() - 97;
    Bytes body = DerUnsignedInteger(raw.data() + 1, 32);
    Bytes y = DerUnsignedInteger(raw.data() + 33, 32);
    body.insert(body.end(), y.begin(), y.end());
    AppendDer(body, 0x04, Bytes(raw.end() - 32, raw.end()));
    AppendDer(body, 0x04, Bytes(raw.begin() + 65, raw.begin() + 65 + static_cast<long>(messageLen)));
    Bytes out;
    AppendDer(out, 0x30, body);
    return out;
}

// Decrypts a DER SM2 cipher text; false when OpenSSL rejects it.
inline bool Sm2Decrypt(EVP_PKEY* key, const Bytes& der, Bytes& plain) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    size_t len = 0;
    bool ok = ctx != nullptr && EVP_PKEY_decrypt_init(ctx) == 1 &&
              EVP_PKEY_decrypt(ctx, nullptr, &len, der.data(), der.size()) == 1;
    if (ok) {
        plain.assign(len, 0);
        ok = EVP_PKEY_decrypt(ctx, plain.data(), &len, der.data(), der.size()) == 1;
        plain.resize(ok ? len : 0);
    }
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

} // namespace reference
