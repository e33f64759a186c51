#include "output/kml_placemarks.h"
#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

struct GpxWriter : WriterTest {
    int32_t Write() { return WriteGpx(Fresh(ctx), dir.Folder()); }
    std::string Valid(const std::string& name) {
        EXPECT_EQ(GpxSchemaErrors(dir.path / name), "");
        return ReadFile(dir.path / name);
    }
};

TEST_F(GpxWriter, TrackAndWaypointsValidateAndReadBack) {
    std::vector<TLogData> pts = Walk(T(2024, 3, 16, 9, 0, 0), 30);
    pts[2].Flags = InterestPoint;
    pts[3].Flags = VoicePoint;
    pts[4].Flags = InterestPoint | VoicePoint;  // one waypoint
    pts[5].Time += 500 * kOneMs;
    pts[6].Alt = kNaN;
    AddBlock(ctx, pts);
    ctx.opt.Visible[kcIrest] = ctx.opt.Visible[kcVoice] = true;
    ctx.opt.DateTimeSep = "&";  // the track name is escaped
    ASSERT_EQ(Write(), 30);
    const std::string name = "2024-03-16&09-00-00.gpx";
    ASSERT_EQ(dir.Files(), std::vector<std::string>{name});
    const std::string g = Valid(name);

    EXPECT_EQ(CountOf(g, "<wpt "), 3);
    EXPECT_NE(g.find("\t<wpt lat=\"35.0002000\" lon=\"139.0002000\">\r\n\t\t<ele>102.0</ele>\r\n"
                     "\t\t<time>2024-03-16T09:00:02Z</time>\r\n\t</wpt>\r\n"),
              std::string::npos);
    EXPECT_NE(g.find("  <trk>\r\n    <name>Track 2024-03-16&amp;09-00-00</name>\r\n"), std::string::npos);
    EXPECT_NE(g.find("\t\t<time>2024-03-16T09:00:05.5Z</time>"), std::string::npos);
    EXPECT_NE(g.find("\t<trkpt lat=\"35.0006000\" lon=\"139.0006000\">\r\n\t\t<time>"), std::string::npos);

    // The summary: distance along the track, as the KML writer sums it.
    ctx.opt.KMLout = true;
    ASSERT_EQ(WriteKml(Fresh(ctx), dir.Folder(), false), 30);
    const std::string k = ReadFile(dir.path / "2024-03-16&09-00-00.kml");
    const size_t d = k.find("Distance ") + 9;
    const std::string km = k.substr(d, k.find("<br/>", d) - d);
    EXPECT_NE(g.find("<desc>Total points: 30, Total time: 00:00:29, Distance: " + km + "</desc>"), std::string::npos)
        << km;

    std::string said;
    ExpectSamePositions(BabelRead("gpx", dir.path / name, "trkpt", &said), Positions(pts), 0.5e-7 + 1e-12);
    EXPECT_EQ(said, "");
    EXPECT_EQ(BabelRead("gpx", dir.path / name, "wpt").size(), 3u);

    // A point is a waypoint when one of its classes is visible.
    for (auto [irest, voice, wpts] : {std::tuple{true, false, 2}, {false, true, 2}, {false, false, 0}}) {
        ctx.opt.Visible[kcIrest] = irest, ctx.opt.Visible[kcVoice] = voice;
        ASSERT_EQ(Write(), 30);
        EXPECT_EQ(CountOf(ReadFile(dir.path / name), "<wpt "), wpts) << irest << voice;
    }
}

TEST_F(GpxWriter, PointsWithoutDateOrHeight) {
    // The last two lie on the 180th meridian, which the schema allows only as -180.
    std::vector<TLogData> pts = {Pt(0, 35, 139), Pt(0.5, 35.001, 180), Pt(1.25, 35.002, 179.999999999)};
    for (TLogData& p : pts) p.Flags = InterestPoint;
    pts[1].Alt = kNaN;
    AddBlock(ctx, pts);
    ctx.opt.Visible[kcIrest] = true;
    ASSERT_EQ(Write(), 3);
    ASSERT_EQ(dir.Files().size(), 1u);
    const std::string g = Valid(dir.Files()[0]);
    EXPECT_EQ(g.find("<time>"), std::string::npos);
    EXPECT_EQ(CountOf(g, "lon=\"-180.0000000\""), 4);
    EXPECT_EQ(CountOf(g, "<ele>"), 4);
    EXPECT_EQ(CountOf(g, "<wpt "), 3);
}

}  // namespace
}  // namespace ts
