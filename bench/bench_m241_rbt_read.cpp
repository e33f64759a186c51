// Reading the two logger formats built here: one million 20-byte M-241 records (20 MB) and
// 200 000 RBT-3000 records (about 47 MB), generated once into the temporary folder. The output
// stage is not part of this measure.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/context.h"
#include "core/host.h"
#include "readers/convert.h"
#include "readers/m241_reader.h"
#include "readers/rbt3000_reader.h"

namespace {

constexpr int kM241Records = 1000000;
constexpr int kRbtRecords = 200000;

void PutU32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

std::string MakeM241Log() {
    const std::string path = (std::filesystem::temp_directory_path() / "trailsmith_bench_1m.trl").string();
    if (std::filesystem::exists(path)) return path;
    std::ofstream out(path, std::ios::binary);
    std::string rec;
    for (int i = 0; i < kM241Records; ++i) {
        rec.clear();
        PutU32(rec, 1210000000u + static_cast<uint32_t>(i));
        PutU32(rec, std::bit_cast<uint32_t>(35.5f + static_cast<float>(i % 1000) * 1e-4f));
        PutU32(rec, std::bit_cast<uint32_t>(139.5f));
        const uint32_t alt = std::bit_cast<uint32_t>(100.0f);
        for (int k = 1; k < 4; ++k) rec.push_back(static_cast<char>(alt >> (8 * k)));
        PutU32(rec, std::bit_cast<uint32_t>(36.0f));
        char x = 0;
        for (char c : rec) x ^= c;
        rec.push_back(x);
        out << rec;
    }
    return path;
}

std::string MakeRbtLog() {
    const std::string path = (std::filesystem::temp_directory_path() / "trailsmith_bench_200k_rbt.txt").string();
    if (std::filesystem::exists(path)) return path;
    std::ofstream out(path, std::ios::binary);
    out << "DataLogs: " << kRbtRecords << "\r\n\r\n";
    char b[512];
    for (int i = 0; i < kRbtRecords; ++i) {
        const int s = i % 86400;
        std::snprintf(b, sizeof b,
                      "Record: %d\r\nEvent Type: Log\r\nYear: 2008\r\nMonth: 5\r\nDay: %d\r\nHour: %d\r\n"
                      "Minute: %d\r\nSecond: %d\r\nLatitude: %.6f\r\nLongitude: 139.500000\r\nAltitude: 12.5\r\n"
                      "PDOP: 2.1\r\nHDOP: 1.2\r\nSatellite No: 7\r\nSpeed(kms/hr): 36.0\r\nDirection: 120\r\n\r\n",
                      i + 1, 1 + i / 86400, s / 3600, s / 60 % 60, s % 60, 35.5 + (i % 1000) * 1e-4);
        out << b;
    }
    return path;
}

template <int32_t (*Reader)(ts::EngineContext&, const std::string&)>
void ReadLog(benchmark::State& state, const std::string& path, int kind, int records) {
    int32_t points = 0;
    for (auto _ : state) {
        ts::RecordingHost host;
        ts::EngineContext ctx(host);
        ctx.opt.KMZout = false;
        ts::DeriveOptions(ctx.opt);
        ctx.inputKind = kind;
        ctx.keepPoints = true;
        benchmark::DoNotOptimize(Reader(ctx, path));
        points = ctx.points.Count();
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["points"] = points;
    state.counters["records_per_s"] =
        benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_rss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void BM_ReadM241Log(benchmark::State& state) {
    ReadLog<ts::ReadM241File>(state, MakeM241Log(), ts::ikM241, kM241Records);
}
void BM_ReadRbt3000Log(benchmark::State& state) {
    ReadLog<ts::ReadRbt3000File>(state, MakeRbtLog(), ts::ikRbt3000, kRbtRecords);
}
BENCHMARK(BM_ReadM241Log)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReadRbt3000Log)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
