// Session-key ciphers (SM4 in ECB, CBC, CFB and OFB) and the cipher command that brings its own
// DES, triple DES or AES key.
//
// The token pads nothing: the host pads before it sends (its padding type is checked and kept), so
// block modes take whole blocks in every command.

#include <cstring>

#include "vtoken/applet/crypto_common.h"
#include "vtoken/applet/crypto_handlers.h"
#include "vtoken/applet/crypto_operations.h"

namespace vtoken::crypto {

namespace {

constexpr size_t kIvBytes = 16;

uint16_t KeyInScope(AppletContext& ctx, uint16_t appId, uint16_t containerId, uint16_t index, SessionKey** key) {
    if (containerId != kNoContainer) {
        ContainerRef ref;
        uint16_t status = FindContainer(ctx, appId, containerId, &ref);
        if (status != sw::kOk)
            return status;
    }
    *key = FindSessionKey(ctx.state, index);
    return *key != nullptr ? sw::kOk : cw::kSessionKeyNotFound;
}

// A cipher over a session key; the IV is used by every mode but ECB.
uint16_t StartCipher(const SessionKey& key, uint32_t algorithm, const std::vector<uint8_t>& iv, bool encrypt,
                     std::unique_ptr<BlockCipher>* cipher) {
    uint16_t status = CheckSessionAlgorithm(algorithm);
    if (status != sw::kOk)
        return status;
    const EVP_CIPHER* evp = SgdCipher(algorithm);
    bool needsIv = EVP_CIPHER_get_iv_length(evp) > 0;
    if (needsIv && iv.size() != kIvBytes)
        return sw::kWrongData;
    *cipher = BlockCipher::Create(evp, key.key, iv, encrypt);
    return *cipher ? sw::kOk : sw::kWrongData;
}

// CipherInit: app, ctr, key index, algorithm, IV length and IV, (00 10,) padding type, feedback bits.
std::vector<uint8_t> CipherInit(AppletContext& ctx, const Command& cmd, bool encrypt) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint16_t index = in.U16();
    uint32_t algorithm = in.U32();
    std::vector<uint8_t> iv = in.Bytes(in.U16());
    if (in.Failed())
        return Answer(sw::kWrongLength);
    // Some hosts put the IV field's fixed size (00 10) between the IV and the padding type.
    std::vector<uint8_t> rest = in.Bytes(in.Remaining());
    size_t skip = rest.size() >= 10 && rest[0] == 0x00 && rest[1] == 0x10 ? 2 : 0;
    DataReader tail(rest.data() + skip, rest.size() - skip);
    uint32_t padding = tail.U32();
    uint32_t feedbackBits = tail.U32();
    if (!DataEnds(tail))
        return Answer(sw::kWrongLength);
    SessionKey* key = nullptr;
    uint16_t status = KeyInScope(ctx, appId, containerId, index, &key);
    if (status != sw::kOk)
        return Answer(status);
    if (padding > 1)
        return Answer(sw::kWrongData);
    if (feedbackBits != 0 && feedbackBits != 128)
        return Answer(cw::kNotSupported);
    auto op = std::make_unique<CipherOperation>();
    if ((status = StartCipher(*key, algorithm, iv, encrypt, &op->cipher)) != sw::kOk)
        return Answer(status);
    op->keyIndex = index;
    op->algorithm = algorithm;
    op->iv = iv;
    ctx.state.cipher = std::move(op);
    return Answer(sw::kOk);
}

enum class Stage { Single, Update, Final };

// CipherSingle, CipherUpdate, CipherFinal: app, ctr, key index, data.
std::vector<uint8_t> CipherData(AppletContext& ctx, const Command& cmd, bool encrypt, Stage stage) {
    DataReader in(cmd.data);
    uint16_t appId = in.U16();
    uint16_t containerId = in.U16();
    uint16_t index = in.U16();
    if (in.Failed())
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> data = in.Bytes(in.Remaining());
    SessionKey* key = nullptr;
    uint16_t status = KeyInScope(ctx, appId, containerId, index, &key);
    if (status != sw::kOk)
        return Answer(status);
    CipherOperation* op = Running<CipherOperation>(ctx.state.cipher);
    if (op == nullptr || op->loose || op->keyIndex != index || op->cipher->Encrypting() != encrypt)
        return Answer(cw::kNoOperation);
    if (stage != Stage::Final && data.empty())
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> out;
    if (!op->cipher->Update(data.data(), data.size(), &out))
        return Answer(sw::kWrongLength);
    if (stage != Stage::Update)
        ctx.state.cipher.reset();
    return Answer(out);
}

// The family that carries its IV in every command and works on the last key set without a
// container (or on the key index in P1 P2 when it is not zero): algorithm, sub-command, IV length
// and IV, data. Sub-commands: A6 encrypt, B0 decrypt (the chain goes on), AA encrypt and B2
// decrypt (the chain ends), AE a new decryption chain. A chain goes on while key, algorithm,
// direction and IV stay the same; anything else starts a new one.
std::vector<uint8_t> CipherWithIv(AppletContext& ctx, const Command& cmd) {
    DataReader in(cmd.data);
    uint32_t algorithm = in.U32();
    uint8_t sub = in.U8();
    std::vector<uint8_t> iv = in.Bytes(in.U16());
    if (in.Failed())
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> data = in.Bytes(in.Remaining());
    bool encrypt = false;
    bool ends = false;
    bool restart = false;
    switch (sub) {
    case 0xA6:
        encrypt = true;
        break;
    case 0xAA:
        encrypt = true;
        ends = true;
        break;
    case 0xB0:
        break;
    case 0xB2:
        ends = true;
        break;
    case 0xAE:
        restart = true;
        data.clear();
        break;
    default:
        return Answer(sw::kWrongData);
    }
    uint16_t index = static_cast<uint16_t>((cmd.p1 << 8) | cmd.p2);
    if (index == 0)
        index = ctx.state.lastPlainSessionKey;
    SessionKey* key = FindSessionKey(ctx.state, index);
    if (key == nullptr)
        return Answer(cw::kSessionKeyNotFound);
    CipherOperation* op = Running<CipherOperation>(ctx.state.cipher);
    bool sameChain = op != nullptr && op->loose && op->keyIndex == index && op->algorithm == algorithm &&
                     op->cipher->Encrypting() == encrypt && op->iv == iv;
    if (!sameChain || restart) {
        auto fresh = std::make_unique<CipherOperation>();
        uint16_t status = StartCipher(*key, algorithm, iv, encrypt, &fresh->cipher);
        if (status != sw::kOk)
            return Answer(status);
        fresh->keyIndex = index;
        fresh->algorithm = algorithm;
        fresh->loose = true;
        fresh->iv = iv;
        ctx.state.cipher = std::move(fresh);
        op = Running<CipherOperation>(ctx.state.cipher);
    }
    std::vector<uint8_t> out;
    if (!op->cipher->Update(data.data(), data.size(), &out)) {
        ctx.state.cipher.reset();
        return Answer(sw::kWrongLength);
    }
    if (ends)
        ctx.state.cipher.reset();
    return Answer(out);
}

// P1 the algorithm byte, P2 the mode (1 ECB encrypt, 2 ECB decrypt, 3 CBC encrypt, 4 CBC decrypt);
// the data field is the key, the IV (CBC only) and the data.
std::vector<uint8_t> SymmetricCipherWithKey(AppletContext&, const Command& cmd) {
    if (cmd.p2 < 1 || cmd.p2 > 4)
        return Answer(sw::kWrongP1P2);
    bool cbc = cmd.p2 >= 3;
    bool encrypt = cmd.p2 == 1 || cmd.p2 == 3;
    KeyedCipher keyed = CipherForAlgorithmByte(cmd.p1, cbc);
    if (keyed.cipher == nullptr)
        return Answer(cw::kNotSupported);
    DataReader in(cmd.data);
    SecretBytes key(in.Bytes(keyed.keyBytes));
    std::vector<uint8_t> iv = in.Bytes(keyed.ivBytes);
    if (in.Failed())
        return Answer(sw::kWrongLength);
    std::vector<uint8_t> data = in.Bytes(in.Remaining());
    if (keyed.singleDes) {
        std::vector<uint8_t> tripled;
        for (int i = 0; i < 3; ++i)
            tripled.insert(tripled.end(), key.bytes().begin(), key.bytes().end());
        key = SecretBytes(std::move(tripled));
    }
    std::unique_ptr<BlockCipher> cipher = BlockCipher::Create(keyed.cipher, key.bytes(), iv, encrypt);
    std::vector<uint8_t> out;
    if (!cipher)
        return Answer(sw::kWrongData);
    if (data.empty() || !cipher->Update(data.data(), data.size(), &out))
        return Answer(sw::kWrongLength);
    return Answer(out);
}

CommandHandler Bound(std::vector<uint8_t> (*fn)(AppletContext&, const Command&, bool), bool encrypt) {
    return [fn, encrypt](AppletContext& ctx, const Command& cmd) { return fn(ctx, cmd, encrypt); };
}

CommandHandler DataStage(bool encrypt, Stage stage) {
    return [encrypt, stage](AppletContext& ctx, const Command& cmd) { return CipherData(ctx, cmd, encrypt, stage); };
}

} // namespace

void RegisterCipherHandlers(HandlerTable& table) {
    table.Add(kCla, 0xA4, Bound(CipherInit, true));
    table.Add(kCla, 0xAC, Bound(CipherInit, false));
    table.Add(kCla, 0xA6, DataStage(true, Stage::Single));
    table.Add(kCla, 0xAE, DataStage(false, Stage::Single));
    table.Add(kCla, 0xA8, DataStage(true, Stage::Update));
    table.Add(kCla, 0xB0, DataStage(false, Stage::Update));
    table.Add(kCla, 0xAA, DataStage(true, Stage::Final));
    table.Add(kCla, 0xB2, DataStage(false, Stage::Final));
    table.Add(kCla, 0xE8, CipherWithIv);
    table.Add(kCla, 0xA1, SymmetricCipherWithKey);
}

} // namespace vtoken::crypto
