#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "date_time.h"
#include "nmea_test_util.h"
#include "rbt3000_reader.h"
#include "text_format.h"

namespace ts {
namespace {

using test::TempFile;

const std::string kHead = "DataLogs: 12\r\n\r\n";

// One record of the logger, `sec` seconds after 2008-05-17 10:00:00. `more` goes after the usual
// fields (a repeated key overrides); without `direction` the record carries no time.
std::string Rec(int sec, double lat, const std::string& more = "", bool direction = true) {
    char b[512];
    std::snprintf(b, sizeof b,
                  "Record: 1\r\nEvent Type: Log\r\nYear: 2008\r\nMonth: 5\r\nDay: 17\r\nHour: %d\r\nMinute: %d\r\n"
                  "Second: %d\r\nLatitude: %.6f\r\nLongitude: 139.5\r\nAltitude: 12.5\r\nPDOP: 2.1\r\nHDOP: 1.25\r\n"
                  "Satellite No: 7\r\nSpeed(kms/hr): 36\r\n",
                  10 + sec / 3600, sec / 60 % 60, sec % 60, lat);
    return b + more + (direction ? "Direction: 120\r\n" : "") + "\r\n";
}

struct RbtReading {
    test::TestHost host;
    EngineContext ctx{host};
    std::string name;  // of the file read last

