#include "reader_test_util.h"

namespace ts {
namespace {

using test::Nmea;
using test::Reading;
using test::TempFile;

const int T0 = 12 * 3600;
// Latitude text of 48 degrees plus i thousandths of a minute.
std::string LatText(int i) {
    char b[16];
    std::snprintf(b, sizeof b, "48%06.3f", 7.0 + i * 0.001);
    return b;
}
std::string Hms(int sec) {
    char t[16];
    std::snprintf(t, sizeof t, "%02d%02d%02d", sec / 3600 % 24, sec / 60 % 60, sec % 60);
    return t;
}
// The GGA and RMC sentences of second sec of the day, at the i-th position.
std::string Gga(int sec, int i, const std::string& alt = "100.0", const std::string& sep = "") {
    return Nmea("GPGGA," + Hms(sec) + "," + LatText(i) + ",N,01131.000,E,1,08,0.9," + alt + ",M," + sep + ",M,,") +
           "\r\n";
}
std::string Rmc(int sec, int i) {
    return Nmea("GPRMC," + Hms(sec) + ",A," + LatText(i) + ",N,01131.000,E,10.0,0.0,070804,,") + "\r\n";
}
// n epochs from T0, with before put ahead of epoch at.
std::string Epochs(int n, const std::string& before = "", int at = -1) {
    std::string log;
    for (int i = 0; i < n; ++i) log += (i == at ? before : "") + Gga(T0 + i, i) + Rmc(T0 + i, i);
    return log;
}
double SecondOfDay(double t) { return std::round(std::fmod(t, 1.0) * 86400000.0) / 1000.0; }

TEST(NmeaReader, SampleMatchesThePeerReading) {
    const std::string dir = TS_SHARED_DIR "/testdata/";
    Reading r;
    EXPECT_EQ(r.Read(dir + "sample.nmea"), 0);  // read fine; no output type is ticked
    EXPECT_TRUE(r.HasLine("  NMEA: GGA First"));
    EXPECT_TRUE(r.HasLine("  NMEA:   154 records"));
    const auto peer = test::PeerTrack(dir + "sample.nmea.peer.gpx");
    // Every epoch of the sample has a fix, so nothing is dropped by our rules: same count. The peer
    // writes ISO times in UTC with milliseconds.
    ASSERT_NO_FATAL_FAILURE(test::ExpectPeerTrack(r, peer, 154, 5e-9, "yyyy-mm-dd\"T\"hh:nn:ss.zzz\"Z\""));
    for (int i = 0; i < 154; ++i) {
        const TLogData& p = r.P(i);
        const test::PeerPoint& q = peer[i];
        EXPECT_EQ(p.Sats, std::stoi(q.tag.at("sat"))) << i;
        EXPECT_EQ(p.Hdop10, std::lround(q.Num("hdop") * 10)) << i;
        EXPECT_FLOAT_EQ(p.GeoidSep, std::stof(q.tag.at("geoidheight"))) << i;
        EXPECT_EQ(p.FixQuality, 1);
        // We keep the RMC's knots; the peer gives m/s from the VTG's km/h, which has one decimal.
        EXPECT_NEAR(p.Speed * 1.852 / 3.6, q.Num("speed"), 0.015) << i;
    }
    EXPECT_DOUBLE_EQ(r.P(0).Speed, 0.17);
}

// The check pass decides how sentences pair into epochs; each layout must give every epoch, with
// the GGA's altitude and satellites and the RMC's speed and date where the log has them.
TEST(NmeaReader, ModeOfEachSentenceLayout) {
    const double stepKn =
        GeoDistance(48 + 7.001 / 60, 11.5 + 31.0 / 60, 48 + 7.002 / 60, 11.5 + 31.0 / 60).distance * 3.6 / 1.852;
    struct Case {
        const char* mode;
        bool gga, rmc, rmcFirst;
        double speed;
        int sats;
    };
    const Case cases[] = {{"GGA First", true, true, false, 10.0, 8},
                          {"RMC First", true, true, true, 10.0, 8},  // the RMC's speed goes into the GGA's set
                          {"RMC_Only", false, true, false, 10.0, 99},
                          {"GGA_Only", true, false, false, stepKn, 8}};
    for (const Case& c : cases) {
        std::string log;
        for (int i = 0; i < 5; ++i) {
            // The last epoch steps back in time: said in every layout, with or without a logged speed.
            const int sec = i == 4 ? T0 + 2 : T0 + i;
            const std::string gga = c.gga ? Gga(sec, i, "12" + std::to_string(i) + ".5") : "";
            const std::string rmc = c.rmc ? Rmc(sec, i) : "";
            log += c.rmcFirst ? rmc + gga : gga + rmc;
        }
        Reading r;
        r.ReadText(log);
        EXPECT_TRUE(r.HasLine(std::string("  NMEA: ") + c.mode)) << c.mode;
        ASSERT_EQ(r.ctx.points.Count(), 5) << c.mode;
        const TLogData& p = r.P(2);
        EXPECT_NEAR(p.Lat, 48 + 7.002 / 60, 1e-9) << c.mode;
        EXPECT_EQ(std::isnan(p.Alt) ? -1.0 : p.Alt, c.gga ? 122.5 : -1.0) << c.mode;
        EXPECT_NEAR(p.Speed, c.speed, 1e-6) << c.mode;
        EXPECT_EQ(p.Sats, c.sats) << c.mode;
        EXPECT_EQ(SecondOfDay(p.Time), T0 + 2) << c.mode;
        EXPECT_EQ(p.Time > 2.0, c.rmc) << c.mode;  // dated by the RMC
        EXPECT_EQ(r.Lines("  Time goes back: "), 1) << c.mode;
    }
}

TEST(NmeaReader, WaypointsAndLogNowTagThePoints) {
    // A waypoint tags the point at its position; another name tags nothing.
    const std::string at2 = "GPWPL," + LatText(2) + ",N,01131.000,E,";
    Reading r;
    r.ReadText(
        Epochs(5, Nmea(at2 + "Trailsmith_1") + "\r\n" + Nmea(at2 + "VOX1") + "\r\n" + Nmea(at2 + "Other") + "\r\n", 2));
    ASSERT_EQ(r.ctx.points.Count(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(r.P(i).Flags, i == 2 ? InterestPoint | VoicePoint : 0) << i;
    // An unmatched tag waits for a later point at the waypoint's position.
    Reading w;
    w.ReadText(Epochs(5, Nmea("GPWPL," + LatText(4) + ",N,01131.000,E,Trailsmith_1") + "\r\n", 0));
    EXPECT_TRUE(w.P(4).Flags == InterestPoint && w.P(0).Flags == 0);
    // A TripMate "LOG NOW" tags the next point; in a plain NMEA log it means nothing.
    for (int kind : {ikTripMate, ikNmea}) {
        Reading t;
        t.ReadText(Epochs(4, "/* LOG NOW */\r\n", 2), kind);
        ASSERT_EQ(t.ctx.points.Count(), 4);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(t.P(i).Flags, i == 2 && kind == ikTripMate ? InterestPoint : 0) << i;
    }
}

// An estimated epoch is dropped whole: the next point keeps nothing of its GGA, whose quality,
// satellites, HDOP and separation differ from every other sentence here.
TEST(NmeaReader, CancelledEstimatedEpochLeavesNothingBehind) {
    auto gga = [](int sec, int i, const std::string& q, const std::string& satsHdop, const std::string& sep) {
        return Nmea("GPGGA," + Hms(sec) + "," + LatText(i) + ",N,01131.000,E," + q + "," + satsHdop + ",100.0,M," +
                    sep + ",M,,") +
               "\r\n";
    };
    const std::string first = gga(T0, 0, "1", "08,0.9", "40.0") + Rmc(T0, 0);
    const std::string last = gga(T0 + 3, 3, "1", "08,0.9", "40.0") + Rmc(T0 + 3, 3);
    const std::string lone = gga(T0 + 2, 2, "0", "00,", "") + Rmc(T0 + 2, 2);  // only the RMC counts
    const std::string estimated = gga(T0 + 1, 1, "6", "09,1.7", "30.0") + Rmc(T0 + 1, 1);
    Reading with, without;
    with.ReadText(first + estimated + lone + last);
    without.ReadText(first + lone + last);
    ASSERT_EQ(with.ctx.points.Count(), 3);
    ASSERT_EQ(without.ctx.points.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(test::Describe(with.P(i)), test::Describe(without.P(i))) << i;
        EXPECT_EQ(with.P(i).GeoidSep, 40.0f) << i;
    }
    EXPECT_EQ(with.P(1).FixQuality, 1);
    EXPECT_EQ(with.P(1).Sats, 99);
    EXPECT_EQ(with.P(1).Hdop10, 0);
}

std::string BarometerLog() {
    std::string log = "$CUUB V2.0 logger\r\n";
    for (int i = 0; i < 6; ++i) {
        log += "@CBDBG,1," + std::to_string(10 * i) + ",0\r\n";  // field 3: the height
        if (i == 4) log += "@LPRMC,1\r\n";
        log += Gga(T0 + i, i) + Rmc(T0 + i, i);
    }
    return log;
}

TEST(NmeaReader, BarometricLoggerCalibratesOnceAndTags) {
    Reading r;
    r.ctx.opt.BarometerOffset = -13.25;  // 1000 hPa at 0 m
    r.ReadText(BarometerLog(), ikBarometer);
    EXPECT_EQ(r.host.calibrations, 1);
    const BarometerStart& s = r.host.start;  // the height: 1000 hPa against the standard reference
    EXPECT_EQ(
        s.loggerText + "|" + s.latText + "|" + s.lonText + "|" + s.altText + "|" + s.altEditText + "|" + s.offsetText,
        "V2.0 logger| 48\xC2\xB0 07' 00.000\"  N| 11\xC2\xB0 31' 00.000\"  E|110.9 m|110.9|Barometer offset: -13.25 "
        "hPa");
    EXPECT_NEAR(r.host.firstPressure, 1000.0, 1e-9);
    ASSERT_EQ(r.ctx.points.Count(), 6);
    // Unattended: the standard reference.
    EXPECT_NEAR(r.ctx.points.At(0).PressureAlt, 110.9, 0.05);
    EXPECT_NEAR(r.ctx.points.At(0).Pressure, 1000.0, 1e-3);
    // "@LPRMC," tags the next point, exactly once; held lines are consumed once.
    for (int i = 0; i < 6; ++i) EXPECT_EQ(r.ctx.points.At(i).Flags, i == 4 ? InterestPoint : 0) << i;

    // Calibrated at 0 m and 15 C: the start point is the zero of pressure altitude.
    Reading c;
    c.ctx.opt.BarometerOffset = -13.25;
    c.host.answer = true;
    c.ReadText(BarometerLog(), ikBarometer);
    ASSERT_EQ(c.ctx.points.Count(), 6);
    EXPECT_NEAR(c.ctx.points.At(0).PressureAlt, 0.0, 1e-3);
    EXPECT_NEAR(c.ctx.points.At(3).PressureAlt, 30.0, 0.5);  // 30 m higher, measured from 1000 hPa

    // As a plain log the logger lines are ignored and nothing is asked.
    Reading p;
    p.ReadText(BarometerLog(), ikNmea);
    EXPECT_EQ(p.host.calibrations, 0);
    EXPECT_TRUE(std::isnan(p.ctx.points.At(0).Pressure));
}

TEST(NmeaReader, BarometerSearchLeavesNoStaleLineForTheReadPass) {
    // The search stops at the epoch that ends with a held "@LPRMC," line; the read pass must
    // start afresh at the top of the file.
    std::string log = Gga(T0, 0) + Rmc(T0, 0) + "@CBDBG,1,0,0\r\n" + Gga(T0 + 1, 1) + Rmc(T0 + 1, 1) + "@LPRMC,1\r\n" +
                      Gga(T0 + 2, 2) + Rmc(T0 + 2, 2);
    Reading r;
    r.ReadText(log, ikBarometer);
    EXPECT_EQ(r.host.calibrations, 1);
    ASSERT_EQ(r.ctx.points.Count(), 3);
    EXPECT_EQ(SecondOfDay(r.ctx.points.At(0).Time), T0);
    EXPECT_EQ(r.ctx.points.At(2).Flags, InterestPoint);
    EXPECT_EQ(r.ctx.points.At(1).Flags, 0);

    // A search that runs to the end of the log (no usable pressure) must not end the read pass.
    Reading e;
    e.ReadText(Gga(T0, 0) + Rmc(T0, 0) + "@CBDBG,1,1e9,0\r\n" + Gga(T0 + 1, 1) + Rmc(T0 + 1, 1), ikBarometer);
    EXPECT_EQ(e.host.calibrations, 0);
    EXPECT_EQ(e.ctx.points.Count(), 2);
}

TEST(NmeaReader, NoValidDataStatus) {
    Reading none;
    EXPECT_EQ(none.ReadText("hello\r\n$GPGSA,A,3*00\r\n"), 0);
    EXPECT_EQ(none.host.status[1], " no valid data.");
}

TEST(NmeaReader, AbortDuringEitherPass) {
    std::string log;
    for (int i = 0; i < 4000; ++i) log += Gga(T0 + i, i);  // no pairs: the check pass reads it all
    TempFile f(log);

    // The check pass lets the message loop run every 512 lines, so Esc is seen there.
    Reading check;
    check.host.abortAfterPumps = 3;  // the two pumps at the start, then the first in the check pass
    EXPECT_EQ(check.Read(f.path()), -1);
    EXPECT_EQ(check.host.status[0].find("Reading"), std::string::npos);

    Reading read;
    read.host.abortAfterPumps = 11;  // 1 + 1 + 7 in the check pass, 1 after the mode, 1 at 512 points
    read.ctx.keepPoints = false;
    EXPECT_EQ(read.Read(f.path()), -1);
    EXPECT_NE(read.host.status[0].find("Reading NMEA file"), std::string::npos);
    EXPECT_EQ(read.ctx.points.Count(), 0);  // freed
}

TEST(NmeaReader, FormatDms) {
    const std::string deg = "\xC2\xB0";
    // Seconds that would round to 60 stay below it; whole seconds keep two digits.
    const std::tuple<int, double, const char*> cases[] = {{3, 139.5, "139\xC2\xB0 30' 00.000\""},
                                                          {1, 35.99999444444445, " 35\xC2\xB0 59' 59.9\""},
                                                          {3, NAN, ""},
                                                          {0, 10.0 + 5.0 / 3600, " 10\xC2\xB0 00' 05\""},
                                                          {0, 10.0 + 59.7 / 3600, " 10\xC2\xB0 00' 59\""}};
    for (const auto& [digits, v, text] : cases) EXPECT_EQ(FormatDms(digits, v, deg), text) << v;
    EXPECT_EQ(FormatLatLonDms(3, "EW", -139.5, deg), "139\xC2\xB0 30' 00.000\"  W");
    EXPECT_EQ(FormatLatLonDms(0, "NS", 0.0, deg), "  0\xC2\xB0 00' 00\"  N");
}

TEST(NmeaReader, OverlongLinesAreCutNotHeld) {
    // A line longer than the reader keeps: its tail is dropped up to the line end, and the
    // following sentences are read normally.
    const std::string longLine = "$GPTXT," + std::string(3 * LineReader::kMaxLine, 'x');
    for (const char* end : {"\n", "\r\n", "\r"}) {
        Reading r;
        r.ReadText(Gga(T0, 0) + Rmc(T0, 0) + longLine + end + Gga(T0 + 1, 1) + Rmc(T0 + 1, 1));
        EXPECT_EQ(r.ctx.points.Count(), 2) << end;
    }
}

// Every field of a point, bit for bit.
std::string Bits(const TLogData& p) {
    char b[256];
    std::snprintf(
        b, sizeof b, "%llx %llx %llx %llx %llx %d %d %x %x %x %x %d %d %s",
        (unsigned long long)std::bit_cast<uint64_t>(p.Time), (unsigned long long)std::bit_cast<uint64_t>(p.Lat),
        (unsigned long long)std::bit_cast<uint64_t>(p.Lon), (unsigned long long)std::bit_cast<uint64_t>(p.Alt),
        (unsigned long long)std::bit_cast<uint64_t>(p.Speed), p.Hdop10, p.Sats, std::bit_cast<uint32_t>(p.GeoidSep),
        std::bit_cast<uint32_t>(p.Pressure), std::bit_cast<uint32_t>(p.Temperature),
        std::bit_cast<uint32_t>(p.PressureAlt), p.Flags, p.FixQuality, p.VoiceName.c_str());
    return b;
}

// The threaded read pass gives what the single-thread one gives: result, report, status, pumps,
// blocks and every point, on ordinary and damaged logs, with the file cut into chunks anywhere; on
// either road the reader ends normally and its blocks cover the points in order.
// A byte-order mark before the first line of a text log changes nothing in what is read.
TEST(TextLogs, ByteOrderMarkIsNoPartOfTheFirstLine) {
    const struct {
        ReaderFn reader;
        int kind;
        const char* ext;
        std::string log;
    } logs[] = {
        {ReadNmeaFile, ikNmea, ".nmea", Epochs(3)},
        {ReadNmeaFile, ikTripMate, ".nmea", "/* LOG NOW */\r\n" + Epochs(3)},
        {ReadNmeaFile, ikBarometer, ".log", BarometerLog()},
        {ReadRbt3000File, ikRbt3000, ".txt", test::kRbtHead + test::RbtRec(0, 35.5) + test::RbtRec(1, 35.6)},
        {ReadCsvLogFile, ikCsv, ".csv", test::kCsvHead + test::CsvLine("10:00:00") + test::CsvLine("10:00:01", 48.2)},
    };
    for (const auto& l : logs) {
        SCOPED_TRACE(l.log.substr(0, 20));
        Reading plain, marked;
        plain.ctx.inputKind = marked.ctx.inputKind = l.kind;
        plain.ReadBytes(l.reader, l.log, l.ext);
        marked.ReadBytes(l.reader, std::string(kUtf8Bom) + l.log, l.ext);
        EXPECT_GT(plain.ctx.points.Count(), 1);
        EXPECT_EQ(marked.host.lines, plain.host.lines);
        EXPECT_EQ(marked.host.start.loggerText, plain.host.start.loggerText);
        ASSERT_EQ(marked.ctx.points.Count(), plain.ctx.points.Count());
        for (int32_t i = 0; i < plain.ctx.points.Count(); ++i) EXPECT_EQ(Bits(marked.P(i)), Bits(plain.P(i))) << i;
    }
}

struct RestoreThreading {
    NmeaThreading saved = NmeaReadThreading();
    ~RestoreThreading() { NmeaReadThreading() = saved; }
};

TEST(NmeaReader, ThreadedReadMatchesSingleThread) {
    RestoreThreading restore;
    const std::string sample = testing::ReadFile(TS_SHARED_DIR "/testdata/sample.nmea").substr(0, 12000);
    std::mt19937 rng(20261207);
    const int kinds[] = {ikNmea, ikTripMate, ikBarometer, ikRbt3000};
    const std::vector<std::string> extras = {"@CBDBG,1,1e308,0\n",
                                             "@LPRMC,\n",
                                             "/* LOG NOW */\n",
                                             "$CUUB x\n",
                                             "\r",
                                             "\r\n",
                                             "\n\r",
                                             "$IISMD,1,2,3,4\n",
                                             "$IISMD,1e400,-0,nan,inf\n",
                                             "$GPWPL,4231.8291,N,08807.3033,W,Trailsmith_\n",
                                             std::string(kUtf8Bom),
                                             "$GPGSV,3,1,12,01,40,083,4"};
    const size_t chunks[] = {1, 13, 200, 4096};
    for (int iter = 0; iter < 300; ++iter) {
        std::string s = sample;
        if (iter % 4 != 0) test::Damage(s, rng, extras, 20);
        if (iter % 10 == 3) {
            // A line longer than any line kept, ended by each kind of line end.
            const size_t at = s.find('\n', std::uniform_int_distribution<size_t>(0, s.size())(rng));
            s.insert(at == std::string::npos ? s.size() : at + 1,
                     std::string(LineReader::kMaxLine + iter, 'x') + (iter % 3 == 0   ? "\r"
                                                                      : iter % 3 == 1 ? "\n"
                                                                                      : "\r\n"));
        }
        if (iter % 8 == 5) std::replace(s.begin(), s.end(), '\n', '\r');
        if (iter % 12 == 7) s = std::string(kUtf8Bom) + s.substr(s.find('\n') + 1);  // before the first GGA
        test::TempFile f(s);
        Reading r[2];
        for (int road = 0; road < 2; ++road) {
            Reading& x = r[road];
            x.ctx.keepPoints = iter % 13 != 1;
            x.ctx.opt.IgnoreSpace = iter % 3 == 0;
            x.ctx.opt.FixDataOnly = iter % 5 != 0;
            x.ctx.opt.UseEstimated = iter % 7 == 0;
            x.ctx.opt.SplitIT = iter % 4 == 0 ? "0.25" : "240";
            if (iter % 6 == 0) x.ctx.opt.NsatMin = 5;
            x.host.answer = iter % 9 == 0;
            if (iter % 11 == 0) x.host.abortAfterPumps = 3 + iter % 4;
            NmeaReadThreading() = NmeaThreading();
            if (road == 1) NmeaReadThreading() = NmeaThreading{0, 1u + iter % 3, chunks[iter % 4]};
            ASSERT_GE(x.Read(f.path(), kinds[iter / 2 % 4]), -1) << iter;
            if (x.ctx.keepPoints) test::ExpectBlocksCoverStream(x.ctx);
        }
        ASSERT_FALSE(::testing::Test::HasFatalFailure()) << iter;
        ASSERT_EQ(r[0].result, r[1].result) << iter;
        ASSERT_EQ(r[0].host.lines, r[1].host.lines) << iter;
        ASSERT_EQ(r[0].host.status[1], r[1].host.status[1]) << iter;
        ASSERT_EQ(r[0].host.pumps, r[1].host.pumps) << iter;
        ASSERT_EQ(test::BlockSpans(r[0].ctx), test::BlockSpans(r[1].ctx)) << iter;
        ASSERT_EQ(r[0].ctx.points.Count(), r[1].ctx.points.Count()) << iter;
        for (int32_t i = 0; i < r[0].ctx.points.Count(); ++i)
            ASSERT_EQ(Bits(r[0].P(i)), Bits(r[1].P(i))) << iter << " " << i;
    }
}

// Reads the log on the single-thread road into r[0] and on the threaded one (two workers, small
// chunks) into r[1]; the two must agree to the bit.
void ReadOnBothRoads(Reading (&r)[2], const std::string& log, int kind = ikNmea) {
    RestoreThreading restore;
    TempFile f(log);
    for (int road = 0; road < 2; ++road) {
        NmeaReadThreading() = road == 0 ? NmeaThreading() : NmeaThreading{0, 2, 300};
        r[road].Read(f.path(), kind);
    }
    EXPECT_EQ(r[0].host.lines, r[1].host.lines);
    ASSERT_EQ(r[0].ctx.points.Count(), r[1].ctx.points.Count());
    for (int32_t i = 0; i < r[0].ctx.points.Count(); ++i) EXPECT_EQ(Bits(r[0].P(i)), Bits(r[1].P(i))) << i;
}

// The points as "second after T0/position index/height/satellites", "-" for no height.
std::vector<std::string> Brief(const Reading& r) {
    std::vector<std::string> v;
    for (int32_t i = 0; i < r.ctx.points.Count(); ++i) {
        const TLogData& p = r.P(i);
        const long at = std::lround(((p.Lat - 48.0) * 60.0 - 7.0) / 0.001);
        v.push_back(std::to_string(std::lround(SecondOfDay(p.Time)) - T0) + "/" + std::to_string(at) + "/" +
                    (std::isnan(p.Alt) ? "-" : std::to_string(std::lround(p.Alt))) + "/" + std::to_string(p.Sats));
    }
    return v;
}

// A GGA of the given quality, satellites, height and separation; a GGA whose checksum is wrong.
std::string GgaOf(int sec, int i, const std::string& q, const std::string& sats, const std::string& alt) {
    return Nmea("GPGGA," + Hms(sec) + "," + LatText(i) + ",N,01131.000,E," + q + "," + sats + ",1.5," + alt +
                ",M,30.0,M,,") +
           "\r\n";
}
std::string BadSum(std::string sentence) {
    char& c = sentence[sentence.size() - 3];
    c = c == '0' ? '1' : '0';
    return sentence;
}

// An epoch without a GGA that counts takes its RMC's time and position, without height,
// satellites or HDOP: nothing of an earlier epoch's GGA but the log's geoid separation. The GGA
// is missing, dropped by fix-only, damaged or at 0/0; each case is read as another kind of log
// (plain, TripMate, barometric, a text log retried as NMEA).
TEST(NmeaEpochs, RmcFirstEpochWithoutItsOwnGgaTakesItsRmc) {
    const std::string missing[] = {"", GgaOf(0, 0, "0", "08", "100.0"), BadSum(Gga(0, 0)),
                                   Nmea("GPGGA,120000,0000.000,N,00000.000,E,1,08,0.9,9.0,M,,M,,") + "\r\n"};
    const int kinds[] = {ikNmea, ikTripMate, ikBarometer, ikRbt3000};
    for (size_t v = 0; v < std::size(missing); ++v) {
        std::string log;
        for (int i = 0; i < 8; ++i)
            log += Rmc(T0 + i, i) + (i == 5 || i == 6 ? missing[v] : Gga(T0 + i, i, "100.0", "40.0"));
        Reading r[2];
        for (Reading& x : r) x.ctx.opt.FixDataOnly = v != 3;  // 0/0 counts for nothing either way
        ASSERT_NO_FATAL_FAILURE(ReadOnBothRoads(r, log, kinds[v])) << v;
        EXPECT_TRUE(r[0].HasLine("  NMEA: RMC First")) << v;
        EXPECT_EQ(Brief(r[0]), (std::vector<std::string>{"0/0/100/8", "1/1/100/8", "2/2/100/8", "3/3/100/8",
                                                         "4/4/100/8", "5/5/-/99", "6/6/-/99", "7/7/100/8"}))
            << v;
        for (int i = 0; i < 8; ++i) {
            const bool own = i != 5 && i != 6;
            EXPECT_DOUBLE_EQ(r[0].P(i).Speed, 10.0) << v << " " << i;
            EXPECT_EQ(r[0].P(i).Hdop10, own ? 9 : 0) << v << " " << i;
            EXPECT_EQ(r[0].P(i).GeoidSep, 40.0f) << v << " " << i;
            EXPECT_EQ(r[0].P(i).FixQuality, 1) << v << " " << i;
        }
    }
}

// The same with the GGA first: an epoch without an RMC does not keep the last RMC's speed (it
// gets one from the track), and one without a GGA does not keep the last GGA's height.
TEST(NmeaEpochs, GgaFirstEpochKeepsNothingOfTheEpochBefore) {
    std::string log;
    for (int i = 0; i < 8; ++i)
        log += (i == 6 ? BadSum(Gga(T0 + i, i)) : Gga(T0 + i, i)) + (i == 5 ? "" : Rmc(T0 + i, i));
    Reading r[2];
    ASSERT_NO_FATAL_FAILURE(ReadOnBothRoads(r, log));
    EXPECT_TRUE(r[0].HasLine("  NMEA: GGA First"));
    EXPECT_EQ(Brief(r[0]), (std::vector<std::string>{"0/0/100/8", "1/1/100/8", "2/2/100/8", "3/3/100/8", "4/4/100/8",
                                                     "5/5/100/8", "6/6/-/99", "7/7/100/8"}));
    const double stepKn =
        GeoDistance(48 + 7.004 / 60, 11.5 + 31.0 / 60, 48 + 7.005 / 60, 11.5 + 31.0 / 60).distance * 3.6 / 1.852;
    EXPECT_NEAR(r[0].P(5).Speed, stepKn, 1e-5);
    EXPECT_DOUBLE_EQ(r[0].P(6).Speed, 10.0);
}

// An estimated GGA cancels its epoch and nothing of it stays: the RMC-only epoch that follows
// keeps its own fix, and a cancelled epoch at the end of the log adds nothing.
TEST(NmeaEpochs, EpochCancelledByAnEstimatedFixLeavesNoValues) {
    const std::string log = Rmc(T0, 0) + Gga(T0, 0) + Rmc(T0 + 1, 1) + GgaOf(T0 + 1, 1, "6", "09", "555.0") +
                            Rmc(T0 + 2, 2) + Rmc(T0 + 3, 3) + Gga(T0 + 3, 3) + Rmc(T0 + 4, 4) +
                            GgaOf(T0 + 4, 4, "6", "09", "555.0");
    Reading r[2];
    ASSERT_NO_FATAL_FAILURE(ReadOnBothRoads(r, log));
    EXPECT_TRUE(r[0].HasLine("  NMEA: RMC First"));
    EXPECT_EQ(Brief(r[0]), (std::vector<std::string>{"0/0/100/8", "2/2/-/99", "3/3/100/8"}));
    Reading a[2];
    for (Reading& x : a) x.ctx.opt.UseEstimated = true;
    ASSERT_NO_FATAL_FAILURE(ReadOnBothRoads(a, log));
    EXPECT_EQ(Brief(a[0]), (std::vector<std::string>{"0/0/100/8", "1/1/555/9", "2/2/-/99", "3/3/100/8", "4/4/555/9"}));
    EXPECT_EQ(a[0].P(1).FixQuality, 6);

    // GGA first: an estimated GGA cancels its epoch whether an RMC follows it or the next epoch does.
    const std::string ggaFirst = Gga(T0, 0) + Rmc(T0, 0) + GgaOf(T0 + 1, 1, "6", "09", "555.0") + Gga(T0 + 2, 2) +
                                 Rmc(T0 + 2, 2) + GgaOf(T0 + 3, 3, "6", "09", "555.0") + Rmc(T0 + 3, 3) +
                                 Gga(T0 + 4, 4) + Rmc(T0 + 4, 4);
    Reading g[2];
    ASSERT_NO_FATAL_FAILURE(ReadOnBothRoads(g, ggaFirst));
    EXPECT_TRUE(g[0].HasLine("  NMEA: GGA First"));
    EXPECT_EQ(Brief(g[0]), (std::vector<std::string>{"0/0/100/8", "2/2/100/8", "4/4/100/8"}));
}

// GGA and RMC that write their coordinates with different precision still pair: the mode follows
// the order of the sentences, and waypoints and the end of the log add no point.
TEST(NmeaEpochs, SentencesOfDifferentPrecisionPair) {
    auto gga = [](int i, double off = 0.00004) {
        char lat[16];
        std::snprintf(lat, sizeof lat, "48%08.5f", 7.0 + i * 0.001 + off);
        return Nmea("GPGGA," + Hms(T0 + i) + "," + lat + ",N,01131.00000,E,1,08,0.9,100.0,M,,M,,") + "\r\n";
    };
    for (const bool ggaFirst : {true, false}) {
        std::string log;
        std::vector<std::string> want;
        for (int i = 0; i < 40; ++i) {
            if (i == 10 || i == 20) log += Nmea("GPWPL," + LatText(i) + ",N,01131.000,E,Trailsmith_1") + "\r\n";
            log += ggaFirst ? gga(i) + Rmc(T0 + i, i) : Rmc(T0 + i, i) + gga(i);
            want.push_back(std::to_string(i) + "/" + std::to_string(i) + "/100/8");
        }
        Reading r[2];
        ASSERT_NO_FATAL_FAILURE(ReadOnBothRoads(r, log)) << ggaFirst;
        EXPECT_TRUE(r[0].HasLine(ggaFirst ? "  NMEA: GGA First" : "  NMEA: RMC First")) << ggaFirst;
        EXPECT_EQ(Brief(r[0]), want) << ggaFirst;
        if (!ggaFirst) continue;
        // The RMC's position leads, where the waypoints are.
        for (int i = 0; i < 40; ++i) EXPECT_EQ(r[0].P(i).Flags, i == 10 || i == 20 ? InterestPoint : 0) << i;
    }
    // A whole last digit of the coarser text apart is another place: nothing pairs.
    std::string apart;
    for (int i = 0; i < 5; ++i) apart += gga(i, 0.001) + Rmc(T0 + i, i);
    Reading a;
    a.ReadText(apart);
    EXPECT_TRUE(a.HasLine("  NMEA: RMC First"));
}

// A sentence glued to the cut end of another, or behind the byte-order mark of a second log joined
// to the first, is read, and starts its epoch as any other would.
TEST(NmeaEpochs, BoundaryIsTheSentenceTheParserReads) {
    for (const std::string& before : {std::string("$GPGSV,3,1,12,01,40,083,4"), std::string(kUtf8Bom)})
        for (const bool ggaFirst : {true, false}) {
            std::string log;
            for (int i = 0; i < 6; ++i)
                log += (i == 3 ? before : "") +
                       (ggaFirst ? Gga(T0 + i, i) + Rmc(T0 + i, i) : Rmc(T0 + i, i) + Gga(T0 + i, i));
            Reading r[2];
            ASSERT_NO_FATAL_FAILURE(ReadOnBothRoads(r, log)) << ggaFirst;
            EXPECT_EQ(Brief(r[0]), (std::vector<std::string>{"0/0/100/8", "1/1/100/8", "2/2/100/8", "3/3/100/8",
                                                             "4/4/100/8", "5/5/100/8"}))
                << ggaFirst << " " << before.size();
        }
    // The logger's tag lines after a byte-order mark still tag.
    Reading b[2];
    ASSERT_NO_FATAL_FAILURE(
        ReadOnBothRoads(b, Epochs(2) + std::string(kUtf8Bom) + "/* LOG NOW */\r\n" + Epochs(2), ikTripMate));
    ASSERT_EQ(b[0].ctx.points.Count(), 4);
    EXPECT_EQ(b[0].P(2).Flags, InterestPoint);
}

// One kind of sentence written less often than the other, so that epochs lack the leading one:
// one point per fix, with the values of both sentences where both were written and no time twice,
// in both orders, as each kind of log that reads NMEA.
TEST(NmeaEpochs, EachFixIsOnePointWhateverSentenceItLacks) {
    const int every[][2] = {{2, 1}, {1, 2}, {5, 1}, {1, 5}};  // seconds between GGAs, between RMCs
    const int kinds[] = {ikNmea, ikTripMate, ikBarometer, ikRbt3000};
    for (int c = 0; c < 4; ++c)
        for (const bool ggaFirst : {true, false}) {
            std::string log;
            std::vector<std::string> want;
            for (int i = 0; i < 30; ++i) {
                const std::string g = i % every[c][0] ? "" : Gga(T0 + i, i), m = i % every[c][1] ? "" : Rmc(T0 + i, i);
                log += ggaFirst ? g + m : m + g;
                want.push_back(std::to_string(i) + "/" + std::to_string(i) + (g.empty() ? "/-/99" : "/100/8"));
            }
            Reading r[2];
            ASSERT_NO_FATAL_FAILURE(ReadOnBothRoads(r, log, kinds[c])) << c << ggaFirst;
            EXPECT_EQ(Brief(r[0]), want) << c << ggaFirst;
        }
}

// A gap longer than the split time opens a block, at an epoch without a GGA too (not in an
// RMC-only log); a gap of exactly the split time opens none, wherever in the day it lies.
TEST(NmeaEpochs, GapsThatOpenBlocks) {
    for (const bool ggaFirst : {true, false}) {
        const auto fix = [&](int sec, int i) {
            return ggaFirst ? Gga(sec, i) + Rmc(sec, i) : Rmc(sec, i) + Gga(sec, i);
        };
        const struct {
            std::string log, split;
            test::Spans blocks;
        } cases[] = {{fix(T0, 0) + fix(T0 + 1, 1) + Rmc(T0 + 3600, 2) + fix(T0 + 3601, 3), "10", {{0, 1}, {2, 3}}},
                     {Rmc(T0, 0) + Rmc(T0 + 1, 1) + Rmc(T0 + 3600, 2) + Rmc(T0 + 3601, 3), "10", {{0, 3}}},
                     {fix(T0 + 6, 0) + fix(T0 + 7, 1) + fix(T0 + 307, 2) + fix(T0 + 308, 3), "5", {{0, 3}}},
                     {fix(T0 + 6, 0) + fix(T0 + 7, 1) + fix(T0 + 308, 2) + fix(T0 + 309, 3), "5", {{0, 1}, {2, 3}}}};
        for (const auto& c : cases) {
            Reading r[2];
            for (Reading& x : r) x.ctx.opt.SplitIT = c.split;
            ASSERT_NO_FATAL_FAILURE(ReadOnBothRoads(r, c.log));
            EXPECT_EQ(test::BlockSpans(r[0].ctx), c.blocks) << ggaFirst << " " << &c - cases;
        }
    }
    for (int start = 0; start < 82800; start += 3607) {  // every 60 s, split at one minute
        std::string log;
        for (int i = 0; i < 15; ++i) log += Gga(start + 60 * i, i) + Rmc(start + 60 * i, i);
        Reading r;
        r.ctx.opt.SplitIT = "1";
        r.ReadText(log);
        EXPECT_EQ(r.ctx.blocks.Count(), 1) << start;
    }
}

}  // namespace
}  // namespace ts
