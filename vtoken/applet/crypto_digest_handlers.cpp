// Digests on the token: SM3 (optionally started with ZA of a public key and an identifier), SHA-1
// and SHA-256. The token runs one digest at a time.

#include "vtoken/applet/crypto_common.h"
#include "vtoken/applet/crypto_handlers.h"
#include "vtoken/applet/crypto_operations.h"
#include "vtoken/applet/crypto_sm2.h"

namespace vtoken::crypto {

namespace {

// DigestInit's algorithm byte is the low byte of the SGD identifier.
const EVP_MD* DigestFor(uint8_t algorithm) {
    switch (algorithm) {
    case 0x01:
        return EVP_sm3();
    case 0x02:
        return EVP_sha1();
    case 0x04:
        return EVP_sha256();
    default:
        return nullptr;
    }
}

// P2 the algorithm; the data field is empty, or 00 00 01 00, X, Y, the identifier's length (4) and
// the identifier, which start an SM3 digest with ZA.
std::vector<uint8_t> DigestInit(AppletContext& ctx, const Command& cmd) {
    const EVP_MD* md = DigestFor(cmd.p2);
    if (md == nullptr)
        return Answer(cw::kNotSupported);
    std::vector<uint8_t> za;
    if (!cmd.data.empty()) {
        DataReader in(cmd.data);
        bool bitsOk = ReadSm2Bits(in);
        std::vector<uint8_t> point = in.Bytes(64);
        std::vector<uint8_t> id = in.Bytes(in.U32());
        if (!DataEnds(in) || id.empty())
            return Answer(sw::kWrongLength);
        if (!bitsOk || cmd.p2 != 0x01 || !sm2::FromPublic(point.data()))
            return Answer(sw::kWrongData);
        za = sm2::Za(point.data(), id.data(), id.size());
        if (za.empty())
            return Answer(sw::kWrongData);
    }
    auto op = std::make_unique<DigestOperation>();
    op->md.reset(EVP_MD_CTX_new());
    if (!op->md || EVP_DigestInit_ex(op->md.get(), md, nullptr) != 1 ||
        (!za.empty() && EVP_DigestUpdate(op->md.get(), za.data(), za.size()) != 1))
        return Answer(sw::kUnknown);
    ctx.state.digest = std::move(op);
    return Answer(sw::kOk);
}

std::vector<uint8_t> Feed(AppletContext& ctx, const std::vector<uint8_t>& data, bool finish) {
    DigestOperation* op = Running<DigestOperation>(ctx.state.digest);
    if (op == nullptr)
        return Answer(cw::kNoOperation);
    if (!data.empty() && EVP_DigestUpdate(op->md.get(), data.data(), data.size()) != 1) {
        ctx.state.digest.reset();
        return Answer(sw::kUnknown);
    }
    if (!finish)
        return Answer(sw::kOk);
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    bool ok = EVP_DigestFinal_ex(op->md.get(), out.data(), &length) == 1;
    ctx.state.digest.reset();
    if (!ok)
        return Answer(sw::kUnknown);
    out.resize(length);
    return Answer(out);
}

std::vector<uint8_t> DigestUpdate(AppletContext& ctx, const Command& cmd) {
    return Feed(ctx, cmd.data, false);
}

// Digest (the whole message in one command) and DigestFinal (the last piece) both end the digest.
std::vector<uint8_t> DigestLast(AppletContext& ctx, const Command& cmd) {
    return Feed(ctx, cmd.data, true);
}

} // namespace

void RegisterDigestHandlers(HandlerTable& table) {
    table.Add(kCla, 0xB4, DigestInit);
    table.Add(kCla, 0xB6, DigestLast);
    table.Add(kCla, 0xB8, DigestUpdate);
    table.Add(kCla, 0xBA, DigestLast);
}

} // namespace vtoken::crypto
