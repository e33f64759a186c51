#include "reader_test_util.h"

namespace ts {
namespace {

using test::TempFile;
using testing::ScratchDir;

const std::string kTestData = TS_SHARED_DIR "/testdata/";

struct CsvReading : test::Reading {
    CsvReading() { ctx.inputKind = ikCsv; }
    int32_t Read(const std::string& path) { return Reading::Read(ReadCsvLogFile, path); }
    int32_t ReadText(const std::string& text) { return ReadBytes(ReadCsvLogFile, text, ".csv"); }
    // Every profile option comes from the "Default" line.
    void Profile(const std::string& options) { ctx.opt.CsvOptionList = {{"Default", options}}; }
    int32_t Count() const { return ctx.points.Count(); }
};

using test::ExpectBlocksCoverStream;

TEST(CsvReader, LoggerLogMatchesThePeerReading) {
    CsvReading r;  // default options: fix only, no mask, km/h
    r.Read(kTestData + "iblue747.csv");
    EXPECT_EQ(r.result, 0);  // read fine; no output type is ticked
    EXPECT_TRUE(r.HasLine("  Default CSV:   747 records"));

    const auto peer = test::PeerTrack(kTestData + "iblue747.csv.peer.gpx");
    // The log's validity column says "Unknown" throughout: no row is dropped, as with the peer.
    ASSERT_NO_FATAL_FAILURE(test::ExpectPeerTrack(r, peer, 747, 5e-10, "yyyy-mm-dd\"T\"hh:nn:ss\"Z\""));
    for (int i = 0; i < 747; ++i) {
        const TLogData& p = r.P(i);
        const test::PeerPoint& q = peer[i];
        // Our knots from the log's km/h; the peer's m/s.
        EXPECT_NEAR(p.Speed * 1.852 / 3.6, q.Num("speed"), 5e-6) << i;  // the peer rounds to 6 decimals
        EXPECT_EQ(p.FixQuality, 1) << i;
        EXPECT_EQ(p.Sats, 99) << i;
        EXPECT_EQ(p.Flags, 0) << i;
    }
}

using test::CsvLine;
using test::kCsvHead;

// A step back of more than a minute makes the log a ring, once: blocks after the wrap keep their
// gaps and the rows before it end the last block. Small steps back continue the block, and a first
// row dated before 1899-12-30 has no earlier row to step back from.
TEST(CsvReader, StepsBackInTime) {
    struct Case {
        std::string rows;
        int32_t wrap;
        test::Spans spans;
        int reported;
    };
    const Case cases[] = {
        {CsvLine("10:00:00", 48.1) + CsvLine("10:00:01", 48.1001) + CsvLine("09:00:00", 48.2), 2, {{0, 2}}, 1},
        {CsvLine("10:00:00") + CsvLine("10:00:01") + CsvLine("04:00:00") + CsvLine("04:00:01") + CsvLine("09:30:00"),
         2,
         {{0, 1}, {2, 4}},
         1},
        {CsvLine("10:00:30") + CsvLine("10:00:00") + CsvLine("10:01:00") + CsvLine("10:00:01"), 0, {{0, 3}}, 0},
        {CsvLine("10:00:00", 48.1, "1850/01/01") + CsvLine("10:00:01", 48.1, "1850/01/01"), 0, {{0, 1}}, 0},
    };
    CsvReading r[std::size(cases)];
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        r[i].ReadText(kCsvHead + cases[i].rows);
        ASSERT_EQ(test::BlockSpans(r[i].ctx), cases[i].spans);
        EXPECT_EQ(r[i].ctx.points.WrapPoint(), cases[i].wrap);
        EXPECT_EQ(r[i].Lines("  Time goes back: "), cases[i].reported);
        ExpectBlocksCoverStream(r[i].ctx);
    }
    EXPECT_TRUE(r[0].HasLine("  Time goes back: 2024/03/16 10:00:01 to 2024/03/16 09:00:00"));
    EXPECT_EQ(r[0].P(0).Time, testing::T(2024, 3, 16, 9, 0, 0));
    EXPECT_EQ(r[0].P(2).Time, testing::T(2024, 3, 16, 10, 0, 1));
    // Without a speed column the first record before the wrap now follows the last one in time.
    EXPECT_EQ(r[0].P(0).Speed, 0);
    EXPECT_NEAR(r[0].P(1).Speed, GeoDistance(48.2, 11.5, 48.1, 11.5).distance / 3600 * 3.6 / 1.852, 1e-9);
    EXPECT_EQ(r[1].ctx.blocks[1].EndTime, testing::T(2024, 3, 16, 10, 0, 1));
    EXPECT_LT(r[3].P(0).Time, 0);
}

// "hh:nn:ss.zzz" of a time of day in milliseconds.
std::string TimeOfDay(int64_t ms) {
    char b[32];
    std::snprintf(b, sizeof b, "%02d:%02d:%02d.%03d", int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60),
                  int(ms % 1000));
    return b;
}

