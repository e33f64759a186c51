// Packing a 100 MB KML document as the KMZ writer does (deflate level 9), beside `zip -9` on the
// same file on the same machine. Counters: the input and compressed sizes in bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/archiver.h"
#include "text/wide_files.h"
#include "text/wide_text.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Folder() {
    static const fs::path dir = fs::temp_directory_path() / "ts_kmz_bench";
    return dir;
}

// A KML track of about 100 MB: one coordinate line per point.
const fs::path& Document() {
    static const fs::path doc = [] {
        fs::create_directories(Folder());
        const fs::path p = Folder() / "track.kml";
        std::ofstream out(p, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://earth.google.com/kml/2.1\">\n";
        char line[96];
        double lat = 35.6, lon = 139.7;
        for (long i = 0; out.tellp() < 100L * 1000 * 1000; ++i) {
            lat += 0.00001 * static_cast<double>((i * 7919) % 13 - 6);
            lon += 0.00001 * static_cast<double>((i * 104729) % 11 - 5);
            const int n = std::snprintf(line, sizeof line, "          %.7f,%.7f,%.1f\n", lon, lat,
                                        50.0 + static_cast<double>(i % 400) * 0.1);
            out.write(line, n);
        }
        out << "</kml>\n";
        return p;
    }();
    return doc;
}

void BM_PackKmz(benchmark::State& state) {
    const fs::path doc = Document();
    const fs::path kmz = Folder() / "track.kmz";
    for (auto _ : state) {
        fs::remove(kmz);
        zip::TZipArchiver a;
        a.SetCompressionMode(9);
        a.Options.OEMFileNames = true;
        a.Zip64Mode = zip::zmDisabled;
        a.FileName = zip::FsNameToWide(kmz.string());
        a.OpenArchive(zip::fmCreate);
        a.BaseDir = zip::FsNameToWide(Folder().string());
        a.AddFiles(u"track.kml", 0x28BF, u"");
        a.CloseArchive();
    }
    state.counters["input"] = static_cast<double>(fs::file_size(doc));
    state.counters["packed"] = static_cast<double>(fs::file_size(kmz));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(doc)));
}

void BM_ZipMinus9(benchmark::State& state) {
    const fs::path doc = Document();
    const fs::path ref = Folder() / "ref.zip";
    const std::string cmd = "cd '" + Folder().string() + "' && rm -f ref.zip && zip -q -9 ref.zip track.kml";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("zip failed");
    state.counters["input"] = static_cast<double>(fs::file_size(doc));
    state.counters["packed"] = fs::exists(ref) ? static_cast<double>(fs::file_size(ref)) : 0.0;
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(doc)));
}

}  // namespace

BENCHMARK(BM_PackKmz)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ZipMinus9)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
