// Key pairs brought into a container in wrapped form: an SM2 pair in its envelope, an RSA pair under
// a session key wrapped with RSA, and the privileged wrapped import under a session key or the
// transport key.

#include <cstring>

#include "device/token_identity.h"
#include "vtoken/applet/crypto_common.h"
#include "vtoken/applet/crypto_handlers.h"
#include "vtoken/applet/crypto_rsa.h"
#include "vtoken/applet/crypto_sm2.h"
#include "vtoken/applet/crypto_symmetric.h"

namespace vtoken::crypto {

namespace {

// Opens a blob encrypted with a 16-byte key under an SM4 algorithm (a zero IV where the mode has one).
bool OpenBlob(uint32_t algorithm, const std::vector<uint8_t>& key, const std::vector<uint8_t>& blob,
              SecretBytes* plain) {
    std::unique_ptr<BlockCipher> cipher =
        BlockCipher::Create(SgdCipher(algorithm), key, std::vector<uint8_t>(16, 0), false);
    std::vector<uint8_t> out;
    if (!cipher || blob.empty() || !cipher->Update(blob.data(), blob.size(), &out))
        return false;
    *plain = SecretBytes(std::move(out));
    return true;
}

// Removes n bytes of value n (1 to 16) when the block ends with them; a block without them stays.
void StripBlockPadding(SecretBytes& plain) {
    std::vector<uint8_t>& bytes = plain.bytes();
    if (bytes.empty())
        return;
    size_t n = bytes.back();
    if (n == 0 || n > 16 || n > bytes.size())
        return;
    for (size_t i = bytes.size() - n; i < bytes.size(); ++i) {
        if (bytes[i] != n)
            return;
    }
    OPENSSL_cleanse(bytes.data() + bytes.size() - n, n);
    bytes.resize(bytes.size() - n);
}

// The 32-byte private scalar of an opened SM2 key: 32 bytes, or 64 with the scalar right-aligned.
bool ScalarOf(const SecretBytes& plain, const uint8_t** scalar) {
    if (plain.size() == 32) {
        *scalar = plain.data();
        return true;
    }
    if (plain.size() == 64) {
        for (size_t i = 0; i < 32; ++i) {
            if (plain.data()[i] != 0)
                return false;
        }
        *scalar = plain.data() + 32;
        return true;
    }
    return false;
}

// An SM2 pair from its private scalar, which must match the public point sent with it.
PkeyPtr Sm2PairMatching(const SecretBytes& plain, const std::vector<uint8_t>& point) {
    const uint8_t* scalar = nullptr;
    if (!ScalarOf(plain, &scalar))
        return nullptr;
    PkeyPtr key = sm2::FromPrivate(scalar);
    if (!key || sm2::PublicPoint(key.get()) != point)
        return nullptr;
    return key;
}

std::vector<uint8_t> ImportEccKeyPair(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    in.U32(); // envelope version
    uint32_t algorithm = in.U32();
    std::vector<uint8_t> wrappedKey;
    bool formOk = ReadSm2CipherForm(in, &wrappedKey);
    bool bitsOk = ReadSm2Bits(in);
    std::vector<uint8_t> point = in.Bytes(64);
    std::vector<uint8_t> encryptedPrivate = in.Bytes(in.U32());
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    if (!formOk || !bitsOk)
        return Answer(sw::kWrongData);
    ContainerRef ref;
    uint16_t status = FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    if ((status = CheckSessionAlgorithm(algorithm)) != sw::kOk)
        return Answer(status);
    KeyPairRecord* opener = KeyPairFor(*ref.container, KeyRole::Exchange, KeyKind::Sm2);
    PkeyPtr openingKey = opener ? LoadKeyPair(*opener) : nullptr;
    if (!openingKey)
        return Answer(cw::kKeyPairNotFound);
    SecretBytes symmetricKey, plain;
    if (!sm2::Decrypt(openingKey.get(), wrappedKey.data(), wrappedKey.data() + sm2::kCipherOverhead,
                      wrappedKey.size() - sm2::kCipherOverhead, &symmetricKey) ||
        symmetricKey.size() != kSessionKeyBytes || !OpenBlob(algorithm, symmetricKey.bytes(), encryptedPrivate, &plain))
        return Answer(sw::kWrongData);
    PkeyPtr imported = Sm2PairMatching(plain, point);
    if (!imported)
        return Answer(sw::kWrongData);
    if (!StoreKeyPair(ctx, ref.container->exchangeKey, imported.get(), KeyKind::Sm2, 256))
        return Answer(sw::kUnknown);
    return Answer(sw::kOk);
}

PkeyPtr RsaPairFrom(SecretBytes& plain, uint32_t bits) {
    StripBlockPadding(plain);
    PkeyPtr key = rsa::FromPkcs1Der(plain.data(), plain.size());
    if (!key || rsa::ModulusBits(key.get()) != bits)
        return nullptr;
    return key;
}

std::vector<uint8_t> ImportRsaKeyPair(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint32_t algorithm = in.U32();
    std::vector<uint8_t> wrappedKey = in.Bytes(in.U32());
    uint32_t bits = in.U32();
    std::vector<uint8_t> encrypted = in.Bytes(in.U32());
    if (!DataEnds(in) || wrappedKey.empty() || encrypted.empty())
        return Answer(sw::kWrongLength);
    ContainerRef ref;
    uint16_t status = FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    if ((status = CheckSessionAlgorithm(algorithm)) != sw::kOk)
        return Answer(status);
    KeyPairRecord* opener = KeyPairFor(*ref.container, KeyRole::Exchange, KeyKind::Rsa);
    PkeyPtr openingKey = opener ? LoadKeyPair(*opener) : nullptr;
    if (!openingKey)
        return Answer(cw::kKeyPairNotFound);
    SecretBytes symmetricKey, plain;
    if (!rsa::DecryptPkcs1(openingKey.get(), wrappedKey.data(), wrappedKey.size(), &symmetricKey) ||
        symmetricKey.size() != kSessionKeyBytes || !OpenBlob(algorithm, symmetricKey.bytes(), encrypted, &plain))
        return Answer(sw::kWrongData);
    PkeyPtr imported = RsaPairFrom(plain, bits);
    if (!imported)
        return Answer(sw::kWrongData);
    if (!StoreKeyPair(ctx, ref.container->exchangeKey, imported.get(), KeyKind::Rsa, bits))
        return Answer(sw::kUnknown);
    return Answer(sw::kOk);
}

// P1 key type (1 RSA, 2 SM2), P2 usage (0 signing, 1 exchange). Key index 0 names the transport
// key both sides build from the shared parts; any other index a session key.
std::vector<uint8_t> ImportWrappedKeyPair(AppletContext& ctx, const Command& cmd) {
    if (TakeAccessCode(ctx) != sw::kOk)
        return Answer(sw::kSecurityNotSatisfied);
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint32_t algorithm = in.U32();
    uint16_t keyIndex = in.U16();
    uint32_t bits = in.U32();
    std::vector<uint8_t> blob = in.Bytes(in.U32());
    if (!DataEnds(in) || blob.empty())
        return Answer(sw::kWrongLength);
    if ((cmd.p1 != 1 && cmd.p1 != 2) || cmd.p2 > 1)
        return Answer(sw::kWrongP1P2);
    ContainerRef ref;
    uint16_t status = FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    if ((status = CheckSessionAlgorithm(algorithm)) != sw::kOk)
        return Answer(status);
    SecretBytes wrappingKey;
    if (keyIndex == 0) {
        wrappingKey.bytes().resize(16);
        keycore::token_identity::BuildImportTransportKey(wrappingKey.bytes().data());
    } else {
        SessionKey* session = FindSessionKey(ctx.state, keyIndex);
        if (session == nullptr)
            return Answer(cw::kSessionKeyNotFound);
        wrappingKey = SecretBytes(session->key.data(), session->key.size());
    }
    KeyPairRecord& slot = cmd.p2 == 0 ? ref.container->signingKey : ref.container->exchangeKey;
    SecretBytes plain;
    PkeyPtr imported;
    KeyKind kind = KeyKind::Rsa;
    if (cmd.p1 == 1) {
        if (OpenBlob(algorithm, wrappingKey.bytes(), blob, &plain))
            imported = RsaPairFrom(plain, bits);
    } else {
        // X ‖ Y, the length of the encrypted scalar (4), the encrypted scalar.
        DataReader sm2Blob(blob);
        std::vector<uint8_t> point = sm2Blob.Bytes(64);
        std::vector<uint8_t> encrypted = sm2Blob.Bytes(sm2Blob.U32());
        kind = KeyKind::Sm2;
        if (bits == 256 && !sm2Blob.Failed() && sm2Blob.Remaining() == 0 &&
            OpenBlob(algorithm, wrappingKey.bytes(), encrypted, &plain))
            imported = Sm2PairMatching(plain, point);
    }
    if (!imported)
        return Answer(sw::kWrongData);
    if (!StoreKeyPair(ctx, slot, imported.get(), kind, bits))
        return Answer(sw::kUnknown);
    return Answer(sw::kOk);
}

} // namespace

void RegisterKeyImportHandlers(HandlerTable& table) {
    table.Add(kCla, 0x72, ImportEccKeyPair);
    table.Add(kCla, 0x56, ImportRsaKeyPair);
    table.Add(kCla, 0x57, ImportWrappedKeyPair);
}

} // namespace vtoken::crypto
