// Every reader drops records whose position lies off the globe, so that each file it reports as
// made is valid.
#include <bit>

#include "csv_reader.h"
#include "m241_reader.h"
#include "rbt3000_reader.h"
#include "reader_test_util.h"

namespace ts {
namespace {

using testing::ScratchDir;

std::string M241Rec(uint32_t t, float lat, float lon) {
    std::string s;
    test::PutBytes(s, t, 4);
    test::PutBytes(s, std::bit_cast<uint32_t>(lat), 4);
    test::PutBytes(s, std::bit_cast<uint32_t>(lon), 4);
    test::PutBytes(s, std::bit_cast<uint32_t>(100.0f) >> 8, 3);
    char x = 0;
    for (char c : s) x ^= c;
    return s + x;
}

std::string RbtRec(int sec, double lat, double lon) {
    char b[320];
    std::snprintf(b, sizeof b,
                  "Record: 1\r\nYear: 2008\r\nMonth: 5\r\nDay: 17\r\nHour: 10\r\nMinute: 0\r\nSecond: %d\r\n"
                  "Latitude: %.6f\r\nLongitude: %.6f\r\nAltitude: 12.5\r\nSpeed(kms/hr): 36\r\nDirection: 1\r\n\r\n",
                  sec, lat, lon);
    return b;
}

std::string CsvRow(int sec, double lat, double lon) {
    char b[128];
    std::snprintf(b, sizeof b, "2024/03/16,10:00:%02d,%.6f,N,%.6f,E,100\r\n", sec, lat, lon);
    return b;
}

struct Case {
    const char* what;
    test::ReaderFn reader;
    int kind;
    const char* ext;
    std::string log;
    const char* countLine;
};

TEST(ReaderPositions, RecordsOffTheGlobeAreDroppedAndTheOutputsValidate) {
    using test::PackedAt;
    using test::TksRec;
    using test::WintecRec;
    const std::vector<Case> cases = {
        {"CSV", ReadCsvLogFile, ikCsv, ".csv",
         "DATE,TIME,LATITUDE,N/S,LONGITUDE,E/W,HEIGHT\r\n" + CsvRow(0, 48.1, 11.5) + CsvRow(1, 48.1, 658) +
             CsvRow(2, 48.1001, 11.5) + CsvRow(3, 95.5, 11.5) + CsvRow(4, 48.1002, 11.5),
         "  Default CSV:   3 records"},
        {"TKS", ReadTksFile, ikTks, ".tks",
         TksRec(PackedAt(0), 355000000, 1395000000, 100) + TksRec(PackedAt(1), 355001000, -1950000000, 100) +
             TksRec(PackedAt(2), 355002000, 1395000000, 100) +
             // A new track whose record is dropped: the track starts at the next record kept.
             TksRec(PackedAt(3), 1355003000, 1950000000, 100) + TksRec(PackedAt(4), 355004000, 1395000000, 100),
         "  WBT-100,200:   3 records"},
        {"TES", ReadWintecLogFile, ikTes, ".TES",
         WintecRec(1, PackedAt(0), 355000000, 1395000000, 10) + WintecRec(0, PackedAt(1), 355001000, -1950000000, 10) +
             WintecRec(1, PackedAt(2), 355002000, 2000000000, 10) + WintecRec(0, PackedAt(3), 355003000, 1395000000, 10) +
             WintecRec(2, PackedAt(4), 355004000, 1395000000, 10),
         "  WBT-202:   3 records"},
        {"M-241", ReadM241File, ikM241, ".trl",
         M241Rec(1210000000, 35.5f, 139.5f) + M241Rec(1210000001, 35.5f, 500.0f) +
             M241Rec(1210000002, 35.5001f, 139.5f) + M241Rec(1210000003, 35.5f, -195.0f) +
             M241Rec(1210000004, 135.5002f, 139.5f),
         "  M-241:   3 records"},
        {"RBT-3000", ReadRbt3000File, ikRbt3000, ".txt",
         "DataLogs: 12\r\n\r\n" + RbtRec(0, 35.5, 139.5) + RbtRec(1, 95.5, 500) + RbtRec(2, 35.5001, 139.5) +
             RbtRec(3, 35.5, -180.5) + RbtRec(4, 35.5002, 139.5),
         "  RBT-3000:   3 records"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string input = dir / (std::string("log") + c.ext);
        std::ofstream(input, std::ios::binary) << c.log;
        test::Reading r;
        r.ctx.opt.KMZout = false;
        r.ctx.opt.KMLout = r.ctx.opt.GPXout = true;
        r.ctx.inputKind = c.kind;
        EXPECT_GT(r.Read(c.reader, input), 0);
        EXPECT_TRUE(r.HasLine(c.countLine));
        EXPECT_EQ(r.ctx.points.Count(), 3);
        for (int i = 0; i < r.ctx.points.Count(); ++i) EXPECT_TRUE(OnTheGlobe(r.P(i).Lat, r.P(i).Lon)) << i;
        const auto gpx = testing::FilesWithExt(dir, ".gpx");
        const auto kml = testing::FilesWithExt(dir, ".kml");
        EXPECT_FALSE(gpx.empty());
        EXPECT_EQ(kml.size(), gpx.size());
        for (const std::string& f : gpx) EXPECT_EQ(testing::GpxSchemaErrors(dir / f), "") << f;
        for (const std::string& f : kml) EXPECT_EQ(testing::KmlSchemaErrors(dir / f), "") << f;
    }
}

}  // namespace
}  // namespace ts
