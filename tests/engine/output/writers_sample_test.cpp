// Whole conversions through the output stage with NMEA, GPX and CSV ticked, judged by outside
// tools: a track built in code under a stand-in reader, and the sample NMEA log once its reader
// is registered.

#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

// The positions of the track points of our GPX files, in file order, as written.
std::vector<LatLon> GpxTrack(const ScratchDir& dir) {
    std::vector<LatLon> r;
    for (const std::string& f : FilesWithExt(dir, ".gpx")) {
        const std::vector<LatLon> p = GpxPositions(ReadFile(dir.path / f), "trkpt");
        r.insert(r.end(), p.begin(), p.end());
    }
    return r;
}

// Judges every NMEA, GPX and CSV file of the conversion of input; the GPX track, written with 7
// decimals, is the reference for the others. Returns the number of points.
size_t JudgeOutputs(const ScratchDir& dir, const std::string& input) {
    const std::vector<LatLon> ref = GpxTrack(dir);
    EXPECT_FALSE(ref.empty());
    const double gpxTolerance = 0.5e-7 + 1e-12, nmeaTolerance = 0.00005 / 60 + gpxTolerance;
    std::vector<LatLon> nmeaBack, gpxBack, csv;
    for (const char* fmt : {"nmea", "gpx"})
        for (const std::string& f : FilesWithExt(dir, std::string(".") + fmt)) {
            if (f == input) continue;
            std::string out;
            if (*fmt == 'n') EXPECT_EQ(CheckNmeaSentences(dir.path / f, &out), 0) << f << ": " << out;
            else EXPECT_EQ(GpxSchemaErrors(dir.path / f), "") << f;
            const std::vector<LatLon> b = BabelRead(fmt, dir.path / f, "trkpt", &out);
            EXPECT_EQ(out, "") << f;
            std::vector<LatLon>& into = *fmt == 'n' ? nmeaBack : gpxBack;
            into.insert(into.end(), b.begin(), b.end());
        }
    for (const std::string& f : FilesWithExt(dir, ".csv")) {
        std::string out;
        EXPECT_EQ(ReadCsvWithPython(dir.path / f, &out), 0) << f << ": " << out;
        const std::vector<std::string> rows = Lines(out);
        if (rows.empty()) continue;
        EXPECT_EQ(rows[0],
                  "RCR|TIME|VALID|LATITUDE|LONGITUDE|HEIGHT|SPEED|HDOP|NSAT|TEMPERATURE|BAROMETER|"
                  "PRESSURE ALTITUDE");
        for (size_t r = 1; r < rows.size(); ++r) {
            char date[32], valid[32];
            LatLon ll{};
            EXPECT_EQ(
                std::sscanf(rows[r].c_str(), "%*[A-Z]|%31[0-9/ :.]|%31[^|]|%lf|%lf|", date, valid, &ll.lat, &ll.lon), 4)
                << rows[r];
            EXPECT_EQ(std::string(date).size(), 23u) << rows[r];  // yyyy/mm/dd hh:nn:ss.zzz
            csv.push_back(ll);
        }
    }
    ExpectSamePositions(gpxBack, ref, 1e-9, "GPX");
    ExpectSamePositions(nmeaBack, ref, nmeaTolerance, "NMEA");
    ExpectSamePositions(csv, ref, 2 * gpxTolerance, "CSV");
    return ref.size();
}

struct WritersThroughConversion : WriterTest {
    void SetUp() override {
        ctx.opt.KMZout = false;
        ctx.opt.NMEAout = ctx.opt.GPXout = ctx.opt.CSVout = true;
    }
};

int32_t StandInReader(EngineContext& ctx, const std::string& fileName) {
    std::vector<TLogData> pts = Walk(T(2024, 3, 16, 9, 0, 0), 50, -33.9, 18.4, 0.00013);
    pts[7].Flags = InterestPoint;
    AddBlock(ctx, pts);
    AddBlock(ctx, Walk(T(2024, 3, 16, 15, 0, 0), 20, 0.0001, -0.0002, -0.00007));
    return MakeOutputFiles(ctx, fileName);
}

TEST_F(WritersThroughConversion, TrackBuiltInCode) {
    ctx.readerLookup = [](int kind) -> ReaderFn { return kind == ikNmea ? StandInReader : nullptr; };
    const std::string input = "track.nmea";
    { std::ofstream(dir.path / input) << ""; }
    ConvertFile(ctx, (dir.path / input).string());
    EXPECT_EQ(host.filesMade, 6);
    EXPECT_EQ(host.status[0], "  *** Completed: track.nmea  70 records ***  6 files");
    EXPECT_EQ(JudgeOutputs(dir, input), 70u);
}

TEST_F(WritersThroughConversion, SampleLog) {
    std::filesystem::copy_file(std::string(TS_SHARED_DIR) + "/testdata/sample.nmea", dir.path / "sample.nmea");
    ConvertFile(ctx, (dir.path / "sample.nmea").string());
    ASSERT_GT(host.filesMade, 0);
    EXPECT_EQ(host.status[0].rfind("  *** Completed: sample.nmea", 0), 0u) << host.status[0];
    JudgeOutputs(dir, "sample.nmea");
}

}  // namespace
}  // namespace ts
