// Session keys: set in plain (in a container or loose), imported wrapped under a container's
// exchange pair, and closed.

#include "vtoken/applet/crypto_common.h"
#include "vtoken/applet/crypto_handlers.h"
#include "vtoken/applet/crypto_operations.h"
#include "vtoken/applet/crypto_rsa.h"
#include "vtoken/applet/crypto_sm2.h"

namespace vtoken::crypto {

namespace {

// True when the wrapped bytes are exactly one SM2 cipher form (00 00 01 00, C1, C3, length, C2).
bool IsSm2CipherForm(const std::vector<uint8_t>& wrapped) {
    DataReader probe(wrapped);
    std::vector<uint8_t> c1c3c2;
    return ReadSm2CipherForm(probe, &c1c3c2) && probe.Remaining() == 0;
}

std::vector<uint8_t> ImportSessionKey(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint32_t algorithm = in.U32();
    std::vector<uint8_t> wrapped = in.Bytes(in.U32());
    if (!DataEnds(in) || wrapped.empty())
        return Answer(sw::kWrongLength);
    ContainerRef ref;
    uint16_t status = FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    if ((status = CheckSessionAlgorithm(algorithm)) != sw::kOk)
        return Answer(status);
    bool sm2Form = IsSm2CipherForm(wrapped);
    KeyPairRecord* record = KeyPairFor(*ref.container, KeyRole::Exchange, sm2Form ? KeyKind::Sm2 : KeyKind::Rsa);
    PkeyPtr key = record ? LoadKeyPair(*record) : nullptr;
    if (!key)
        return Answer(cw::kUnwrapKeyNotFound);
    SecretBytes plain;
    bool opened = false;
    if (sm2Form) {
        DataReader form(wrapped);
        std::vector<uint8_t> c1c3c2;
        ReadSm2CipherForm(form, &c1c3c2);
        opened = sm2::Decrypt(key.get(), c1c3c2.data(), c1c3c2.data() + sm2::kCipherOverhead,
                              c1c3c2.size() - sm2::kCipherOverhead, &plain);
    } else {
        opened = rsa::DecryptPkcs1(key.get(), wrapped.data(), wrapped.size(), &plain);
    }
    if (!opened || plain.size() != kSessionKeyBytes)
        return Answer(sw::kWrongData);
    uint16_t index = 0;
    if ((status = AddSessionKey(ctx.state, algorithm, plain.bytes(), &index)) != sw::kOk)
        return Answer(status);
    return Answer(U16Bytes(index));
}

uint16_t StoreKey(AppletContext& ctx, uint32_t algorithm, const std::vector<uint8_t>& key, uint16_t* index) {
    uint16_t status = CheckSessionAlgorithm(algorithm);
    if (status != sw::kOk)
        return status;
    if (key.size() != kSessionKeyBytes)
        return sw::kWrongLength;
    return AddSessionKey(ctx.state, algorithm, key, index);
}

std::vector<uint8_t> SetSymmKey(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint32_t algorithm = in.U32();
    SecretBytes key(in.Bytes(in.U16()));
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    ContainerRef ref;
    uint16_t status = FindContainer(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    uint16_t index = 0;
    if ((status = StoreKey(ctx, algorithm, key.bytes(), &index)) != sw::kOk)
        return Answer(status);
    return Answer(U16Bytes(index));
}

std::vector<uint8_t> SetSymmKeyPlain(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint32_t algorithm = in.U32();
    SecretBytes key(in.Bytes(in.U16()));
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    uint16_t index = 0;
    uint16_t status = StoreKey(ctx, algorithm, key.bytes(), &index);
    if (status != sw::kOk)
        return Answer(status);
    ctx.state.lastPlainSessionKey = index;
    return Answer(U16Bytes(index));
}

template <typename T> void DropIfUsing(std::unique_ptr<CryptoOperation>& op, uint16_t index) {
    T* running = Running<T>(op);
    if (running != nullptr && running->keyIndex == index)
        op.reset();
}

std::vector<uint8_t> CloseSessionKey(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint16_t index = in.U16();
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    if (containerId != kNoContainer) {
        ContainerRef ref;
        uint16_t status = FindContainer(ctx, appId, containerId, &ref);
        if (status != sw::kOk)
            return Answer(status);
    }
    auto it = ctx.state.sessionKeys.find(index);
    if (it == ctx.state.sessionKeys.end())
        return Answer(cw::kSessionKeyNotFound);
    Wipe(it->second.key);
    ctx.state.sessionKeys.erase(it);
    DropIfUsing<CipherOperation>(ctx.state.cipher, index);
    DropIfUsing<MacOperation>(ctx.state.mac, index);
    if (ctx.state.lastPlainSessionKey == index)
        ctx.state.lastPlainSessionKey = 0;
    return Answer(sw::kOk);
}

} // namespace

void RegisterSessionKeyHandlers(HandlerTable& table) {
    table.Add(kCla, 0xA0, ImportSessionKey);
    table.Add(kCla, 0xA2, SetSymmKey);
    table.Add(kCla, 0xE7, SetSymmKeyPlain);
    table.Add(kCla, 0xC4, CloseSessionKey);
}

} // namespace vtoken::crypto