// Whether a step lands on the limit or just off it depends on the day fractions' binary form, so
// every limit is met at many times of day.
TEST(CsvReader, TimeLimitsHoldAtEveryTimeOfDay) {
    constexpr int64_t kMinute = 60000;
    for (const int64_t offset : {0, 123, 999, 30001}) {
        // Every 5 minutes with a split time of 5 minutes: one block all day.
        std::string log = kCsvHead;
        for (int64_t t = offset; t < 1440 * kMinute; t += 5 * kMinute) log += CsvLine(TimeOfDay(t));
        CsvReading split;
        split.ctx.opt.SplitIT = "5";
        split.ReadText(log);
        EXPECT_EQ(split.Count(), 288) << offset;
        EXPECT_EQ(split.ctx.blocks.Count(), 1) << offset;

        // Two minutes on, one minute back, all day: exactly 60 s back continues the block.
        log = kCsvHead;
        for (int64_t t = kMinute + offset; t < 1439 * kMinute; t += kMinute)
            log += CsvLine(TimeOfDay(t + kMinute)) + CsvLine(TimeOfDay(t));
        CsvReading back;
        back.ReadText(log);
        EXPECT_EQ(back.Count(), 2 * 1438) << offset;
        EXPECT_EQ(back.ctx.points.WrapPoint(), 0) << offset;
        EXPECT_EQ(back.Lines("  Time goes back: "), 0) << offset;
        EXPECT_EQ(back.ctx.blocks.Count(), 1) << offset;
    }

    // A midnight row exactly 60 s back is kept, on any date.
    std::string log = kCsvHead;
    for (int day = 1; day <= 28; ++day)
        for (int month = 1; month <= 12; month += 3) {
            char date[16];
            std::snprintf(date, sizeof date, "2024/%02d/%02d", month, day);
            log += CsvLine("00:01:00", 48.1, date) + CsvLine("00:00:00", 48.1, date);
        }
    CsvReading midnight;
    midnight.Profile("0,0,1,0,0,0");
    midnight.ReadText(log);
    EXPECT_EQ(midnight.Count(), 2 * 28 * 4);
    EXPECT_EQ(midnight.Lines("  Data of illegal time was disregarded: "), 0);

    // Just past each limit: the slack is no wider than half a millisecond.
    CsvReading gap;
    gap.ctx.opt.SplitIT = "5";
    gap.ReadText(kCsvHead + CsvLine("10:00:00.000") + CsvLine("10:05:00.001"));
    EXPECT_EQ(gap.ctx.blocks.Count(), 2);
    CsvReading over;
    over.Profile("0,0,1,0,0,0");
    over.ReadText(kCsvHead + CsvLine("10:01:00.000") + CsvLine("09:59:59.999") +
                  CsvLine("00:01:00.001", 48.1, "2024/03/17") + CsvLine("00:00:00", 48.1, "2024/03/17"));
    EXPECT_EQ(over.Count(), 3);
    EXPECT_EQ(over.Lines("  Data of illegal time was disregarded: "), 1);
    EXPECT_EQ(over.Lines("  Time goes back: "), 1);
    EXPECT_EQ(over.ctx.points.WrapPoint(), 1);
}

// The profile's device quirks: the time offset added to row times, rows wrongly stamped at
// midnight dropped, a repeated row tagging the point it repeats.
TEST(CsvReader, ProfileQuirks) {
    struct Case {
        const char* profile;
        std::vector<const char*> rows;
        std::vector<std::string> points;  // time of day, " I" for an interest point
        bool dropped;
    };
    const Case cases[] = {
        {"1", {"10:00:00"}, {"01:00:00"}, false},  // UTC = local - 9 h
        {"0", {"10:00:00"}, {"10:00:00"}, false},
        {"0,0,1", {"15:00:00", "00:00:00", "15:00:01"}, {"15:00:00", "15:00:01"}, true},
        {"0,0,0", {"15:00:00", "00:00:00"}, {"00:00:00", "15:00:00"}, false},  // a ring
        {"0,0,1", {"15:00:00", "00:00:01"}, {"00:00:01", "15:00:00"}, false},
        {"0,0,0,0,0,1", {"10:00:00", "10:00:00", "10:00:00", "10:00:01"}, {"10:00:00 I", "10:00:01"}, false},
        {"0,0,0,0,0,0", {"10:00:00", "10:00:00"}, {"10:00:00", "10:00:00"}, false},
    };
    for (const Case& c : cases) {
        CsvReading r;
        r.Profile(c.profile);
        r.ctx.opt.LocalTimeOffset = " 09:00:00";
        std::string text = kCsvHead;
        for (const char* t : c.rows) text += CsvLine(t);
        r.ReadText(text);
        std::vector<std::string> got;
        for (int32_t i = 0; i < r.Count(); ++i)
            got.push_back(FormatDateTime("hh:nn:ss", r.P(i).Time) + (r.P(i).Flags & InterestPoint ? " I" : ""));
        EXPECT_EQ(got, c.points) << c.profile << " " << c.rows.size();
        EXPECT_EQ(r.HasLine("  Data of illegal time was disregarded: 2024/03/16 00:00:00"), c.dropped) << c.profile;
        if (c.dropped) {
            EXPECT_TRUE(r.host.showReportAtEnd);
        }
    }
}

