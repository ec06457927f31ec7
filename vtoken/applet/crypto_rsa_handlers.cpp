// RSA with a container's key pairs: generation, signatures, raw operations for the PKCS#11 key
// objects, and session keys exported under a given public key.

#include "vtoken/applet/crypto_common.h"
#include "vtoken/applet/crypto_handlers.h"
#include "vtoken/applet/crypto_rsa.h"

namespace vtoken::crypto {

namespace {

bool SupportedModulus(uint32_t bits) {
    return bits == 1024 || bits == 2048;
}

std::vector<uint8_t> PublicKeyAnswer(EVP_PKEY* key) {
    std::vector<uint8_t> out = rsa::Modulus(key);
    Append(out, rsa::Exponent4(key));
    return out;
}

std::vector<uint8_t> Generate(AppletContext& ctx, const Command& cmd, KeyRole role) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint16_t bits = in.U16();
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    if (!SupportedModulus(bits))
        return Answer(cw::kNotSupported);
    ContainerRef ref;
    uint16_t status = FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    PkeyPtr key = rsa::Generate(bits);
    KeyPairRecord& slot = role == KeyRole::Signing ? ref.container->signingKey : ref.container->exchangeKey;
    if (!key || !StoreKeyPair(ctx, slot, key.get(), KeyKind::Rsa, bits))
        return Answer(sw::kUnknown);
    return Answer(PublicKeyAnswer(key.get()));
}

std::vector<uint8_t> GenRsaKeyPair(AppletContext& ctx, const Command& cmd) {
    return Generate(ctx, cmd, KeyRole::Signing);
}

std::vector<uint8_t> GenRsaKeyPairEx(AppletContext& ctx, const Command& cmd) {
    if (TakeAccessCode(ctx) != sw::kOk)
        return Answer(sw::kSecurityNotSatisfied);
    return Generate(ctx, cmd, cmd.p2 == 1 ? KeyRole::Signing : KeyRole::Exchange);
}

// What RsaSignData signs, from the data's length: a SHA-1 digest (20 bytes) or a 32-byte digest
// (SHA-256; an SM3 digest gets the same DigestInfo) is put into a DigestInfo and a type 1 block by
// the token; a whole k-byte block was padded by the host and is used as it is.
std::vector<uint8_t> SigningBlock(const std::vector<uint8_t>& data, size_t k) {
    if (data.size() == k)
        return data;
    const char* digest = data.size() == 20 ? "SHA1" : data.size() == 32 ? "SHA256" : nullptr;
    if (digest == nullptr)
        return {};
    return rsa::SignatureBlock(rsa::DigestInfo(digest, data.data(), data.size()), k);
}

std::vector<uint8_t> RsaSignData(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    if (in.Failed())
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> data = in.Bytes(in.Remaining());
    if (cmd.p1 != 0x02)
        return Answer(sw::kWrongP1P2);
    ContainerRef ref;
    uint16_t status = FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    // P2 1 names the exchange pair; the signature selectors (2, 3) and 0 name the signing pair.
    KeyRole role = cmd.p2 == 1 ? KeyRole::Exchange : KeyRole::Signing;
    KeyPairRecord* record = KeyPairFor(*ref.container, role, KeyKind::Rsa);
    PkeyPtr key = record ? LoadKeyPair(*record) : nullptr;
    if (!key)
        return Answer(cw::kKeyPairNotFound);
    std::vector<uint8_t> block = SigningBlock(data, rsa::ModulusBytes(key.get()));
    if (block.empty())
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> signature;
    if (!rsa::RawPrivate(key.get(), block.data(), block.size(), &signature))
        return Answer(sw::kWrongData);
    return Answer(signature);
}

// A raw RSA operation with one of the container's pairs, for the host's key objects: the data
// flag 1 asks for the public-key operation (encryption), 0 for the private-key operation
// (decryption, or a signature over a block the host padded). P2 names the pair: 0 signing,
// 1 exchange. P1 is the host's key selector (1 or 2); both run the same raw operation.
std::vector<uint8_t> ContainerKeyCommand(AppletContext& ctx, const Command& cmd) {
    if (TakeAccessCode(ctx) != sw::kOk)
        return Answer(sw::kSecurityNotSatisfied);
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint8_t flag = in.U8();
    if (in.Failed())
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> data = in.Bytes(in.Remaining());
    if ((cmd.p1 != 1 && cmd.p1 != 2) || cmd.p2 > 1)
        return Answer(sw::kWrongP1P2);
    if (flag > 1)
        return Answer(sw::kWrongData);
    bool publicOperation = flag == 1;
    ContainerRef ref;
    uint16_t status = publicOperation ? FindContainer(ctx, appId, containerId, &ref)
                                      : FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    KeyPairRecord* record =
        KeyPairFor(*ref.container, cmd.p2 == 1 ? KeyRole::Exchange : KeyRole::Signing, KeyKind::Rsa);
    PkeyPtr key = record ? LoadKeyPair(*record) : nullptr;
    if (!key)
        return Answer(cw::kKeyPairNotFound);
    if (data.size() != rsa::ModulusBytes(key.get()))
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> out;
    bool ok = publicOperation ? rsa::RawPublic(key.get(), data.data(), data.size(), &out)
                              : rsa::RawPrivate(key.get(), data.data(), data.size(), &out);
    return ok ? Answer(out) : Answer(sw::kWrongData);
}

std::vector<uint8_t> RsaExportSessionKey(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint32_t algorithm = in.U32();
    uint32_t bits = in.U32();
    std::vector<uint8_t> modulus = in.Bytes(bits / 8);
    std::vector<uint8_t> exponent = in.Bytes(4);
    if (!DataEnds(in) || bits == 0 || bits % 8 != 0)
        return Answer(sw::kWrongLength);
    ContainerRef ref;
    uint16_t status = FindContainer(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    PkeyPtr peer = rsa::FromPublic(modulus.data(), modulus.size(), exponent.data(), exponent.size());
    if (!peer)
        return Answer(sw::kWrongData);
    if ((status = CheckSessionAlgorithm(algorithm)) != sw::kOk)
        return Answer(status);
    SecretBytes key;
    uint16_t index = 0;
    if ((status = NewSessionKey(ctx.state, algorithm, &key, &index)) != sw::kOk)
        return Answer(status);
    std::vector<uint8_t> wrapped = rsa::EncryptPkcs1(peer.get(), key.data(), key.size());
    if (wrapped.empty()) {
        ctx.state.sessionKeys.erase(index);
        return Answer(sw::kWrongData);
    }
    PutU16(wrapped, index);
    return Answer(wrapped);
}

} // namespace

void RegisterRsaHandlers(HandlerTable& table) {
    table.Add(kCla, 0x54, GenRsaKeyPair);
    table.Add(kCla, 0x55, GenRsaKeyPairEx);
    table.Add(kCla, 0x58, RsaSignData);
    table.Add(kCla, 0x05, ContainerKeyCommand);
    table.Add(kCla, 0x5A, RsaExportSessionKey);
}

} // namespace vtoken::crypto
