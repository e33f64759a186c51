#include "reader_test_util.h"

namespace ts {
namespace {

using test::kRbtHead;
using test::RbtRec;

struct RbtReading : test::Reading {
    RbtReading() { ctx.inputKind = ikRbt3000; }
    int32_t Read(const std::string& text) { return ReadBytes(ReadRbt3000File, text, ".txt"); }
};

TEST(Rbt3000Reader, ReadsRecordsInAnyLetterCase) {
    std::string upper = RbtRec(1, 35.6, "LATITUDE: 35.7\r\nSECOND: 59.9\r\nSPEED(KMS/HR): 18.52\r\n");
    RbtReading r;
    EXPECT_EQ(r.Read(kRbtHead + RbtRec(0, 35.5) + upper), 0);  // read; no output ticked
    EXPECT_TRUE(r.HasLine("  RBT-3000:   2 records"));
    ASSERT_EQ(r.ctx.points.Count(), 2);
    ASSERT_EQ(r.ctx.blocks.Count(), 1);
    // HDOP 12.5 rounds to even; the fraction of the second is dropped.
    EXPECT_EQ(test::Describe(r.P(0)), "2008-05-17 10:00:00.000 35.5000000 139.5000000 12.50 36.000 12 7 1 0");
    EXPECT_EQ(test::Describe(r.P(1)), "2008-05-17 10:00:59.000 35.7000000 139.5000000 12.50 18.520 12 7 1 0");
    EXPECT_EQ(r.ctx.blocks[0].EndTime, r.P(1).Time);
}

TEST(Rbt3000Reader, OtherFilesAreNotThisFormat) {
    RbtReading r;  // an NMEA log, or a log without the "datalogs:" line
    EXPECT_EQ(r.Read(test::Nmea("GPGGA,120000,4807.000,N,01131.000,E,1,08,0.9,100.0,M,,M,,") + "\r\n"), -2);
    EXPECT_EQ(r.Read(RbtRec(0, 35.5)), -2);
}

TEST(Rbt3000Reader, MaskSkipsRecordsAlsoAtTheEnd) {
    const std::string few = "Satellite No: 3\r\n";
    for (bool lastFails : {false, true}) {
        RbtReading r;
        r.ctx.opt.NsatMin = 5;
        std::string log = kRbtHead + RbtRec(0, 35.5) + RbtRec(1, 35.6, few) + RbtRec(2, 35.7, "HDOP: 0.5\r\n");
        if (lastFails) log += RbtRec(3, 35.8, few);
        r.Read(log);
        ASSERT_EQ(r.ctx.points.Count(), 2) << lastFails;
        EXPECT_DOUBLE_EQ(r.P(1).Lat, 35.7);
        EXPECT_EQ(r.P(1).Hdop10, 5);
        EXPECT_EQ(r.ctx.blocks.Count(), 1);
    }
}

TEST(Rbt3000Reader, BlocksAtGapsAndAtRecordsWithoutTime) {
    const std::string log = kRbtHead + RbtRec(0, 35.5) + RbtRec(600, 35.6) + RbtRec(900, 35.7);
    RbtReading five;
    five.ctx.opt.SplitIT = "5";
    five.Read(log);
    EXPECT_EQ(test::BlockSpans(five.ctx), (test::Spans{{0, 0}, {1, 2}}));  // 10 minutes apart, then exactly 5
    RbtReading fifteen;
    fifteen.ctx.opt.SplitIT = "15";
    fifteen.Read(log);
    EXPECT_EQ(fifteen.ctx.blocks.Count(), 1);

    // No "direction": a new block, with the previous record's time.
    RbtReading untimed;
    untimed.Read(kRbtHead + RbtRec(0, 35.5) + RbtRec(5, 35.6, "", false) + RbtRec(6, 35.7));
    ASSERT_EQ(test::BlockSpans(untimed.ctx), (test::Spans{{0, 0}, {1, 2}}));
    EXPECT_EQ(untimed.P(1).Time, untimed.P(0).Time);
    EXPECT_EQ(FormatDateTime("hh:nn:ss", untimed.P(2).Time), "10:00:06");
    // A record without time first in the file: no time rather than one of another file.
    untimed.host.lines.clear();
    untimed.Read(kRbtHead + RbtRec(0, 35.5, "", false));
    ASSERT_EQ(untimed.ctx.points.Count(), 1);
    EXPECT_EQ(untimed.P(0).Time, 0.0);

    RbtReading back;
    back.Read(kRbtHead + RbtRec(5, 35.5) + RbtRec(1, 35.6));
    EXPECT_EQ(back.ctx.blocks.Count(), 1);
    EXPECT_TRUE(back.HasLine("  Time goes back: 2008/05/17 10:00:05 to 2008/05/17 10:00:01"));
    EXPECT_TRUE(back.host.showReportAtEnd);
}

TEST(Rbt3000Reader, FieldsCarryOverAndRecordBoundaries) {
    // Position, altitude and speed carry over to a record without them; HDOP and satellites do not.
    const std::string bare =
        "Record: 2\r\nYear: 2008\r\nMonth: 5\r\nDay: 17\r\nHour: 10\r\nMinute: 0\r\n"
        "Second: 1\r\nDirection: 0\r\n";
    RbtReading r;
    // A record right after another, with no blank line between, is a record of its own.
    r.Read(kRbtHead + RbtRec(0, 35.5) + bare + RbtRec(2, 35.6));
    ASSERT_EQ(r.ctx.points.Count(), 3);
    EXPECT_EQ(test::Describe(r.P(1)), "2008-05-17 10:00:01.000 35.5000000 139.5000000 12.50 36.000 0 99 1 0");

    // In a known log no record is lost to other lines between records, however many; before the
    // log is known, 30 lines decide that it is none. A "record:" on the last line holds nothing.
    RbtReading far;
    std::string junk;
    for (int i = 0; i < 31; ++i) junk += "noise\r\n";
    far.Read("DataLogs: 3\r\n" + RbtRec(0, 35.5) + junk + RbtRec(1, 35.6) + RbtRec(2, 35.7));
    EXPECT_EQ(far.ctx.points.Count(), 3);
    EXPECT_TRUE(far.HasLine("  RBT-3000:   3 records"));
    RbtReading late;
    EXPECT_EQ(late.Read(junk + kRbtHead + RbtRec(0, 35.5)), -2);
    RbtReading last;
    last.Read(kRbtHead + RbtRec(0, 35.5) + "Record: 9");
    EXPECT_EQ(last.ctx.points.Count(), 1);
}

// The geoid in the readers: the M-241 and RBT-3000 store ellipsoidal heights and subtract N; the
// Wintec loggers store heights above the geoid, so N is only noted; an NMEA log's height is taken as
// ellipsoidal unless the log gives its own separation, which the model's then replaces.
TEST(LoggerReaders, GeoidCorrection) {
    struct Case {
        const char* name;
        ReaderFn reader;
        int kind;
        std::string ext, log;
        double alt;
        bool subtracts;
        double own = kNaN;  // the log's own separation
    };
    const auto epochs = [](const std::string& sep) {
        std::string log;
        for (const char* t : {"120000", "120001"})
            log += test::Nmea(std::string("GPGGA,") + t + ",4807.000,N,01131.000,E,1,08,0.9,100.0,M," + sep + ",M,,") +
                   "\r\n";
        return log;
    };
    const Case cases[] = {
        {"NMEA", ReadNmeaFile, ikNmea, ".nmea", epochs(""), 100, true},
        {"NMEA with separation", ReadNmeaFile, ikNmea, ".nmea", epochs("40.0"), 100, true, 40},
        {"M-241", ReadM241File, ikM241, ".trl",
         test::M241Rec(1210000000, 35.5f, 139.5f, 100.0f) + test::M241Rec(1210000001, 35.5f, 139.5f, 100.0f), 100,
         true},
        {"RBT-3000", ReadRbt3000File, ikRbt3000, ".txt", kRbtHead + RbtRec(0, 35.5) + RbtRec(1, 35.6), 12.5, true},
        {"TKS", ReadTksFile, ikTks, ".tks",
         test::TksRec(test::PackedAt(0), 483500000, 115000000, 5000) +
             test::TksRec(test::PackedAt(1), 483500000, 115000000, 5000),
         500, false},
        {"TES", ReadWintecLogFile, ikTes, ".TES",
         test::WintecRec(0, test::PackedAt(0), 483500000, 115000000, 50) +
             test::WintecRec(0, test::PackedAt(1), 483500000, 115000000, 50),
         50, false},
    };
    for (const Case& c : cases)
        for (double n : {36.5, kNaN}) {
            test::FixedGeoid geoid(n);
            test::Reading r;
            r.ctx.inputKind = c.kind;
            r.ctx.opt.GeoidCaption = "EGM96";
            r.ctx.opt.GeoidApply = true;
            r.UseGeoid(&geoid);
            r.ReadBytes(c.reader, c.log, c.ext);
            ASSERT_EQ(r.ctx.points.Count(), 2) << c.name;
            const bool inside = !std::isnan(n), own = !std::isnan(c.own);
            EXPECT_DOUBLE_EQ(r.P(1).Alt, c.alt + (c.subtracts && inside ? (own ? c.own : 0) - n : 0)) << c.name;
            EXPECT_EQ(std::isnan(r.P(1).GeoidSep) ? -1.0f : r.P(1).GeoidSep, inside ? 36.5f
                                                                             : own  ? float(c.own)
                                                                                    : -1.0f)
                << c.name;
            EXPECT_EQ(r.HasLine("  Difference of geoid: 3.5000m"), own && inside) << c.name;
            EXPECT_EQ(r.HasLine("  Geoid model: EGM96"), c.subtracts) << c.name;
            EXPECT_EQ(r.HasLine("  Geoid designation value was ignored."), !c.subtracts) << c.name;
            EXPECT_EQ(r.HasLine("  Number of Geoid outside range = 2"), c.subtracts && !inside) << c.name;
            EXPECT_EQ(r.host.showReportAtEnd, c.subtracts && !inside) << c.name;
        }
}

TEST(Rbt3000Reader, FieldsToDateTime) {
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", RbtFieldsToDateTime("2008", "5", "17", "23", "59", "59.99")),
              "2008-05-17 23:59:59.000");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", RbtFieldsToDateTime("08", "12", "31", "", "", "")), "2008-12-31");
    EXPECT_THROW(RbtFieldsToDateTime("2008", "2", "30", "0", "0", "0"), ConvertError);
    EXPECT_THROW(RbtFieldsToDateTime("2008 10:00", "1", "1", "0", "0", "0"), ConvertError);
    EXPECT_THROW(RbtFieldsToDateTime("2008", "1", "1", "1.79e308", "1.79e308", "0"), ConvertError);
}

// Randomly damaged logs of each logger layout and of a real CSV log: the reader ends normally, and
// its blocks cover the points in order.
TEST(LoggerReaders, SurviveDamagedLogs) {
    std::string wintec, tks, m241, m241Speed, rbt = kRbtHead;
    for (int i = 0; i < 40; ++i) {
        const int32_t lat = -334000000 + i * 1000, lon = 1512000000;
        wintec += i % 11 == 4  ? test::WintecRec(0x0003, test::PackedAt(i), lat, lon, 12)
                  : i % 7 == 2 ? std::string(16, '\0')
                               : test::WintecRec(uint16_t(i * 37), test::PackedAt(i), lat, lon, 12);
        tks += test::TksRec(test::PackedAt(i), lat + (i % 11 == 4 ? -1000000000 : 0), lon, i);
        m241 += test::M241Rec(1210000000 + i * 7, 35.5f + i * 0.001f, 139.5f, 50.0f);
        m241Speed += test::M241Rec(1210000000 + i * 7, 35.5f + i * 0.001f, 139.5f, 50.0f, float(i));
        rbt += RbtRec(i * 20, 35.5 + i * 0.0001, i % 7 == 0 ? "Satellite No: 2\r\n" : "");
    }
    // A slice of the CSV log with a repeated piece, so that time runs back and jumps.
    const std::string csv = testing::ReadFile(TS_SHARED_DIR "/testdata/iblue747.csv");
    const size_t csvHead = csv.find('\n') + 1;
    struct Layout {
        std::string base, ext;
        ReaderFn reader;
        int kind;
        size_t header;  // damaged now and then only
    };
    const Layout layouts[] = {{test::Tk1Header(40) + wintec, ".tk1", ReadWintecLogFile, ikTk1, 1024},
                              {test::Tk2Header(40) + wintec, ".tk2", ReadWintecLogFile, ikTk2, 1024},
                              {test::Tk3Header(40) + wintec, ".tk3", ReadWintecLogFile, ikTk3, 1024},
                              {wintec, ".TES", ReadWintecLogFile, ikTes, 0},
                              {tks, ".tks", ReadTksFile, ikTks, 0},
                              {m241, ".trl", ReadM241File, ikM241, 0},
                              {m241Speed, ".trl", ReadM241File, ikM241, 0},
                              {rbt, ".txt", ReadRbt3000File, ikRbt3000, 0},
                              {csv.substr(0, csvHead) + csv.substr(csvHead + 20000, 6000) + csv.substr(csvHead, 2000),
                               ".csv", ReadCsvLogFile, ikCsv, csvHead}};
    const std::vector<std::string> rbtExtras = {"record:",
                                                "datalogs:",
                                                ":",
                                                "\r\n\r\n",
                                                "direction: 1\r\n",
                                                "hdop: nan\r\n",
                                                "year: 99999999999\r\n",
                                                "hour: 1e308\r\n",
                                                "satellite no: -2147483649\r\n"};
    std::mt19937 rng(1152026);
    const std::vector<std::string> csvExtras = {",", "\r\n", "S", "W", "B", "\"", "-/:."};
    for (int iter = 0; iter < 720; ++iter) {
        const Layout& l = layouts[iter % 9];
        std::string s = l.base;
        test::Damage(s, rng,
                     l.kind == ikRbt3000 ? rbtExtras
                     : l.kind == ikCsv   ? csvExtras
                                         : std::vector<std::string>{},
                     l.kind == ikCsv ? 40 : 12, iter / 9 % 4 ? l.header : 0);
        test::Reading r;
        r.ctx.inputKind = l.kind;
        r.ctx.keepPoints = iter % 3 != 0;
        r.ctx.opt.SplitIT = iter % 5 == 0 ? "0.25" : "240";
        if (iter % 7 == 0) r.ctx.opt.NsatMin = 4;
        r.ctx.opt.FixDataOnly = iter % 2 == 0;
        const int k = iter / 9;  // the CSV profile's options in turn
        r.ctx.opt.CsvOptionList = {{"Default", std::to_string(k % 2) + ",0," + std::to_string(k / 2 % 2) + "," +
                                                   std::to_string(k % 3) + ",0," + std::to_string(k / 3 % 2)}};
        const int32_t res = r.ReadBytes(l.reader, s, l.ext);
        ASSERT_GE(res, -2) << iter;
        if (!r.ctx.keepPoints || res < 0) continue;  // a failed read leaves no points to write
        test::ExpectBlocksCoverStream(r.ctx);
        for (int32_t i = 0; i < r.ctx.points.Count(); ++i)
            ASSERT_TRUE(std::isfinite(r.P(i).Lat) && std::isfinite(r.P(i).Lon)) << iter;
        if (::testing::Test::HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace ts
