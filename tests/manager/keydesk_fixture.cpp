#include "keydesk_fixture.h"

#include "dev_mgr.h"
#include "main_window.h"
#include "ui_main_window.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTreeView>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace keydesk::test {

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void ProcessEventsFor(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

std::string BuildPath(const std::string& relative) {
    return vtoken::test::BuildDir() + "/" + relative;
}

bool MountEmpty(const std::string& dir) {
    vtoken::test::RunShell("mkdir -p '" + dir + "'");
    return mount("keydesk-test", dir.c_str(), "tmpfs", 0, "mode=0755") == 0;
}

bool HideDirectory(const std::string& dir) {
    char empty[] = "/tmp/keydesk-hidden.XXXXXX";
    if (mkdtemp(empty) == nullptr)
        return false;
    return mount(empty, dir.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

Bytes MakeCertificate(const std::string& commonName) {
    Bytes der;
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    if (key == nullptr || cert == nullptr) {
        EVP_PKEY_free(key);
        X509_free(cert);
        return der;
    }
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 7);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 365);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("keycore tests"), -1,
                               -1, 0);
    if (!commonName.empty())
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()),
                                   static_cast<int>(commonName.size()), -1, 0);
    X509_set_issuer_name(cert, name);
    X509_set_pubkey(cert, key);
    if (X509_sign(cert, key, EVP_sha256()) > 0) {
        const int len = i2d_X509(cert, nullptr);
        if (len > 0) {
            der.resize(static_cast<size_t>(len));
            unsigned char* out = der.data();
            i2d_X509(cert, &out);
        }
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return der;
}

void* SkfSymbol(const char* name) {
    // The library the window loads from beside this program: dlopen gives back the same instance.
    static void* lib = dlopen(BuildPath("bin/libkeycore.so").c_str(), RTLD_NOW);
    return lib != nullptr ? dlsym(lib, name) : nullptr;
}

namespace {

// The stand-in certificate viewer: every call gets a directory of its own holding its arguments and a
// copy of the file it was given.
constexpr char kViewerScript[] = R"(#!/bin/sh
call=$(mktemp -d "$KEYDESK_TEST_VIEWER_LOG/call.$(date +%s%N).XXXXXX")
[ -f "$1" ] && cat "$1" > "$call/file"
printf '%s\n' "$@" > "$call/args"
touch "$call/done"
exit 0
)";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

