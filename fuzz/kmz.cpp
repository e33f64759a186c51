// KMZ packing of what the NMEA reader accepts, one block, read back by the project's archive
// reader. Some inputs (by their hash) pack external icons and a logo whose names hold wildcard
// characters, next to files those names would match as masks: only the named files may go in.
#include "log_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint64_t pick = fuzz::Hash({reinterpret_cast<const char*>(data), size});
    std::set<std::string> pictures;
    auto tune = [&](ts::TConversionOptions& o, const std::filesystem::path& dir) {
        const std::filesystem::path pics = dir / "pics";
        std::filesystem::create_directory(pics);
        for (const char* decoy : {"icon-a.png", "icon-b.png", "logo1.png", "logo[1].png.bak"})
            fuzz::WriteBytes(pics / decoy, decoy, 4);
        if (pick & 1) {
            o.IconSource = 1;
            for (size_t k = 0; k < o.ExtIconFile.size(); ++k) {
                const std::string name = k % 2 ? "icon-*.png" : "icon-?" + std::to_string(k) + ".png";
                o.ExtIconFile[k] = (pics / name).string();
                fuzz::WriteBytes(pics / name, name.data(), name.size());
                pictures.insert(name);
            }
        }
        if (pick & 2) {
            o.LogoFile = (pics / "logo[1].png").string();
            fuzz::WriteBytes(o.LogoFile, "logo", 4);
            pictures.insert("logo[1].png");
        }
    };
    return fuzz::RunLog(data, size, ".nmea", fuzz::kKmz, 1, tune, pictures);
}
