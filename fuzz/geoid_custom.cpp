// The custom geoid grid: nodes followed by a 40-byte geometry trailer, then queries.
#include "geoid/geoid_models.h"
#include "geoid_queries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256 * 1024) return 0;
    const std::filesystem::path& dir = fuzz::FreshScratch();
    ts::TConversionOptions s;
    s.GeoidModel = 4;
    s.CustomGeoidFName = "grid.cdat";
    s.GeoidFolder = dir.string() + "/";
    fuzz::WriteBytes(dir / s.CustomGeoidFName, data, size);

    fuzz::QuietHost host;
    ts::GeoidModels models(host, s);
    models.SelectGeoidModel();
    if (s.GeoidModel == 4 && models.Grid().IsOpen())
        for (auto [lat, lon] :
             fuzz::GeoidQueryPoints(models.Grid(), fuzz::Hash({reinterpret_cast<const char*>(data), size})))
            fuzz::CheckGeoidAnswer(models.GeoidHeight(lat, lon), lat, lon);
    return 0;
}
