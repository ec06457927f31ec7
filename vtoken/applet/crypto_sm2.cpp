#include "vtoken/applet/crypto_sm2.h"

#include <cstring>

#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>

namespace vtoken::crypto::sm2 {

namespace {

PkeyCtxPtr Sm2Context() {
    return PkeyCtxPtr(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
}

std::vector<uint8_t> Uncompressed(const uint8_t* xy) {
    std::vector<uint8_t> point(1 + kPointBytes);
    point[0] = 0x04;
    std::memcpy(point.data() + 1, xy, kPointBytes);
    return point;
}

PkeyPtr FromParams(const BIGNUM* d, const std::vector<uint8_t>& publicOctets) {
    ParamBldPtr bld(OSSL_PARAM_BLD_new());
    if (!bld || OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, SN_sm2, 0) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, publicOctets.data(),
                                         publicOctets.size()) != 1)
        return nullptr;
    if (d != nullptr && OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, d) != 1)
        return nullptr;
    ParamsPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtxPtr ctx = Sm2Context();
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, d != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
        return nullptr;
    return PkeyPtr(key);
}

// Point on the curve from X ‖ Y, or null.
EcPointPtr PointFrom(const uint8_t* xy, BN_CTX* bnCtx) {
    EcPointPtr point(EC_POINT_new(Group()));
    if (!point || EC_POINT_oct2point(Group(), point.get(), Uncompressed(xy).data(), 1 + kPointBytes, bnCtx) != 1)
        return nullptr;
    return point;
}

// x̄ = 2^w + (x mod 2^w), w = 127 for a 256-bit order.
BnPtr ReducedX(const uint8_t* x) {
    BnPtr v = BnFromBytes(x, kFieldBytes);
    if (!v)
        return nullptr;
    // BN_mask_bits reports 0 when the value is already shorter than 127 bits: nothing to cut then.
    BN_mask_bits(v.get(), 127);
    if (BN_set_bit(v.get(), 127) != 1)
        return nullptr;
    return v;
}

// Minimal DER for OpenSSL's SM2 cipher text: SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3, OCTET STRING C2 }.
void PutDerLength(std::vector<uint8_t>& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
    } else if (length < 0x100) {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(length));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.push_back(static_cast<uint8_t>(length));
    }
}

void PutDer(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& content) {
    out.push_back(tag);
    PutDerLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
}

std::vector<uint8_t> DerInteger(const uint8_t* magnitude, size_t size) {
    size_t skip = 0;
    while (skip + 1 < size && magnitude[skip] == 0)
        ++skip;
    std::vector<uint8_t> content;
    if (magnitude[skip] & 0x80)
        content.push_back(0);
    content.insert(content.end(), magnitude + skip, magnitude + size);
    return content;
}

class DerReader {
public:
    DerReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Read(uint8_t tag, const uint8_t** content, size_t* length) {
        if (m_size - m_pos < 2 || m_data[m_pos] != tag)
            return false;
        size_t pos = m_pos + 1;
        size_t len = m_data[pos++];
        if (len & 0x80) {
            size_t count = len & 0x7F;
            if (count == 0 || count > 2 || m_size - pos < count)
                return false;
            len = 0;
            for (size_t i = 0; i < count; ++i)
                len = (len << 8) | m_data[pos++];
        }
        if (m_size - pos < len)
            return false;
        *content = m_data + pos;
        *length = len;
        m_pos = pos + len;
        return true;
    }
    bool AtEnd() const { return m_pos == m_size; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// An unsigned INTEGER content as exactly 32 bytes.
bool FixedInteger(const uint8_t* content, size_t length, uint8_t* out) {
    while (length > kFieldBytes && *content == 0) {
        ++content;
        --length;
    }
    if (length > kFieldBytes)
        return false;
    std::memset(out, 0, kFieldBytes - length);
    std::memcpy(out + kFieldBytes - length, content, length);
    return true;
}

} // namespace

const EC_GROUP* Group() {
    static EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    return group;
}

PkeyPtr Generate() {
    PkeyCtxPtr ctx = Sm2Context();
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &key) != 1)
        return nullptr;
    return PkeyPtr(key);
}

