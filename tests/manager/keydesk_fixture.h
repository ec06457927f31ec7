#pragma once
// keydesk's windows driven in this process against virtual tokens.
//
// The program manager_tests sits in build/bin beside keydesk, so the window loads build/bin/libkeycore.so
// and reads build/bin/lang exactly as keydesk does ("beside the executable"). libvtoken-usb.so is
// preloaded (the program restarts itself with it before main), so that library sees the virtual
// tokens of the daemon each test starts. Every test runs in a process of its own with a private /tmp;
// the program's main creates the QApplication (offscreen platform) and ends without exit-time
// destructors, since the window's worker threads never stop.
//
// Message dialogs: install a responder with myMessageBox::setResponder before pressing a button.
// Certificate viewing: a stand-in `gcr-viewer` leads PATH and records each call (ViewerCalls()).

#include "keycore/skf.h"
#include "vtoken_test_support.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class MainWindow;
class Ui_MainWindow;

namespace keydesk::test {

using Bytes = std::vector<uint8_t>;

inline constexpr char kDefaultApp[] = "KEYCORE-APP"; // the application of a new virtual token
inline constexpr char kUserPin[] = "12345678";       // its user PIN
inline constexpr char kSoPin[] = "12345678";         // its SO (administrator) PIN
inline constexpr int kWaitMs = 20000;                // how long a wait for the window gives up after

// Processes events until the condition holds; false when it still does not after timeoutMs.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = kWaitMs);
// Processes events for a while (to let queued signals arrive when nothing can be waited for).
void ProcessEventsFor(int ms);

// The path of a file in the build tree (KEYCORE_BUILD_DIR), e.g. "bin/keydesk".
std::string BuildPath(const std::string& relative);

// Covers a directory with an empty one, in this test's own mount namespace only (every test runs in
// one; the build tree stays as it is for everybody else). False when the mount is refused.
bool HideDirectory(const std::string& dir);
// Mounts a fresh empty file system at dir (created first when missing, e.g. under /opt after /opt
// itself was covered), in this test's own mount namespace only.
bool MountEmpty(const std::string& dir);

// A self-signed DER certificate (EC P-256) whose subject carries commonName, or no commonName when empty.
Bytes MakeCertificate(const std::string& commonName);

// A function of the library that the window loaded (the same instance, so the same tokens and handles).
void* SkfSymbol(const char* name);
template <typename Fn> Fn SkfFunction(const char* name) {
    return reinterpret_cast<Fn>(SkfSymbol(name));
}
#define KEYDESK_SKF(name) (::keydesk::test::SkfFunction<decltype(&::name)>(#name))

// What a container made by AddContainer holds.
struct ContainerSpec {
    enum class Key { None, Rsa1024, Rsa2048, Sm2 };
    std::string name;
    Key signKey = Key::None;  // generated on the token
    Bytes signCertificate;    // stored with the signing flag when not empty
    Bytes encryptCertificate; // stored with the encryption flag when not empty
};

class KeydeskTest : public vtoken::test::VtokenTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs a virtual token (options of `vtoken plug`) and waits until the library lists it.
    vtoken::test::PluggedToken PlugToken(const std::vector<std::string>& options = {});
    // Unplugs it and waits until the library no longer lists it.
    void Unplug(const vtoken::test::PluggedToken& token);

    // Constructs and shows the main window (once per test). The library is loaded by SetUp already, so
    // the window's device thread finds it loaded.
    MainWindow& StartWindow();
    MainWindow* Window() { return m_window; }
    Ui_MainWindow& Ui();

    // The texts of the device tree's top-level items, and the child texts of one of them.
    QStringList DeviceTreeNames();
    QStringList DeviceTreeChildren(int row);
    // Waits until the device tree shows that many tokens.
    bool WaitForTreeCount(int count);

    // build/bin/lang disappears for this test: the window then finds no language file.
    void HideLanguageFiles() { ASSERT_TRUE(HideDirectory(BuildPath("bin/lang"))); }

    // The names the library lists for the present tokens.
    std::vector<std::string> PresentDevices();

    // Creates a container in the token's default application (user PIN verified for it, cleared again
    // afterwards); the token is given by its name as the library lists it. Fails the test on any error.
    void AddContainer(const std::string& devName, const ContainerSpec& spec);

    // The calls of the stand-in gcr-viewer, oldest first, each as its list of arguments; the bytes of the
    // file a call was given (its first argument, copied when it ran); forgetting the calls so far.
    std::vector<std::vector<std::string>> ViewerCalls();
    Bytes ViewerFile(size_t call);
    void ClearViewerCalls();
    bool WaitForViewerCalls(size_t count);

    MainWindow* m_window = nullptr;
    std::string m_viewerDir;
};

} // namespace keydesk::test
