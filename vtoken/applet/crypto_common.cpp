#include "vtoken/applet/crypto_common.h"

#include "vtoken/applet/crypto_sm2.h"
#include "vtoken/applet/crypto_symmetric.h"

namespace vtoken::crypto {

bool DataEnds(const DataReader& reader) {
    if (reader.Failed())
        return false;
    return reader.Remaining() == 0 || reader.Remaining() == 2;
}

uint16_t FindContainer(AppletContext& ctx, uint16_t appId, uint16_t containerId, ContainerRef* ref) {
    ApplicationRecord* app = nullptr;
    uint16_t status = ctx.OpenedApplication(appId, &app);
    if (status != sw::kOk)
        return status;
    ContainerRecord* container = nullptr;
    status = ctx.ContainerIn(*app, containerId, &container);
    if (status != sw::kOk)
        return status;
    ref->app = app;
    ref->container = container;
    ref->appId = appId;
    return sw::kOk;
}

uint16_t FindContainerAsUser(AppletContext& ctx, uint16_t appId, uint16_t containerId, ContainerRef* ref) {
    uint16_t status = FindContainer(ctx, appId, containerId, ref);
    if (status != sw::kOk)
        return status;
    return ctx.UserVerified(appId) ? sw::kOk : sw::kSecurityNotSatisfied;
}

uint16_t TakeAccessCode(AppletContext& ctx) {
    bool granted = ctx.state.accessCodeGranted;
    ctx.state.accessCodeGranted = false;
    return granted ? sw::kOk : sw::kSecurityNotSatisfied;
}

KeyPairRecord* KeyPairFor(ContainerRecord& container, KeyRole role, KeyKind kind) {
    KeyPairRecord* wanted = role == KeyRole::Signing ? &container.signingKey : &container.exchangeKey;
    if (role == KeyRole::Exchange && wanted->kind == KeyKind::None)
        wanted = &container.signingKey;
    return wanted->kind == kind ? wanted : nullptr;
}

PkeyPtr LoadKeyPair(const KeyPairRecord& record) {
    return PrivateKeyFromPkcs8(record.privateKeyDer);
}

bool StoreKeyPair(AppletContext& ctx, KeyPairRecord& slot, EVP_PKEY* key, KeyKind kind, uint32_t bits) {
    std::vector<uint8_t> der = PrivateKeyToPkcs8(key);
    if (der.empty())
        return false;
    Wipe(slot.privateKeyDer);
    slot.kind = kind;
    slot.bits = bits;
    slot.privateKeyDer = std::move(der);
    ctx.imageChanged = true;
    return true;
}

uint16_t AddSessionKey(VolatileState& state, uint32_t algorithm, const std::vector<uint8_t>& key, uint16_t* index) {
    if (state.sessionKeys.size() >= kMaxSessionKeys)
        return sw::kNotEnoughSpace;
    // Indexes run from 1 and skip 0 and 0xFFFF, which hosts use as "none".
    uint16_t candidate = state.nextSessionKeyIndex;
    while (candidate == 0 || candidate == 0xFFFF || state.sessionKeys.count(candidate) != 0)
        ++candidate;
    SessionKey& stored = state.sessionKeys[candidate];
    stored.algorithm = algorithm;
    stored.key = key;
    state.nextSessionKeyIndex = static_cast<uint16_t>(candidate + 1);
    *index = candidate;
    return sw::kOk;
}

SessionKey* FindSessionKey(VolatileState& state, uint16_t index) {
    auto it = state.sessionKeys.find(index);
    return it == state.sessionKeys.end() ? nullptr : &it->second;
}

uint16_t CheckSessionAlgorithm(uint32_t algorithm) {
    return ClassifySgd(algorithm) == SymmetricSupport::Supported ? sw::kOk : cw::kNotSupported;
}

uint16_t NewSessionKey(VolatileState& state, uint32_t algorithm, SecretBytes* key, uint16_t* index) {
    uint16_t status = CheckSessionAlgorithm(algorithm);
    if (status != sw::kOk)
        return status;
    SecretBytes fresh(RandomBytes(kSessionKeyBytes));
    if (fresh.size() != kSessionKeyBytes)
        return sw::kUnknown;
    status = AddSessionKey(state, algorithm, fresh.bytes(), index);
    if (status == sw::kOk)
        *key = std::move(fresh);
    return status;
}

std::vector<uint8_t> Sm2CipherForm(const std::vector<uint8_t>& c1c3c2) {
    std::vector<uint8_t> out = U32Bytes(256);
    out.insert(out.end(), c1c3c2.begin(), c1c3c2.begin() + sm2::kCipherOverhead);
    PutU32(out, static_cast<uint32_t>(c1c3c2.size() - sm2::kCipherOverhead));
    out.insert(out.end(), c1c3c2.begin() + sm2::kCipherOverhead, c1c3c2.end());
    return out;
}

bool ReadSm2Bits(DataReader& reader) {
    return reader.U32() == 256 && !reader.Failed();
}

bool ReadSm2CipherForm(DataReader& reader, std::vector<uint8_t>* c1c3c2) {
    if (!ReadSm2Bits(reader))
        return false;
    std::vector<uint8_t> head = reader.Bytes(sm2::kCipherOverhead);
    uint32_t length = reader.U32();
    if (reader.Failed() || length == 0 || length > reader.Remaining())
        return false;
    std::vector<uint8_t> c2 = reader.Bytes(length);
    if (reader.Failed())
        return false;
    *c1c3c2 = std::move(head);
    c1c3c2->insert(c1c3c2->end(), c2.begin(), c2.end());
    return true;
}

std::vector<uint8_t> U16Bytes(uint16_t v) {
    std::vector<uint8_t> out;
    PutU16(out, v);
    return out;
}

std::vector<uint8_t> U32Bytes(uint32_t v) {
    std::vector<uint8_t> out;
    PutU32(out, v);
    return out;
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) {
    out.insert(out.end(), more.begin(), more.end());
}

} // namespace vtoken::crypto
