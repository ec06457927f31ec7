// MACs with a session key: the last block of the SM4-CBC encryption of the data under the key and
// the IV given at init (ISO/IEC 9797-1 MAC algorithm 1). The host pads the last block, so every
// command carries whole blocks.

#include "vtoken/applet/crypto_common.h"
#include "vtoken/applet/crypto_handlers.h"
#include "vtoken/applet/crypto_operations.h"

namespace vtoken::crypto {

namespace {

constexpr size_t kBlock = 16;

uint16_t KeyFor(AppletContext& ctx, uint16_t appId, uint16_t containerId, uint16_t index, SessionKey** key) {
    if (containerId != kNoContainer) {
        ContainerRef ref;
        uint16_t status = FindContainer(ctx, appId, containerId, &ref);
        if (status != sw::kOk)
            return status;
    }
    *key = FindSessionKey(ctx.state, index);
    return *key != nullptr ? sw::kOk : cw::kSessionKeyNotFound;
}

// app, ctr, key index, algorithm, IV length and IV (none: zeros), padding type, feedback bits.
std::vector<uint8_t> MacInit(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint16_t index = in.U16();
    uint32_t algorithm = in.U32();
    std::vector<uint8_t> iv = in.Bytes(in.U16());
    uint32_t padding = in.U32();
    in.U32(); // feedback bits: no meaning for a CBC-MAC
    if (!DataEnds(in))
        return Answer(sw::kWrongLength);
    SessionKey* key = nullptr;
    uint16_t status = KeyFor(ctx, appId, containerId, index, &key);
    if (status != sw::kOk)
        return Answer(status);
    if ((status = CheckSessionAlgorithm(algorithm)) != sw::kOk)
        return Answer(status);
    if (iv.empty())
        iv.assign(kBlock, 0);
    if (iv.size() != kBlock || padding > 2)
        return Answer(sw::kWrongData);
    auto op = std::make_unique<MacOperation>();
    op->keyIndex = index;
    op->cbc = BlockCipher::Create(EVP_sm4_cbc(), key->key, iv, true);
    if (!op->cbc)
        return Answer(sw::kWrongData);
    ctx.state.mac = std::move(op);
    return Answer(sw::kOk);
}

enum class Stage { Single, Update, Final };

std::vector<uint8_t> MacData(AppletContext& ctx, const Command& cmd, Stage stage) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint16_t index = in.U16();
    if (in.Failed())
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> data = in.Bytes(in.Remaining());
    SessionKey* key = nullptr;
    uint16_t status = KeyFor(ctx, appId, containerId, index, &key);
    if (status != sw::kOk)
        return Answer(status);
    MacOperation* op = Running<MacOperation>(ctx.state.mac);
    if (op == nullptr || op->keyIndex != index)
        return Answer(cw::kNoOperation);
    std::vector<uint8_t> out;
    if (data.size() % kBlock != 0 || !op->cbc->Update(data.data(), data.size(), &out))
        return Answer(sw::kWrongLength);
    if (!out.empty())
        op->lastBlock.assign(out.end() - kBlock, out.end());
    if (stage == Stage::Update)
        return Answer(sw::kOk);
    std::vector<uint8_t> mac = op->lastBlock;
    ctx.state.mac.reset();
    // A MAC over no data at all is no MAC.
    return mac.empty() ? Answer(sw::kWrongLength) : Answer(mac);
}

CommandHandler MacStage(Stage stage) {
    return [stage](AppletContext& ctx, const Command& cmd) { return MacData(ctx, cmd, stage); };
}

} // namespace

void RegisterMacHandlers(HandlerTable& table) {
    table.Add(kCla, 0xBC, MacInit);
    table.Add(kCla, 0xBE, MacStage(Stage::Single));
    table.Add(kCla, 0xC0, MacStage(Stage::Update));
    table.Add(kCla, 0xC2, MacStage(Stage::Final));
}

} // namespace vtoken::crypto
