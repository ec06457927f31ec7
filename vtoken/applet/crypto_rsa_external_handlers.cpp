// RSA with keys the host supplies: verification, raw public and private operations, and a key pair
// generated for the host.

#include "vtoken/applet/crypto_common.h"
#include "vtoken/applet/crypto_handlers.h"
#include "vtoken/applet/crypto_rsa.h"

namespace vtoken::crypto {

namespace {

bool ReadModulus(DataReader& in, std::vector<uint8_t>* modulus) {
    uint32_t bits = in.U32();
    if (in.Failed() || bits == 0 || bits % 16 != 0 || bits > 4096)
        return false;
    *modulus = in.Bytes(bits / 8);
    return !in.Failed();
}

// A block that announces PKCS#1 encryption padding (00 02) must carry at least eight padding bytes
// before its separator: the host's own padding of an over-long input shows up this way.
bool AcceptableEncryptionBlock(const std::vector<uint8_t>& block) {
    if (block.size() < 2 || block[0] != 0x00 || block[1] != 0x02)
        return true;
    size_t separator = 2;
    while (separator < block.size() && block[separator] != 0)
        ++separator;
    return separator < block.size() && separator >= 10;
}

std::vector<uint8_t> ExpectedBlock(const std::vector<uint8_t>& data, size_t k) {
    if (data.size() == k)
        return data;
    const char* digest = data.size() == 20 ? "SHA1" : data.size() == 32 ? "SHA256" : nullptr;
    if (digest == nullptr)
        return {};
    return rsa::SignatureBlock(rsa::DigestInfo(digest, data.data(), data.size()), k);
}

std::vector<uint8_t> RsaVerify(AppletContext&, const Command& cmd) {
    DataReader in(cmd.data);
    std::vector<uint8_t> modulus;
    bool modulusOk = ReadModulus(in, &modulus);
    std::vector<uint8_t> exponent = in.Bytes(4);
    std::vector<uint8_t> data = in.Bytes(in.U32());
    std::vector<uint8_t> signature = in.Bytes(in.U16());
    if (!modulusOk || !DataEnds(in))
        return Answer(sw::kWrongLength);
    PkeyPtr key = rsa::FromPublic(modulus.data(), modulus.size(), exponent.data(), exponent.size());
    if (!key)
        return Answer(sw::kWrongData);
    size_t k = rsa::ModulusBytes(key.get());
    std::vector<uint8_t> expected = ExpectedBlock(data, k);
    if (expected.empty() || signature.size() != k)
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> recovered;
    if (!rsa::RawPublic(key.get(), signature.data(), signature.size(), &recovered))
        return Answer(cw::kVerifyFailed);
    return Answer(recovered == expected ? sw::kOk : cw::kVerifyFailed);
}

std::vector<uint8_t> ExtRsaPubKeyOperation(AppletContext&, const Command& cmd) {
    DataReader in(cmd.data);
    std::vector<uint8_t> modulus;
    bool modulusOk = ReadModulus(in, &modulus);
    std::vector<uint8_t> exponent = in.Bytes(4);
    std::vector<uint8_t> input = in.Bytes(in.U32());
    if (!modulusOk || !DataEnds(in) || input.size() != modulus.size())
        return Answer(sw::kWrongLength);
    PkeyPtr key = rsa::FromPublic(modulus.data(), modulus.size(), exponent.data(), exponent.size());
    std::vector<uint8_t> out;
    if (!key || !AcceptableEncryptionBlock(input) || !rsa::RawPublic(key.get(), input.data(), input.size(), &out))
        return Answer(sw::kWrongData);
    return Answer(out);
}

std::vector<uint8_t> ExtRsaPriKeyOperation(AppletContext&, const Command& cmd) {
    DataReader in(cmd.data);
    rsa::PrivateParts parts;
    bool modulusOk = ReadModulus(in, &parts.n);
    size_t k = parts.n.size();
    parts.e = in.Bytes(4);
    parts.d = SecretBytes(in.Bytes(k));
    parts.p = SecretBytes(in.Bytes(k / 2));
    parts.q = SecretBytes(in.Bytes(k / 2));
    parts.dp = SecretBytes(in.Bytes(k / 2));
    parts.dq = SecretBytes(in.Bytes(k / 2));
    parts.qinv = SecretBytes(in.Bytes(k / 2));
    std::vector<uint8_t> input = in.Bytes(in.U32());
    if (!modulusOk || !DataEnds(in) || input.size() != k)
        return Answer(sw::kWrongLength);
    PkeyPtr key = rsa::FromParts(parts);
    std::vector<uint8_t> out;
    if (!key || !rsa::RawPrivate(key.get(), input.data(), input.size(), &out))
        return Answer(sw::kWrongData);
    return Answer(out);
}

std::vector<uint8_t> GenExtRsaKey(AppletContext&, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t bits = in.U16();
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    if (bits != 1024 && bits != 2048)
        return Answer(cw::kNotSupported);
    PkeyPtr key = rsa::Generate(bits);
    rsa::PrivateParts parts;
    if (!key || !rsa::ExportParts(key.get(), &parts))
        return Answer(sw::kUnknown);
    std::vector<uint8_t> out = parts.n;
    Append(out, parts.e);
    for (const SecretBytes* part : {&parts.d, &parts.p, &parts.q, &parts.dp, &parts.dq, &parts.qinv})
        Append(out, part->bytes());
    std::vector<uint8_t> answer = Answer(out);
    Wipe(out);
    return answer;
}

} // namespace

void RegisterRsaExternalHandlers(HandlerTable& table) {
    table.Add(kCla, 0x5E, RsaVerify);
    table.Add(kCla, 0x60, ExtRsaPubKeyOperation);
    table.Add(kCla, 0x62, ExtRsaPriKeyOperation);
    table.Add(kCla, 0x52, GenExtRsaKey);
}

} // namespace vtoken::crypto
