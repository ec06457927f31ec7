#include "vtoken/applet/core_support.h"

#include <algorithm>

namespace vtoken {
namespace {

constexpr size_t kApplicationOverhead = 256;
constexpr size_t kFileOverhead = 48;
constexpr size_t kContainerOverhead = 96;

} // namespace

size_t FileCost(size_t size) {
    return kFileOverhead + size;
}

size_t ContainerCost(const ContainerRecord& c) {
    return kContainerOverhead + c.signingKey.privateKeyDer.size() + c.exchangeKey.privateKeyDer.size() +
           c.signingCertificate.size() + c.exchangeCertificate.size();
}

uint32_t UsedSpace(const TokenImage& image) {
    size_t used = 0;
    for (const auto& [name, app] : image.applications) {
        used += kApplicationOverhead;
        for (const auto& [fileName, file] : app.files)
            used += FileCost(file.content.size());
        for (const auto& [fileName, file] : app.filesEx)
            used += FileCost(file.content.size());
        for (const auto& [containerName, container] : app.containers)
            used += ContainerCost(container);
    }
    return static_cast<uint32_t>(std::min<size_t>(used, UINT32_MAX));
}

uint32_t FreeSpace(const TokenImage& image) {
    uint32_t used = UsedSpace(image);
    return used >= image.totalSpace ? 0 : image.totalSpace - used;
}

bool HasRoomFor(const TokenImage& image, size_t extraBytes) {
    return extraBytes <= FreeSpace(image);
}

std::string FieldName(const std::vector<uint8_t>& field) {
    auto end = std::find(field.begin(), field.end(), 0);
    return std::string(field.begin(), end);
}

bool RightsAllow(const AppletContext& ctx, uint16_t applicationId, uint8_t rights) {
    if (rights == kRightsAnyone)
        return true;
    if ((rights & kRightsAdmin) != 0 && ctx.AdminVerified(applicationId))
        return true;
    return (rights & kRightsUser) != 0 && ctx.UserVerified(applicationId);
}

uint16_t ReadOpenedApplication(AppletContext& ctx, DataReader& reader, ApplicationRecord** app, uint16_t* id) {
    uint16_t applicationId = reader.U16();
    if (reader.Failed())
        return sw::kWrongLength;
    if (id != nullptr)
        *id = applicationId;
    return ctx.OpenedApplication(applicationId, app);
}

} // namespace vtoken
