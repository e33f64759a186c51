// Whole conversions through the output stage with NMEA, GPX and CSV ticked, judged by outside
// tools: a track built in code under a stand-in reader, and the sample NMEA log once its reader
// is registered.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "convert.h"
#include "output_stage.h"
#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

// The points the writers wrote: every block whole, in block order.
std::vector<TLogData> WrittenPoints(const EngineContext& ctx) {
    std::vector<TLogData> r;
    for (const TrackBlock& b : ctx.blocks.Items())
        for (int32_t i = b.First; i <= b.Last; ++i) r.push_back(ctx.points.At(i));
    return r;
}

void ExpectSamePositions(const std::vector<LatLon>& back, const std::vector<TLogData>& pts, double tolerance,
                         const char* what) {
    ASSERT_EQ(back.size(), pts.size()) << what;
    for (size_t i = 0; i < pts.size(); ++i) {
        EXPECT_NEAR(back[i].lat, pts[i].Lat, tolerance) << what << " " << i;
        EXPECT_NEAR(back[i].lon, pts[i].Lon, tolerance) << what << " " << i;
    }
}

// Judges every NMEA, GPX and CSV file of the conversion of input.
void JudgeOutputs(const EngineContext& ctx, const ScratchDir& dir, const std::string& input) {
    const std::vector<TLogData> pts = WrittenPoints(ctx);
    ASSERT_FALSE(pts.empty());
    std::vector<LatLon> nmeaBack, gpxBack;
    size_t csvRows = 0;
    for (const std::string& f : FilesWithExt(dir, ".nmea")) {
        if (f == input) continue;
        std::string out;
        EXPECT_EQ(CheckNmeaSentences(dir.path / f, &out), 0) << f << ": " << out;
        const std::vector<LatLon> b = BabelRead("nmea", dir.path / f, "trkpt", &out);
        EXPECT_EQ(out, "") << f;
        nmeaBack.insert(nmeaBack.end(), b.begin(), b.end());
    }
    for (const std::string& f : FilesWithExt(dir, ".gpx")) {
        EXPECT_EQ(GpxSchemaErrors(dir.path / f), "") << f;
        std::string out;
        const std::vector<LatLon> b = BabelRead("gpx", dir.path / f, "trkpt", &out);
        EXPECT_EQ(out, "") << f;
        gpxBack.insert(gpxBack.end(), b.begin(), b.end());
    }
    for (const std::string& f : FilesWithExt(dir, ".csv")) {
        std::string out;
        ASSERT_EQ(ReadCsvWithPython(dir.path / f, &out), 0) << f << ": " << out;
        const std::vector<std::string> rows = Lines(out);
        EXPECT_EQ(rows[0], "RCR|TIME|VALID|LATITUDE|LONGITUDE|HEIGHT|SPEED|HDOP|NSAT|TEMPERATURE|BAROMETER|"
                           "PRESSURE ALTITUDE");
        for (size_t r = 1; r < rows.size(); ++r, ++csvRows) {
            ASSERT_LT(csvRows, pts.size());
            const TLogData& p = pts[csvRows];
            char date[32], valid[32];
            double lat, lon;
            ASSERT_EQ(std::sscanf(rows[r].c_str(), "%*[A-Z]|%31[0-9/ :.]|%31[^|]|%lf|%lf|", date, valid, &lat, &lon), 4)
                << rows[r];
            EXPECT_EQ(std::string(date).size(), 23u) << rows[r];  // yyyy/mm/dd hh:nn:ss.zzz
            EXPECT_NEAR(lat, p.Lat, 0.5e-7 + 1e-12) << rows[r];
            EXPECT_NEAR(lon, p.Lon, 0.5e-7 + 1e-12) << rows[r];
        }
    }
    ExpectSamePositions(nmeaBack, pts, 0.00005 / 60 + 1e-9, "NMEA");
    ExpectSamePositions(gpxBack, pts, 0.5e-7 + 1e-12, "GPX");
    EXPECT_EQ(csvRows, pts.size());
}

struct WritersThroughConversion : ::testing::Test {
    RecordingHost host;
    EngineContext ctx{host};
    ScratchDir dir;
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
    JudgeOutputs(ctx, dir, input);
}

TEST_F(WritersThroughConversion, SampleLog) {
    if (ReaderForKind(ikNmea) == nullptr) GTEST_SKIP() << "no NMEA reader registered";
    std::filesystem::copy_file(std::string(TS_SHARED_DIR) + "/testdata/sample.nmea", dir.path / "sample.nmea");
    ConvertFile(ctx, (dir.path / "sample.nmea").string());
    ASSERT_GT(host.filesMade, 0);
    EXPECT_EQ(host.status[0].rfind("  *** Completed: sample.nmea", 0), 0u) << host.status[0];
    JudgeOutputs(ctx, dir, "sample.nmea");
}

}  // namespace
}  // namespace ts
