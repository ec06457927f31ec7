// One 8-byte GenRandom round trip through libvtoken-usb.so and a private vtoken daemon, over each
// framing. Goal: a median of at most 100 µs per round trip.

#include "bench/bench_raw_exchange.h"
#include "bench/bench_vtoken.h"

#include <benchmark/benchmark.h>

#include <string>
#include <usb.h>

namespace {

bench_vtoken::Daemon& Daemon() {
    static bench_vtoken::Daemon daemon("/tmp/vtoken-bench.XXXXXX");
    return daemon;
}

void RoundTrip(benchmark::State& state, const char* kind, bool (*exchange)(usb_dev_handle*)) {
    usb_init();
    usb_dev_handle* h = bench_raw::OpenPath(Daemon().Plug(kind));
    if (!h) {
        state.SkipWithError("no token");
        return;
    }
    for (auto _ : state) {
        if (!exchange(h)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    usb_close(h);
}

void BM_GenRandom8_BulkOnly(benchmark::State& state) {
    RoundTrip(state, "bot", bench_raw::BulkOnlyGenRandom);
}
void BM_GenRandom8_Hid(benchmark::State& state) {
    RoundTrip(state, "hid", bench_raw::HidGenRandom);
}

BENCHMARK(BM_GenRandom8_BulkOnly)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_GenRandom8_Hid)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
