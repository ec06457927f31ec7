#pragma once
// The tokens on the daemon's virtual buses. A token is known by its serial: its image lives in
// STATE/tokens/<serial>/, so plugging a serial again brings the same token back. Each plug-in
// gets a fresh id and the next free device number on its bus, as a replugged device would.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vtoken/applet/token_applet.h"
#include "vtoken/virtual_device.h"

namespace vtoken {

using AppletFactory =
    std::function<std::unique_ptr<TokenApplet>(const std::string& dir, const TokenProfile& profile, std::string*)>;

struct PlugRequest {
    wire::TokenKind kind = wire::TokenKind::kBulkOnly;
    bool large = false;
    bool blank = false;
    uint8_t bus = 1;
    std::string label;
    std::string serial;   // empty: a new token with a fresh serial
    uint16_t vendor = 0;   // 0: the family's vendor id
    uint16_t product = 0;  // 0: the family's product id for the kind
};

class TokenRegistry {
public:
    TokenRegistry(std::string stateDir, AppletFactory factory)
        : m_stateDir(std::move(stateDir)), m_factory(std::move(factory)) {}

    // Returns the new device, or null with a message.
    std::shared_ptr<VirtualDevice> Plug(const PlugRequest& request, std::string* error);
    // `key` is an id or a serial. Returns false when no plugged token has it.
    bool Unplug(const std::string& key);
    void UnplugAll();

    std::shared_ptr<VirtualDevice> Find(uint32_t id) const;
    std::shared_ptr<VirtualDevice> Find(const std::string& key) const;
    std::vector<std::shared_ptr<VirtualDevice>> Present() const;

    // Whether a serial may name a directory: 1 to 32 of A-Z a-z 0-9 . _ -, not starting with '.'.
    static bool ValidSerial(const std::string& serial);

private:
    std::string FreshSerial() const;
    uint8_t FreeDeviceNumber(uint8_t bus);
    void DropAbsent();

    const std::string m_stateDir;
    const AppletFactory m_factory;
    mutable std::mutex m_mutex;
    std::map<uint32_t, std::shared_ptr<VirtualDevice>> m_devices;
    std::map<uint8_t, uint8_t> m_lastDeviceNumber;   // per bus
    uint32_t m_nextId = 1;
};

} // namespace vtoken