    RbtReading() {
        ctx.opt.KMZout = false;  // reading only
        ctx.keepPoints = true;
        ctx.inputKind = ikRbt3000;
    }
    int32_t Read(const std::string& text) {
        TempFile f(text, ".txt");
        name = ExtractFileName(f.path());
        DeriveOptions(ctx.opt);
        return ReadRbt3000File(ctx, f.path());
    }
    bool HasLine(const std::string& line) const {
        return std::find(host.lines.begin(), host.lines.end(), line) != host.lines.end();
    }
    const TLogData& P(int i) const { return ctx.points.At(i); }
};

TEST(Rbt3000Reader, ReadsRecordsInAnyLetterCase) {
    std::string upper = Rec(1, 35.6, "LATITUDE: 35.7\r\nSECOND: 59.9\r\nSPEED(KMS/HR): 18.52\r\n");
    RbtReading r;
    EXPECT_EQ(r.Read(kHead + Rec(0, 35.5) + upper), 0);  // read; no output ticked
    EXPECT_TRUE(r.HasLine("  RBT-3000:   2 records"));
    EXPECT_EQ(r.host.status[0], " " + r.name + "  Reading RBT-3000 file ...");
    EXPECT_EQ(r.host.status[1], "  Read:2rec.");
    ASSERT_EQ(r.ctx.points.Count(), 2);
    ASSERT_EQ(r.ctx.blocks.Count(), 1);
    const TLogData& p = r.P(0);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", p.Time), "2008-05-17 10:00:00.000");
    EXPECT_DOUBLE_EQ(p.Lat, 35.5);
    EXPECT_DOUBLE_EQ(p.Lon, 139.5);
    EXPECT_DOUBLE_EQ(p.Alt, 12.5);
    EXPECT_DOUBLE_EQ(p.Speed, 36 / 1.852);
    EXPECT_EQ(p.Hdop10, 12);  // 12.5 rounds to even
    EXPECT_EQ(p.Sats, 7);
    EXPECT_EQ(p.FixQuality, 1);
    EXPECT_EQ(p.Flags, 0);
    EXPECT_TRUE(std::isnan(p.GeoidSep));
    EXPECT_TRUE(std::isnan(p.Pressure));
    EXPECT_DOUBLE_EQ(r.P(1).Lat, 35.7);
    EXPECT_DOUBLE_EQ(r.P(1).Speed, 10.0);
    // The fraction of the second is dropped.
    EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", r.P(1).Time), "10:00:59.000");
    EXPECT_EQ(r.ctx.blocks[0].EndTime, r.P(1).Time);
}

TEST(Rbt3000Reader, OtherFilesAreNotThisFormat) {
    const std::string nmea = test::Nmea("GPGGA,120000,4807.000,N,01131.000,E,1,08,0.9,100.0,M,,M,,") + "\r\n" +
                             test::Nmea("GPRMC,120000,A,4807.000,N,01131.000,E,10.0,0.0,070804,,") + "\r\n";
    RbtReading r;
    EXPECT_EQ(r.Read(nmea), -2);
    EXPECT_EQ(r.host.status[0], "  Not RBT-3000 Logfile : " + r.name);
    EXPECT_TRUE(r.HasLine("  Not RBT-3000 Logfile : " + r.name));
    // A log without the "datalogs:" line is not one either.
    RbtReading noHead;
    EXPECT_EQ(noHead.Read(Rec(0, 35.5)), -2);

    // The driver reads such a ".txt" as NMEA.
    test::TestHost host;
    EngineContext ctx(host);
    ctx.opt.KMZout = false;
    TempFile f(nmea, ".txt");
    ConvertFile(ctx, f.path());
    const auto at = std::find(host.lines.begin(), host.lines.end(), "Try NMEA mode :");
    ASSERT_NE(at, host.lines.end());
    EXPECT_NE(std::find(at, host.lines.end(), "  NMEA:   1 records"), host.lines.end());
    EXPECT_EQ(ReaderForKind(ikRbt3000), &ReadRbt3000File);

    RbtReading empty;  // recognised, but no record
    EXPECT_EQ(empty.Read(kHead + "Event Type: Log\r\n"), 0);
    EXPECT_TRUE(empty.HasLine("  RBT-3000:   0 records"));

    RbtReading missing;
    DeriveOptions(missing.ctx.opt);
    EXPECT_EQ(ReadRbt3000File(missing.ctx, "/nonexistent/dir/x.txt"), -1);
    EXPECT_EQ(missing.host.status[0], "  Can not open: x.txt");
    EXPECT_TRUE(missing.HasLine("  Can not open: x.txt"));
    EXPECT_EQ(ReadRbt3000File(missing.ctx, std::filesystem::temp_directory_path().string()), -1);
}

TEST(Rbt3000Reader, MaskSkipsRecordsAlsoAtTheEnd) {
    const std::string few = "Satellite No: 3\r\n";
    for (bool lastFails : {false, true}) {
        RbtReading r;
        r.ctx.opt.NsatMin = 5;
        std::string log = kHead + Rec(0, 35.5) + Rec(1, 35.6, few) + Rec(2, 35.7, "HDOP: 0.5\r\n");
        if (lastFails) log += Rec(3, 35.8, few);
        r.Read(log);
        ASSERT_EQ(r.ctx.points.Count(), 2) << lastFails;
        EXPECT_DOUBLE_EQ(r.P(1).Lat, 35.7);
        EXPECT_EQ(r.P(1).Hdop10, 5);
        EXPECT_EQ(r.ctx.blocks.Count(), 1);
    }
    RbtReading hdop;
    hdop.ctx.opt.HdopMax = 1.0;
    hdop.Read(kHead + Rec(0, 35.5) + Rec(1, 35.6, "HDOP: 0.9\r\n"));
    ASSERT_EQ(hdop.ctx.points.Count(), 1);
    EXPECT_EQ(hdop.P(0).Hdop10, 9);
}

TEST(Rbt3000Reader, BlocksAtGapsAndAtRecordsWithoutTime) {
    const std::string log = kHead + Rec(0, 35.5) + Rec(600, 35.6) + Rec(900, 35.7);
    RbtReading five;
    five.ctx.opt.SplitIT = "5";
    five.Read(log);
    ASSERT_EQ(five.ctx.blocks.Count(), 2);  // 10 minutes apart, then exactly 5
    EXPECT_EQ(five.ctx.blocks[0].Last, 0);
    EXPECT_EQ(five.ctx.blocks[1].First, 1);
    EXPECT_EQ(five.ctx.blocks[1].Last, 2);
    EXPECT_EQ(five.ctx.blocks[1].Number, 2);
    RbtReading fifteen;
    fifteen.ctx.opt.SplitIT = "15";
    fifteen.Read(log);
    EXPECT_EQ(fifteen.ctx.blocks.Count(), 1);

    // No "direction": a new block, with the previous record's time.
    RbtReading untimed;
    untimed.Read(kHead + Rec(0, 35.5) + Rec(5, 35.6, "", false) + Rec(6, 35.7));
    ASSERT_EQ(untimed.ctx.blocks.Count(), 2);
    EXPECT_EQ(untimed.ctx.blocks[1].First, 1);
    EXPECT_EQ(untimed.P(1).Time, untimed.P(0).Time);
    EXPECT_EQ(FormatDateTime("hh:nn:ss", untimed.P(2).Time), "10:00:06");
    // A record without time first in the file: no time rather than one of another file.
    untimed.host.lines.clear();
    untimed.Read(kHead + Rec(0, 35.5, "", false));
    ASSERT_EQ(untimed.ctx.points.Count(), 1);
    EXPECT_EQ(untimed.P(0).Time, 0.0);

    RbtReading back;
    back.Read(kHead + Rec(5, 35.5) + Rec(1, 35.6));
    EXPECT_EQ(back.ctx.blocks.Count(), 1);
    EXPECT_TRUE(back.HasLine("  Time goes back: 2008/05/17 10:00:05 to 2008/05/17 10:00:01"));
    EXPECT_TRUE(back.host.showReportAtEnd);
}

TEST(Rbt3000Reader, FieldsCarryOverAndRecordBoundaries) {
    // Position, altitude and speed carry over to a record without them; HDOP and satellites do not.
    const std::string bare = "Record: 2\r\nYear: 2008\r\nMonth: 5\r\nDay: 17\r\nHour: 10\r\nMinute: 0\r\n"
                             "Second: 1\r\nDirection: 0\r\n";
    RbtReading r;
    // A record right after another, with no blank line between, is a record of its own.
    r.Read(kHead + Rec(0, 35.5) + bare + Rec(2, 35.6));
    ASSERT_EQ(r.ctx.points.Count(), 3);
    EXPECT_DOUBLE_EQ(r.P(1).Lat, 35.5);
    EXPECT_DOUBLE_EQ(r.P(1).Alt, 12.5);
    EXPECT_DOUBLE_EQ(r.P(1).Speed, 36 / 1.852);
    EXPECT_EQ(r.P(1).Hdop10, 0);
    EXPECT_EQ(r.P(1).Sats, 99);
    EXPECT_EQ(FormatDateTime("hh:nn:ss", r.P(1).Time), "10:00:01");

    // The search for a record gives up after 30 lines; a "record:" on the last line holds nothing.
    RbtReading far;
    std::string junk;
    for (int i = 0; i < 30; ++i) junk += "noise\r\n";
    far.Read(kHead + Rec(0, 35.5) + junk + Rec(1, 35.6));
    EXPECT_EQ(far.ctx.points.Count(), 1);
    RbtReading last;
    last.Read(kHead + Rec(0, 35.5) + "Record: 9");
    EXPECT_EQ(last.ctx.points.Count(), 1);
}

TEST(Rbt3000Reader, FailuresEndWithMinusOne) {
    const std::string badDate = Rec(1, 35.6, "Month: 13\r\n");
    RbtReading later;
    later.ctx.keepPoints = false;
    EXPECT_EQ(later.Read(kHead + Rec(0, 35.5) + badDate), -1);
    EXPECT_EQ(later.ctx.points.Count(), 0);
    RbtReading first;  // the first record's error shows as a file that cannot be opened
    EXPECT_EQ(first.Read(kHead + badDate), -1);
    EXPECT_EQ(first.host.status[0], "  Can not open: " + first.name);

    std::string log = kHead;
    for (int i = 0; i < 600; ++i) log += Rec(i, 35.5);
    RbtReading abort;
    abort.ctx.keepPoints = false;
    abort.host.abortAfterPumps = 2;  // the pump at the start, then the one after 512 points
    EXPECT_EQ(abort.Read(log), -1);
    EXPECT_EQ(abort.ctx.points.Count(), 0);
}

TEST(Rbt3000Reader, Geoid) {
    struct Geoid : GeoidQuery {
        double GeoidHeight(double lat, double) override { return lat > 40 ? kNaN : 2.5; }
    } geoid;
    RbtReading r;
    r.ctx.geoid = &geoid;
    r.ctx.geoidCorrection = true;
    r.ctx.opt.GeoidCaption = "Geoid";
    r.Read(kHead + Rec(0, 35.5) + Rec(1, 45.5));
    ASSERT_EQ(r.ctx.points.Count(), 2);
    EXPECT_DOUBLE_EQ(r.P(0).Alt, 10.0);
    EXPECT_FLOAT_EQ(r.P(0).GeoidSep, 2.5f);
    EXPECT_DOUBLE_EQ(r.P(1).Alt, 12.5);
    EXPECT_TRUE(std::isnan(r.P(1).GeoidSep));
    EXPECT_EQ(r.host.lines.front(), "  Geoid model: Geoid");
    EXPECT_EQ(r.host.lines.back(), "  Number of Geoid outside range = 1");
    EXPECT_TRUE(r.host.showReportAtEnd);
}

TEST(Rbt3000Reader, FieldsToDateTime) {
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", RbtFieldsToDateTime("2008", "5", "17", "23", "59", "59.99")),
              "2008-05-17 23:59:59.000");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", RbtFieldsToDateTime("08", "12", "31", "", "", "")), "2008-12-31");
    EXPECT_THROW(RbtFieldsToDateTime("2008", "2", "30", "0", "0", "0"), ConvertError);
    EXPECT_THROW(RbtFieldsToDateTime("", "", "", "0", "0", "0"), ConvertError);
    EXPECT_THROW(RbtFieldsToDateTime("2008 10:00", "1", "1", "0", "0", "0"), ConvertError);
    EXPECT_THROW(RbtFieldsToDateTime("2008", "1", "1", "1.79e308", "1.79e308", "0"), ConvertError);
}

// Randomly damaged logs: the reader ends normally, and its blocks cover the stream in order.
TEST(Rbt3000Reader, SurvivesDamagedLogs) {
    std::string sample = kHead;
    for (int i = 0; i < 40; ++i) sample += Rec(i * 20, 35.5 + i * 0.0001, i % 7 == 0 ? "Satellite No: 2\r\n" : "");
    std::mt19937 rng(3000);
    auto pick = [&](size_t n) { return n == 0 ? size_t(0) : std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    const char* extras[] = {"record:", "datalogs:", ":", "\r\n\r\n", "direction: 1\r\n", "year: 99999999999\r\n",
                            "hour: 1e308\r\n", "satellite no: -2147483649\r\n", "hdop: nan\r\n"};
    for (int iter = 0; iter < 500; ++iter) {
        std::string s = sample;
        const int edits = 1 + static_cast<int>(pick(15));
        for (int k = 0; k < edits && !s.empty(); ++k) {
            const size_t at = pick(s.size());
            switch (pick(6)) {
            case 0: s[at] = static_cast<char>(pick(256)); break;
            case 1: s.erase(at, pick(60)); break;
            case 2: s.insert(at, extras[pick(std::size(extras))]); break;
            case 3: s.resize(at); break;
            case 4: s.insert(at, std::string(pick(200), "x:\n"[pick(3)])); break;
            case 5: s[at] = '\0'; break;
            }
        }
        RbtReading r;
        r.ctx.keepPoints = iter % 3 != 0;
        r.ctx.opt.SplitIT = iter % 4 == 0 ? "0.25" : "240";
        if (iter % 5 == 0) r.ctx.opt.NsatMin = 4;
        const int32_t res = r.Read(s);
        ASSERT_GE(res, -2) << iter;
        if (!r.ctx.keepPoints || res < 0) continue;
        int32_t next = 0;
        for (const TrackBlock& b : r.ctx.blocks.Items()) {
            ASSERT_EQ(b.First, next) << iter;
            ASSERT_GE(b.Last, b.First) << iter;
            next = b.Last + 1;
        }
        ASSERT_EQ(next, r.ctx.points.Count()) << iter;
    }
}

}  // namespace
}  // namespace ts