// A letter beyond ASCII matches only as a whole character: another letter that shares its first
// byte tags nothing.
TEST(CsvReader, RecordTypeLettersMatchWholeCharacters) {
    CsvReading r;
    r.ctx.opt.Interest = "\xC3\xA9";   // e acute
    r.ctx.opt.Interest2 = "\xC3\xBC";  // u umlaut
    std::string text = "RCR,DATE,TIME,LATITUDE,N/S,LONGITUDE,E/W\r\n";
    int sec = 0;
    for (const char* rcr : {"\xC3\xA9", "\xC3\xA0", "T\xC3\xBC", "T", "\xC3\xBC\xC3\xA9"})
        text += std::string(rcr) + ",2024/03/16,10:00:0" + std::to_string(sec++) + ",48.1,N,11.5,E\r\n";
    r.ReadText(text);
    ASSERT_EQ(r.Count(), 5);
    const uint8_t flags[] = {InterestPoint, 0, VoicePoint, 0, InterestPoint | VoicePoint};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(r.P(i).Flags, flags[i]) << i;
}

// South and west, in either case, turn a coordinate's sign; anything else leaves it.
TEST(CsvReader, HemisphereLettersTurnTheSign) {
    CsvReading r;
    r.ReadText(
        "TIME,LATITUDE,N/S,LONGITUDE,E/W\r\n10:00:00,48.1,S,11.5,W\r\n10:00:01,48.1,s,11.5,w\r\n"
        "10:00:02,48.1,N,11.5,E\r\n10:00:03,48.1,,11.5,x\r\n");
    ASSERT_EQ(r.Count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r.P(i).Lat, i < 2 ? -48.1 : 48.1) << i;
        EXPECT_EQ(r.P(i).Lon, i < 2 ? -11.5 : 11.5) << i;
    }
}

TEST(CsvReader, FixMaskAndPlaceholderRules) {
    const std::string head = "RCR,TIME,VALID,LATITUDE,LONGITUDE,HDOP,NSAT,VOX\r\n";
    CsvReading r;
    r.ctx.opt.HdopMax = 2.0;
    r.ctx.opt.NsatMin = 5;
    r.ReadText(head +
               "T,10:00:00,No fix,48.1,11.5,1.0,8,\r\n"     // dropped: no fix
               "B,10:00:01,No fix,48.1,11.5,1.0,8,\r\n"     // tagged: kept
               "T,10:00:02,SPS,48.1,11.5,2.1,8,\r\n"        // dropped: HDOP
               "T,10:00:03,SPS,48.1,11.5,2.0,4(9),\r\n"     // dropped: satellites
               "TV,10:00:04,SPS,48.1,11.5,9.0,1,a.wav\r\n"  // tagged: kept
               "B,10:00:05,SPS,90,0,1.0,8,\r\n"             // placeholder position
               "B,10:00:06,SPS,,,1.0,8,\r\n"                // no position
               "T,10:00:07,DGPS,48.1,11.5,2.0,5(12),\r\n");
    ASSERT_EQ(r.Count(), 3);
    // Times of day without a date.
    EXPECT_EQ(test::Describe(r.P(0)), "1899-12-30 10:00:01.000 48.1000000 11.5000000 nan 0.000 10 8 0 2");
    EXPECT_EQ(test::Describe(r.P(1)), "1899-12-30 10:00:04.000 48.1000000 11.5000000 nan 0.000 90 1 1 4");
    EXPECT_EQ(test::Describe(r.P(2)), "1899-12-30 10:00:07.000 48.1000000 11.5000000 nan 0.000 20 5 2 0");
    EXPECT_EQ(r.P(1).VoiceName, "a.wav");

    CsvReading all;  // fix only off: the no-fix row is kept
    all.ctx.opt.FixDataOnly = false;
    all.ReadText(head + "T,10:00:00,No fix,48.1,11.5,1.0,8,\r\n");
    EXPECT_EQ(all.Count(), 1);
}

