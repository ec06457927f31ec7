#include "vtoken/token_registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sys/stat.h>

namespace vtoken {

bool TokenRegistry::ValidSerial(const std::string& serial) {
    if (serial.empty() || serial.size() > 32 || serial[0] == '.')
        return false;
    for (char c : serial)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
              c == '-'))
            return false;
    return true;
}

std::string TokenRegistry::FreshSerial() const {
    std::random_device random;
    for (;;) {
        char serial[24];
        std::snprintf(serial, sizeof serial, "VT%08X%04X", random(), random() & 0xFFFF);
        struct stat info;
        if (::stat((m_stateDir + "/tokens/" + serial).c_str(), &info) != 0)
            return serial;
    }
}

uint8_t TokenRegistry::FreeDeviceNumber(uint8_t bus) {
    // Like the kernel: the number after the last one given on this bus, skipping those in use.
    uint8_t candidate = m_lastDeviceNumber[bus];
    for (int tries = 0; tries < 127; ++tries) {
        candidate = static_cast<uint8_t>(candidate % 127 + 1);
        bool used = false;
        for (const auto& entry : m_devices)
            used = used || (entry.second->Identity().bus == bus && entry.second->Identity().devnum == candidate);
        if (!used) {
            m_lastDeviceNumber[bus] = candidate;
            return candidate;
        }
    }
    return 0;
}

void TokenRegistry::DropAbsent() {
    for (auto it = m_devices.begin(); it != m_devices.end();)
        it = it->second->Present() ? std::next(it) : m_devices.erase(it);
}

std::shared_ptr<VirtualDevice> TokenRegistry::Plug(const PlugRequest& request, std::string* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    DropAbsent();
    if (request.bus == 0 || request.bus > 127) {
        *error = "bus numbers run from 1 to 127";
        return nullptr;
    }
    if (!request.serial.empty() && !ValidSerial(request.serial)) {
        *error = "bad serial \"" + request.serial + "\": use 1 to 32 of A-Z a-z 0-9 . _ -";
        return nullptr;
    }
    for (const auto& entry : m_devices) {
        if (entry.second->Identity().serial == request.serial) {
            *error = "token " + request.serial + " is already plugged in";
            return nullptr;
        }
    }
    DeviceIdentity identity;
    identity.kind = request.kind;
    identity.large = request.large && request.kind == wire::TokenKind::kHid;
    identity.bus = request.bus;
    identity.vendor = request.vendor;
    identity.product = request.product;
    identity.devnum = FreeDeviceNumber(request.bus);
    if (identity.devnum == 0) {
        *error = "bus is full";
        return nullptr;
    }
    identity.serial = request.serial.empty() ? FreshSerial() : request.serial;

    const std::string tokens = m_stateDir + "/tokens";
    if (::mkdir(tokens.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot create " + tokens;
        return nullptr;
    }
    TokenProfile profile;
    profile.label = request.label;
    profile.serial = identity.serial;
    profile.blank = request.blank;
    std::unique_ptr<TokenApplet> applet = m_factory(tokens + "/" + identity.serial, profile, error);
    if (!applet)
        return nullptr;
    identity.id = m_nextId++;
    auto device = std::make_shared<VirtualDevice>(identity, std::move(applet));
    m_devices[identity.id] = device;
    return device;
}

std::shared_ptr<VirtualDevice> TokenRegistry::Find(uint32_t id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_devices.find(id);
    return it == m_devices.end() ? nullptr : it->second;
}

std::shared_ptr<VirtualDevice> TokenRegistry::Find(const std::string& key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& entry : m_devices)
        if ((std::to_string(entry.first) == key || entry.second->Identity().serial == key) &&
            entry.second->Present())
            return entry.second;
    return nullptr;
}

bool TokenRegistry::Unplug(const std::string& key) {
    std::shared_ptr<VirtualDevice> device = Find(key);
    if (!device)
        return false;
    device->Unplug();
    std::lock_guard<std::mutex> lock(m_mutex);
    DropAbsent();
    return true;
}

void TokenRegistry::UnplugAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_devices)
        entry.second->Unplug();
    m_devices.clear();
}

std::vector<std::shared_ptr<VirtualDevice>> TokenRegistry::Present() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::shared_ptr<VirtualDevice>> present;
    for (const auto& entry : m_devices)
        if (entry.second->Present())
            present.push_back(entry.second);
    return present;
}

} // namespace vtoken
