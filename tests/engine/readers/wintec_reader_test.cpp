#include "reader_test_util.h"

namespace ts {
namespace {

using test::PackedAt;
using test::WintecRec;

const int32_t kLat = -334000000, kLon = 1512000000;  // 33.4 S, 151.2 E

std::string Rec(int sec, int i, uint16_t flags = 0, int16_t alt = 12) {
    return WintecRec(flags, PackedAt(sec), kLat + i * 1000, kLon, alt);
}
std::string Recs(int n, int from = 0) {
    std::string s;
    for (int i = from; i < from + n; ++i) s += Rec(i, i);
    return s;
}

TEST(WintecHeader, UnknownHeadersAreNotThisFormat) {
    std::string noZero = test::Tk1Header(3);
    noZero.replace(0, 16, "WINTECLOGFORMATX");  // 16 bytes without a zero byte
    const std::string files[] = {test::Tk1Header(0) + Rec(0, 0),
                                 test::Tk1Header(0x80000000u) + Rec(0, 0),
                                 noZero + Rec(0, 0),
                                 test::WintecHeader("WINTECLOGTK4", 30, "WBT201", 460, 3) + Rec(0, 0),
                                 test::Tk3Header(3).substr(0, 495),  // the count field is cut
                                 "",
                                 "WINTEC",
                                 Rec(0, 0)};
    for (const std::string& content : files) {
        test::TempFile f(content, ".tk1");
        test::Reading r;
        EXPECT_EQ(r.Read(ReadWintecLogFile, f.path()), -2);
        const std::string msg = "  Not WBT-201, WSG-100 Logfile : " + ExtractFileName(f.path());
        EXPECT_EQ(r.host.status[0], msg);
        EXPECT_TRUE(r.HasLine(msg));
        EXPECT_EQ(r.ctx.points.Count(), 0);
    }
    EXPECT_EQ(BytesToNameString(reinterpret_cast<const unsigned char*>("ab\0cd"), 5), "AB");
    EXPECT_EQ(BytesToNameString(reinterpret_cast<const unsigned char*>("abcd"), 3), "ABC");
}

TEST(WintecReader, FlagsMakeBlocksInterestPointsAndSensorValues) {
    const std::string log = test::Tk1Header(7) + Rec(0, 0, 0x0001) + Rec(1, 1, 0x0002) + Rec(2, 2, 0x0084) +
                            WintecRec(0x0003, 0, 0, 0, 0) +  // blank whatever its flags
                            Rec(5, 3, 0x0003) + Rec(6, 4, 0xFFFC) + Rec(7, 5);
    test::Reading r;
    r.ReadBytes(ReadWintecLogFile, log, ".tk1");
    ASSERT_EQ(r.ctx.points.Count(), 6);
    test::ExpectBlocksCoverStream(r.ctx);
    EXPECT_EQ(test::BlockSpans(r.ctx), (test::Spans{{0, 2}, {3, 5}}));
    // Interest points folded back; the first point of a block has no speed.
    const char* const points[] = {
        "2024-05-01 10:00:00.000 -33.4000000 151.2000000 12.00 0.000 0 99 1 0",
        "2024-05-01 10:00:01.000 -33.3999000 151.2000000 12.00 17.640 0 99 1 2",
        "2024-05-01 10:00:02.000 -33.3998000 151.2000000 12.00 35.280 0 99 1 0",
        "2024-05-01 10:00:05.000 -33.3997000 151.2000000 12.00 0.000 0 99 1 2",
        "2024-05-01 10:00:06.000 -33.3996000 151.2000000 12.00 17.640 0 99 1 0",
        "2024-05-01 10:00:07.000 -33.3995000 151.2000000 12.00 35.280 0 99 1 0",
    };
    for (int i = 0; i < 6; ++i) EXPECT_EQ(test::Describe(r.P(i)), points[i]) << i;
    for (int i : {0, 1}) EXPECT_TRUE(std::isnan(r.P(i).Temperature) && std::isnan(r.P(i).Pressure)) << i;
    EXPECT_EQ(std::pair(r.P(2).Temperature, r.P(2).Pressure), std::pair(-8.0f, 590.0f));
    EXPECT_EQ(std::pair(r.P(4).Temperature, r.P(4).Pressure), std::pair(52.0f, 1100.0f));
    EXPECT_TRUE(std::isnan(r.P(4).PressureAlt));
}

TEST(WintecReader, DataAreaBoundsTheRecords) {
    {
        // A count beyond the file: reading stops at the end of the file; a piece of a record is left.
        test::Reading r;
        r.ReadBytes(ReadWintecLogFile, test::Tk2Header(1000) + Recs(4) + Rec(9, 9).substr(0, 10), ".tk2");
        EXPECT_EQ(r.ctx.points.Count(), 4);
        EXPECT_TRUE(r.HasLine("  WBT-201:   4 records"));
    }
    {
        // A count short of the file: records after the data area are not read, not even after
        // blank records at its end.
        test::Reading r;
        r.ReadBytes(ReadWintecLogFile, test::Tk3Header(3) + Recs(1) + std::string(32, '\0') + Recs(2, 1), ".tk3");
        EXPECT_EQ(r.ctx.points.Count(), 1);
    }
    {
        // The last record of the area is stored even when it opens a track.
        test::Reading r;
        r.ReadBytes(ReadWintecLogFile, test::Tk1Header(2) + Rec(0, 0) + Rec(1, 1, 0x0001) + Recs(2, 2), ".tk1");
        EXPECT_EQ(r.ctx.points.Count(), 2);
        EXPECT_EQ(test::BlockSpans(r.ctx), (test::Spans{{0, 0}, {1, 1}}));
    }
}

TEST(WintecReader, TesFiles) {
    // 40 bytes hold two records; the last 8 bytes are not read. Any case of the extension.
    test::Reading r;
    EXPECT_EQ(r.ReadBytes(ReadWintecLogFile, Rec(0, 0) + Rec(1, 1) + Rec(2, 2).substr(0, 8), ".tes"), 0);
    EXPECT_EQ(r.ctx.points.Count(), 2);
    EXPECT_TRUE(r.HasLine("  WBT-202:   2 records"));
    // A single record; the geoid note only with the geoid box ticked.
    test::FixedGeoid g(-20.5);
    test::Reading one;
    one.UseGeoid(&g);
    one.ReadBytes(ReadWintecLogFile, Rec(0, 0, 0x0003), ".TES");
    ASSERT_EQ(one.ctx.points.Count(), 1);
    EXPECT_EQ(one.P(0).Flags, InterestPoint);
    EXPECT_FALSE(one.HasLine("  Geoid designation value was ignored."));
}

TEST(WintecReader, RealWbt202LogMatchesThePeerReading) {
    const std::string dir = TS_SHARED_DIR "/testdata/";
    test::Reading r;
    EXPECT_EQ(r.Read(ReadWintecLogFile, dir + "wbt202.TES"), 0);
    EXPECT_TRUE(r.HasLine("  WBT-202:   498 records"));
    const auto track = test::PeerTrack(dir + "wbt202.TES.peer.gpx"),
               marks = test::PeerTrack(dir + "wbt202.TES.peer.gpx", "wpt");
    // No blank records and one track: every record is a point of one block, as the peer has it.
    ASSERT_NO_FATAL_FAILURE(test::ExpectPeerTrack(r, track, 498, 5e-10, "yyyy-mm-dd\"T\"hh:nn:ss\"Z\""));
    std::vector<int> ours;
    for (int i = 0; i < 498; ++i) {
        EXPECT_TRUE(std::isnan(r.P(i).Temperature)) << i;  // this logger wrote no sensor values
        if (r.P(i).Flags & InterestPoint) ours.push_back(i);
    }
    // The peer makes waypoints of the interest points.
    ASSERT_EQ(ours.size(), marks.size());
    ASSERT_EQ(marks.size(), 4u);
    for (size_t i = 0; i < marks.size(); ++i) {
        EXPECT_NEAR(r.P(ours[i]).Lat, marks[i].lat, 5e-10) << i;
        EXPECT_NEAR(r.P(ours[i]).Lon, marks[i].lon, 5e-10) << i;
        EXPECT_EQ(track[ours[i]].tag.at("time"), marks[i].tag.at("time")) << i;
    }
}

}  // namespace
}  // namespace ts
