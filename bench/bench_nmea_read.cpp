// Reading the reference workload: a synthetic NMEA log of one million GGA+RMC epochs, through the
// NMEA reader's check and read passes (the output stage is not part of this measure).
//   bench_nmea_read [--log=FILE] [benchmark flags]
// Without --log the log is generated once into the temporary folder.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/context.h"
#include "core/host.h"
#include "readers/convert.h"
#include "readers/nmea_reader.h"

namespace {

std::string g_log;
constexpr long long kEpochs = 1000000;

void BM_ReadNmeaLog(benchmark::State& state) {
    int32_t points = 0;
    for (auto _ : state) {
        ts::RecordingHost host;
        ts::EngineContext ctx(host);
        ctx.opt.KMZout = false;  // reading only: nothing is written
        ts::DeriveOptions(ctx.opt);
        ctx.inputKind = ts::ikNmea;
        ctx.keepPoints = true;
        const int32_t r = ts::ReadNmeaFile(ctx, g_log);
        points = ctx.points.Count();
        benchmark::DoNotOptimize(r);
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["points"] = points;
    state.counters["epochs_per_s"] =
        benchmark::Counter(static_cast<double>(kEpochs), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_rss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_ReadNmeaLog)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The same on the calling thread alone, the road of logs below the threaded road's size.
void BM_ReadNmeaLogSingleThread(benchmark::State& state) {
    const ts::NmeaThreading saved = ts::NmeaReadThreading();
    ts::NmeaReadThreading().minFileBytes = UINT64_MAX;
    BM_ReadNmeaLog(state);
    ts::NmeaReadThreading() = saved;
}
BENCHMARK(BM_ReadNmeaLogSingleThread)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--log=", 0) == 0) g_log = a.substr(6);
    }
    if (g_log.empty()) {
        g_log = (std::filesystem::temp_directory_path() / "trailsmith_bench_1m.nmea").string();
        if (!std::filesystem::exists(g_log)) {
            const std::string cmd = std::string(GEN_NMEA) + " " + g_log + " " + std::to_string(kEpochs);
            if (std::system(cmd.c_str()) != 0) return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
