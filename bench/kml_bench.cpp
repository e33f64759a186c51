// Writing KML from a point stream of one million epochs held in memory (the reference workload
// without its reading), with the default KML settings and with the 3D view's second pass.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "context.h"
#include "date_time.h"
#include "writers.h"

namespace {

void Fill(ts::EngineContext& ctx, int n) {
    ctx.points.Clear();
    ctx.points.Reserve(static_cast<size_t>(n));
    const double t0 = ts::EncodeDate(2024, 3, 16) + ts::EncodeTime(9, 0, 0, 0);
    double lat = 35.6, lon = 139.7;
    for (int i = 0; i < n; ++i) {
        ts::TLogData p;
        p.Time = t0 + i * ts::kOneSecond;
        lat += 0.00005 * std::sin(i * 0.001);
        lon += 0.00005 * std::cos(i * 0.0013);
        p.Lat = lat;
        p.Lon = lon;
        p.Alt = 50 + 20 * std::sin(i * 0.01);
        p.Speed = 5 + 30 * (1 + std::sin(i * 0.0007));
        p.Hdop10 = 9;
        p.Sats = 8;
        ctx.points.Append(p);
    }
    ctx.blocks.Clear();
    ts::TrackBlock& b = ctx.blocks.Open(0, t0);
    b.Last = n - 1;
    b.EndTime = ctx.points.At(n - 1).Time;
    b.Output = true;
    b.RangeLast = b.Last;
    b.RangeEnd = b.EndTime;
}

void RunKml(benchmark::State& state, bool view3d) {
    ts::RecordingHost host;
    ts::EngineContext ctx(host);
    ctx.opt.Mode3D = view3d;
    ts::DeriveOptions(ctx.opt);
    Fill(ctx, static_cast<int>(state.range(0)));
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
