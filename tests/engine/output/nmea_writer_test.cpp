
#include "output/nmea_writer.h"
#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

struct NmeaWriter : WriterTest {
    int32_t Write(const std::string& input = "") {
        return WriteNmeaFiles(Fresh(ctx), dir.Folder(), input.empty() ? dir.Folder() + "in.log" : input);
    }
    // The file's sentences without their checksums (those are checked by Python).
    std::vector<std::string> Bodies(const std::string& name) {
        std::string out;
        EXPECT_EQ(CheckNmeaSentences(dir.path / name, &out), 0) << out;
        std::vector<std::string> r;
        for (const std::string& l : Lines(ReadFile(dir.path / name))) r.push_back(l.substr(0, l.rfind('*')));
        return r;
    }
};

std::string DegMin(double v, int decimals) {
    std::string s;
    FormatNmeaDegMin(s, FloatFormat{decimals + 2, decimals}, v);
    return s;
}

TEST(NmeaText, DegreesAndMinutesAtTheirLimits) {
    // Minutes that round up to 60 carry into the degrees.
    const std::tuple<double, int, const char*> cases[] = {{139.25, 4, "13915.0000"},
                                                          {5.5, 4, "530.0000"},
                                                          {-0.25, 4, "015.0000"},
                                                          {0.0, 4, "000.0000"},
                                                          {35.123456789, 8, "3507.40740734"},
                                                          {kNaN, 4, ""},
                                                          {35.999999, 4, "3559.9999"},
                                                          {35.9999999, 4, "3600.0000"},
                                                          {-179.9999999, 4, "18000.0000"},
                                                          {35.999999, 8, "3559.99994000"}};
    for (const auto& [v, decimals, text] : cases) EXPECT_EQ(DegMin(v, decimals), text) << v;

    TConversionOptions o;
    o.NmeaLatLonDecimal = "9";
    o.NmeaAltDecimal = "0";
    o.NmeaSpeedDecimal = "8";
    const NmeaFormats f = MakeNmeaFormats(o);
    EXPECT_EQ(o.NmeaLatLonDecimal, "6");
    EXPECT_EQ(o.NmeaAltDecimal, "4");
    EXPECT_EQ(f.speed.decimals, 8);
    EXPECT_EQ(f.zero, "000.000000");
}

TEST_F(NmeaWriter, SentencesOfATrackReadBackByGpsbabel) {
    std::vector<TLogData> pts = Walk(T(2024, 3, 16, 9, 0, 0), 40);
    pts[0].GeoidSep = 36.7f;
    pts[1].Flags = InterestPoint;
    pts[2].Flags = VoicePoint;
    pts[3].Flags = InterestPoint | VoicePoint;
    pts[4].Time += 250 * kOneMs;
    pts[5].Speed = kNaN;
    pts[6].Hdop10 = 0;  // no HDOP, as binary logs store it
    pts[6].Sats = 99;
    pts[7].Alt = kNaN;
    AddBlock(ctx, pts);
    ASSERT_EQ(Write(), 40);
    ASSERT_EQ(dir.Files(), std::vector<std::string>{"2024-03-16_09-00-00.nmea"});
    EXPECT_EQ(host.lines.back(), "  Make: 2024-03-16_09-00-00.nmea      40 records");

    const std::vector<std::string> b = Bodies("2024-03-16_09-00-00.nmea");
    EXPECT_EQ(b[0], "$GPGGA,090000,3500.0000,N,13900.0000,E,1,7,1.2,100.0,M,36.700,M,,");
    EXPECT_EQ(b[1].rfind("$GPRMC,090000,A,3500.0000,N,13900.0000,E,10.0,", 0), 0u) << b[1];
    EXPECT_EQ(b[1].substr(b[1].size() - 9), ",160324,,");
    EXPECT_EQ(b[2], "$GPWPL,3500.0060,N,13900.0060,E,Trailsmith_1");
    EXPECT_EQ(b[5], "$GPWPL,3500.0120,N,13900.0120,E,VOX1");
    EXPECT_EQ(b[8], "$GPWPL,3500.0180,N,13900.0180,E,Trailsmith_2");
    EXPECT_EQ(b[9], "$GPWPL,3500.0180,N,13900.0180,E,VOX2");
    EXPECT_EQ(b[12].rfind("$GPGGA,090004.250,", 0), 0u) << b[12];
    EXPECT_EQ(b[15], "$GPRMC,090005,A,3500.0300,N,13900.0300,E,,,160324,,");
    EXPECT_EQ(b[16], "$GPGGA,090006,3500.0360,N,13900.0360,E,1,4,1.5,106.0,M,,M,,");
    EXPECT_EQ(b[18], "$GPGGA,090007,3500.0420,N,13900.0420,E,1,7,1.2,,M,,M,,");
    EXPECT_EQ(b.back(), "$GPRMC,090039,A,3500.2340,N,13900.2340,E,,,160324,,");  // last point: no course

    // gpsbabel reads every epoch and every waypoint back, at the positions written.
    std::string said;
    ExpectSamePositions(BabelRead("nmea", dir.path / "2024-03-16_09-00-00.nmea", "trkpt", &said), Positions(pts),
                        0.00005 / 60 + 1e-9);
    EXPECT_EQ(said, "");
    EXPECT_EQ(BabelRead("nmea", dir.path / "2024-03-16_09-00-00.nmea", "wpt").size(), 4u);
}

