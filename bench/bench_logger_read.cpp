// Reading one million records of the binary Wintec logs (".tks" and ".TES"), through the readers'
// single pass (the output stage is not part of this measure). The logs are generated once into
// the temporary folder.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/context.h"
#include "core/host.h"
#include "readers/tks_reader.h"
#include "readers/wintec_reader.h"

namespace {

constexpr int kRecords = 1000000;

void Put(std::FILE* f, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) std::fputc(static_cast<int>(v >> (8 * i) & 0xFF), f);
}

// A track wandering around 48 N 11 E, one record a second, a new track every 10000 records.
std::string MakeLog(bool tes) {
    const std::string path =
        (std::filesystem::temp_directory_path() / (tes ? "trailsmith_bench_1m.TES" : "trailsmith_bench_1m.tks"))
            .string();
    if (std::filesystem::exists(path)) return path;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return path;
    for (int i = 0; i < kRecords; ++i) {
        const int day = 1 + i / 86400 % 28, s = i % 86400;
        const uint32_t t =
            static_cast<uint32_t>(s % 60 | (s / 60 % 60) << 6 | (s / 3600) << 12 | day << 17 | 5 << 22 | 24 << 26);
        int32_t lat = static_cast<int32_t>(480000000 + 100000 * std::sin(i * 1e-3));
        const int32_t lon = static_cast<int32_t>(110000000 + 100000 * std::cos(i * 1.3e-3));
        const bool start = i % 10000 == 0;
        if (tes) {
            Put(f, start ? 1 : 0, 2);
            Put(f, t, 4);
            Put(f, static_cast<uint32_t>(lat), 4);
            Put(f, static_cast<uint32_t>(lon), 4);
            Put(f, static_cast<uint32_t>(500 + i % 50), 2);
        } else {
            if (start) lat += 1000000000;
            Put(f, t, 4);
            Put(f, static_cast<uint32_t>(lat), 4);
            Put(f, static_cast<uint32_t>(lon), 4);
            Put(f, static_cast<uint32_t>(5000 + i % 500), 4);
        }
    }
    std::fclose(f);
    return path;
}

template <bool kTes>
void BM_ReadLoggerLog(benchmark::State& state) {
    const std::string log = MakeLog(kTes);
    int32_t points = 0;
    for (auto _ : state) {
        ts::RecordingHost host;
        ts::EngineContext ctx(host);
        ctx.opt.KMZout = false;  // no output type: nothing is written beside the log
        ts::DeriveOptions(ctx.opt);
        ctx.keepPoints = true;
        const int32_t r = kTes ? ts::ReadWintecLogFile(ctx, log) : ts::ReadTksFile(ctx, log);
        points = ctx.points.Count();
        benchmark::DoNotOptimize(r);
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["points"] = points;
    state.counters["records_per_s"] = benchmark::Counter(kRecords, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_rss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_ReadLoggerLog<false>)->Name("BM_ReadTksLog")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReadLoggerLog<true>)->Name("BM_ReadTesLog")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