void KeydeskTest::SetUp() {
    VtokenTest::SetUp();
    if (HasFatalFailure())
        return;
    m_viewerDir = m_dir + "/viewer";
    ASSERT_EQ(mkdir(m_viewerDir.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((m_viewerDir + "/bin").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((m_viewerDir + "/log").c_str(), 0700), 0);
    const std::string script = m_viewerDir + "/bin/gcr-viewer";
    {
        std::ofstream out(script);
        out << kViewerScript;
    }
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    const char* path = std::getenv("PATH");
    setenv("PATH", (m_viewerDir + "/bin:" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);
    setenv("KEYDESK_TEST_VIEWER_LOG", (m_viewerDir + "/log").c_str(), 1);
    // Loaded before any window, so that tests can prepare tokens through it first.
    ASSERT_EQ(cDevMgr::getInst()->InitializeFrom(BuildPath("bin/libkeycore.so").c_str()), 0);
}

void KeydeskTest::TearDown() {
    // The window goes before the daemon; its threads stay (they end with the process).
    delete m_window;
    m_window = nullptr;
    VtokenTest::TearDown();
}

vtoken::test::PluggedToken KeydeskTest::PlugToken(const std::vector<std::string>& options) {
    const size_t before = PresentDevices().size();
    const vtoken::test::PluggedToken token = Plug(options);
    EXPECT_FALSE(token.id.empty());
    EXPECT_TRUE(WaitUntil([&] { return PresentDevices().size() > before; })) << "token not listed";
    return token;
}

void KeydeskTest::Unplug(const vtoken::test::PluggedToken& token) {
    const size_t before = PresentDevices().size();
    ASSERT_EQ(vtoken::test::RunTool({"unplug", token.id}).exitCode, 0);
    EXPECT_TRUE(WaitUntil([&] { return PresentDevices().size() < before; })) << "token still listed";
}

MainWindow& KeydeskTest::StartWindow() {
    if (m_window == nullptr) {
        m_window = new MainWindow;
        m_window->show();
    }
    return *m_window;
}

Ui_MainWindow& KeydeskTest::Ui() {
    return *m_window->form();
}

QStringList KeydeskTest::DeviceTreeNames() {
    QStringList names;
    const QAbstractItemModel* model = Ui().treeView_Dev->model();
    for (int row = 0; model != nullptr && row < model->rowCount(); ++row)
        names << model->index(row, 0).data().toString();
    return names;
}

QStringList KeydeskTest::DeviceTreeChildren(int row) {
    QStringList names;
    const QAbstractItemModel* model = Ui().treeView_Dev->model();
    if (model == nullptr)
        return names;
    const QModelIndex parent = model->index(row, 0);
    for (int child = 0; child < model->rowCount(parent); ++child)
        names << model->index(child, 0, parent).data().toString();
    return names;
}

bool KeydeskTest::WaitForTreeCount(int count) {
    return WaitUntil([&] { return DeviceTreeNames().size() == count; });
}

std::vector<std::string> KeydeskTest::PresentDevices() {
    std::vector<std::string> names;
    char list[2048] = {};
    unsigned len = sizeof list - 2;
    if (cDevMgr::getInst()->EnumDev(1, list, &len) != SAR_OK)
        return names;
    for (size_t pos = 0; pos < sizeof list - 2 && list[pos] != '\0';) {
        names.emplace_back(list + pos);
        pos += names.back().size() + 1;
    }
    return names;
}

void KeydeskTest::AddContainer(const std::string& devName, const ContainerSpec& spec) {
    DEVHANDLE dev = nullptr;
    HAPPLICATION app = nullptr;
    HCONTAINER container = nullptr;
    ULONG retry = 0;
    std::string name = devName;
    ASSERT_EQ(KEYDESK_SKF(SKF_ConnectDev)(name.data(), &dev), SAR_OK);
    std::string appName = kDefaultApp;
    ASSERT_EQ(KEYDESK_SKF(SKF_OpenApplication)(dev, appName.data(), &app), SAR_OK);
    std::string pin = kUserPin;
    ASSERT_EQ(KEYDESK_SKF(SKF_VerifyPIN)(app, USER_TYPE, pin.data(), &retry), SAR_OK);
    std::string ctnName = spec.name;
    ASSERT_EQ(KEYDESK_SKF(SKF_CreateContainer)(app, ctnName.data(), &container), SAR_OK);
    switch (spec.signKey) {
    case ContainerSpec::Key::None:
        break;
    case ContainerSpec::Key::Rsa1024:
    case ContainerSpec::Key::Rsa2048: {
        RSAPUBLICKEYBLOB blob{};
        const ULONG bits = spec.signKey == ContainerSpec::Key::Rsa1024 ? 1024 : 2048;
        ASSERT_EQ(KEYDESK_SKF(SKF_GenRSAKeyPair)(container, bits, &blob), SAR_OK);
        break;
    }
    case ContainerSpec::Key::Sm2: {
        ECCPUBLICKEYBLOB blob{};
        ASSERT_EQ(KEYDESK_SKF(SKF_GenECCKeyPair)(container, SGD_SM2_1, &blob), SAR_OK);
        break;
    }
    }
    for (const auto& [flag, cert] :
         {std::pair<BOOL, Bytes>{TRUE, spec.signCertificate}, std::pair<BOOL, Bytes>{FALSE, spec.encryptCertificate}}) {
        if (cert.empty())
            continue;
        Bytes copy = cert;
        ASSERT_EQ(KEYDESK_SKF(SKF_ImportCertificate)(container, flag, copy.data(), static_cast<ULONG>(copy.size())),
                  SAR_OK);
    }
    KEYDESK_SKF(SKF_CloseContainer)(container);
    // Leave the token as a person would find it: no PIN verified.
    KEYDESK_SKF(SKF_ClearSecureState)(app);
    KEYDESK_SKF(SKF_CloseApplication)(app);
}

namespace {

// The directories of the finished viewer calls, oldest first.
std::vector<std::string> ViewerCallDirs(const std::string& log) {
    std::vector<std::string> calls;
    if (DIR* dir = opendir(log.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string path = log + "/" + entry->d_name;
            struct stat st {};
            if (std::strncmp(entry->d_name, "call.", 5) == 0 && stat((path + "/done").c_str(), &st) == 0)
                calls.push_back(path);
        }
        closedir(dir);
    }
    std::sort(calls.begin(), calls.end());
    return calls;
}

} // namespace

std::vector<std::vector<std::string>> KeydeskTest::ViewerCalls() {
    std::vector<std::vector<std::string>> calls;
    for (const std::string& dir : ViewerCallDirs(m_viewerDir + "/log")) {
        std::vector<std::string> args;
        std::ifstream in(dir + "/args");
        for (std::string line; std::getline(in, line);)
            args.push_back(line);
        calls.push_back(std::move(args));
    }
    return calls;
}

Bytes KeydeskTest::ViewerFile(size_t call) {
    const std::vector<std::string> dirs = ViewerCallDirs(m_viewerDir + "/log");
    if (call >= dirs.size())
        return Bytes();
    const std::string file = ReadAll(dirs[call] + "/file");
    return Bytes(file.begin(), file.end());
}

void KeydeskTest::ClearViewerCalls() {
    vtoken::test::RunShell("rm -rf '" + m_viewerDir + "/log/'call.*");
}

bool KeydeskTest::WaitForViewerCalls(size_t count) {
    return WaitUntil([&] { return ViewerCalls().size() >= count; });
}

} // namespace keydesk::test

extern "C" void __lsan_do_leak_check() __attribute__((weak));

// In a sanitizer build: fontconfig (under Qt's font handling) keeps caches it never frees. Only that
// library is excused; every leak of ours is still reported.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
    // Headless windows, and a runtime directory Qt does not complain about.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        char dir[] = "/tmp/keydesk-runtime.XXXXXX";
        if (mkdtemp(dir) != nullptr)
            setenv("XDG_RUNTIME_DIR", dir, 1);
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    // The windows' worker threads are still blocked in the library, whose exit-time destructors would
    // wait for them: end without those destructors, after the leak check of a sanitizer build.
    if (__lsan_do_leak_check != nullptr)
        __lsan_do_leak_check();
    std::fflush(nullptr);
    std::_Exit(rc);
}
