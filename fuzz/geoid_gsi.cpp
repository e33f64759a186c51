// The GSI text grid: converted to its binary cache on the first selection, read from the cache on
// the second; both must answer the same heights. The first byte: bit 0 spline interpolation, bit 1
// the grid sizes the settings file holds follow (rows, columns, nlat, nlon), else the defaults; bit 2
// the rest is a cache left by an earlier run instead of the text.
#include <cmath>
#include <cstring>

#include "geoid/geoid_models.h"
#include "geoid_queries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 64 * 1024) return 0;
    const std::filesystem::path& dir = fuzz::FreshScratch();
    fuzz::Input in(data, size);
    ts::TConversionOptions s;
    const uint8_t flags = in.Byte();
    s.GeoidModel = 3;
    s.Spline = flags & 1;
    if (flags & 2)
        for (int32_t* v : {&s.Gsi2000.nrows, &s.Gsi2000.ncols, &s.Gsi2000.nlat, &s.Gsi2000.nlon})
            *v = int32_t(in.U32());
    s.GeoidFolder = dir.string() + "/";
    fuzz::WriteBytes(dir / (s.Gsi2000.fname + (flags & 4 ? ".dat" : "")), in.Rest().data(), in.Rest().size());

    fuzz::QuietHost host;
    std::vector<double> first;
    std::vector<std::pair<double, double>> points;
    for (int round = 0; round < 2; ++round) {
        ts::GeoidModels models(host, s);
        models.SelectGeoidModel();
        if (round == 0 && s.GeoidModel == 3) {
            // The cache alone must do next time.
            std::filesystem::remove(dir / s.Gsi2000.fname);
            points = fuzz::GeoidQueryPoints(models.Grid(), fuzz::Hash({reinterpret_cast<const char*>(data), size}));
        }
        if (s.GeoidModel != 3) break;
        for (size_t i = 0; i < points.size(); ++i) {
            const double n = models.GeoidHeight(points[i].first, points[i].second);
            fuzz::CheckGeoidAnswer(n, points[i].first, points[i].second);
            if (round == 0) first.push_back(n);
            else
                fuzz::Check(std::memcmp(&n, &first[i], sizeof n) == 0 || (std::isnan(n) && std::isnan(first[i])),
                            "the cache answers otherwise than the text grid");
        }
    }
    return 0;
}
