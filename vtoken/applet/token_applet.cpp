#include "vtoken/applet/token_applet.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <utility>

#include "vtoken/applet/handler_table.h"
#include "vtoken/applet/image_store.h"
#include "vtoken/applet/secure_messaging.h"
#include "vtoken/applet/token_defaults.h"

namespace vtoken {
namespace {

constexpr uint8_t kClaPlain = 0x80;
constexpr uint8_t kClaMac = 0x84;
constexpr uint8_t kClaAccessCode = 0xC6;
// Flash that cannot be written: the change is not made.
constexpr uint16_t kMemoryFailure = 0x6581;

class CardTokenApplet final : public TokenApplet {
public:
    CardTokenApplet(std::string dir, TokenImage image) : m_dir(std::move(dir)), m_image(std::move(image)) {
        RegisterCoreHandlers(m_table);
        RegisterCryptoHandlers(m_table);
    }

    std::vector<uint8_t> Execute(const uint8_t* apdu, size_t length) override {
        // The access code opens the door for exactly the command that follows it, whatever that is.
        bool accessGranted = std::exchange(m_state.accessCodeGranted, false);
        std::optional<Command> parsed = Command::Parse(apdu, length);
        if (!parsed)
            return Answer(sw::kWrongLength);
        const Command& cmd = *parsed;
        if (cmd.cla != kClaPlain && cmd.cla != kClaMac && cmd.cla != kClaAccessCode)
            return Answer(sw::kClaNotSupported);
        const CommandHandler* handler = m_table.Find(cmd.cla, cmd.ins);
        if (handler == nullptr)
            return Answer(sw::kInsNotSupported);
        if (IsPrivilegedCommand(cmd.cla, cmd.ins) && !accessGranted)
            return Answer(sw::kSecurityNotSatisfied);

        AppletContext ctx{m_image, m_state};
        if (cmd.cla == kClaMac) {
            // One challenge, one MAC: a failed command must not leave it for a second guess.
            uint16_t macStatus = VerifyCommandMac(ctx, cmd);
            ConsumeChallenge(m_state);
            if (macStatus != sw::kOk) {
                if (ctx.imageChanged && !Persist())
                    return Answer(kMemoryFailure);
                return Answer(macStatus);
            }
        }
        // Handlers may look at the grant too; it is visible to this one command only.
        m_state.accessCodeGranted = accessGranted;
        std::vector<uint8_t> answer = (*handler)(ctx, cmd);
        if (cmd.cla != kClaAccessCode)
            m_state.accessCodeGranted = false;
        if (ctx.imageChanged && !Persist())
            return Answer(kMemoryFailure);
        return answer;
    }

    void PowerCycle() override {
        ConsumeChallenge(m_state);
        m_state = VolatileState{};
    }

    std::string Serial() const override { return m_image.serial; }
    std::string Label() const override { return m_image.label; }

private:
    // Writes the image; when that fails, goes back to what is on disk so that memory never holds
    // a state that a restart would not see.
    bool Persist() {
        std::string error;
        if (SaveImage(m_dir, m_image, &error))
            return true;
        TokenImage onDisk;
        if (LoadImage(m_dir, &onDisk, &error) == ImageLoad::Loaded)
            m_image = std::move(onDisk);
        return false;
    }

    std::string m_dir;
    TokenImage m_image;
    VolatileState m_state;
    HandlerTable m_table;
};

} // namespace

std::unique_ptr<TokenApplet> TokenApplet::Open(const std::string& dir, const TokenProfile& profile,
                                               std::string* error) {
    auto fail = [error](std::string why) -> std::unique_ptr<TokenApplet> {
        if (error)
            *error = std::move(why);
        return nullptr;
    };
    if (dir.empty())
        return fail("no token directory given");
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return fail("cannot create " + dir + ": " + std::strerror(errno));

    TokenImage image;
    std::string why;
    switch (LoadImage(dir, &image, &why)) {
    case ImageLoad::Loaded:
        break;
    case ImageLoad::Refused:
        return fail(why);
    case ImageLoad::Missing:
        if (profile.serial.empty())
            return fail("a new token needs a serial number");
        image = NewTokenImage(profile);
        if (!SaveImage(dir, image, &why))
            return fail(why);
        break;
    }
    return std::make_unique<CardTokenApplet>(dir, std::move(image));
}

} // namespace vtoken
