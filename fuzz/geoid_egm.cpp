// The EGM grid loader: the grid parameters as the settings file gives them (the first 48 bytes),
// then the grid file, then queries.
#include <cstring>

#include "geoid/geoid_models.h"
#include "geoid_queries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 48 || size > 256 * 1024) return 0;
    fuzz::Input in(data, size);
    ts::TConversionOptions s;
    ts::GeoidGridParams& p = in.Byte() & 1 ? s.Egm2008_10 : s.Egm2008_25;
    s.GeoidModel = &p == &s.Egm2008_25 ? 1 : 2;
    p.fname = "egm.grid";
    p.nrows = int32_t(in.U32());
    p.ncols = int32_t(in.U32());
    p.nlat = int32_t(in.U32());
    p.nlon = int32_t(in.U32());
    p.PrePad = int32_t(in.Byte() % 3) - 1;
    for (double* d : {&p.glamn, &p.glomn, &p.dgla, &p.dglo}) {
        uint64_t bits = uint64_t(in.U32()) | uint64_t(in.U32()) << 32;
        std::memcpy(d, &bits, sizeof *d);
    }
    const std::filesystem::path& dir = fuzz::FreshScratch();
    fuzz::WriteBytes(dir / p.fname, in.Rest().data(), in.Rest().size());
    s.GeoidFolder = dir.string() + "/";

    fuzz::QuietHost host;
    ts::GeoidModels models(host, s);
    models.SelectGeoidModel();
    if (s.GeoidModel != 0 && models.Grid().IsOpen())
        for (auto [lat, lon] : fuzz::GeoidQueryPoints(models.Grid(), fuzz::Hash(in.Rest())))
            fuzz::CheckGeoidAnswer(models.GeoidHeight(lat, lon), lat, lon);
    return 0;
}
