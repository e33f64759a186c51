// Writing KML from a point stream of one million epochs held in memory (the reference workload
// without its reading), with the default KML settings and with the 3D view's second pass.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "bench_track.h"
#include "output/writers.h"

namespace {

void RunKml(benchmark::State& state, bool view3d) {
    ts::RecordingHost host;
    ts::EngineContext ctx(host);
    ctx.opt.Mode3D = view3d;
    ts::DeriveOptions(ctx.opt);
    ts::bench::FillTrack(ctx, static_cast<int>(state.range(0)));
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "ts_kml_bench";
    std::filesystem::create_directories(dir);
    for (auto _ : state) {
        ctx.outputNames.clear();
        benchmark::DoNotOptimize(ts::WriteKml(ctx, dir.string() + "/", false));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    std::filesystem::remove_all(dir);
}

void BM_WriteKml(benchmark::State& state) { RunKml(state, false); }
void BM_WriteKml3D(benchmark::State& state) { RunKml(state, true); }

BENCHMARK(BM_WriteKml)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteKml3D)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