// A row with half a position or without its position columns, and a last line cut short (no line
// end, fewer fields than the row before or, as the only row, the header's named columns) give no
// point and a report line. Rows leaving out trailing fields, without a position or any text are not
// damage.
TEST(CsvReader, DamagedRowsGiveNothingAndAreReported) {
    const std::string head = "DATE,TIME,LATITUDE,N/S,LONGITUDE,E/W,HEIGHT,SPEED,\r\n", at = "2024/03/16,12:00:0";
    CsvReading r, whole, first;
    r.ReadText(head + at + "0,35.6,N,139.7,E,105,3\r\n" + at + "1,35.6\r\n" + at + "2,,N,139.7,E,105,3\r\n" + at +
               "3,35.6,N,,E,105\r\n" + at + "4,,,,,,\r\n , ,\x1a\r\n" + at + "5,35.6,N,139.7,E,106\r\n" + at +
               "6,35.6,N,139.7,E,107,4\r\n" + at + "7,35.6,N,139.7,E,10");
    ASSERT_EQ(r.Count(), 3);
    EXPECT_EQ(r.P(1).Alt, 106);
    EXPECT_EQ(r.Lines("  Damaged row was disregarded: line "), 4);
    EXPECT_TRUE(r.HasLine("  Damaged row was disregarded: line 10") && r.host.showReportAtEnd);
    whole.ReadText(head + at + "0,35.6,N,139.7,E,105,3");
    first.ReadText(head + at + "0,35.6,N,139.7,E,105");
    EXPECT_TRUE(whole.Count() == 1 && first.Count() == 0 && first.HasLine("  Damaged row was disregarded: line 2"));
}

// A no-fix row of a logger that leaves out trailing empty fields stops before its position
// columns: no point, and no report line; a row that stops inside its position still is damage.
TEST(CsvReader, NoFixRowsWithoutTrailingFieldsAreNotDamage) {
    const std::string head = "DATE,TIME,VALID,LATITUDE,N/S,LONGITUDE,E/W,HEIGHT\r\n", at = "2024/03/16,12:00:0";
    CsvReading r;
    r.ctx.opt.FixDataOnly = false;
    r.ReadText(head + at + "0,SPS,35.6,N,139.7,E,105\r\n" + at + "1,No fix\r\n" + at + "2,No fix,\r\n" + at + "3\r\n" +
               at + "4,SPS,35.6,N,139.8,E,106\r\n" + at + "5,SPS,35.6,N\r\n");
    ASSERT_EQ(r.Count(), 2);
    EXPECT_EQ(r.P(1).Alt, 106);
    EXPECT_EQ(r.Lines("  Damaged row was disregarded: line "), 1);
    EXPECT_TRUE(r.HasLine("  Damaged row was disregarded: line 7"));
    EXPECT_FALSE(r.HasLine("  Damaged row was disregarded: line 3"));
}

TEST(CsvReader, HeightUnitsAndGeoid) {
    const std::string head = "TIME,LATITUDE,LONGITUDE,ALTITUDE,GEOID,TEMPERATURE,BAROMETER\r\n";
    const std::string rows = head + "10:00:00,48.1,11.5,100,47.5,21.5,1013.2\r\n10:00:01,48.1,11.5,,,,\r\n";
    test::FixedGeoid geoid(40);
    for (const bool above : {false, true}) {
        CsvReading r;
        r.Profile(above ? "0,1,0,0,1" : "0,0,0,0,1");
        r.UseGeoid(&geoid);
        r.ctx.opt.GeoidCaption = "EGM2008";
        r.ReadText(rows);
        ASSERT_EQ(r.Count(), 2);
        EXPECT_NEAR(r.P(0).Alt, above ? 30.48 : -9.52, 1e-9);
        EXPECT_EQ(r.P(0).GeoidSep, 40.0f);
        EXPECT_NEAR(r.P(1).Alt, above ? 0 : -40, 1e-9);  // an empty height field is 0
        EXPECT_TRUE(r.P(0).Temperature == 21.5f && r.P(0).Pressure == 1013.2f && std::isnan(r.P(1).Temperature));
        EXPECT_TRUE(r.HasLine("  Geoid model: EGM2008"));
        EXPECT_EQ(r.HasLine("  Geoid designation value was ignored."), above);
    }
    // Without the model the log's own separation is kept; a point outside the grid is counted.
    CsvReading own;
    own.ReadText(rows);
    EXPECT_EQ(own.P(0).GeoidSep, 47.5f);
    EXPECT_EQ(own.P(0).Alt, 100);
    test::FixedGeoid outside(kNaN);
    CsvReading o;
    o.UseGeoid(&outside);
    o.ReadText(rows);
    EXPECT_EQ(o.P(0).Alt, 100);
    EXPECT_TRUE(o.HasLine("  Number of Geoid outside range = 2"));
    EXPECT_TRUE(o.host.showReportAtEnd);

    CsvReading none;  // no height column: no altitude
    none.ReadText("TIME,LATITUDE,LONGITUDE\r\n10:00:00,48.1,11.5\r\n");
    EXPECT_TRUE(std::isnan(none.P(0).Alt));
}

