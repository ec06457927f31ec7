// SKF_Encrypt of 4 KiB with an SM4 session key and SKF_Digest of 4 KiB with SM3, through the whole
// library to a virtual token, on each framing. No goal: the numbers show what the pieces of at most
// 2016 (cipher) and 2000 (digest) bytes cost over one round trip each.
//
// The program runs over the libusb replacement: when it is not preloaded yet, the program starts
// itself again with it preloaded.

#include "bench/bench_vtoken.h"
#include "keycore/skf.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// One token of each framing on a daemon of this process.
class Tokens {
public:
    Tokens() {
        for (const char* kind : {"bot", "hid"}) {
            m_daemon.Plug(kind);
            m_devices[kind] = ConnectNewDevice();
        }
    }
    ~Tokens() {
        for (auto& entry : m_devices)
            SKF_DisConnectDev(entry.second);
    }

    DEVHANDLE Device(const char* kind) { return m_devices[kind]; }

private:
    DEVHANDLE ConnectNewDevice() {
        std::string name = bench_vtoken::NewDeviceName(m_names);
        DEVHANDLE device = nullptr;
        if (name.empty() || SKF_ConnectDev(&name[0], &device) != SAR_OK)
            return nullptr;
        m_names.push_back(name);
        return device;
    }

    bench_vtoken::Daemon m_daemon{"/tmp/skf-cipher-bench.XXXXXX"};
    std::map<std::string, DEVHANDLE> m_devices;
    std::vector<std::string> m_names;
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
    const std::string library = bench_vtoken::BinDir() + "/libvtoken-usb.so";
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
