// vtoken: the virtual token daemon and its control commands.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "vtoken/applet/token_applet.h"
#include "vtoken/daemon.h"
#include "vtoken/echo_applet.h"
#include "vtoken/wire_protocol.h"

namespace {

constexpr int kExitDaemon = 1;   // daemon not running, or it refused (unknown token, bad rule)
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: vtoken [--socket PATH] COMMAND [ARGS]\n"
    "\n"
    "  serve --state DIR [--socket PATH]   run the daemon (foreground)\n"
    "  plug [--kind bot|hid] [--large] [--blank] [--label L] [--serial S] [--bus N]\n"
    "       [--vendor 0xNNNN] [--product 0xNNNN]\n"
    "                                      plug a token in; prints \"ID PATH SERIAL\"\n"
    "                                      (a known serial brings that token back);\n"
    "                                      --vendor/--product show other USB ids (the\n"
    "                                      framing stays the one of --kind)\n"
    "  unplug ID                           unplug a token (ID: the id or the serial)\n"
    "  list                                one line per token: ID KIND PATH SERIAL [faults: ...]\n"
    "  fault ID RULE...                    arm faults on a token (each fires once)\n"
    "  trace [--clear] [--frames on|off] ID\n"
    "                                      print the token's command and answer log in hex;\n"
    "                                      --frames on adds the USB frames from now on\n"
    "                                      (R> R< HID reports, W> W< Bulk-Only wrappers,\n"
    "                                      D> D< Bulk-Only data)\n"
    "  stop                                stop the daemon\n"
    "\n"
    "The socket is --socket PATH or $VTOKEN_SOCKET.\n"
    "\n"
    "Fault rules:\n"
    "  open-fail:N             the next N usb_open calls fail\n"
    "  timeout                 the next status read (bot) or answer read (hid) times out\n"
    "  stall                   the next read on the IN endpoint stalls (-EPIPE until usb_clear_halt)\n"
    "  echo:N                  the next hid answer starts with N echoes of the last report sent\n"
    "  disorder                the next hid answer comes with its fragments out of order\n"
    "  busy:N                  the next hid answer starts with N busy replies (2 bytes 00 00)\n"
    "  chain:N                 the next answer longer than N data bytes is cut after N with 61xx\n"
    "  sw:INS=0xII,SW=0xSSSS   the next command with that INS gets that status word alone\n"
    "  unplug-mid              unplug once the next command has arrived, before it runs\n"
    "  truncate:N              the next answer is cut to its first N bytes\n"
    "  empty-data              the next bot data stage starts with the good status wrapper\n"
    "  clear                   disarm every rule\n"
    "\n"
    "Exit status: 0 done, 1 daemon not running or request refused, 2 bad arguments.\n";

int Usage(const char* problem) {
    if (problem) {
        std::fprintf(stderr, "vtoken: %s (see vtoken --help)\n", problem);
        return kExitUsage;
    }
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// Sends one control request; prints the daemon's text answer (or its complaint).
int Request(const std::string& socketPath, const vtoken::wire::Writer& constRequest, bool printText) {
    vtoken::wire::Writer request = constRequest;
    const int fd = vtoken::wire::ConnectTo(socketPath);
    if (fd < 0) {
        std::fprintf(stderr, "vtoken: no daemon at %s: %s\n", socketPath.c_str(), std::strerror(errno));
        return kExitDaemon;
    }
    std::vector<uint8_t> answer;
    const bool ok = vtoken::wire::Call(fd, request.Finish(), &answer);
    ::close(fd);
    if (!ok) {
        std::fprintf(stderr, "vtoken: the daemon at %s closed the connection\n", socketPath.c_str());
        return kExitDaemon;
    }
    vtoken::wire::Reader reader(answer);
    const int32_t result = reader.I32();
    const std::string text = reader.Remaining() > 0 ? reader.Str() : std::string();
    if (!reader.Ok())
        return kExitDaemon;
    if (result < 0) {
        std::fprintf(stderr, "vtoken: %s\n", text.empty() ? std::strerror(-result) : text.c_str());
        return kExitDaemon;
    }
    if (printText && !text.empty())
        std::fputs(text.back() == '\n' ? text.c_str() : (text + "\n").c_str(), stdout);
    return 0;
}

std::unique_ptr<vtoken::TokenApplet> OpenCard(const std::string& dir, const vtoken::TokenProfile& profile,
                                              std::string* error) {
    return vtoken::TokenApplet::Open(dir, profile, error);
}

std::unique_ptr<vtoken::TokenApplet> OpenEcho(const std::string&, const vtoken::TokenProfile& profile, std::string*) {
    return vtoken::MakeEchoApplet(profile);
}

int Serve(const std::vector<std::string>& args, std::string socketPath) {
    vtoken::DaemonOptions options;
    options.factory = OpenCard;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--state" && hasValue)
            options.stateDir = args[++i];
        else if (args[i] == "--socket" && hasValue)
            socketPath = args[++i];
        else if (args[i] == "--applet" && hasValue && args[i + 1] == "echo")   // transport tests only
            options.factory = OpenEcho, ++i;
        else
            return Usage(("serve: unexpected argument " + args[i]).c_str());
    }
    if (options.stateDir.empty())
        return Usage("serve needs --state DIR");
    if (socketPath.empty())
        return Usage("serve needs --socket PATH (or VTOKEN_SOCKET)");
    options.socketPath = socketPath;
    return vtoken::RunDaemon(options);
}

int Plug(const std::vector<std::string>& args, const std::string& socketPath) {
    std::string kind = "bot", label, serial;
    bool large = false, blank = false;
    unsigned long bus = 1;
    unsigned long vendor = 0, product = 0;
    // A USB id: 1 to 0xFFFF, decimal or 0x-prefixed hexadecimal.
    auto parseId = [](const std::string& text, unsigned long* value) {
        char* end = nullptr;
        errno = 0;
        *value = std::strtoul(text.c_str(), &end, 0);
        return !text.empty() && text[0] != '-' && errno == 0 && *end == '\0' && *value >= 1 && *value <= 0xFFFF;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--kind" && hasValue)
            kind = args[++i];
        else if (args[i] == "--large")
            large = true;
        else if (args[i] == "--blank")
            blank = true;
        else if (args[i] == "--label" && hasValue)
            label = args[++i];
        else if (args[i] == "--serial" && hasValue)
            serial = args[++i];
        else if (args[i] == "--bus" && hasValue) {
            char* end = nullptr;
            bus = std::strtoul(args[++i].c_str(), &end, 10);
            if (*end != '\0' || bus == 0 || bus > 127)
                return Usage("plug: --bus takes 1 to 127");
        } else if (args[i] == "--vendor" && hasValue) {
            if (!parseId(args[++i], &vendor))
                return Usage("plug: --vendor takes a USB id, 0x0001 to 0xFFFF");
        } else if (args[i] == "--product" && hasValue) {
            if (!parseId(args[++i], &product))
                return Usage("plug: --product takes a USB id, 0x0001 to 0xFFFF");
        } else
            return Usage(("plug: unexpected argument " + args[i]).c_str());
    }
    if (kind != "bot" && kind != "hid")
        return Usage("plug: --kind is bot or hid");
    if (large && kind != "hid")
        return Usage("plug: --large applies to hid tokens only");
    vtoken::wire::Writer request;
    request.U8(static_cast<uint8_t>(vtoken::wire::Op::kPlug));
    request.U8(kind == "hid" ? 1 : 0).U8(large).U8(blank).U8(static_cast<uint8_t>(bus)).Str(label).Str(serial);
    request.U32(static_cast<uint32_t>(vendor)).U32(static_cast<uint32_t>(product));
    return Request(socketPath, request, true);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const char* environmentSocket = std::getenv("VTOKEN_SOCKET");
    std::string socketPath = environmentSocket ? environmentSocket : "";
    if (args.size() >= 2 && args[0] == "--socket") {
        socketPath = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty())
        return Usage(nullptr);
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "serve")
        return Serve(args, socketPath);
    if (socketPath.empty())
        return Usage("no socket: pass --socket PATH or set VTOKEN_SOCKET");

