// Lines of an NMEA log that lost bytes: a damaged line gives nothing wherever it stands, while a
// whole line is read whatever fields the logger leaves out of its sentences.
#include "reader_test_util.h"

namespace ts {
namespace {

using test::Reading;

struct RestoreThreading {
    NmeaThreading saved = NmeaReadThreading();
    ~RestoreThreading() { NmeaReadThreading() = saved; }
};

// The single-thread road (0) and the threaded one with tiny chunks (1) must agree.
void ReadBothRoads(Reading (&r)[2], const std::string& log, int kind = ikNmea) {
    RestoreThreading restore;
    test::TempFile f(log);
    for (int road = 0; road < 2; ++road) {
        NmeaReadThreading() = road == 0 ? NmeaThreading() : NmeaThreading{0, 2, 100};
        r[road].Read(f.path(), kind);
    }
    ASSERT_EQ(r[0].host.lines, r[1].host.lines);
    ASSERT_EQ(test::BlockSpans(r[0].ctx), test::BlockSpans(r[1].ctx));
    ASSERT_EQ(r[0].ctx.points.Count(), r[1].ctx.points.Count());
    for (int32_t i = 0; i < r[0].ctx.points.Count(); ++i)
        ASSERT_EQ(test::Describe(r[0].P(i)), test::Describe(r[1].P(i))) << i;
}

std::vector<std::string> Points(const Reading& r) {
    std::vector<std::string> v;
    for (int32_t i = 0; i < r.ctx.points.Count(); ++i) v.push_back(test::Describe(r.P(i)));
    return v;
}

// Second s of a walk without checksums; full: GGAs with the geoid fields and RMCs past the date,
// else GGAs that end at the altitude's unit and RMCs at the date.
std::string Gga(int s, bool full) {
    return "$GPGGA,12000" + std::to_string(s) + ".000,3539." + std::to_string(5160 + 60 * s) + ",N,13944." +
           std::to_string(7240 + 60 * s) + ",E,1,08,0.9,50.0,M" + (full ? ",39.5,M,," : "") + "\r\n";
}
std::string Rmc(int s, bool full) {
    return "$GPRMC,12000" + std::to_string(s) + ".000,A,3539." + std::to_string(5160 + 60 * s) + ",N,13944." +
           std::to_string(7240 + 60 * s) + ",E,12.5,45.0,070804" + (full ? ",,,A" : "") + "\r\n";
}

// Every line of the second fix cut at every byte, its line end kept or the next line run into it:
// the points are the whole log's or those of the log without that line, never one with a cut
// value or without its date. In both layouts and both orders.
TEST(NmeaDamagedLines, LineCutInsideTheLogGivesNothing) {
    for (const bool full : {true, false})
        for (const bool ggaFirst : {true, false}) {
            std::vector<std::string> lines;
            for (int s = 0; s < 5; ++s) {
                lines.push_back(ggaFirst ? Gga(s, full) : Rmc(s, full));
                lines.push_back(ggaFirst ? Rmc(s, full) : Gga(s, full));
            }
            const auto join = [&](size_t from, size_t to) {
                std::string t;
                for (size_t i = from; i < to; ++i) t += lines[i];
                return t;
            };
            Reading whole;
            whole.ReadText(join(0, lines.size()));
            ASSERT_EQ(whole.ctx.points.Count(), 5);
            for (const size_t victim : {size_t{2}, size_t{3}}) {
                const std::string head = join(0, victim), tail = join(victim + 1, lines.size());
                Reading without;
                without.ReadText(head + tail);
                const std::string& line = lines[victim];
                for (size_t cut = 1; cut + 2 < line.size(); ++cut)
                    for (const char* eol : {"\r\n", ""}) {
                        Reading r[2];
                        const std::string at = line.substr(0, cut) + (*eol ? "|" : "+");
                        ASSERT_NO_FATAL_FAILURE(ReadBothRoads(r, head + line.substr(0, cut) + eol + tail)) << at;
                        const std::vector<std::string> got = Points(r[0]);
                        EXPECT_TRUE(got == Points(whole) || got == Points(without)) << at;
                        for (int32_t i = 0; i < r[0].ctx.points.Count(); ++i) ASSERT_GT(r[0].P(i).Time, 1.0) << at;
                    }
            }
        }
}

// A whole last line without a line end is read in a layout that leaves fields out.
TEST(NmeaDamagedLines, WholeLastLineOfAShortLayoutIsRead) {
    std::string rmcs = Rmc(0, false) + Rmc(1, false) + Rmc(2, false);
    rmcs.resize(rmcs.size() - 2);
    Reading r[2];
    ASSERT_NO_FATAL_FAILURE(ReadBothRoads(r, rmcs));
    EXPECT_TRUE(r[0].HasLine("  NMEA:   3 records"));

    std::string pairs = Gga(0, false) + Rmc(0, false) + Gga(1, false) + Rmc(1, false);
    pairs.resize(pairs.size() - 2);
    Reading p[2];
    ASSERT_NO_FATAL_FAILURE(ReadBothRoads(p, pairs));
    ASSERT_EQ(p[0].ctx.points.Count(), 2);
    EXPECT_DOUBLE_EQ(p[0].P(1).Speed, 12.5);  // the logged speed, not one from the track
    EXPECT_DOUBLE_EQ(p[0].P(1).Alt, 50.0);
}

// Pressure lines cut short give no values, rather than zeros for what they lost: a later one, and
// a "$IISMD" that lacks values the first of its kind in the log as well.
TEST(NmeaDamagedLines, CutPressureLinesGiveNoValues) {
    for (const int cutAt : {0, 2}) {
        std::string smd, cbdbg = "$CUUB V2.0 logger\r\n";
        for (int s = 0; s < 4; ++s) {
            smd += Gga(s, true) + Rmc(s, true) + (s == cutAt ? "$IISMD,1.0,1000." : "$IISMD,1.0,1000.0,100.0,20.0") +
                   "\r\n";
            cbdbg += (s == 2 ? "@CBDBG,1,2" : "@CBDBG,1,20,0") + std::string("\r\n") + Gga(s, true) + Rmc(s, true);
        }
        Reading r[2], b[2];
        ASSERT_NO_FATAL_FAILURE(ReadBothRoads(r, smd));
        ASSERT_NO_FATAL_FAILURE(ReadBothRoads(b, cbdbg, ikBarometer));
        ASSERT_EQ(r[0].ctx.points.Count(), 4);
        ASSERT_EQ(b[0].ctx.points.Count(), 4);
        for (int i = 0; i < 4; ++i) {
            const TLogData &p = r[0].P(i), &q = b[0].P(i);
            EXPECT_EQ(std::isnan(p.PressureAlt) && std::isnan(p.Temperature), i == cutAt) << cutAt << " " << i;
            if (i != cutAt) {
                EXPECT_FLOAT_EQ(p.PressureAlt, 100.0f);
            }
            EXPECT_EQ(std::isnan(q.PressureAlt), i == 2) << i;
            if (i != 2) {
                EXPECT_FLOAT_EQ(q.PressureAlt, b[0].P(0).PressureAlt);
            }
        }
    }
}

// A NUL leaves a sentence's XOR as it was: the RMC holding one in its latitude is not the one the
// logger summed and gives nothing, so the epoch keeps its whole GGA.
TEST(NmeaDamagedLines, NulBytesFailTheChecksum) {
    std::string log;
    for (int s = 0; s < 4; ++s) {
        const std::string g = Gga(s, true), m = Rmc(s, true);
        log += test::Nmea(g.substr(1, g.size() - 3)) + "\r\n" + test::Nmea(m.substr(1, m.size() - 3)) + "\r\n";
    }
    const size_t lat = log.find("3539", log.find("$GPRMC,120002"));
    log.insert(lat + 2, std::string("\0\0", 2));
    Reading r[2];
    ASSERT_NO_FATAL_FAILURE(ReadBothRoads(r, log));
    EXPECT_TRUE(r[0].HasLine("  NMEA: GGA First"));
    ASSERT_EQ(r[0].ctx.points.Count(), 4);
    EXPECT_DOUBLE_EQ(r[0].P(2).Alt, 50.0);
}

}  // namespace
}  // namespace ts
