// The tests talk to virtual tokens through Debian's libusb 0.1 API, with libvtoken-usb.so preloaded
// in front of the real library. A test program started without the preload starts itself again
// with it, before main and before any test runs.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <usb.h>
#include <vector>

namespace {

bool ReplacementLoaded() {
    Dl_info info{};
    return dladdr(reinterpret_cast<void*>(&usb_find_busses), &info) != 0 && info.dli_fname &&
           std::strstr(info.dli_fname, "vtoken-usb") != nullptr;
}

__attribute__((constructor)) void PreloadReplacement() {
    if (ReplacementLoaded())
        return;
    const char* build = std::getenv("KEYCORE_BUILD_DIR");
    if (!build || std::getenv("VTOKEN_TEST_REEXEC")) {
        std::fprintf(stderr, "libvtoken-usb.so is not preloaded (KEYCORE_BUILD_DIR=%s)\n", build ? build : "unset");
        std::_Exit(3);
    }
    std::string preload = std::string(build) + "/bin/libvtoken-usb.so";
    // Under ASan the program carries the runtime itself; the test environment sets
    // verify_asan_link_order=0 so that the preloaded library may come first.
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv("VTOKEN_TEST_REEXEC", "1", 1);

    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\0', start);
        args.push_back(all.substr(start, end - start));
        start = end == std::string::npos ? all.size() : end + 1;
    }
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    std::perror("re-exec with libvtoken-usb.so");
    std::_Exit(3);
}

} // namespace
