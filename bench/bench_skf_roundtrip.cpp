// What the SKF layer adds to a token round trip: SKF_GenRandom of 8 bytes through the whole library
// (handle lookup, slot lookup, slot lock, token object, framing) against the same command sent by hand
// through the libusb replacement to the same virtual token, on each framing; and SKF_VerifyPIN.
// Goal: the library adds at most 10% to the raw round trip (compare the medians).

#include "bench/bench_raw_exchange.h"
#include "bench/bench_vtoken.h"
#include "keycore/skf.h"
#include "skf/skf_frame.h"

#include <benchmark/benchmark.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <usb.h>
#include <vector>

namespace {

// A vtoken daemon of this process with two tokens of each framing, one driven through the library by
// its device name, one driven by hand by its device path.
class Bench {
public:
    struct Token {
        std::string path;
        std::string devName;
    };

    Bench() {
        for (const char* kind : {"bot", "hid"}) {
            Token token;
            token.path = m_daemon.Plug(kind);
            token.devName = WaitForNewDevice();
            m_tokens[kind] = token;
            // The raw exchanges get a token of their own under USB ids the library does not serve,
            // so that no second opener shares its framing state.
            Token raw;
            raw.path = m_daemon.Plug(kind, " --vendor 0x1234");
            m_tokens[std::string("raw-") + kind] = raw;
        }
    }
    ~Bench() {
        for (auto& entry : m_handles)
            SKF_DisConnectDev(entry.second);
    }

    const Token& Get(const char* kind) { return m_tokens[kind]; }

    DEVHANDLE Connect(const char* kind) {
        auto found = m_handles.find(kind);
        if (found != m_handles.end())
            return found->second;
        DEVHANDLE device = nullptr;
        std::string name = m_tokens[kind].devName;
        if (name.empty() || SKF_ConnectDev(&name[0], &device) != SAR_OK)
            return nullptr;
        return m_handles[kind] = device;
    }

private:
    // The device name the library lists that no earlier token has.
    std::string WaitForNewDevice() {
        std::vector<std::string> known;
        for (const auto& entry : m_tokens)
            known.push_back(entry.second.devName);
        return bench_vtoken::NewDeviceName(known);
    }

    bench_vtoken::Daemon m_daemon{"/tmp/skf-bench.XXXXXX"};
    std::map<std::string, Token> m_tokens;
    std::map<std::string, DEVHANDLE> m_handles;
};

Bench& Shared() {
    static Bench bench;
    return bench;
}

void RawGenRandom(benchmark::State& state, const char* kind, bool (*exchange)(usb_dev_handle*)) {
    usb_dev_handle* h = bench_raw::OpenPath(Shared().Get((std::string("raw-") + kind).c_str()).path);
    if (h == nullptr) {
        state.SkipWithError("no token");
        return;
    }
    // Start from clear endpoints, as a host does after opening a device.
    usb_clear_halt(h, 0x02);
    usb_clear_halt(h, 0x81);
    for (auto _ : state) {
        if (!exchange(h)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    usb_close(h);
}

void LibraryGenRandom(benchmark::State& state, const char* kind) {
    const DEVHANDLE device = Shared().Connect(kind);
    if (device == nullptr) {
        state.SkipWithError("no device handle");
        return;
    }
    BYTE random[8];
    for (auto _ : state) {
        if (SKF_GenRandom(device, random, sizeof random) != SAR_OK) {
            state.SkipWithError("SKF_GenRandom failed");
            break;
        }
        benchmark::DoNotOptimize(random);
    }
}

void LibraryVerifyPin(benchmark::State& state, const char* kind) {
    const DEVHANDLE device = Shared().Connect(kind);
    char appName[] = "KEYCORE-APP";
    HAPPLICATION application = nullptr;
    if (device == nullptr || SKF_OpenApplication(device, appName, &application) != SAR_OK) {
        state.SkipWithError("no application");
        return;
    }
    char pin[] = "12345678";
    for (auto _ : state) {
        ULONG retries = 0;
        if (SKF_VerifyPIN(application, USER_TYPE, pin, &retries) != SAR_OK) {
            state.SkipWithError("SKF_VerifyPIN failed");
            break;
        }
    }
    SKF_CloseApplication(application);
}

// Where the library's share goes: the handle and device-name lookup alone, and the whole slot bracket
// (lookup, slot lock with the token's device lock, release) around no token traffic.
void FrameOnly(benchmark::State& state, bool withSlotLock) {
    const DEVHANDLE device = Shared().Connect("hid");
    if (device == nullptr) {
        state.SkipWithError("no device handle");
        return;
    }
    for (auto _ : state) {
        ULONG result = SAR_OK;
        if (withSlotLock) {
            result = keycore::WithHandleSlot(device, SAR_INVALIDHANDLEERR,
                                             [](keycore::SkfSlotUse&) -> ULONG { return SAR_OK; });
        } else {
            const auto handle = keycore::GMHandles::Table().Find(device);
            result = handle && keycore::FindSlotByDevName(handle->m_devName) ? SAR_OK : SAR_FAIL;
        }
        if (result != SAR_OK) {
            state.SkipWithError("frame failed");
            break;
        }
    }
}

void BM_FrameLookup(benchmark::State& state) {
    FrameOnly(state, false);
}
void BM_FrameSlotBracket(benchmark::State& state) {
    FrameOnly(state, true);
}
void BM_RawGenRandom8_BulkOnly(benchmark::State& state) {
    RawGenRandom(state, "bot", bench_raw::BulkOnlyGenRandom);
}
void BM_SkfGenRandom8_BulkOnly(benchmark::State& state) {
    LibraryGenRandom(state, "bot");
}
void BM_RawGenRandom8_Hid(benchmark::State& state) {
    RawGenRandom(state, "hid", bench_raw::HidGenRandom);
}
void BM_SkfGenRandom8_Hid(benchmark::State& state) {
    LibraryGenRandom(state, "hid");
}
void BM_SkfVerifyPIN_BulkOnly(benchmark::State& state) {
    LibraryVerifyPin(state, "bot");
}
void BM_SkfVerifyPIN_Hid(benchmark::State& state) {
    LibraryVerifyPin(state, "hid");
}

#define KEYCORE_SKF_BENCH(name)                                                                                        \
    BENCHMARK(name)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true)
KEYCORE_SKF_BENCH(BM_RawGenRandom8_BulkOnly);
KEYCORE_SKF_BENCH(BM_SkfGenRandom8_BulkOnly);
KEYCORE_SKF_BENCH(BM_RawGenRandom8_Hid);
KEYCORE_SKF_BENCH(BM_SkfGenRandom8_Hid);
KEYCORE_SKF_BENCH(BM_SkfVerifyPIN_BulkOnly);
KEYCORE_SKF_BENCH(BM_SkfVerifyPIN_Hid);
KEYCORE_SKF_BENCH(BM_FrameLookup);
KEYCORE_SKF_BENCH(BM_FrameSlotBracket);

} // namespace

BENCHMARK_MAIN();