PkeyPtr FromPrivate(const uint8_t* d) {
    BnCtxPtr bnCtx(BN_CTX_new());
    BnPtr scalar = BnFromBytes(d, kFieldBytes);
    BnPtr limit(BN_dup(EC_GROUP_get0_order(Group())));
    if (!bnCtx || !scalar || !limit || BN_sub_word(limit.get(), 1) != 1)
        return nullptr;
    // d must lie in [1, n-2]: d = n-1 has no inverse of 1 + d, which SM2 signing needs.
    if (BN_is_zero(scalar.get()) || BN_cmp(scalar.get(), limit.get()) >= 0)
        return nullptr;
    EcPointPtr q(EC_POINT_new(Group()));
    std::vector<uint8_t> octets(1 + kPointBytes);
    if (!q || EC_POINT_mul(Group(), q.get(), scalar.get(), nullptr, nullptr, bnCtx.get()) != 1 ||
        EC_POINT_point2oct(Group(), q.get(), POINT_CONVERSION_UNCOMPRESSED, octets.data(), octets.size(),
                           bnCtx.get()) != octets.size())
        return nullptr;
    return FromParams(scalar.get(), octets);
}

PkeyPtr FromPublic(const uint8_t* xy) {
    BnCtxPtr bnCtx(BN_CTX_new());
    if (!bnCtx || !PointFrom(xy, bnCtx.get()))
        return nullptr;
    return FromParams(nullptr, Uncompressed(xy));
}

std::vector<uint8_t> PublicPoint(EVP_PKEY* key) {
    uint8_t octets[1 + kPointBytes];
    size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, octets, sizeof octets, &length) != 1 ||
        length != sizeof octets || octets[0] != 0x04)
        return {};
    return std::vector<uint8_t>(octets + 1, octets + sizeof octets);
}

SecretBytes PrivateScalar(EVP_PKEY* key) {
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &raw) != 1)
        return SecretBytes();
    BnPtr d(raw);
    return SecretBytes(BnToFixed(d.get(), kFieldBytes));
}

std::vector<uint8_t> SignDigest(EVP_PKEY* key, const uint8_t* e) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t length = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 || EVP_PKEY_sign(ctx.get(), nullptr, &length, e, 32) != 1)
        return {};
    std::vector<uint8_t> der(length);
    if (EVP_PKEY_sign(ctx.get(), der.data(), &length, e, 32) != 1)
        return {};
    const unsigned char* p = der.data();
    std::unique_ptr<ECDSA_SIG, OpenSslDeleter<ECDSA_SIG, ECDSA_SIG_free>> sig(
        d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(length)));
    if (!sig)
        return {};
    std::vector<uint8_t> r = BnToFixed(ECDSA_SIG_get0_r(sig.get()), kFieldBytes);
    std::vector<uint8_t> s = BnToFixed(ECDSA_SIG_get0_s(sig.get()), kFieldBytes);
    if (r.empty() || s.empty())
        return {};
    r.insert(r.end(), s.begin(), s.end());
    return r;
}

bool VerifyDigest(EVP_PKEY* key, const uint8_t* e, const uint8_t* rs) {
    std::unique_ptr<ECDSA_SIG, OpenSslDeleter<ECDSA_SIG, ECDSA_SIG_free>> sig(ECDSA_SIG_new());
    BnPtr r = BnFromBytes(rs, kFieldBytes);
    BnPtr s = BnFromBytes(rs + kFieldBytes, kFieldBytes);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1)
        return false;
    r.release();
    s.release();
    int length = i2d_ECDSA_SIG(sig.get(), nullptr);
    if (length <= 0)
        return false;
    std::vector<uint8_t> der(static_cast<size_t>(length));
    unsigned char* p = der.data();
    i2d_ECDSA_SIG(sig.get(), &p);
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
           EVP_PKEY_verify(ctx.get(), der.data(), der.size(), e, 32) == 1;
}

