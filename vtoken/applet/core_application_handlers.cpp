#include "vtoken/applet/core_handlers.h"

#include "vtoken/applet/core_support.h"
#include "vtoken/applet/pin_block.h"

namespace vtoken {
namespace {

// The 80-byte application record of CreateApplication.
constexpr size_t kRecordSize = 80;
constexpr size_t kPinField = 16;
constexpr uint8_t kMaxRetries = 15; // tries left must fit the low nibble of 0x63Cx
constexpr size_t kApplicationCost = 256;

// One PIN of the record: the zero-padded characters, then 00 00 00 nn retries.
bool ReadPinField(DataReader& reader, PinRecord* pin) {
    std::vector<uint8_t> field = reader.Bytes(kPinField);
    uint32_t retries = reader.U32();
    std::string value = FieldName(field);
    Wipe(field);
    std::vector<uint8_t> content(value.begin(), value.end());
    bool valid = !reader.Failed() && IsAcceptablePin(content) && retries >= 1 && retries <= kMaxRetries;
    Wipe(content);
    if (!valid) {
        Wipe(value);
        return false;
    }
    pin->value = std::move(value);
    pin->maxRetries = static_cast<uint8_t>(retries);
    pin->triesLeft = pin->maxRetries;
    pin->isDefault = true;
    return true;
}

uint16_t FreeApplicationId(const TokenImage& image, uint16_t candidate) {
    for (;;) {
        if (candidate == 0)
            candidate = 1;
        bool used = false;
        for (const auto& [name, app] : image.applications)
            used = used || app.id == candidate;
        if (!used)
            return candidate;
        ++candidate;
    }
}

// 80 20, the application record. Creating an application needs device authentication.
std::vector<uint8_t> CreateApplication(AppletContext& ctx, const Command& cmd) {
    if (cmd.data.size() != kRecordSize)
        return Answer(sw::kWrongLength);
    if (!ctx.state.deviceAuthenticated)
        return Answer(sw::kSecurityNotSatisfied);
    DataReader reader(cmd.data);
    std::string name = FieldName(reader.Bytes(kMaxApplicationName));
    ApplicationRecord app;
    if (!ReadPinField(reader, &app.adminPin) || !ReadPinField(reader, &app.userPin))
        return Answer(sw::kWrongData);
    app.createFileRights = reader.U32() & 0xFF;
    if (name.empty())
        return Answer(sw::kWrongData);
    if (ctx.image.applications.count(name) != 0)
        return Answer(sw::kApplicationExists);
    if (ctx.image.applications.size() >= kMaxApplications || !HasRoomFor(ctx.image, kApplicationCost) ||
        NameListLengthWith(ctx.image.applications, name.size()) > kMaxApplicationList)
        return Answer(sw::kNotEnoughSpace);
    app.id = FreeApplicationId(ctx.image, ctx.image.nextApplicationId);
    ctx.image.nextApplicationId = static_cast<uint16_t>(app.id + 1);
    ctx.image.applications.emplace(name, std::move(app));
    ctx.imageChanged = true;
    return Answer(sw::kOk);
}

std::vector<uint8_t> EnumApplication(AppletContext& ctx, const Command& cmd) {
    if (!cmd.data.empty())
        return Answer(sw::kWrongLength);
    return Answer(NameList(ctx.image.applications));
}

void ForgetVolatile(VolatileState& state, uint16_t appId) {
    state.openApplications.erase(appId);
    state.userVerified.erase(appId);
    state.adminVerified.erase(appId);
}

// 80 24, name. Deleting an application needs device authentication.
std::vector<uint8_t> DeleteApplication(AppletContext& ctx, const Command& cmd) {
    std::string name(cmd.data.begin(), cmd.data.end());
    if (name.empty() || name.size() > kMaxApplicationName)
        return Answer(sw::kWrongLength);
    auto it = ctx.image.applications.find(name);
    if (it == ctx.image.applications.end())
        return Answer(sw::kApplicationNotFound);
    if (!ctx.state.deviceAuthenticated)
        return Answer(sw::kSecurityNotSatisfied);
    ForgetVolatile(ctx.state, it->second.id);
    Wipe(it->second.adminPin.value);
    Wipe(it->second.userPin.value);
    ctx.image.applications.erase(it);
    ctx.imageChanged = true;
    return Answer(sw::kOk);
}

// 80 26, name, 00 0A. Answer: file-creation rights (4), administrator and user PIN max retries
// (1 each), number of containers (2), application id (2).
std::vector<uint8_t> OpenApplication(AppletContext& ctx, const Command& cmd) {
    std::string name(cmd.data.begin(), cmd.data.end());
    if (name.empty() || name.size() > kMaxApplicationName)
        return Answer(sw::kWrongLength);
    auto it = ctx.image.applications.find(name);
    if (it == ctx.image.applications.end())
        return Answer(sw::kApplicationNotFound);
    const ApplicationRecord& app = it->second;
    ctx.state.openApplications[app.id] = true;
    std::vector<uint8_t> answer;
    PutU32(answer, app.createFileRights);
    answer.push_back(app.adminPin.maxRetries);
    answer.push_back(app.userPin.maxRetries);
    PutU16(answer, static_cast<uint16_t>(app.containers.size()));
    PutU16(answer, app.id);
    return Answer(std::move(answer));
}

// 80 28, app: the application is closed and its security state dropped.
std::vector<uint8_t> CloseApplication(AppletContext& ctx, const Command& cmd) {
    DataReader reader(cmd.data);
    uint16_t appId = reader.U16();
    if (reader.Failed() || reader.Remaining() != 0)
        return Answer(sw::kWrongLength);
    if (ctx.ApplicationById(appId) == nullptr)
        return Answer(sw::kDataNotFound);
    ForgetVolatile(ctx.state, appId);
    return Answer(sw::kOk);
}

} // namespace

void RegisterApplicationHandlers(HandlerTable& table) {
    table.Add(0x80, 0x20, CreateApplication);
    table.Add(0x80, 0x22, EnumApplication);
    table.Add(0x80, 0x24, DeleteApplication);
    table.Add(0x80, 0x26, OpenApplication);
    table.Add(0x80, 0x28, CloseApplication);
}

} // namespace vtoken
