// What every reader shares: records whose position lies off the globe are dropped, so that each file
// it reports as made is valid; files it cannot open and logs without a point give their results.
#include "reader_test_util.h"

namespace ts {
namespace {

using namespace test;

TEST(ReaderPositions, RecordsOffTheGlobeAreDroppedAndTheOutputsValidate) {
    struct Case {
        const char* what;
        ReaderFn reader;
        int kind;
        const char* ext;
        std::string log;
        const char* countLine;
        int blocks;
    };
    auto csv = [](int s, double lat, double lon) {
        return CsvLine("10:00:0" + std::to_string(s), lat, "2024/03/16", lon);
    };
    auto m241 = [](uint32_t s, float lat, float lon) { return M241Rec(1210000000 + s, lat, lon, 100.0f); };
    const std::vector<Case> cases = {
        {"CSV", ReadCsvLogFile, ikCsv, ".csv",
         kCsvHead + csv(0, 48.1, 11.5) + csv(1, 48.1, 658) + csv(2, 48.1001, 11.5) + csv(3, 95.5, 11.5) +
             csv(4, 48.1002, 11.5),
         "  Default CSV:   3 records", 1},
        {"TKS", ReadTksFile, ikTks, ".tks",
         TksRec(PackedAt(0), 355000000, 1395000000, 100) + TksRec(PackedAt(1), 355001000, -1950000000, 100) +
             TksRec(PackedAt(2), 355002000, 1395000000, 100) +
             // A new track whose record is dropped starts at the next record kept.
             TksRec(PackedAt(3), 1355003000, 1950000000, 100) + TksRec(PackedAt(4), 355004000, 1395000000, 100),
         "  WBT-100,200:   3 records", 2},
        {"TES", ReadWintecLogFile, ikTes, ".TES",
         WintecRec(1, PackedAt(0), 355000000, 1395000000, 10) + WintecRec(0, PackedAt(1), 355001000, -1950000000, 10) +
             WintecRec(1, PackedAt(2), 355002000, 2000000000, 10) +
             WintecRec(0, PackedAt(3), 355003000, 1395000000, 10) +
             WintecRec(2, PackedAt(4), 355004000, 1395000000, 10),
         "  WBT-202:   3 records", 2},
        {"M-241", ReadM241File, ikM241, ".trl",
         m241(0, 35.5f, 139.5f) + m241(1, 35.5f, 500.0f) + m241(2, 35.5001f, 139.5f) + m241(3, 35.5f, -195.0f) +
             m241(4, 135.5002f, 139.5f),
         "  M-241:   3 records", 1},
        {"RBT-3000", ReadRbt3000File, ikRbt3000, ".txt",
         kRbtHead + RbtRec(0, 35.5) + RbtRec(1, 95.5, "", true, 500) + RbtRec(2, 35.5001) +
             RbtRec(3, 35.5, "", true, -180.5) + RbtRec(4, 35.5002),
         "  RBT-3000:   3 records", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::ScratchDir dir;
        const std::string input = dir / (std::string("log") + c.ext);
        std::ofstream(input, std::ios::binary) << c.log;
        Reading r;
        r.ctx.opt.KMZout = false;
        r.ctx.opt.KMLout = r.ctx.opt.GPXout = true;
        r.ctx.inputKind = c.kind;
        EXPECT_GT(r.Read(c.reader, input), 0);
        EXPECT_TRUE(r.HasLine(c.countLine));
        EXPECT_EQ(r.ctx.points.Count(), 3);
        EXPECT_EQ(r.ctx.blocks.Count(), c.blocks);
        const auto gpx = testing::FilesWithExt(dir, ".gpx"), kml = testing::FilesWithExt(dir, ".kml");
        EXPECT_FALSE(gpx.empty());
        EXPECT_EQ(kml.size(), gpx.size());
        // The GPX schema holds every position written on the globe.
        for (const std::string& f : gpx) EXPECT_EQ(testing::GpxSchemaErrors(dir / f), "") << f;
        for (const std::string& f : kml) EXPECT_EQ(testing::KmlSchemaErrors(dir / f), "") << f;
    }
}

// Each reader on a file it cannot open, and on logs that hold no point: its result and report line.
TEST(ReaderResults, UnreadableFilesAndLogsWithoutPoints) {
    struct Case {
        const char* what;
        ReaderFn reader;
        int kind;
        const char* ext;
        std::string log;
        int32_t result;
        const char* line;  // a report line that starts so
    };
    const std::string nopos =
        Nmea("GPGGA,120000,,,,,1,08,0.9,100.0,M,,M,,") + "\r\n" + Nmea("GPRMC,120000,A,,,,,1.0,0.0,070804,,") + "\r\n";
    const Case cases[] = {
        {"NMEA", ReadNmeaFile, ikNmea, ".nmea", "hello\r\n$GPGSA,A,3*00\r\n", 0, "  NMEA: no valid data."},
        {"NMEA without positions", ReadNmeaFile, ikNmea, ".nmea", nopos, -1, "  NMEA:   0 records"},
        {"CSV", ReadCsvLogFile, ikCsv, ".csv", kCsvHead, 0, "  Default CSV:   0 records"},
        {"M-241 short", ReadM241File, ikM241, ".trl", std::string(15, '\0'), 0, "  Data empties : log"},
        {"M-241", ReadM241File, ikM241, ".TRL", M241Rec(1210000000, 35.5f, 139.5f, 100.0f, std::nullopt, true), 0,
         "  M-241:   0 records"},
        {"TKS", ReadTksFile, ikTks, ".tks", "", 0, "  WBT-100,200:   0 records"},
        {"TES", ReadWintecLogFile, ikTes, ".TES", std::string(15, '\x55'), 0, "  WBT-202:   0 records"},
        {"RBT-3000", ReadRbt3000File, ikRbt3000, ".txt", kRbtHead + "Event Type: Log\r\n", 0,
         "  RBT-3000:   0 records"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reading r;
        r.ctx.inputKind = c.kind;
        EXPECT_EQ(r.ReadBytes(c.reader, c.log, c.ext), c.result);
        EXPECT_EQ(r.Lines(c.line), 1);
        EXPECT_EQ(r.ctx.blocks.Count(), 0);
        const std::string name = std::string("x") + c.ext;
        EXPECT_EQ(r.Read(c.reader, "/nonexistent/dir/" + name), -1);
        EXPECT_EQ(r.host.status[0], "  Can not open: " + name);
        EXPECT_TRUE(r.HasLine("  Can not open: " + name));
        EXPECT_EQ(r.Read(c.reader, std::filesystem::temp_directory_path().string()), -1);  // a folder
    }
}

}  // namespace
}  // namespace ts
