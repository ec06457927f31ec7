// The SM2 key agreement of GM/T 0003 with identifiers: the sponsor's temporary key (kept by
// agreement id), the responder's side with its key, and the sponsor's key from the responder's data.

#include "vtoken/applet/crypto_common.h"
#include "vtoken/applet/crypto_handlers.h"
#include "vtoken/applet/crypto_operations.h"
#include "vtoken/applet/crypto_sm2.h"

namespace vtoken::crypto {

namespace {

// Agreements a token keeps at once; identifiers longer than this are refused.
constexpr size_t kMaxAgreements = 16;
constexpr size_t kMaxIdBytes = 1024;

// The container's SM2 pair for an agreement (the exchange pair, or the only pair there is).
PkeyPtr AgreementKey(ContainerRecord& container) {
    KeyPairRecord* record = KeyPairFor(container, KeyRole::Exchange, KeyKind::Sm2);
    return record ? LoadKeyPair(*record) : nullptr;
}

std::vector<uint8_t> TempKeyAnswer(const std::vector<uint8_t>& tempPublic) {
    std::vector<uint8_t> out = U32Bytes(256);
    Append(out, tempPublic);
    return out;
}

bool DeriveKey(EVP_PKEY* own, const std::vector<uint8_t>& tempPrivate, const std::vector<uint8_t>& tempPublic,
               const std::vector<uint8_t>& peer, const std::vector<uint8_t>& peerTemp,
               const std::vector<uint8_t>& zInitiator, const std::vector<uint8_t>& zResponder, SecretBytes* key) {
    SecretBytes d = sm2::PrivateScalar(own);
    if (d.empty() || zInitiator.empty() || zResponder.empty())
        return false;
    sm2::ExchangeSide side{d.data(), tempPrivate.data(), tempPublic.data()};
    return sm2::ExchangeKey(side, peer.data(), peerTemp.data(), zInitiator, zResponder, kSessionKeyBytes, key);
}

std::vector<uint8_t> GenerateAgreementData(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint32_t algorithm = in.U32();
    std::vector<uint8_t> id = in.Bytes(in.U32());
    if (!DataEnds(in) || id.empty() || id.size() > kMaxIdBytes)
        return Answer(sw::kWrongLength);
    ContainerRef ref;
    uint16_t status = FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    if ((status = CheckSessionAlgorithm(algorithm)) != sw::kOk)
        return Answer(status);
    if (!AgreementKey(*ref.container))
        return Answer(cw::kKeyPairNotFound);
    if (ctx.state.agreements.size() >= kMaxAgreements)
        return Answer(sw::kNotEnoughSpace);
    PkeyPtr temp = sm2::Generate();
    if (!temp)
        return Answer(sw::kUnknown);
    auto op = std::make_unique<AgreementOperation>();
    op->appId = appId;
    op->containerId = containerId;
    op->algorithm = algorithm;
    op->ownId = id;
    op->tempPrivate = sm2::PrivateScalar(temp.get());
    op->tempPublic = sm2::PublicPoint(temp.get());
    if (op->tempPrivate.empty() || op->tempPublic.empty())
        return Answer(sw::kUnknown);
    uint32_t agreementId = ctx.state.agreements.empty() ? 1 : ctx.state.agreements.rbegin()->first + 1;
    std::vector<uint8_t> out = TempKeyAnswer(op->tempPublic);
    PutU32(out, agreementId);
    ctx.state.agreements[agreementId] = std::move(op);
    return Answer(out);
}

std::vector<uint8_t> GenerateAgreementDataAndKey(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint32_t algorithm = in.U32();
    bool bitsOk = ReadSm2Bits(in);
    std::vector<uint8_t> sponsor = in.Bytes(64);
    bitsOk = ReadSm2Bits(in) && bitsOk;
    std::vector<uint8_t> sponsorTemp = in.Bytes(64);
    std::vector<uint8_t> sponsorId = in.Bytes(in.U32());
    std::vector<uint8_t> ownId = in.Bytes(in.U32());
    if (!DataEnds(in) || sponsorId.empty() || ownId.empty() || sponsorId.size() > kMaxIdBytes ||
        ownId.size() > kMaxIdBytes)
        return Answer(sw::kWrongLength);
    if (!bitsOk)
        return Answer(sw::kWrongData);
    ContainerRef ref;
    uint16_t status = FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    if ((status = CheckSessionAlgorithm(algorithm)) != sw::kOk)
        return Answer(status);
    PkeyPtr own = AgreementKey(*ref.container);
    if (!own)
        return Answer(cw::kKeyPairNotFound);
    PkeyPtr temp = sm2::Generate();
    if (!temp)
        return Answer(sw::kUnknown);
    SecretBytes tempPrivate = sm2::PrivateScalar(temp.get());
    std::vector<uint8_t> tempPublic = sm2::PublicPoint(temp.get());
    std::vector<uint8_t> ownPoint = sm2::PublicPoint(own.get());
    std::vector<uint8_t> zSponsor = sm2::Za(sponsor.data(), sponsorId.data(), sponsorId.size());
    std::vector<uint8_t> zOwn = sm2::Za(ownPoint.data(), ownId.data(), ownId.size());
    SecretBytes key;
    if (tempPrivate.empty() || tempPublic.empty() ||
        !DeriveKey(own.get(), tempPrivate.bytes(), tempPublic, sponsor, sponsorTemp, zSponsor, zOwn, &key))
        return Answer(sw::kWrongData);
    uint16_t index = 0;
    if ((status = AddSessionKey(ctx.state, algorithm, key.bytes(), &index)) != sw::kOk)
        return Answer(status);
    std::vector<uint8_t> out = TempKeyAnswer(tempPublic);
    PutU16(out, index);
    return Answer(out);
}

std::vector<uint8_t> GenerateKeyWithEcc(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint32_t agreementId = in.U32();
    bool bitsOk = ReadSm2Bits(in);
    std::vector<uint8_t> responder = in.Bytes(64);
    bitsOk = ReadSm2Bits(in) && bitsOk;
    std::vector<uint8_t> responderTemp = in.Bytes(64);
    std::vector<uint8_t> responderId = in.Bytes(in.U32());
    if (!DataEnds(in) || responderId.empty() || responderId.size() > kMaxIdBytes)
        return Answer(sw::kWrongLength);
    if (!bitsOk)
        return Answer(sw::kWrongData);
    ContainerRef ref;
    uint16_t status = FindContainerAsUser(ctx, appId, containerId, &ref);
    if (status != sw::kOk)
        return Answer(status);
    auto found = ctx.state.agreements.find(agreementId);
    AgreementOperation* op = found == ctx.state.agreements.end() ? nullptr : Running<AgreementOperation>(found->second);
    if (op == nullptr || op->appId != appId || op->containerId != containerId)
        return Answer(sw::kDataNotFound);
    PkeyPtr own = AgreementKey(*ref.container);
    if (!own)
        return Answer(cw::kKeyPairNotFound);
    std::vector<uint8_t> ownPoint = sm2::PublicPoint(own.get());
    std::vector<uint8_t> zOwn = sm2::Za(ownPoint.data(), op->ownId.data(), op->ownId.size());
    std::vector<uint8_t> zResponder = sm2::Za(responder.data(), responderId.data(), responderId.size());
    SecretBytes key;
    if (!DeriveKey(own.get(), op->tempPrivate.bytes(), op->tempPublic, responder, responderTemp, zOwn, zResponder,
                   &key))
        return Answer(sw::kWrongData);
    uint16_t index = 0;
    if ((status = AddSessionKey(ctx.state, op->algorithm, key.bytes(), &index)) != sw::kOk)
        return Answer(status);
    return Answer(U16Bytes(index));
}

} // namespace

void RegisterAgreementHandlers(HandlerTable& table) {
    table.Add(kCla, 0x82, GenerateAgreementData);
    table.Add(kCla, 0x84, GenerateAgreementDataAndKey);
    table.Add(kCla, 0x86, GenerateKeyWithEcc);
}

} // namespace vtoken::crypto
