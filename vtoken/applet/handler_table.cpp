#include "vtoken/applet/handler_table.h"

namespace vtoken {

ApplicationRecord* AppletContext::ApplicationById(uint16_t id) {
    for (auto& [name, app] : image.applications) {
        if (app.id == id)
            return &app;
    }
    return nullptr;
}

ContainerRecord* AppletContext::ContainerById(ApplicationRecord& app, uint16_t id) {
    for (auto& [name, container] : app.containers) {
        if (container.id == id)
            return &container;
    }
    return nullptr;
}

uint16_t AppletContext::OpenedApplication(uint16_t id, ApplicationRecord** out) {
    ApplicationRecord* app = ApplicationById(id);
    auto opened = state.openApplications.find(id);
    if (app == nullptr || opened == state.openApplications.end() || !opened->second)
        return sw::kNoApplicationSelected;
    *out = app;
    return sw::kOk;
}

uint16_t AppletContext::ContainerIn(ApplicationRecord& app, uint16_t id, ContainerRecord** out) {
    ContainerRecord* container = ContainerById(app, id);
    if (container == nullptr)
        return 0x6A94;
    *out = container;
    return sw::kOk;
}

static bool Flag(const std::map<uint16_t, bool>& flags, uint16_t id) {
    auto it = flags.find(id);
    return it != flags.end() && it->second;
}

bool AppletContext::UserVerified(uint16_t applicationId) const {
    return Flag(state.userVerified, applicationId);
}

bool AppletContext::AdminVerified(uint16_t applicationId) const {
    return Flag(state.adminVerified, applicationId);
}

} // namespace vtoken
