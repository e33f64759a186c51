// Lines of an NMEA log without checksums that lost bytes give nothing wherever they stand; whole
// lines are read whatever fields the logger leaves out of its sentences.
#include "reader_test_util.h"

namespace ts {
namespace {

// The points of a log (with pressure altitude and temperature) as the single-thread road and the
// threaded one with tiny chunks read them; the two must agree, report included.
std::vector<std::string> ReadBothRoads(const std::string& log, int kind = ikNmea) {
    const NmeaThreading saved = NmeaReadThreading();
    test::TempFile f(log);
    std::vector<std::string> points[2], report[2];
    const auto num = [](float v) { return std::isnan(v) ? std::string("none") : std::to_string(v); };
    for (int road = 0; road < 2; ++road) {
        NmeaReadThreading() = road == 0 ? NmeaThreading() : NmeaThreading{0, 2, 100};
        test::Reading r;
        r.Read(f.path(), kind);
        for (int32_t i = 0; i < r.ctx.points.Count(); ++i)
            points[road].push_back(test::Describe(r.P(i)) + " p=" + num(r.P(i).PressureAlt) +
                                   " t=" + num(r.P(i).Temperature));
        report[road] = r.host.lines;
    }
    NmeaReadThreading() = saved;
    EXPECT_EQ(report[0], report[1]);
    EXPECT_EQ(points[0], points[1]);
    return points[0];
}

// Second s of a walk without checksums; full: GGAs with the geoid fields and RMCs past the date,
// else GGAs that end at the altitude's unit and RMCs at the date.
std::string Fix(const char* name, int s, const std::string& rest) {
    return std::string(name) + ",12000" + std::to_string(s) + ".000," + rest.substr(0, rest.find('|')) + "3539." +
           std::to_string(5160 + 60 * s) + ",N,13944." + std::to_string(7240 + 60 * s) + ",E," +
           rest.substr(rest.find('|') + 1) + "\r\n";
}
std::string Gga(int s, bool full) {
    return Fix("$GPGGA", s, "|1,08,0.9,50.0,M" + std::string(full ? ",39.5,M,," : ""));
}
std::string Rmc(int s, bool full) { return Fix("$GPRMC", s, "A,|12.5,45.0,070804" + std::string(full ? ",,,A" : "")); }

// Each line of the second fix cut at every byte, its line end kept or the next line run into it:
// the points are the whole log's or those of the log without that line, never one with a cut
// value or without its date. Both layouts, both orders.
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
            const std::vector<std::string> whole = ReadBothRoads(join(0, lines.size()));
            ASSERT_EQ(whole.size(), 5u);
            for (const size_t victim : {size_t{2}, size_t{3}}) {
                const std::string head = join(0, victim), tail = join(victim + 1, lines.size());
                const std::vector<std::string> without = ReadBothRoads(head + tail);
                for (size_t cut = 1; cut + 2 < lines[victim].size(); ++cut)
                    for (const char* eol : {"\r\n", ""}) {
                        const std::string at = lines[victim].substr(0, cut) + (*eol ? "|" : "+");
                        const std::vector<std::string> got =
                            ReadBothRoads(head + lines[victim].substr(0, cut) + eol + tail);
                        EXPECT_TRUE(got == whole || got == without) << at;
                        for (const std::string& p : got) EXPECT_NE(p.substr(0, 4), "1899") << at;
                    }
            }
        }
}

// A whole last line without a line end is read in a layout that leaves fields out: the third RMC,
// and the second fix's logged speed.
TEST(NmeaDamagedLines, WholeLastLineOfAShortLayoutIsRead) {
    const std::string rmcs = Rmc(0, false) + Rmc(1, false) + Rmc(2, false);
    EXPECT_EQ(ReadBothRoads(rmcs.substr(0, rmcs.size() - 2)).size(), 3u);
    const std::string pairs = Gga(0, false) + Rmc(0, false) + Gga(1, false) + Rmc(1, false);
    const std::vector<std::string> got = ReadBothRoads(pairs.substr(0, pairs.size() - 2));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], ReadBothRoads(pairs)[1]);
}

// Pressure lines cut short give no values rather than zeros for what they lost; a "$IISMD" that
// lacks values also as the first of its kind in the log.
TEST(NmeaDamagedLines, CutPressureLinesGiveNoValues) {
    for (const int cutAt : {0, 2}) {
        std::string smd, cbdbg = "$CUUB V2.0 logger\r\n";
        for (int s = 0; s < 4; ++s) {
            smd += Gga(s, true) + Rmc(s, true) + (s == cutAt ? "$IISMD,1.0,1000." : "$IISMD,1.0,1000.0,100.0,20.0") +
                   "\r\n";
            cbdbg += (s == 2 ? "@CBDBG,1,2\r\n" : "@CBDBG,1,20,0\r\n") + Gga(s, true) + Rmc(s, true);
        }
        const std::vector<std::string> p = ReadBothRoads(smd), q = ReadBothRoads(cbdbg, ikBarometer);
        ASSERT_EQ(p.size(), 4u);
        ASSERT_EQ(q.size(), 4u);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(p[i].find("p=none t=none") != std::string::npos, i == cutAt) << p[i];
            EXPECT_EQ(q[i].find("p=none") != std::string::npos, i == 2) << q[i];
        }
    }
}

}  // namespace
}  // namespace ts
