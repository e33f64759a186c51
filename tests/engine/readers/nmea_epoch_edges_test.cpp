// NMEA fixes at the edges of a log: a date change in a block opened after midnight, fixes without
// a date across midnights, a sentence written twice, the same time and place on another day, and a
// last line cut short in a log without checksums.
#include "reader_test_util.h"

namespace ts {
namespace {

using test::Nmea;
using test::Reading;

struct RestoreThreading {
    NmeaThreading saved = NmeaReadThreading();
    ~RestoreThreading() { NmeaReadThreading() = saved; }
};

// Reads a log on the single-thread road (0) and the threaded one with tiny chunks (1); the two
// must give the same points, blocks and report.
void ReadBothRoads(Reading (&r)[2], const std::string& log, int kind = ikNmea, size_t chunk = 100) {
    RestoreThreading restore;
    test::TempFile f(log);
    for (int road = 0; road < 2; ++road) {
        NmeaReadThreading() = road == 0 ? NmeaThreading() : NmeaThreading{0, 2, chunk};
        r[road].Read(f.path(), kind);
    }
    ASSERT_EQ(r[0].host.lines, r[1].host.lines);
    ASSERT_EQ(test::BlockSpans(r[0].ctx), test::BlockSpans(r[1].ctx));
    ASSERT_EQ(r[0].ctx.points.Count(), r[1].ctx.points.Count());
    for (int32_t i = 0; i < r[0].ctx.points.Count(); ++i)
        ASSERT_EQ(test::Describe(r[0].P(i)), test::Describe(r[1].P(i))) << i;
}

std::vector<std::string> Times(const Reading& r) {
    std::vector<std::string> v;
    for (int32_t i = 0; i < r.ctx.points.Count(); ++i) v.push_back(FormatDateTime("yyyy-mm-dd hh:nn:ss", r.P(i).Time));
    return v;
}

// The position of second s of the walk, as "ddmm.mmmm" texts.
std::string Lat(int s) { return "3539." + std::to_string(5160 + 60 * s); }
std::string Lon(int s) { return "13944." + std::to_string(7240 + 60 * s); }
std::string Gga(const std::string& t, int s) {
    return Nmea("GPGGA," + t + ".000," + Lat(s) + ",N," + Lon(s) + ",E,1,08,0.9,50.0,M,39.5,M,,") + "\r\n";
}
std::string Rmc(const std::string& t, int s, const std::string& date, const std::string& knots = "1.00") {
    return Nmea("GPRMC," + t + ".000,A," + Lat(s) + ",N," + Lon(s) + ",E," + knots + ",12.50," + date + ",,,A") +
           "\r\n";
}

// A fix whose RMC is missing takes the date the last RMC gave, also in a block opened after the
// date changed: no day lost, no false step back in time, no extra block. Both orders; and fixes
// before the log's first RMC take its first date, not the last one of the log.
TEST(NmeaDates, FixAfterMidnightWithoutItsRmcKeepsTheNewDate) {
    const std::string ggaFirst = Gga("235950", 0) + Rmc("235950", 0, "010324") + Gga("000040", 1) +
                                 Rmc("000040", 1, "020324") + Gga("000041", 2) + Gga("000042", 3) +
                                 Rmc("000042", 3, "020324");
    const std::string rmcFirst = Rmc("235950", 0, "010324") + Gga("235950", 0) + Rmc("000040", 1, "020324") +
                                 Gga("000040", 1) + Gga("000041", 2) + Rmc("000042", 3, "020324") + Gga("000042", 3);
    // A GGA ahead of the first RMC; the log goes on to a later day.
    const std::string leadingGga = Gga("235948", 0) + rmcFirst + Rmc("000050", 4, "020324") + Gga("000050", 4);
    const struct {
        std::string log, mode;
        std::vector<std::string> times;
    } cases[] = {
        {ggaFirst,
         "GGA First",
         {"2024-03-01 23:59:50", "2024-03-02 00:00:40", "2024-03-02 00:00:41", "2024-03-02 00:00:42"}},
        {rmcFirst,
         "RMC First",
         {"2024-03-01 23:59:50", "2024-03-02 00:00:40", "2024-03-02 00:00:41", "2024-03-02 00:00:42"}},
        {leadingGga,
         "RMC First",
         {"2024-03-01 23:59:48", "2024-03-01 23:59:50", "2024-03-02 00:00:40", "2024-03-02 00:00:41",
          "2024-03-02 00:00:42", "2024-03-02 00:00:50"}},
    };
    for (const auto& c : cases) {
        Reading r[2];
        for (Reading& x : r) x.ctx.opt.SplitIT = "0.5";
        ASSERT_NO_FATAL_FAILURE(ReadBothRoads(r, c.log)) << c.mode;
        EXPECT_TRUE(r[0].HasLine("  NMEA: " + c.mode));
        EXPECT_EQ(Times(r[0]), c.times) << c.mode;
        EXPECT_EQ(r[0].ctx.blocks.Count(), 2) << c.mode;  // the gap before 00:00:40 only
        EXPECT_EQ(r[0].Lines("  Time goes back"), 0) << c.mode;
    }
}

// One point per time: a GGA or RMC written twice, before or after the other kind, is read once, and
// the fix keeps the speed its RMC gives. A sentence of the same time at another place is a fix of
// its own.
TEST(NmeaEpochs, SentenceWrittenTwiceGivesOnePoint) {
    const auto g = [](int s, int at = -1) { return Gga("12000" + std::to_string(s), at < 0 ? s : at); };
    const auto m = [](int s, int at = -1) { return Rmc("12000" + std::to_string(s), at < 0 ? s : at, "070804"); };
    const struct {
        std::string log, mode;
        int points;
    } cases[] = {{g(0) + m(0) + g(1) + g(1) + m(1) + g(2) + m(2) + g(2) + g(3) + m(3), "GGA First", 4},
                 {m(0) + g(0) + m(1) + m(1) + g(1) + m(2) + g(2) + m(2) + m(3) + g(3), "RMC First", 4},
                 {g(0) + g(1) + g(1) + g(2), "GGA_Only", 3},
                 {g(0) + m(0) + g(0, 5) + m(0, 5), "GGA First", 2}};
    for (const auto& c : cases) {
        Reading r[2];
        ASSERT_NO_FATAL_FAILURE(ReadBothRoads(r, c.log)) << c.mode;
        EXPECT_TRUE(r[0].HasLine("  NMEA: " + c.mode));
        ASSERT_EQ(r[0].ctx.points.Count(), c.points) << c.mode;
        for (int32_t i = 0; i < c.points; ++i) {
            EXPECT_EQ(FormatDateTime("ss", r[0].P(i).Time), c.points == 2 ? "00" : "0" + std::to_string(i)) << c.mode;
            if (c.mode != "GGA_Only") {
                EXPECT_DOUBLE_EQ(r[0].P(i).Speed, 1.0) << c.mode << i;
            }
        }
    }
}

// The same time and place on another day (a logger standing still that reports once a day) is a
// fix of its own in every layout; the GGA ahead of its RMC keeps its height.
TEST(NmeaEpochs, SameTimeAndPlaceOnAnotherDayIsAFixOfItsOwn) {
    std::string rmcOnly, rmcFirst, ggaFirst;
    // A few fixes on the move make the GGA-first layout plain to the check pass.
    for (int s = 0; s < 4; ++s)
        ggaFirst += Gga("11595" + std::to_string(s), s) + Rmc("11595" + std::to_string(s), s, "010324");
    for (const std::string d : {"010324", "020324", "030324"}) {
        rmcOnly += Rmc("120000", 9, d);
        rmcFirst += Rmc("120000", 9, d) + Gga("120000", 9);
        ggaFirst += Gga("120000", 9) + Rmc("120000", 9, d);
    }
    for (const std::string* log : {&rmcOnly, &rmcFirst, &ggaFirst}) {
        Reading r[2];
        ASSERT_NO_FATAL_FAILURE(ReadBothRoads(r, *log));
        const std::vector<std::string> t = Times(r[0]);
        const int32_t k = r[0].ctx.points.Count() - 3;
        ASSERT_GE(k, 0);
        for (int d = 0; d < 3; ++d) {
            EXPECT_EQ(t[k + d], "2024-03-0" + std::to_string(d + 1) + " 12:00:00");
            EXPECT_EQ(std::isnan(r[0].P(k + d).Alt) ? 0.0 : r[0].P(k + d).Alt, log == &rmcOnly ? 0.0 : 50.0);
        }
        EXPECT_EQ(t.size(), log == &ggaFirst ? 7u : 3u);
    }
}

// Generated logs over four midnights: GGA and RMC in either order, a sentence missing or written
// twice (next to itself or after the other kind), and whole nights of GGAs without RMC, also
// before the log's first date. Each fix gives one point with its own date, time, place and
// height, on both roads, with no step back in time; blocks open only at the gaps between nights.
TEST(NmeaDates, GeneratedLogsOverSeveralMidnightsKeepEveryFixOnce) {
    const auto text = [](const char* form, double v) {
        char b[48];
        std::snprintf(b, sizeof b, form, v);
        return std::string(b);
    };
    for (unsigned seed = 0; seed < 240; ++seed) {
        std::mt19937 rng(seed);
        const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
        const bool ggaFirst = seed % 2 == 0;
        const int dated = 1 + pick(4);  // a night with RMCs
        std::string log;
        std::vector<std::string> want;
        for (int night = 1, i = 0; night <= 4; ++night) {
            const bool noRmc = night != dated && pick(2) == 0;
            for (long k = 0, at = night * 86400L - 1 - pick(4); k < 6; ++k, ++i, at += 1 + pick(3)) {
                const std::string t = FormatDateTime("hhnnss", at / 86400.0);
                const std::string g = Gga(t, i), m = Rmc(t, i, "0" + std::to_string(1 + at / 86400) + "0324");
                const std::string &a = ggaFirst ? g : m, &b = ggaFirst ? m : g;
                const std::string layouts[] = {a + b, a + a + b, a + b + a, a + b + b, g, m};
                const int x = pick(20), layout = noRmc ? 4 : x < 5 ? x + 1 : 0;
                log += layouts[layout];
                want.push_back(FormatDateTime("yyyy-mm-dd hh:nn:ss", EncodeDate(2024, 3, 1) + at / 86400.0) + " " +
                               text("%.6f", 35 + (39.516 + 0.006 * i) / 60) + (layout == 5 ? " -" : ""));
            }
        }
        Reading r[2];
        ASSERT_NO_FATAL_FAILURE(ReadBothRoads(r, log)) << seed;
        std::vector<std::string> got = Times(r[0]);
        for (int32_t p = 0; p < r[0].ctx.points.Count(); ++p)
            got[p] += " " + text("%.6f", r[0].P(p).Lat) + (std::isnan(r[0].P(p).Alt) ? " -" : "");
        ASSERT_EQ(got, want) << seed << "\n" << log;
        EXPECT_EQ(r[0].ctx.blocks.Count(), 4) << seed;
        EXPECT_EQ(r[0].Lines("  Time goes back"), 0) << seed;
    }
}

// A power loss cuts the last line of a log without checksums anywhere. Cut at every byte of its last
// line, the log gives no value the whole log lacks: its points are those of the whole log, or of the
// log without its last line (no height, satellites or logged speed from a cut field, no point
// without its date), on both roads, for each kind of log that reads NMEA, in both orders, ended by
// CR LF or LF.
TEST(LogCut, NmeaLastLineCutWithoutChecksumsGivesNoValueTheLogDoesNotHave) {
    const auto fix = [](int i, bool ggaFirst, const std::string& eol) {
        const std::string t = "23595" + std::to_string(i) + ".000,", lat = "4807.0" + std::to_string(i) + "0,S,";
        const std::string g = "$GPGGA," + t + lat + "13944.9862,E,1,08,1.0,113.6,M,47.0,M,," + eol;
        const std::string r = "$GPRMC," + t + "A," + lat + "13944.9862,E,10.0,45.0,070804,," + eol;
        return ggaFirst ? g + r : r + g;
    };
    const auto points = [](const Reading& r) {
        std::vector<std::string> v;
        for (int32_t i = 0; i < r.ctx.points.Count(); ++i) v.push_back(test::Describe(r.P(i)));
        return v;
    };
    for (const int kind : {ikNmea, ikTripMate, ikBarometer, ikRbt3000})
        for (const bool ggaFirst : {true, false}) {
            const std::string eol = kind == ikTripMate ? "\n" : "\r\n";
            std::string log = kind == ikBarometer ? "$CUUB V2.0 logger" + eol : "";
            for (int i = 0; i < 5; ++i) log += fix(i, ggaFirst, eol);
            const size_t last = log.rfind('$');
            Reading whole, shorter;
            whole.ReadText(log, kind);
            shorter.ReadText(log.substr(0, last), kind);
            ASSERT_EQ(whole.ctx.points.Count(), 5);
            ASSERT_EQ(shorter.ctx.points.Count(), 5);
            ASSERT_NE(points(whole), points(shorter));
            for (size_t cut = last + 1; cut < log.size(); ++cut)
                for (const size_t chunk : {size_t{7}, size_t{100}}) {
                    Reading r[2];
                    const std::string at = std::to_string(kind) + " " + log.substr(last, cut - last);
                    ASSERT_NO_FATAL_FAILURE(ReadBothRoads(r, log.substr(0, cut), kind, chunk)) << at;
                    const std::vector<std::string> got = points(r[0]);
                    EXPECT_TRUE(got == points(whole) || got == points(shorter)) << at << "\n" << got.back();
                }
        }
}

}  // namespace
}  // namespace ts
