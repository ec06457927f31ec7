#include "vtoken/applet/token_defaults.h"

#include <cstring>

namespace vtoken {

TokenImage NewTokenImage(const TokenProfile& profile) {
    TokenImage image;
    image.label = profile.label.empty() ? kDefaultLabel : profile.label;
    image.serial = profile.serial;
    image.devAuthKey.assign(kDefaultDeviceKey, kDefaultDeviceKey + std::strlen(kDefaultDeviceKey));
    image.devAuthMaxRetries = kDefaultDeviceKeyRetries;
    image.devAuthTriesLeft = kDefaultDeviceKeyRetries;
    image.totalSpace = kDefaultTotalSpace;
    if (!profile.blank) {
        ApplicationRecord app;
        app.id = image.nextApplicationId++;
        app.adminPin = PinRecord{kDefaultAdminPin, kDefaultPinRetries, kDefaultPinRetries, true};
        app.userPin = PinRecord{kDefaultUserPin, kDefaultPinRetries, kDefaultPinRetries, true};
        app.createFileRights = kDefaultCreateFileRights;
        image.applications.emplace(kDefaultApplicationName, std::move(app));
    }
    return image;
}

} // namespace vtoken
