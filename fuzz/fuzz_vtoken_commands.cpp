// Sequences of commands on a fresh virtual token, straight into the card's handlers (no disk):
// each frame is a length byte and that many APDU bytes. Every answer must end in a status word.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vtoken/applet/applet_state.h"
#include "vtoken/applet/command.h"
#include "vtoken/applet/handler_table.h"
#include "vtoken/applet/token_defaults.h"

namespace {

const vtoken::HandlerTable& Handlers() {
    static const vtoken::HandlerTable table = [] {
        vtoken::HandlerTable t;
        vtoken::RegisterCoreHandlers(t);
        vtoken::RegisterCryptoHandlers(t);
        return t;
    }();
    return table;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vtoken::TokenProfile profile;
    profile.serial = "FUZZ0001";
    vtoken::TokenImage image = vtoken::NewTokenImage(profile);
    vtoken::VolatileState state;
    // Open the default application so that the deeper handlers are reachable.
    for (auto& [name, app] : image.applications)
        state.openApplications[app.id] = true;

    size_t pos = 0;
    while (pos < size) {
        size_t length = data[pos++];
        if (length > size - pos)
            length = size - pos;
        auto command = vtoken::Command::Parse(data + pos, length);
        pos += length;
        if (!command)
            continue;
        const vtoken::CommandHandler* handler = Handlers().Find(command->cla, command->ins);
        if (handler == nullptr)
            continue;
        vtoken::AppletContext context{image, state};
        std::vector<uint8_t> answer = (*handler)(context, *command);
        if (answer.size() < 2)
            __builtin_trap();
    }
    return 0;
}
