// SKF_Encrypt of 4 KiB with an SM4 session key and SKF_Digest of 4 KiB with SM3, through the whole
// library to a virtual token, on each framing. No goal: the numbers show what the pieces of at most
// 2016 (cipher) and 2000 (digest) bytes cost over one round trip each.
//
// The program runs over the libusb replacement: when it is not preloaded yet, the program starts
// itself again with it preloaded.

#include "keycore/skf.h"

#include <benchmark/benchmark.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string BinDir() {
    if (const char* build = std::getenv("KEYCORE_BUILD_DIR"))
        return std::string(build) + "/bin";
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/')) + "/../bin";
}

// A vtoken daemon of this process with one token of each framing.
class Tokens {
public:
    Tokens() {
        char pattern[] = "/tmp/skf-cipher-bench.XXXXXX";
        m_dir = mkdtemp(pattern) ? pattern : "/tmp";
        const std::string socket = m_dir + "/vtoken.sock";
        setenv("VTOKEN_SOCKET", socket.c_str(), 1);
        m_tool = BinDir() + "/vtoken";
        m_daemon = fork();
        if (m_daemon == 0) {
            execl(m_tool.c_str(), "vtoken", "serve", "--state", (m_dir + "/state").c_str(), "--socket", socket.c_str(),
                  nullptr);
            _exit(127);
        }
        for (int i = 0; i < 500 && Shell("'" + m_tool + "' list >/dev/null 2>&1") != 0; ++i)
            usleep(10000);
        for (const char* kind : {"bot", "hid"}) {
            Shell("'" + m_tool + "' plug --kind " + kind + " >/dev/null");
            m_devices[kind] = ConnectNewDevice();
        }
    }
    ~Tokens() {
        for (auto& entry : m_devices)
            SKF_DisConnectDev(entry.second);
        Shell("'" + m_tool + "' stop >/dev/null 2>&1");
        waitpid(m_daemon, nullptr, 0);
        Shell("rm -rf '" + m_dir + "'");
    }

    DEVHANDLE Device(const char* kind) { return m_devices[kind]; }

private:
    static int Shell(const std::string& line) { return std::system(line.c_str()); }

    DEVHANDLE ConnectNewDevice() {
        for (int i = 0; i < 1000; ++i) {
            char list[1024] = {};
            ULONG size = sizeof list;
            if (SKF_EnumDev(TRUE, list, &size) == SAR_OK) {
                for (char* name = list; *name != '\0'; name += std::strlen(name) + 1) {
                    if (m_names.count(name) != 0)
                        continue;
                    DEVHANDLE device = nullptr;
                    if (SKF_ConnectDev(name, &device) != SAR_OK)
                        return nullptr;
                    m_names[name] = true;
                    return device;
                }
            }
            usleep(5000);
        }
        return nullptr;
    }

    std::string m_dir;
    std::string m_tool;
    pid_t m_daemon = -1;
    std::map<std::string, DEVHANDLE> m_devices;
    std::map<std::string, bool> m_names;
};

Tokens& Shared() {
    static Tokens tokens;
    return tokens;
}

void EncryptFourKiB(benchmark::State& state, const char* kind, ULONG algId) {
    const DEVHANDLE device = Shared().Device(kind);
    BYTE key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    HANDLE session = nullptr;
    if (device == nullptr || SKF_SetSymmKey(device, key, algId, &session) != SAR_OK) {
        state.SkipWithError("no session key");
        return;
    }
    BLOCKCIPHERPARAM param = {};
    param.IVLen = 16;
    param.PaddingType = 1;
    std::vector<BYTE> plain(4096, 0x5A);
    std::vector<BYTE> cipher(4096 + 16);
    for (auto _ : state) {
        ULONG len = static_cast<ULONG>(cipher.size());
        if (SKF_EncryptInit(session, param) != SAR_OK ||
            SKF_Encrypt(session, plain.data(), static_cast<ULONG>(plain.size()), cipher.data(), &len) != SAR_OK) {
            state.SkipWithError("SKF_Encrypt failed");
            break;
        }
        benchmark::DoNotOptimize(cipher.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(plain.size()));
    SKF_CloseHandle(session);
}

void DigestFourKiB(benchmark::State& state, const char* kind) {
    const DEVHANDLE device = Shared().Device(kind);
    if (device == nullptr) {
        state.SkipWithError("no device");
        return;
    }
    std::vector<BYTE> data(4096, 0xA5);
    BYTE digest[32];
    for (auto _ : state) {
        HANDLE hash = nullptr;
        ULONG len = sizeof digest;
        if (SKF_DigestInit(device, SGD_SM3, nullptr, nullptr, 0, &hash) != SAR_OK ||
            SKF_Digest(hash, data.data(), static_cast<ULONG>(data.size()), digest, &len) != SAR_OK) {
            state.SkipWithError("SKF_Digest failed");
            break;
        }
        SKF_CloseHandle(hash);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_SkfEncrypt4KiB_Sm4Cbc_BulkOnly(benchmark::State& state) {
    EncryptFourKiB(state, "bot", SGD_SM4_CBC);
}
void BM_SkfEncrypt4KiB_Sm4Cbc_Hid(benchmark::State& state) {
    EncryptFourKiB(state, "hid", SGD_SM4_CBC);
}
void BM_SkfDigest4KiB_Sm3_BulkOnly(benchmark::State& state) {
    DigestFourKiB(state, "bot");
}
void BM_SkfDigest4KiB_Sm3_Hid(benchmark::State& state) {
    DigestFourKiB(state, "hid");
}

BENCHMARK(BM_SkfEncrypt4KiB_Sm4Cbc_BulkOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SkfEncrypt4KiB_Sm4Cbc_Hid)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SkfDigest4KiB_Sm3_BulkOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SkfDigest4KiB_Sm3_Hid)->Unit(benchmark::kMicrosecond);

// Starts the program again over the libusb replacement unless that is already the case.
void PreloadTheReplacement(char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::strstr(preload, "vtoken-usb") != nullptr)
        return;
    const std::string library = BinDir() + "/libvtoken-usb.so";
    const std::string value = preload != nullptr && *preload != '\0' ? library + ":" + preload : library;
    setenv("LD_PRELOAD", value.c_str(), 1);
    execv("/proc/self/exe", argv);
}

} // namespace

int main(int argc, char** argv) {
    PreloadTheReplacement(argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