TEST_F(NmeaWriter, NoFixFormOnlyAtZeroZero) {
    // On the equator, on the prime meridian, at 0/0, a course due north and due east, and last a
    // course a hair west of north that would round to 360.00; one point a second.
    std::vector<TLogData> pts;
    for (auto [lat, lon] : {std::pair{0.0, 10.0},
                            {1.0, 0.0},
                            {0.0, 0.0},
                            {5.5, -0.25},
                            {5.6, -0.25},
                            {0.0, 0.0},
                            {35.0, 139.0},
                            {35.001, 138.99999991}})
        pts.push_back(Pt(T(2024, 3, 16, 9, 0, int(pts.size())), lat, lon));
    AddBlock(ctx, pts);
    ASSERT_EQ(Write(), 8);
    const std::vector<std::string> b = Bodies(dir.Files()[0]);
    EXPECT_EQ(b[0], "$GPGGA,090000,000.0000,N,1000.0000,E,1,7,1.2,100.0,M,,M,,");
    EXPECT_EQ(b[2], "$GPGGA,090001,100.0000,N,000.0000,E,1,7,1.2,100.0,M,,M,,");
    EXPECT_EQ(b[3].rfind("$GPRMC,090001,A,", 0), 0u);
    EXPECT_EQ(b[4], "$GPGGA,090002,000.0000,N,000.0000,E,0,1,,,,,,,");
    EXPECT_EQ(b[5], "$GPRMC,090002,V,000.0000,N,000.0000,E,,,160324,,");
    EXPECT_EQ(b[6], "$GPGGA,090003,530.0000,N,015.0000,W,1,7,1.2,100.0,M,,M,,");
    EXPECT_EQ(b[7], "$GPRMC,090003,A,530.0000,N,015.0000,W,10.0,0.00,160324,,");
    EXPECT_EQ(b[13], "$GPRMC,090006,A,3500.0000,N,13900.0000,E,10.0,0.00,160324,,");
}

