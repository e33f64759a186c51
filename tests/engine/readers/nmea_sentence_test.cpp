#include "readers/nmea_sentence.h"
#include "core/barometer.h"
#include "reader_test_util.h"

namespace ts {
namespace {

using test::Nmea;
using test::TempFile;

std::string Gga(const std::string& quality = "1", const std::string& time = "123519", const std::string& sats = "08") {
    return Nmea("GPGGA," + time + ",4807.038,N,01131.000,E," + quality + "," + sats + ",0.9,545.4,M,46.9,M,,");
}
std::string Rmc(const std::string& time, const std::string& speed = "1.0") {
    return Nmea("GPRMC," + time + ",A,4807.038,N,01131.000,E," + speed + ",0.0,070804,,");
}

// A context and an epoch of the read pass, for the input kind.
struct EpochContext {
    RecordingHost host;
    EngineContext ctx{host};
    NmeaEpoch e;
    explicit EpochContext(int kind = ikNmea) {
        DeriveOptions(ctx.opt);
        ctx.inputKind = kind;
        e.readPass = true;
    }
};

struct SentenceTest : ::testing::Test, EpochContext {
    int32_t Parse(const std::string& line, int32_t count = 0) { return ParseNmeaLine(ctx, e, line, count); }
};

TEST(NmeaFields, SplitTrimsCutsAndKeepsTheRestInTheLastField) {
    NmeaFields f;
    EXPECT_EQ(SplitNmeaFields(f, "$GPRMC, 12 ,A*3C"), 3);
    EXPECT_TRUE(f.Field(1) == "$GPRMC" && f.Field(2) == "12" && f.Field(3) == "A");
    SplitNmeaFields(f, "$X,123456789012345678901234567890,y");
    EXPECT_EQ(f.Field(2), "12345678901234567890");
    std::string many = "$X";
    for (int i = 1; i <= 30; ++i) many += "," + std::to_string(i);
    EXPECT_EQ(SplitNmeaFields(f, many), 25);
    EXPECT_EQ(f.Field(25), "24,25,26,27,28,29,30");
    EXPECT_EQ(f.Field(26), "");  // beyond the array: empty, no read past it
}

TEST(NmeaFields, CoordinatesAndTheirRanges) {
    EXPECT_NEAR(NmeaCoordToDeg("4807.038", "N", 90), 48.1173, 1e-12);
    EXPECT_NEAR(NmeaCoordToDeg("01131.000", "W", 180), -11.516666666666667, 1e-12);
    EXPECT_NEAR(NmeaCoordToDeg("3339.5", " s ", 90), -33.658333333333333, 1e-12);
    EXPECT_DOUBLE_EQ(NmeaCoordToDeg("9000.000", "S", 90), -90.0);
    // Out of range or not a number: no position rather than a wrong one.
    for (const char* bad : {"", "48O7.0", "9100.000", "4860.000", "1e300"})
        EXPECT_TRUE(std::isnan(NmeaCoordToDeg(bad, "N", 90))) << bad;
    EXPECT_TRUE(std::isnan(NmeaCoordToDeg("18030.000", "E", 180)));
}

TEST(NmeaFields, TimeAndDateFields) {
    double t = -1;
    auto ms = [&](const char* s) { return NmeaTimeOfDay(s, t) ? std::llround(t * 86400000.0) : -1LL; };
    const long long at = ((12 * 60 + 34) * 60 + 56) * 1000LL;
    for (auto [text, extra] :
         {std::pair{"123456", 0}, {"123456.7", 700}, {"1234567", 700}, {"123456.789", 789}, {"123456.7896", 790}})
        EXPECT_EQ(ms(text), at + extra) << text;
    EXPECT_EQ(ms("12345"), ((1 * 60 + 23) * 60 + 45) * 1000LL);
    // Shorter than the form, or out of range: no time.
    for (const char* bad : {"", ".5", "1234", "1234.5", "246000", "126000", "123460", "12a456", "123456.7x"})
        EXPECT_EQ(ms(bad), -1) << bad;

    const NmeaDate d = NmeaFieldToDate("070804");
    ASSERT_EQ(d.state, NmeaDate::Valid);
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd", d.value), "2004/08/07");
    for (auto [text, state] : {std::pair{"", NmeaDate::None},
                               {"0708", NmeaDate::None},
                               {"320804", NmeaDate::Invalid},
                               {"07a804", NmeaDate::Invalid}})
        EXPECT_EQ(NmeaFieldToDate(text).state, state) << text;
    bool ok;
    EXPECT_EQ(NmeaDateTime(NmeaFieldToDate("320804"), "120000", ok), 0.0);
    EXPECT_FALSE(ok);
}

TEST_F(SentenceTest, ChecksumNamesAndPrefixes) {
    const std::string gga = Gga();
    std::string bad = gga;
    bad.back() = bad.back() == '0' ? '1' : '0';
    EXPECT_EQ(Parse(bad), 0);
    EXPECT_EQ(Parse(gga.substr(0, gga.find('*'))), 1);  // no "*": taken unchecked
    std::string lower = Gga("1", "123522");             // checksum 4F, also read as "4f"
    lower.back() = 'f';
    EXPECT_EQ(Parse(lower), 1);
    EXPECT_EQ(Parse("$PXYZ,junk" + gga), 1);  // text before "$GP" is cut
    EXPECT_EQ(Parse("junk" + gga), 0);        // not a "$" line
    // Whole names only: none of these is a GGA or RMC.
    for (const char* s : {"$", "$GP", "$GPR", "$GPG", "$GPGGAX,123519,4807.038,N,01131.000,E,1,08,0.9,5,M,4,M,,",
                          "$GPRMCX,123519,A,4807.038,N,01131.000,E,1,,070804,,"})
        EXPECT_EQ(Parse(s), 0) << s;
    // Blanks are removed when asked to.
    ctx.opt.IgnoreSpace = true;
    EXPECT_EQ(Parse("$GPGGA, 123519, 4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), 1);
    EXPECT_NEAR(e.gga.lat, 48.1173, 1e-9);
}

// Bytes that cancel in the XOR (a NUL, a pair of equal ones) do not make a sentence pass, wherever
// they stand between "$" and "*".
TEST_F(SentenceTest, UnprintableBytesFailTheChecksum) {
    const std::string rmc = Rmc("123519");
    ASSERT_TRUE(NmeaChecksumOk(rmc));
    for (const std::string& bytes : {std::string(1, '\0'), std::string("\xFF\xFF"), std::string("\t\t")})
        for (const size_t at : {size_t{2}, rmc.find("4807") + 2, rmc.find('*') - 1}) {
            std::string bad = rmc;
            bad.insert(at, bytes);
            EXPECT_FALSE(NmeaChecksumOk(bad)) << at;
            EXPECT_EQ(Parse(bad), 0) << at;
        }
}

TEST_F(SentenceTest, FixOnlyTestsTheQualityDigit) {
    for (const char* q : {"0", "", "12", "7"}) EXPECT_EQ(Parse(Gga(q)), 0) << q;
    EXPECT_EQ(Parse(Gga("2")), 1);
    // Estimated fixes cancel the epoch so far (RMC-first pairing).
    e.GgaFirst = false;
    EXPECT_EQ(Parse(Gga("6"), 2), -2);
    ctx.opt.AcceptEstimated = true;
    EXPECT_EQ(Parse(Gga("6"), 2), 1);
    // Without fix-only every quality counts, but 0/0 is no position.
    ctx.opt.UseFixOnly = false;
    EXPECT_EQ(Parse(Gga("0")), 1);
    EXPECT_EQ(Parse(Nmea("GPGGA,123519,0000.000,N,00000.000,E,0,00,,,M,,M,,")), 0);
}

TEST_F(SentenceTest, RmcAndDates) {
    EXPECT_EQ(Parse(Nmea("GPRMC,032908.379,A,4231.8291,N,08807.3033,W,0.17,138.92,070804,,")), 2);
    EXPECT_EQ(e.DateText.state, NmeaDate::Valid);
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", e.rmc.time), "2004/08/07 03:29:08.379");
    EXPECT_DOUBLE_EQ(e.rmc.speed, 0.17);
    EXPECT_EQ(e.rmcQuality, 1);
    EXPECT_EQ(Parse(Nmea("GPRMC,032908.379,V,4231.8291,N,08807.3033,W,0.17,138.92,070804,,")), 0);
    // A short date is no date; the time becomes a time of day.
    EXPECT_EQ(Parse(Nmea("GPRMC,032908,A,4231.8291,N,08807.3033,W,,138.92,0708,,")), 2);
    EXPECT_EQ(e.DateText.state, NmeaDate::None);
    EXPECT_LT(e.rmc.time, 1.0);
    EXPECT_TRUE(std::isnan(e.rmc.speed));
}

// Consecutive sentences that share some fields: a value converted for one sentence must not be
// reused for the next once any of its texts (hemisphere included) differ.
TEST_F(SentenceTest, RepeatedFieldsConvertLikeFreshOnes) {
    const struct {
        const char* body;
        double lat, lon, secondOfDay;
    } rows[] = {
        {"GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", 48.1173, 11.516666666666667, 45319},
        {"GPRMC,123519,A,4807.038,S,01131.000,W,1.0,0.0,,,", -48.1173, -11.516666666666667, 45319},
        {"GPGGA,123519.5,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,", -48.1173, -11.516666666666667, 45319.5},
        {"GPGGA,123520,4807.0380,S,1131.000,W,1,08,0.9,545.4,M,46.9,M,,", -48.1173, -11.516666666666667, 45320},
        {"GPGGA,123520,4807.039,S,01131.001,W,1,08,0.9,545.4,M,46.9,M,,", -48.117316666666667, -11.516683333333333,
         45320},
        {"GPGGA,1235,4807.039,S,01131.001,W,1,08,0.9,545.4,M,46.9,M,,", -48.117316666666667, -11.516683333333333, -1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.body);
        ParseNmeaLine(ctx, e, Nmea(r.body), 0);
        const NmeaValueSet& v = r.body[2] == 'G' ? e.gga : e.rmc;
        EXPECT_NEAR(v.lat, r.lat, 1e-12);
        EXPECT_NEAR(v.lon, r.lon, 1e-12);
        if (r.secondOfDay < 0) EXPECT_EQ(v.time, 0.0);
        else EXPECT_DOUBLE_EQ(v.time * 86400.0, r.secondOfDay);
    }
}

// ReadNmeaEpoch over a short log; keeps the epochs' (second of day, sats) until the end.
struct EpochLog : EpochContext {
    std::vector<std::pair<long long, int>> epochs;
    int calls = 0;
    explicit EpochLog(int kind = ikNmea, int nsatMin = 0) : EpochContext(kind) { ctx.opt.NsatMin = nsatMin; }
    void Run(const std::string& text) {
        TempFile f(text);
        LineReader file;
        ASSERT_TRUE(file.Open(f.path()));
        NmeaFix fix;
        // Each call must consume at least one line: a log of a few lines ends in a few calls.
        while (++calls < 100) {
            ReadNmeaEpoch(ctx, e, file, fix);
            if (e.EndOfLog) break;
            epochs.emplace_back(std::llround(std::fmod(ctx.run.NewTime, 1.0) * 86400.0), e.sats);
        }
    }
};
// The epoch of second sec after 12:00 with the given satellites.
std::string Epoch(int sec, int sats = 8) {
    const std::string t = "1200" + std::string(sec < 10 ? "0" : "") + std::to_string(sec);
    return Gga("1", t, (sats < 10 ? "0" : "") + std::to_string(sats)) + "\r\n" + Rmc(t) + "\r\n";
}

TEST(NmeaEpochs, MaskDropsEpochsButKeepsTheOneBeforeAWaypoint) {
    EpochLog a(ikNmea, 4);
    a.Run(Epoch(1) + Epoch(2, 3) + Epoch(3));
    EXPECT_EQ(a.epochs, (std::vector<std::pair<long long, int>>{{12 * 3600 + 1, 8}, {12 * 3600 + 3, 8}}));
    EpochLog b(ikNmea, 4);
    b.Run(Epoch(1) + Epoch(2, 3) + Nmea("GPWPL,4807.038,N,01131.000,E,Trailsmith_1") + "\r\n" + Epoch(3));
    ASSERT_EQ(b.epochs.size(), 3u);
    EXPECT_EQ(b.epochs[1].second, 3);
    EXPECT_TRUE(b.e.InterestTag);
    // The last epoch of the log is masked too.
    EpochLog c(ikNmea, 4);
    c.Run(Epoch(1) + Epoch(2, 3));
    EXPECT_EQ(c.epochs.size(), 1u);
}

TEST(NmeaEpochs, TimeGapOpensANewBlockOnlyWithFullValues) {
    EpochLog a;
    a.ctx.opt.SplitTime = 1.0;  // minutes
    a.ctx.run.PrevTime = NmeaFieldToDate("070804").value + 0.5 - 2.0 / 1440;
    LineReader file;
    NmeaFix fix;
    TempFile f(Epoch(1));
    ASSERT_TRUE(file.Open(f.path()));
    EXPECT_FALSE(ReadNmeaEpoch(a.ctx, a.e, file, fix));  // two minutes later: new block
    EXPECT_FALSE(a.e.EndOfLog);
    // Without a speed (RMC blank) the same gap does not split.
    TempFile g(Gga("1", "120001") + "\r\n" + Rmc("120001", "") + "\r\n");
    ASSERT_TRUE(file.Open(g.path()));
    EXPECT_TRUE(ReadNmeaEpoch(a.ctx, a.e, file, fix));
    EXPECT_FALSE(ReadNmeaEpoch(a.ctx, a.e, file, fix));
    EXPECT_TRUE(a.e.EndOfLog);
}

TEST(Barometer, PressureAltitudeAndCalibration) {
    BarometerReference std;
    EXPECT_NEAR(PressureAltitude(PressureFromHeight(1000, 0), std), 1000.0, 1e-3);
    EXPECT_NEAR(PressureFromHeight(0, 2.5), 1015.75, 1e-9);
    // No infinities: a height beyond the formula, a pressure of 0 or less, or a temperature term of 0
    // or less is no value.
    EXPECT_TRUE(std::isnan(PressureFromHeight(50000, 0)));
    for (double p : {0.0, -5.0, double(NAN)}) EXPECT_TRUE(std::isnan(PressureAltitude(p, std))) << p;
    EXPECT_TRUE(std::isnan(PressureAltitude(1000, BarometerReference{0, 15})));
    EXPECT_TRUE(std::isnan(PressureAltitude(1000, BarometerReference{1013.25, 400})));
    // The start point at 250 m now reads 250 m; the Fahrenheit form gives the same reference.
    BarometerReference c{1000.0, 15.0}, f{1000.0, 15.0};
    EXPECT_TRUE(CalibrateBarometer(c, " 250 ", "15", false));
    EXPECT_TRUE(CalibrateBarometer(f, "250", "59", true));
    EXPECT_NEAR(PressureAltitude(1000.0, c), 250.0, 1e-6);
    EXPECT_TRUE(c.pressure == f.pressure && c.temperature == f.temperature);
    for (auto [alt, temp] : {std::pair{"abc", "15"}, {"60000", "-300"}}) {  // the second: log of a negative value
        BarometerReference bad{1000.0, 15.0};
        EXPECT_FALSE(CalibrateBarometer(bad, alt, temp, false)) << alt;
        EXPECT_DOUBLE_EQ(bad.pressure, 1013.25) << alt;
    }
}

}  // namespace
}  // namespace ts