TEST(CsvReader, SpeedUnitsAndComputedSpeeds) {
    const std::string rows = "TIME,LAT,LON,SPEED\r\n10:00:00,48.1,11.5,10 km/h\r\n";
    const double expected[] = {10 / 1.852, 8.68976241, 10};
    for (int unit = 0; unit <= 2; ++unit) {
        CsvReading r;
        r.Profile("0,0,0," + std::to_string(unit));
        r.ReadText(rows);
        ASSERT_EQ(r.Count(), 1);
        EXPECT_NEAR(r.P(0).Speed, expected[unit], 1e-12) << unit;
    }
}

TEST(CsvReader, DateAndTimeFormsReadAsTheTimeParserReadsThem) {
    struct Case {
        const char *date, *time, *text;
    };
    const Case cases[] = {
        {"2005-05-01", "10:12:47.5", "05/01/2005 10:12:47.500"},
        {"20050501", "101247", "05/01/2005 10:12:47"},
        {"050501", "101247.123", "05/01/05 10:12:47.123"},
        {"5/1/2005", "23:59:59.9996", "05/01/2005 23:59:59.9996"},
        {"05/01/2005", "10:12:47 PM", "05/01/2005 10:12:47 PM"},
    };
    std::string text = "DATE,TIME,LATITUDE,LONGITUDE\r\n";
    for (const Case& c : cases) text += std::string(c.date) + "," + c.time + ",48.1,11.5\r\n";
    // Rows that do not parse are skipped.
    text +=
        "05/01/2005,10:61:00,48.1,11.5\r\n02/30/2005,10:00:00,48.1,11.5\r\n2005/05/01,x,48.1,11.5\r\n"
        "05.01.2005,10:12:47,48.1,11.5\r\n";
    CsvReading r;
    r.ReadText(text);
    ASSERT_EQ(r.Count(), static_cast<int32_t>(std::size(cases)));
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i)
        EXPECT_EQ(r.ctx.points.Stored(i).Time, StrToTimeMs(cases[i].text)) << cases[i].text;

    // A date and time in one column.
    CsvReading one;
    one.ReadText("Date / Time,Lat,Lon\r\n2024/03/16 12:34:56,48.1,11.5\r\n");
    ASSERT_EQ(one.Count(), 1);
    EXPECT_EQ(one.P(0).Time, testing::T(2024, 3, 16, 12, 34, 56));
}

// The program's own CSV output reads back to the same points, also with date and time in one
// column (the writer's default).
TEST(CsvReader, OwnCsvOutputReadsBack) {
    ScratchDir dir;
    CsvReading in;
    in.ReadText(kCsvHead + CsvLine("10:00:00", 48.1) + CsvLine("10:00:01.250", 48.1001) + CsvLine("10:00:03", 48.1003));
    ASSERT_EQ(in.Count(), 3);
    // The writer will not write a CSV beside a CSV input: write it as if from another log.
    in.ctx.opt.CSVout = true;
    ASSERT_EQ(MakeOutputFiles(in.ctx, (dir.path / "walk.nmea").string()), 3);
    const std::vector<std::string> made = dir.Files();
    ASSERT_EQ(made.size(), 1u);

    CsvReading r;
    r.Read((dir.path / made[0]).string());
    ASSERT_EQ(r.Count(), 3);
    EXPECT_EQ(test::Describe(r.P(1)), "2024-03-16 10:00:01.250 48.1001000 11.5000000 100.00 27.563 0 99 1 0");
    EXPECT_EQ(test::Describe(r.P(2)), "2024-03-16 10:00:03.000 48.1003000 11.5000000 100.00 45.748 0 99 1 0");
}

}  // namespace
}  // namespace ts
