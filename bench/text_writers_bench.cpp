// The NMEA, GPX and CSV writers over one million epochs held in memory, and the whole conversion of
// an NMEA log to GPX (the log named by TS_BENCH_NMEA, made by gen_nmea; see gpx_vs_gpsbabel.sh),
// written beside the log.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "bench_track.h"
#include "output/writers.h"
#include "readers/convert.h"

namespace {

std::filesystem::path ScratchFolder() {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "ts_text_writers_bench";
    std::filesystem::create_directories(dir);
    return dir;
}

template <int32_t (*Write)(ts::EngineContext&, const std::string&)>
void RunWriter(benchmark::State& state) {
    ts::RecordingHost host;
    ts::EngineContext ctx(host);
    ts::DeriveOptions(ctx.opt);
    ts::bench::FillTrack(ctx, static_cast<int>(state.range(0)));
    const std::filesystem::path dir = ScratchFolder();
    for (auto _ : state) {
        ctx.outputNames.clear();
        benchmark::DoNotOptimize(Write(ctx, dir.string() + "/"));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    std::filesystem::remove_all(dir);
}

int32_t Nmea(ts::EngineContext& c, const std::string& f) { return ts::WriteNmeaFiles(c, f, f + "in.log"); }
int32_t Gpx(ts::EngineContext& c, const std::string& f) { return ts::WriteGpx(c, f); }
int32_t Csv(ts::EngineContext& c, const std::string& f) { return ts::WriteCsv(c, f, f + "in.log"); }

BENCHMARK(RunWriter<Nmea>)->Name("BM_WriteNmea")->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(RunWriter<Gpx>)->Name("BM_WriteGpx")->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(RunWriter<Csv>)->Name("BM_WriteCsv")->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_ConvertNmeaToGpx(benchmark::State& state) {
    const char* log = std::getenv("TS_BENCH_NMEA");
    if (!log || !std::filesystem::exists(log)) {
        state.SkipWithError("TS_BENCH_NMEA does not name an NMEA log");
        return;
    }
    if (!ts::ReaderForKind(ts::ikNmea)) {
        state.SkipWithError("no NMEA reader registered");
        return;
    }
    // The GPX files go into the log's folder.
    ts::RecordingHost host;
    ts::EngineContext ctx(host);
    ctx.opt.KMZout = false;
    ctx.opt.GPXout = true;
    for (auto _ : state) ts::ConvertFile(ctx, log);
    state.counters["files"] = host.filesMade;
}
BENCHMARK(BM_ConvertNmeaToGpx)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
