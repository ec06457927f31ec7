// SM2 commands: container key pairs, signatures, verification, encryption with given keys, session
// keys exported under a public key, and the public keys of a container.

#include <cstring>

#include "vtoken/applet/crypto_common.h"
#include "vtoken/applet/crypto_handlers.h"
#include "vtoken/applet/crypto_rsa.h"
#include "vtoken/applet/crypto_sm2.h"

namespace vtoken::crypto {

namespace {

std::vector<uint8_t> SignatureAnswer(const std::vector<uint8_t>& rs) {
    std::vector<uint8_t> out = U32Bytes(256);
    Append(out, rs);
    return out;
}

std::vector<uint8_t> GenEccKeyPair(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint32_t bits = in.U32();
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    if (bits != 256)
        return Answer(cw::kNotSupported);
    ContainerRef ref;
    uint16_t status = FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    PkeyPtr key = sm2::Generate();
    std::vector<uint8_t> point = key ? sm2::PublicPoint(key.get()) : std::vector<uint8_t>();
    if (point.empty() || !StoreKeyPair(ctx, ref.container->signingKey, key.get(), KeyKind::Sm2, 256))
        return Answer(sw::kUnknown);
    return Answer(point);
}

std::vector<uint8_t> EccSignData(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    std::vector<uint8_t> digest;
    std::vector<uint8_t> message, id;
    if (cmd.p1 == 0x02) {
        digest = in.Bytes(32);
    } else if (cmd.p1 == 0x01) {
        message = in.Bytes(in.U32());
        id = in.Bytes(in.U32());
    } else {
        return Answer(sw::kWrongP1P2);
    }
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    ContainerRef ref;
    uint16_t status = FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    KeyPairRecord* record = KeyPairFor(*ref.container, KeyRole::Signing, KeyKind::Sm2);
    PkeyPtr key = record ? LoadKeyPair(*record) : nullptr;
    if (!key)
        return Answer(cw::kKeyPairNotFound);
    if (cmd.p1 == 0x01) {
        // The token hashes: e = SM3(ZA ‖ M) with ZA of its own public key and the given identifier.
        std::vector<uint8_t> za = sm2::Za(sm2::PublicPoint(key.get()).data(), id.data(), id.size());
        if (za.empty())
            return Answer(sw::kWrongData);
        Append(za, message);
        digest = Digest("SM3", za.data(), za.size());
    }
    std::vector<uint8_t> rs = sm2::SignDigest(key.get(), digest.data());
    if (rs.empty())
        return Answer(sw::kUnknown);
    return Answer(SignatureAnswer(rs));
}

std::vector<uint8_t> ExtEccSign(AppletContext&, const Command& cmd) {
    DataReader in(cmd.data);
    bool bitsOk = ReadSm2Bits(in);
    SecretBytes d(in.Bytes(32));
    std::vector<uint8_t> digest = in.Bytes(in.U32());
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    if (!bitsOk)
        return Answer(sw::kWrongData);
    if (digest.size() != 32)
        return Answer(sw::kWrongLength);
    PkeyPtr key = sm2::FromPrivate(d.data());
    if (!key)
        return Answer(sw::kWrongData);
    std::vector<uint8_t> rs = sm2::SignDigest(key.get(), digest.data());
    return rs.empty() ? Answer(sw::kUnknown) : Answer(rs);
}

std::vector<uint8_t> EccVerify(AppletContext&, const Command& cmd) {
    DataReader in(cmd.data);
    bool bitsOk = ReadSm2Bits(in);
    std::vector<uint8_t> point = in.Bytes(64);
    std::vector<uint8_t> digest = in.Bytes(in.U32());
    std::vector<uint8_t> rs = in.Bytes(64);
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    if (!bitsOk)
        return Answer(sw::kWrongData);
    if (digest.size() != 32)
        return Answer(sw::kWrongLength);
    PkeyPtr key = sm2::FromPublic(point.data());
    if (!key)
        return Answer(sw::kWrongData);
    return Answer(sm2::VerifyDigest(key.get(), digest.data(), rs.data()) ? sw::kOk : cw::kVerifyFailed);
}

std::vector<uint8_t> EccExportSessionKey(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    bool bitsOk = ReadSm2Bits(in);
    std::vector<uint8_t> point = in.Bytes(64);
    uint32_t algorithm = in.U32();
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    if (!bitsOk)
        return Answer(sw::kWrongData);
    ContainerRef ref;
    uint16_t status = FindContainer(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    PkeyPtr peer = sm2::FromPublic(point.data());
    if (!peer)
        return Answer(sw::kWrongData);
    status = CheckSessionAlgorithm(algorithm);
    if (status != sw::kOk)
        return Answer(status);
    SecretBytes key;
    uint16_t index = 0;
    status = NewSessionKey(ctx.state, algorithm, &key, &index);
    if (status != sw::kOk)
        return Answer(status);
    std::vector<uint8_t> cipher = sm2::Encrypt(peer.get(), key.data(), key.size());
    if (cipher.empty()) {
        ctx.state.sessionKeys.erase(index);
        return Answer(sw::kUnknown);
    }
    std::vector<uint8_t> out = Sm2CipherForm(cipher);
    PutU16(out, index);
    return Answer(out);
}

std::vector<uint8_t> ExtEccEncrypt(AppletContext&, const Command& cmd) {
    DataReader in(cmd.data);
    bool bitsOk = ReadSm2Bits(in);
    std::vector<uint8_t> point = in.Bytes(64);
    std::vector<uint8_t> plain = in.Bytes(in.U32());
    if (!DataEnds(in) || plain.empty())
        return Answer(sw::kWrongLength);
    PkeyPtr key = bitsOk ? sm2::FromPublic(point.data()) : nullptr;
    if (!key)
        return Answer(sw::kWrongData);
    std::vector<uint8_t> cipher = sm2::Encrypt(key.get(), plain.data(), plain.size());
    return cipher.empty() ? Answer(sw::kUnknown) : Answer(Sm2CipherForm(cipher));
}

std::vector<uint8_t> ExtEccDecrypt(AppletContext&, const Command& cmd) {
    DataReader in(cmd.data);
    bool bitsOk = ReadSm2Bits(in);
    SecretBytes d(in.Bytes(32));
    std::vector<uint8_t> head = in.Bytes(sm2::kCipherOverhead);
    std::vector<uint8_t> c2 = in.Bytes(in.U32());
    if (!DataEnds(in) || c2.empty())
        return Answer(sw::kWrongLength);
    PkeyPtr key = bitsOk ? sm2::FromPrivate(d.data()) : nullptr;
    SecretBytes plain;
    if (!key || !sm2::Decrypt(key.get(), head.data(), c2.data(), c2.size(), &plain))
        return Answer(sw::kWrongData);
    // The host drops the last four bytes of the answer: the token appends the plain text's length.
    std::vector<uint8_t> out = plain.bytes();
    PutU32(out, static_cast<uint32_t>(plain.size()));
    std::vector<uint8_t> answer = Answer(out);
    Wipe(out);
    return answer;
}

std::vector<uint8_t> ExportPublicKey(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    if (cmd.p1 > 1 || cmd.p2 != 0)
        return Answer(sw::kWrongP1P2);
    ContainerRef ref;
    uint16_t status = FindContainer(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    // Export reports exactly the pair asked for: no stand-in from the other slot.
    KeyPairRecord& record = cmd.p1 == 0 ? ref.container->signingKey : ref.container->exchangeKey;
    PkeyPtr key = record.kind == KeyKind::None ? nullptr : LoadKeyPair(record);
    if (!key)
        return Answer(cw::kKeyPairNotFound);
    std::vector<uint8_t> out;
    if (record.kind == KeyKind::Sm2) {
        out = U32Bytes(256);
        Append(out, sm2::PublicPoint(key.get()));
    } else {
        out = U32Bytes(rsa::ModulusBits(key.get()));
        Append(out, rsa::Modulus(key.get()));
        Append(out, rsa::Exponent4(key.get()));
    }
    return Answer(out);
}

} // namespace

void RegisterEccHandlers(HandlerTable& table) {
    table.Add(kCla, 0x70, GenEccKeyPair);
    table.Add(kCla, 0x74, EccSignData);
    table.Add(kCla, 0x7E, ExtEccSign);
    table.Add(kCla, 0x76, EccVerify);
    table.Add(kCla, 0x78, EccExportSessionKey);
    table.Add(kCla, 0x7A, ExtEccEncrypt);
    table.Add(kCla, 0x7C, ExtEccDecrypt);
    table.Add(kCla, 0x88, ExportPublicKey);
}

} // namespace vtoken::crypto
