#pragma once
// Dispatch of commands to their handlers. Handlers are grouped by family in their own files and
// registered into one table keyed by CLA and INS.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "vtoken/applet/applet_state.h"
#include "vtoken/applet/command.h"
#include "vtoken/applet/token_image.h"

namespace vtoken {

// What a handler works on. `image` changes are saved by the applet after the handler returns
// when the handler sets `imageChanged`.
struct AppletContext {
    TokenImage& image;
    VolatileState& state;
    bool imageChanged = false;

    // Lookups shared by the handler families; null when there is no such object.
    ApplicationRecord* ApplicationById(uint16_t id);
    ContainerRecord* ContainerById(ApplicationRecord& app, uint16_t id);

    // The application named by an id in a command, which must exist and have been opened since
    // power-up: 0x9000 and *out set, or 0x698A.
    uint16_t OpenedApplication(uint16_t id, ApplicationRecord** out);
    // The container named by an id inside an opened application: 0x9000 and *out set, or 0x6A94.
    uint16_t ContainerIn(ApplicationRecord& app, uint16_t id, ContainerRecord** out);

    bool UserVerified(uint16_t applicationId) const;
    bool AdminVerified(uint16_t applicationId) const;
};

using CommandHandler = std::function<std::vector<uint8_t>(AppletContext&, const Command&)>;

class HandlerTable {
public:
    void Add(uint8_t cla, uint8_t ins, CommandHandler handler) { m_handlers[{cla, ins}] = std::move(handler); }
    const CommandHandler* Find(uint8_t cla, uint8_t ins) const {
        auto it = m_handlers.find({cla, ins});
        return it == m_handlers.end() ? nullptr : &it->second;
    }

private:
    std::map<std::pair<uint8_t, uint8_t>, CommandHandler> m_handlers;
};

// Device, PIN, random, application, file, container and certificate commands.
void RegisterCoreHandlers(HandlerTable& table);
// Key pairs, signatures, session keys, ciphers, digests, MACs, key agreement, raw RSA.
void RegisterCryptoHandlers(HandlerTable& table);

} // namespace vtoken
