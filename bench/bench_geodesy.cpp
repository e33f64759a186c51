// Cost of the per-point numeric routines that every reader and writer calls.
#include <benchmark/benchmark.h>

#include "core/geodesy.h"

static void BM_GeoDistanceShortStep(benchmark::State& state) {
    double lat = 35.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ts::GeoDistance(lat, 139.0, lat + 1e-5, 139.00001));
        lat += 1e-9;
    }
}
BENCHMARK(BM_GeoDistanceShortStep);

static void BM_GeoDistanceLongLine(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ts::GeoDistance(35.0, 139.0, -33.9, 151.2));
}
BENCHMARK(BM_GeoDistanceLongLine);

BENCHMARK_MAIN();