TEST_F(NmeaWriter, FixQualityStatusAndTimes) {
    std::vector<TLogData> pts;
    for (int q = 0; q <= 8; ++q) {
        pts.push_back(Pt(T(2024, 3, 16, 9, 0, q), 35, 139 + q * 0.001));
        pts.back().FixQuality = static_cast<uint8_t>(q);
    }
    pts[0].Time = 0;                   // no time at all
    pts[1].Time = 0.5 + 250 * kOneMs;  // a time of day without date
    AddBlock(ctx, pts);
    ctx.blocks[0].StartTime = ctx.blocks[0].RangeStart = 0;
    ASSERT_EQ(Write(), 9);
    const std::vector<std::string> b = Bodies(dir.Files()[0]);
    const char* status = "VAAAAAAVV";
    for (int q = 0; q <= 8; ++q) {
        const std::string& rmc = b[2 * q + 1];
        EXPECT_EQ(rmc[rmc.find(',', 7) + 1], status[q]) << rmc;
    }
    EXPECT_EQ(b[0].rfind("$GPGGA,,3500.0000,", 0), 0u) << b[0];
    EXPECT_EQ(b[1].rfind("$GPRMC,,V,", 0), 0u) << b[1];
    EXPECT_EQ(b[1].substr(b[1].size() - 3), ",,,") << b[1];  // no date
    EXPECT_EQ(b[2].rfind("$GPGGA,120000.250,", 0), 0u) << b[2];
    EXPECT_EQ(b[3].substr(b[3].size() - 3), ",,,") << b[3];  // a time of day has no date
    EXPECT_EQ(b[5].substr(b[5].size() - 9), ",160324,,");
}

TEST_F(NmeaWriter, WaypointCountersStartAgainInEachBlock) {
    for (double day : {16.0, 17.0}) {
        std::vector<TLogData> pts = Walk(T(2024, 3, static_cast<int>(day), 9, 0, 0), 3);
        pts[0].Flags = InterestPoint;
        pts[2].Flags = VoicePoint;
        AddBlock(ctx, pts);
    }
    ctx.opt.WPL_Prefix = "Int,*";  // would split the field
    ctx.opt.WPV_Prefix = "Vx";
    ASSERT_EQ(Write(), 6);
    for (const std::string& name : dir.Files()) {
        const std::vector<std::string> b = Bodies(name);
        EXPECT_EQ(b[0].substr(b[0].rfind(',')), ",Int1");
        EXPECT_EQ(b[5].substr(b[5].rfind(',')), ",Vx1");
    }
}

TEST_F(NmeaWriter, ReductionKeepsTheFirstLastTaggedAndEveryTenMetres) {
    std::vector<TLogData> pts;  // about 1.11 m a second to the north
    for (int i = 0; i < 36; ++i) pts.push_back(Pt(T(2024, 3, 16, 9, 0, i), 35.0 + i * 1e-5, 139.0));
    pts[15].Flags = InterestPoint;
    AddBlock(ctx, pts);
    ctx.opt.ReduseOut = true;
    ctx.opt.MoveDistMin = 10.0;
    ctx.opt.ElapsedMin = 30.0 / 86400.0;
    ASSERT_EQ(Write(), 5);
    std::vector<std::string> times;
    for (const std::string& b : Bodies(dir.Files()[0]))
        if (b.rfind("$GPGGA,", 0) == 0) times.push_back(b.substr(7, 6));
    EXPECT_EQ(times, (std::vector<std::string>{"090000", "090010", "090015", "090025", "090035"}));
}

TEST_F(NmeaWriter, InputOfTheSameNameIsNotOverwritten) {
    AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 3));
    AddBlock(ctx, Walk(T(2024, 3, 16, 12, 0, 0), 3));
    const std::string input = dir.Folder() + "2024-03-16_09-00-00.NMEA";
    { std::ofstream(input) << "original"; }
    EXPECT_EQ(Write(input), -1);
    EXPECT_EQ(ReadFile(input), "original");
    const std::string name = dir.Folder() + "2024-03-16_09-00-00.nmea";
    EXPECT_EQ(host.messages,
              std::vector<std::string>{"Can't create: " + name + "\r\n Input and output file name is same."});
    EXPECT_TRUE(std::filesystem::exists(dir.path / "2024-03-16_12-00-00.nmea"));
}

}  // namespace
}  // namespace ts