    using vtoken::wire::Op;
    vtoken::wire::Writer request;
    if (command == "plug")
        return Plug(args, socketPath);
    if (command == "unplug") {
        if (args.size() != 1)
            return Usage("usage: vtoken unplug ID");
        request.U8(static_cast<uint8_t>(Op::kUnplug)).Str(args[0]);
        return Request(socketPath, request, false);
    }
    if (command == "list") {
        if (!args.empty())
            return Usage("list takes no arguments");
        request.U8(static_cast<uint8_t>(Op::kListTokens));
        return Request(socketPath, request, true);
    }
    if (command == "fault") {
        if (args.size() < 2)
            return Usage("usage: vtoken fault ID RULE...");
        request.U8(static_cast<uint8_t>(Op::kFault));
        for (const std::string& arg : args)
            request.Str(arg);
        return Request(socketPath, request, false);
    }
    if (command == "trace") {
        bool clear = false;
        uint8_t frames = 0;
        while (!args.empty() && args[0].rfind("--", 0) == 0) {
            if (args[0] == "--clear") {
                clear = true;
                args.erase(args.begin());
            } else if (args[0] == "--frames" && args.size() > 1 && (args[1] == "on" || args[1] == "off")) {
                frames = args[1] == "on" ? 1 : 2;
                args.erase(args.begin(), args.begin() + 2);
            } else {
                return Usage("usage: vtoken trace [--clear] [--frames on|off] ID");
            }
        }
        if (args.size() != 1)
            return Usage("usage: vtoken trace [--clear] [--frames on|off] ID");
        request.U8(static_cast<uint8_t>(Op::kTrace)).Str(args[0]).U8(clear ? 1 : 0).U8(frames);
        return Request(socketPath, request, true);
    }
    if (command == "stop") {
        if (!args.empty())
            return Usage("stop takes no arguments");
        request.U8(static_cast<uint8_t>(Op::kStop));
        return Request(socketPath, request, false);
    }
    return Usage(("unknown command " + command).c_str());
}
