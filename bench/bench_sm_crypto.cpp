// SM3 and SM4 of the library against OpenSSL's EVP on the same inputs. After the usual table a
// summary prints the CPU-time ratio library/OpenSSL for each pair (below 1.0: the library is
// faster). On a shared machine run with repetitions and random interleaving, e.g.
//   bench_sm_crypto --benchmark_repetitions=8 --benchmark_enable_random_interleaving=true
//                   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "crypto/sm3.h"
#include "crypto/sm4.h"
#include "crypto/sm4_helpers.h"

namespace {

std::vector<unsigned char> Input(size_t len) {
    std::vector<unsigned char> data(len);
    for (size_t i = 0; i < len; ++i)
        data[i] = static_cast<unsigned char>(i * 31 + 7);
    return data;
}

const unsigned char kKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
const unsigned char kIv[16] = {0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78,
                               0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};

void SetBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// SM3 --------------------------------------------------------------------------------------------

void BM_Sm3_Library(benchmark::State& state) {
    auto data = Input(static_cast<size_t>(state.range(0)));
    unsigned char digest[SM3_DIGEST_SIZE];
    for (auto _ : state) {
        sm3(data.data(), data.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    SetBytes(state);
}

void BM_Sm3_OpenSsl(benchmark::State& state) {
    auto data = Input(static_cast<size_t>(state.range(0)));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_MD* md = EVP_MD_fetch(nullptr, "SM3", nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, data.data(), data.size());
        EVP_DigestFinal_ex(ctx, digest, &len);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
    SetBytes(state);
}

// SM4 with the key schedule prepared once ---------------------------------------------------------

void BM_Sm4Ecb_Library(benchmark::State& state) {
    auto data = Input(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(data.size());
    sm4_context ctx;
    sm4_setkey_enc(&ctx, kKey);
    for (auto _ : state) {
        sm4_crypt_ecb_blocks(&ctx, data.size() / SM4_BLOCK_SIZE, data.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state);
}

void BM_Sm4Cbc_Library(benchmark::State& state) {
    auto data = Input(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(data.size());
    sm4_context ctx;
    sm4_setkey_enc(&ctx, kKey);
    for (auto _ : state) {
        unsigned char iv[16];
        std::copy(kIv, kIv + 16, iv);
        sm4_crypt_cbc(&ctx, SM4_ENCRYPT, data.size(), iv, data.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state);
}

void BM_Sm4CbcDecrypt_Library(benchmark::State& state) {
    auto data = Input(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(data.size());
    sm4_context ctx;
    sm4_setkey_dec(&ctx, kKey);
    for (auto _ : state) {
        unsigned char iv[16];
        std::copy(kIv, kIv + 16, iv);
        sm4_crypt_cbc(&ctx, SM4_DECRYPT, data.size(), iv, data.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state);
}

// The EVP context is initialised with the key once; each iteration only resets the IV.
void RunOpenSslCipher(benchmark::State& state, const char* name, int encrypt) {
    auto data = Input(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(data.size() + 16);
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, cipher, nullptr, kKey, kIv, encrypt);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    int len = 0;
    for (auto _ : state) {
        EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, kIv, -1);
        EVP_CipherUpdate(ctx, out.data(), &len, data.data(), static_cast<int>(data.size()));
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    SetBytes(state);
}

void BM_Sm4Ecb_OpenSsl(benchmark::State& state) {
    RunOpenSslCipher(state, "SM4-ECB", 1);
}

void BM_Sm4Cbc_OpenSsl(benchmark::State& state) {
    RunOpenSslCipher(state, "SM4-CBC", 1);
}

void BM_Sm4CbcDecrypt_OpenSsl(benchmark::State& state) {
    RunOpenSslCipher(state, "SM4-CBC", 0);
}

// SM4 with a fresh key every call, the way PIN blocks are protected ---------------------------------

void BM_Sm4CbcWithKey_Library(benchmark::State& state) {
    auto data = Input(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(data.size());
    for (auto _ : state) {
        SM4CbcCrypt(kKey, kIv, data.data(), data.size(), out.data(), true);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state);
}

void BM_Sm4CbcWithKey_OpenSsl(benchmark::State& state) {
    auto data = Input(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(data.size() + 16);
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "SM4-CBC", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    for (auto _ : state) {
        EVP_CipherInit_ex(ctx, cipher, nullptr, kKey, kIv, 1);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_CipherUpdate(ctx, out.data(), &len, data.data(), static_cast<int>(data.size()));
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    SetBytes(state);
}

#define SM_BENCH(fn) BENCHMARK(fn)->Arg(16)->Arg(8192)
SM_BENCH(BM_Sm3_Library);
SM_BENCH(BM_Sm3_OpenSsl);
SM_BENCH(BM_Sm4Ecb_Library);
SM_BENCH(BM_Sm4Ecb_OpenSsl);
SM_BENCH(BM_Sm4Cbc_Library);
SM_BENCH(BM_Sm4Cbc_OpenSsl);
SM_BENCH(BM_Sm4CbcDecrypt_Library);
SM_BENCH(BM_Sm4CbcDecrypt_OpenSsl);
SM_BENCH(BM_Sm4CbcWithKey_Library);
SM_BENCH(BM_Sm4CbcWithKey_OpenSsl);
#undef SM_BENCH

// Prints the console table as usual, then library/OpenSSL for every pair of runs whose names
// differ only in "_Library" / "_OpenSsl".
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            // Of the aggregates of repeated runs only the median is compared.
            if (run.error_occurred || (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median"))
                continue;
            m_cpuTimes[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-40s %12s %12s %8s\n", "library vs OpenSSL", "library", "OpenSSL", "ratio");
        const std::string libraryTag = "_Library";
        for (const auto& [name, libraryTime] : m_cpuTimes) {
            size_t at = name.find(libraryTag);
            if (at == std::string::npos)
                continue;
            std::string peer = name;
            peer.replace(at, libraryTag.size(), "_OpenSsl");
            auto found = m_cpuTimes.find(peer);
            if (found == m_cpuTimes.end() || found->second <= 0)
                continue;
            std::string label = name;
            label.erase(at, libraryTag.size());
            std::printf("%-40s %12.1f %12.1f %8.2f\n", label.c_str(), libraryTime, found->second,
                        libraryTime / found->second);
        }
        std::fflush(stdout);
    }

private:
    std::map<std::string, double> m_cpuTimes;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
