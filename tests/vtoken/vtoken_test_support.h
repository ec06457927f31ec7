#pragma once
// Shared pieces of the vtoken tests: a private daemon per test, the control tool, and the two
// framings driven by hand through the libusb 0.1 API (frames built here, byte by byte).

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <usb.h>
#include <vector>

namespace vtoken::test {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex);   // blanks are ignored
std::string Hex(const Bytes& bytes);

struct ToolResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs build/bin/vtoken with the arguments (and the environment of this process).
ToolResult RunTool(const std::vector<std::string>& args);
// Runs any command line through /bin/sh.
ToolResult RunShell(const std::string& command);

std::string BuildDir();

struct PluggedToken {
    std::string id;
    std::string path;     // "007:002"
    std::string serial;
};

// A daemon of its own for each test, with its socket and state directory under a fresh temporary
// directory; VTOKEN_SOCKET points at it while the test runs.
class VtokenTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Which card the daemon serves: the real one, or the echo stand-in of `--applet echo`.
    virtual bool UseEchoApplet() const { return false; }

    void StartDaemon();
    void StopDaemon();
    PluggedToken Plug(const std::vector<std::string>& options = {});
    void Fault(const PluggedToken& token, const std::vector<std::string>& rules);
    std::vector<std::string> TraceLines(const PluggedToken& token, bool clear = false);

    // Rescans and returns the device with that path (null when it is not on the bus).
    struct usb_device* FindDevice(const std::string& path);
    usb_dev_handle* Open(const PluggedToken& token);

    std::string m_dir;
    std::string m_socket;
    std::string m_state;
    pid_t m_daemon = -1;
};

class EchoVtokenTest : public VtokenTest {
protected:
    bool UseEchoApplet() const override { return true; }
};

// The host's side of both framings, built by hand. `rc` is 0 or the first failing libusb result.
struct Exchange {
    int rc = 0;
    Bytes answer;
};

Bytes CommandWrapper(uint32_t length, uint8_t flags);
Exchange BotTransmit(usb_dev_handle* handle, const Bytes& apdu);
std::vector<Bytes> HidReports(const Bytes& message);
// Sends the reports, then reads and reassembles the answer (no chaining, no retries).
Exchange HidTransmit(usb_dev_handle* handle, const Bytes& apdu);
// Reads one 64-byte answer report.
int HidReadReport(usb_dev_handle* handle, Bytes* report);

constexpr int kBotOut = 0x02;
constexpr int kIn = 0x81;
constexpr int kHidOut = 0x01;
constexpr int kTimeout = 1000;

} // namespace vtoken::test