std::vector<uint8_t> Encrypt(EVP_PKEY* key, const uint8_t* message, size_t size) {
    if (size == 0)
        return {};
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t length = 0;
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_encrypt(ctx.get(), nullptr, &length, message, size) != 1)
        return {};
    std::vector<uint8_t> der(length);
    if (EVP_PKEY_encrypt(ctx.get(), der.data(), &length, message, size) != 1)
        return {};
    der.resize(length);

    DerReader outer(der.data(), der.size());
    const uint8_t* seq = nullptr;
    size_t seqLength = 0;
    if (!outer.Read(0x30, &seq, &seqLength))
        return {};
    DerReader inner(seq, seqLength);
    const uint8_t* field[4];
    size_t fieldLength[4];
    const uint8_t tags[4] = {0x02, 0x02, 0x04, 0x04};
    for (int i = 0; i < 4; ++i) {
        if (!inner.Read(tags[i], &field[i], &fieldLength[i]))
            return {};
    }
    if (!inner.AtEnd() || fieldLength[2] != 32 || fieldLength[3] != size)
        return {};
    std::vector<uint8_t> out(kCipherOverhead + size);
    if (!FixedInteger(field[0], fieldLength[0], out.data()) ||
        !FixedInteger(field[1], fieldLength[1], out.data() + kFieldBytes))
        return {};
    std::memcpy(out.data() + kPointBytes, field[2], 32);
    std::memcpy(out.data() + kCipherOverhead, field[3], size);
    return out;
}

bool Decrypt(EVP_PKEY* key, const uint8_t* c1c3, const uint8_t* c2, size_t c2Size, SecretBytes* message) {
    if (c2Size == 0)
        return false;
    std::vector<uint8_t> body;
    PutDer(body, 0x02, DerInteger(c1c3, kFieldBytes));
    PutDer(body, 0x02, DerInteger(c1c3 + kFieldBytes, kFieldBytes));
    PutDer(body, 0x04, std::vector<uint8_t>(c1c3 + kPointBytes, c1c3 + kCipherOverhead));
    PutDer(body, 0x04, std::vector<uint8_t>(c2, c2 + c2Size));
    std::vector<uint8_t> der;
    PutDer(der, 0x30, body);

    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t length = 0;
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_decrypt(ctx.get(), nullptr, &length, der.data(), der.size()) != 1)
        return false;
    std::vector<uint8_t> plain(length);
    if (EVP_PKEY_decrypt(ctx.get(), plain.data(), &length, der.data(), der.size()) != 1) {
        Wipe(plain);
        return false;
    }
    plain.resize(length);
    *message = SecretBytes(std::move(plain));
    return true;
}

std::vector<uint8_t> Za(const uint8_t* xy, const uint8_t* id, size_t idSize) {
    if (idSize >= 8192)
        return {};
    BnCtxPtr bnCtx(BN_CTX_new());
    BnPtr p(BN_new()), a(BN_new()), b(BN_new()), gx(BN_new()), gy(BN_new());
    if (!bnCtx || !p || !a || !b || !gx || !gy ||
        EC_GROUP_get_curve(Group(), p.get(), a.get(), b.get(), bnCtx.get()) != 1 ||
        EC_POINT_get_affine_coordinates(Group(), EC_GROUP_get0_generator(Group()), gx.get(), gy.get(), bnCtx.get()) !=
            1)
        return {};
    std::vector<uint8_t> input;
    size_t bits = idSize * 8;
    input.push_back(static_cast<uint8_t>(bits >> 8));
    input.push_back(static_cast<uint8_t>(bits));
    input.insert(input.end(), id, id + idSize);
    for (const BIGNUM* v : {a.get(), b.get(), gx.get(), gy.get()}) {
        std::vector<uint8_t> bytes = BnToFixed(v, kFieldBytes);
        input.insert(input.end(), bytes.begin(), bytes.end());
    }
    input.insert(input.end(), xy, xy + kPointBytes);
    return Digest("SM3", input.data(), input.size());
}

