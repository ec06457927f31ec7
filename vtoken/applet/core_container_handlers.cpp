#include "vtoken/applet/core_handlers.h"

#include "vtoken/applet/core_support.h"
#include "vtoken/applet/pin_block.h"

namespace vtoken {
namespace {

constexpr size_t kMaxContainers = 64;
constexpr size_t kContainerInfoSize = 11;
constexpr uint8_t kSigningFlag = 1;

// Data that starts with app then a container name; the name must be 1 to 64 bytes.
uint16_t ReadAppAndName(AppletContext& ctx, const Command& cmd, ApplicationRecord** app, uint16_t* appId,
                        std::string* name) {
    DataReader reader(cmd.data);
    uint16_t status = ReadOpenedApplication(ctx, reader, app, appId);
    if (status != sw::kOk)
        return status;
    std::vector<uint8_t> bytes = reader.Bytes(reader.Remaining());
    if (bytes.empty() || bytes.size() > kMaxContainerName)
        return sw::kWrongLength;
    name->assign(bytes.begin(), bytes.end());
    return sw::kOk;
}

// The same, then the container of that name: 0x9000 with *it set, `notFound` when the application
// has no such container, or the failure status.
uint16_t FindNamedContainer(AppletContext& ctx, const Command& cmd, ApplicationRecord** app, uint16_t* appId,
                            std::map<std::string, ContainerRecord>::iterator* it, uint16_t notFound) {
    std::string name;
    uint16_t status = ReadAppAndName(ctx, cmd, app, appId, &name);
    if (status != sw::kOk)
        return status;
    *it = (*app)->containers.find(name);
    return *it == (*app)->containers.end() ? notFound : sw::kOk;
}

// Data: app, ctr, then nothing more than `rest` bytes the caller reads.
uint16_t ReadAppAndContainer(AppletContext& ctx, DataReader& reader, ApplicationRecord** app, uint16_t* appId,
                             ContainerRecord** container) {
    uint16_t status = ReadOpenedApplication(ctx, reader, app, appId);
    if (status != sw::kOk)
        return status;
    uint16_t containerId = reader.U16();
    if (reader.Failed())
        return sw::kWrongLength;
    return ctx.ContainerIn(**app, containerId, container);
}

uint16_t FreeContainerId(const ApplicationRecord& app, uint16_t candidate) {
    for (;;) {
        if (candidate == 0)
            candidate = 1;
        bool used = false;
        for (const auto& [name, c] : app.containers)
            used = used || c.id == candidate;
        if (!used)
            return candidate;
        ++candidate;
    }
}

// Type of a container from the key pairs it holds: 0 none, 1 RSA, 2 SM2.
uint32_t ContainerType(const ContainerRecord& c) {
    const KeyPairRecord& key = c.signingKey.kind != KeyKind::None ? c.signingKey : c.exchangeKey;
    return static_cast<uint32_t>(key.kind);
}

// 80 40, app, name, 00 02: answer the new container's id. Needs the user PIN.
std::vector<uint8_t> CreateContainer(AppletContext& ctx, const Command& cmd) {
    ApplicationRecord* app = nullptr;
    uint16_t appId = 0;
    std::string name;
    uint16_t status = ReadAppAndName(ctx, cmd, &app, &appId, &name);
    if (status != sw::kOk)
        return Answer(status);
    if (!ctx.UserVerified(appId))
        return Answer(sw::kSecurityNotSatisfied);
    if (app->containers.count(name) != 0)
        return Answer(sw::kContainerExists);
    ContainerRecord container;
    if (app->containers.size() >= kMaxContainers || !HasRoomFor(ctx.image, ContainerCost(container)) ||
        NameListLengthWith(app->containers, name.size()) > kMaxContainerList)
        return Answer(sw::kNotEnoughSpace);
    container.id = FreeContainerId(*app, app->nextContainerId);
    app->nextContainerId = static_cast<uint16_t>(container.id + 1);
    uint16_t id = container.id;
    app->containers.emplace(name, std::move(container));
    ctx.imageChanged = true;
    std::vector<uint8_t> answer;
    PutU16(answer, id);
    return Answer(std::move(answer));
}

// 80 42, app, name, 00 02: the container's id.
std::vector<uint8_t> OpenContainer(AppletContext& ctx, const Command& cmd) {
    ApplicationRecord* app = nullptr;
    uint16_t appId = 0;
    std::map<std::string, ContainerRecord>::iterator it;
    uint16_t status = FindNamedContainer(ctx, cmd, &app, &appId, &it, sw::kContainerNotFound);
    if (status != sw::kOk)
        return Answer(status);
    std::vector<uint8_t> answer;
    PutU16(answer, it->second.id);
    return Answer(std::move(answer));
}

std::vector<uint8_t> CloseContainer(AppletContext& ctx, const Command& cmd) {
    DataReader reader(cmd.data);
    ApplicationRecord* app = nullptr;
    uint16_t appId = 0;
    uint16_t status = ReadOpenedApplication(ctx, reader, &app, &appId);
    if (status != sw::kOk)
        return Answer(status);
    uint16_t containerId = reader.U16();
    if (reader.Failed() || reader.Remaining() != 0)
        return Answer(sw::kWrongLength);
    if (ctx.ContainerById(*app, containerId) == nullptr)
        return Answer(sw::kContainerNotFound);
    return Answer(sw::kOk);
}

std::vector<uint8_t> EnumContainer(AppletContext& ctx, const Command& cmd) {
    DataReader reader(cmd.data);
    ApplicationRecord* app = nullptr;
    uint16_t status = ReadOpenedApplication(ctx, reader, &app, nullptr);
    if (status != sw::kOk)
        return Answer(status);
    if (reader.Remaining() != 0)
        return Answer(sw::kWrongLength);
    return Answer(NameList(app->containers));
}

void WipeKeys(ContainerRecord& c) {
    Wipe(c.signingKey.privateKeyDer);
    Wipe(c.exchangeKey.privateKeyDer);
}

// 80 48, app, name. Needs the user PIN.
std::vector<uint8_t> DeleteContainer(AppletContext& ctx, const Command& cmd) {
    ApplicationRecord* app = nullptr;
    uint16_t appId = 0;
    std::map<std::string, ContainerRecord>::iterator it;
    uint16_t status = FindNamedContainer(ctx, cmd, &app, &appId, &it, sw::kFileNotFound2);
    if (status != sw::kOk)
        return Answer(status);
    if (!ctx.UserVerified(appId))
        return Answer(sw::kSecurityNotSatisfied);
    WipeKeys(it->second);
    app->containers.erase(it);
    ctx.imageChanged = true;
    return Answer(sw::kOk);
}

// 80 4A, app, name, 00 0B. Answer (11 bytes): type (4, little-endian as the host reads it), signing
// and exchange key bits (2 each, big-endian), signing and exchange certificate present (1 each),
// one reserved zero byte.
std::vector<uint8_t> GetContainerInfo(AppletContext& ctx, const Command& cmd) {
    ApplicationRecord* app = nullptr;
    uint16_t appId = 0;
    std::map<std::string, ContainerRecord>::iterator it;
    uint16_t status = FindNamedContainer(ctx, cmd, &app, &appId, &it, sw::kContainerNotFound);
    if (status != sw::kOk)
        return Answer(status);
    const ContainerRecord& c = it->second;
    uint32_t type = ContainerType(c);
    std::vector<uint8_t> answer = {static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8),
                                   static_cast<uint8_t>(type >> 16), static_cast<uint8_t>(type >> 24)};
    PutU16(answer, static_cast<uint16_t>(c.signingKey.kind == KeyKind::None ? 0 : c.signingKey.bits));
    PutU16(answer, static_cast<uint16_t>(c.exchangeKey.kind == KeyKind::None ? 0 : c.exchangeKey.bits));
    answer.push_back(c.signingCertificate.empty() ? 0 : 1);
    answer.push_back(c.exchangeCertificate.empty() ? 0 : 1);
    answer.push_back(0);
    if (answer.size() != kContainerInfoSize)
        return Answer(sw::kUnknown);
    return Answer(std::move(answer));
}

// 80 4C: app, ctr, signing flag (1), length (4), certificate. Needs the user PIN.
std::vector<uint8_t> ImportCertificate(AppletContext& ctx, const Command& cmd) {
    DataReader reader(cmd.data);
    ApplicationRecord* app = nullptr;
    uint16_t appId = 0;
    ContainerRecord* container = nullptr;
    uint16_t status = ReadAppAndContainer(ctx, reader, &app, &appId, &container);
    if (status != sw::kOk)
        return Answer(status);
    uint8_t flag = reader.U8();
    uint32_t length = reader.U32();
    if (reader.Failed() || length == 0 || length != reader.Remaining() || length > kMaxCertificate)
        return Answer(sw::kWrongLength);
    if (!ctx.UserVerified(appId))
        return Answer(sw::kSecurityNotSatisfied);
    std::vector<uint8_t>& slot = flag == kSigningFlag ? container->signingCertificate : container->exchangeCertificate;
    if (length > slot.size() && !HasRoomFor(ctx.image, length - slot.size()))
        return Answer(sw::kNotEnoughSpace);
    slot = reader.Bytes(length);
    ctx.imageChanged = true;
    return Answer(sw::kOk);
}

// 80 4E flag 00: app, ctr, 00 00. Answer: length (4, big-endian), certificate.
std::vector<uint8_t> ExportCertificate(AppletContext& ctx, const Command& cmd) {
    DataReader reader(cmd.data);
    ApplicationRecord* app = nullptr;
    uint16_t appId = 0;
    ContainerRecord* container = nullptr;
    uint16_t status = ReadAppAndContainer(ctx, reader, &app, &appId, &container);
    if (status != sw::kOk)
        return Answer(status);
    if (reader.Remaining() != 0)
        return Answer(sw::kWrongLength);
    const std::vector<uint8_t>& cert =
        cmd.p1 == kSigningFlag ? container->signingCertificate : container->exchangeCertificate;
    if (cert.empty())
        return Answer(sw::kCertificateNotFound);
    std::vector<uint8_t> answer;
    PutU32(answer, static_cast<uint32_t>(cert.size()));
    answer.insert(answer.end(), cert.begin(), cert.end());
    return Answer(std::move(answer));
}

} // namespace

void RegisterContainerHandlers(HandlerTable& table) {
    table.Add(0x80, 0x40, CreateContainer);
    table.Add(0x80, 0x42, OpenContainer);
    table.Add(0x80, 0x44, CloseContainer);
    table.Add(0x80, 0x46, EnumContainer);
    table.Add(0x80, 0x48, DeleteContainer);
    table.Add(0x80, 0x4A, GetContainerInfo);
    table.Add(0x80, 0x4C, ImportCertificate);
    table.Add(0x80, 0x4E, ExportCertificate);
}

} // namespace vtoken
