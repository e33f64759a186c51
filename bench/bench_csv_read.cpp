// Reading a synthetic CSV logger log of one million rows through the CSV log reader (the output
// stage is not part of this measure). Counts heap allocations, which must not grow with the rows.
//   bench_csv_read [--log=FILE] [benchmark flags]
// Without --log the log is generated once into the temporary folder.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "core/context.h"
#include "core/host.h"
#include "readers/convert.h"
#include "readers/csv_reader.h"

namespace {
std::atomic<long long> g_allocs{0};
}  // namespace

// The replacement pair below is matched; GCC cannot see that across the replaced operators.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
    ++g_allocs;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

std::string g_log;
constexpr long long kRows = 1000000;

bool Generate(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fputs("INDEX,RCR,DATE,TIME,VALID,LATITUDE,N/S,LONGITUDE,E/W,HEIGHT,SPEED,HDOP,NSAT (USED/VIEW),\r\n", f);
    for (long long i = 0; i < kRows; ++i) {
        const long long s = 8 * 3600 + i;  // one row a second from 08:00
        std::fprintf(
            f, "%lld,T,2024/03/%02lld,%02lld:%02lld:%02lld.%03lld,SPS,%.6f,N,%.6f,E,%.1f,%.1f,%.1f,%lld(%lld),\r\n",
            i + 1, 1 + s / 86400 % 28, s / 3600 % 24, s / 60 % 60, s % 60, i % 1000, 48.1 + (i % 5000) * 1e-5,
            11.5 + (i % 7000) * 1e-5, 500.0 + i % 100, 10.0 + i % 20, 0.8 + (i % 10) * 0.1, 4 + i % 8, 12 + i % 4);
    }
    return std::fclose(f) == 0;
}

void BM_ReadCsvLog(benchmark::State& state) {
    int32_t points = 0;
    long long allocs = 0;
    for (auto _ : state) {
        ts::RecordingHost host;
        ts::EngineContext ctx(host);
        ctx.opt.KMZout = false;
        ts::DeriveOptions(ctx.opt);
        ctx.inputKind = ts::ikCsv;
        ctx.keepPoints = true;
        const long long before = g_allocs.load();
        const int32_t r = ts::ReadCsvLogFile(ctx, g_log);
        allocs = g_allocs.load() - before;
        points = ctx.points.Count();
        benchmark::DoNotOptimize(r);
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["points"] = points;
    state.counters["allocations"] = static_cast<double>(allocs);
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_rss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_ReadCsvLog)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--log=", 0) == 0) g_log = a.substr(6);
    }
    if (g_log.empty()) {
        g_log = (std::filesystem::temp_directory_path() / "trailsmith_bench_1m.csv").string();
        if (!std::filesystem::exists(g_log) && !Generate(g_log)) return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