SecretBytes Kdf(const uint8_t* z, size_t zSize, size_t size) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> input(z, z + zSize);
    input.resize(zSize + 4);
    for (uint32_t counter = 1; out.size() < size; ++counter) {
        for (int i = 0; i < 4; ++i)
            input[zSize + i] = static_cast<uint8_t>(counter >> (24 - 8 * i));
        std::vector<uint8_t> block = Digest("SM3", input.data(), input.size());
        if (block.empty()) {
            Wipe(out);
            Wipe(input);
            return SecretBytes();
        }
        out.insert(out.end(), block.begin(), block.end());
        Wipe(block);
    }
    Wipe(input);
    out.resize(size);
    return SecretBytes(std::move(out));
}

bool ExchangeKey(const ExchangeSide& own, const uint8_t* peerPublic, const uint8_t* peerTempPublic,
                 const std::vector<uint8_t>& zInitiator, const std::vector<uint8_t>& zResponder, size_t size,
                 SecretBytes* key) {
    BnCtxPtr bnCtx(BN_CTX_new());
    if (!bnCtx)
        return false;
    const BIGNUM* order = EC_GROUP_get0_order(Group());
    BnPtr d = BnFromBytes(own.staticPrivate, kFieldBytes);
    BnPtr r = BnFromBytes(own.tempPrivate, kFieldBytes);
    BnPtr xOwn = ReducedX(own.tempPublic);
    BnPtr xPeer = ReducedX(peerTempPublic);
    BnPtr t(BN_new());
    EcPointPtr peer = PointFrom(peerPublic, bnCtx.get());
    EcPointPtr peerTemp = PointFrom(peerTempPublic, bnCtx.get());
    EcPointPtr sum(EC_POINT_new(Group()));
    EcPointPtr shared(EC_POINT_new(Group()));
    if (!d || !r || !xOwn || !xPeer || !t || !peer || !peerTemp || !sum || !shared)
        return false;
    // t = (d + x̄own · r) mod n; U = [t](Ppeer + [x̄peer]Rpeer)
    if (BN_mod_mul(t.get(), xOwn.get(), r.get(), order, bnCtx.get()) != 1 ||
        BN_mod_add(t.get(), t.get(), d.get(), order, bnCtx.get()) != 1 ||
        EC_POINT_mul(Group(), sum.get(), nullptr, peerTemp.get(), xPeer.get(), bnCtx.get()) != 1 ||
        EC_POINT_add(Group(), sum.get(), sum.get(), peer.get(), bnCtx.get()) != 1 ||
        EC_POINT_mul(Group(), shared.get(), nullptr, sum.get(), t.get(), bnCtx.get()) != 1 ||
        EC_POINT_is_at_infinity(Group(), shared.get()))
        return false;
    uint8_t octets[1 + kPointBytes];
    if (EC_POINT_point2oct(Group(), shared.get(), POINT_CONVERSION_UNCOMPRESSED, octets, sizeof octets, bnCtx.get()) !=
        sizeof octets)
        return false;
    std::vector<uint8_t> z(octets + 1, octets + sizeof octets);
    OPENSSL_cleanse(octets, sizeof octets);
    z.insert(z.end(), zInitiator.begin(), zInitiator.end());
    z.insert(z.end(), zResponder.begin(), zResponder.end());
    *key = Kdf(z.data(), z.size(), size);
    Wipe(z);
    return key->size() == size;
}

} // namespace vtoken::crypto::sm2
