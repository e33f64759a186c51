#include "output/kml_view3d.h"

#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

struct KmlView : WriterTest {
    void SetUp() override {
        ctx.opt.KMLout = true;
        ctx.opt.Mode3D = true;
    }
    std::string Write() { return WriteValidKml(ctx, dir); }
    static std::string Tag(const std::string& k, const std::string& tag) {
        const size_t p = k.find("<LookAt>");
        const size_t a = k.find("<" + tag + ">", p);
        if (p == std::string::npos || a == std::string::npos) return "<none>";
        const size_t b = k.find("</" + tag + ">", a);
        return k.substr(a + tag.size() + 2, b - a - tag.size() - 2);
    }
    // The LookAt values of the given tags, joined by blanks.
    static std::string Tags(const std::string& k, std::initializer_list<const char*> tags) {
        std::string r;
        for (const char* t : tags) r += (r.empty() ? "" : " ") + Tag(k, t);
        return r;
    }
    void Select(bool start, bool half, bool final) {
        ctx.opt.Start = start, ctx.opt.Half = half, ctx.opt.Final = final;
    }
};

TEST_F(KmlView, BoundsAcrossTheMeridian) {
    KmlView3D v;
    TLogData p = Pt(T(2024, 1, 1), 10, 179.9);
    v.AddWritten(ctx.opt, p, 0, true);
    p.Lon = -179.9;
    p.Lat = 10.5;
    v.AddWritten(ctx.opt, p, 0, false);
    EXPECT_TRUE(v.BoxWest == 179.9 && v.BoxEast == -179.9 && v.BoxSouth == 10 && v.BoxNorth == 10.5);
    EXPECT_DOUBLE_EQ(v.CentreLon(), 180.0);
    p.Lon = -179.0;
    v.AddWritten(ctx.opt, p, 0, false);
    EXPECT_EQ(v.BoxEast, -179.0);
    EXPECT_DOUBLE_EQ(v.CentreLon(), -179.55);
}

TEST_F(KmlView, StartFinalHalfAndManualPositions) {
    AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 21));  // 35.0000 .. 35.0020, 139.0000 .. 139.0020
    Select(true, false, false);
    std::string k = Write();
    EXPECT_EQ(Tags(k, {"longitude", "latitude", "altitude", "altitudeMode"}), "139.0000000 35.0000000 100.0 absolute");
    const std::string summary = k.substr(k.find("<![CDATA[Total"), 80);
    Select(false, false, true);
    EXPECT_EQ(Tags(Write(), {"latitude", "altitude"}), "35.0020000 120.0");
    Select(false, true, false);
    k = Write();
    EXPECT_EQ(Tags(k, {"latitude", "longitude"}), "35.0010000 139.0010000");
    // The second pass leaves the summary alone.
    EXPECT_EQ(k.substr(k.find("<![CDATA[Total"), 80), summary);

    ctx.opt.AutoPos = ctx.opt.AutoRange = ctx.opt.AutoHeading = false;
    ctx.opt.ViewLat = "36.5", ctx.opt.ViewLon = "-1", ctx.opt.ViewAlt = "abc";
    ctx.opt.Range = "1500", ctx.opt.Tilt = "30", ctx.opt.Heading = "12.5";
    ctx.opt.ClampToGnd = true;
    EXPECT_EQ(Tags(Write(), {"latitude", "longitude", "altitude", "range", "tilt", "heading", "altitudeMode"}),
              "36.5000000 -1.0000000 0.0 1500 30 12.5 clampToGround");
}

TEST_F(KmlView, HalfWayAcrossTheMeridian) {
    std::vector<TLogData> pts;
    for (double lon : {179.55, 179.65, 179.75, 179.85, 179.95, -179.95, -179.85, -179.75, -179.65, -179.55})
        pts.push_back(Pt(T(2024, 3, 16, 9, 0, static_cast<int>(pts.size())), -16.5, lon));
    AddBlock(ctx, pts);
    const std::string k = Write();
    EXPECT_EQ(Tag(k, "longitude"), "179.9500000");  // not an end near the plain mean 0
    // Range across the box: 1.2 times the 0.9 degrees of longitude at 16.5 S.
    const double range = std::stod(Tag(k, "range"));
    EXPECT_NEAR(range, 1.2 * 0.9 * 111320 * std::cos(16.5 * M_PI / 180), 300);
}

TEST_F(KmlView, AutomaticRangeIsAtLeast50m) {
    AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 3, 35.0, 139.0, 0.00001));  // a box of 3 m
    EXPECT_EQ(Tag(Write(), "range"), "50.0");
}

TEST_F(KmlView, AutomaticHeading) {
    // A track running east: the view looks across it, north or south.
    std::vector<TLogData> pts;
    for (int i = 0; i < 10; ++i) pts.push_back(Pt(T(2024, 3, 16, 9, 0, i), 0.0, 10 + i * 0.01));
    AddBlock(ctx, pts);
    // Without the automatic position the track is not followed.
    for (auto [north, autoPos, heading] :
         {std::tuple{true, true, "0.0"}, {false, true, "-180.0"}, {false, false, "-90.0"}, {true, false, "90.0"}}) {
        ctx.opt.North = north, ctx.opt.South = !north, ctx.opt.AutoPos = autoPos;
        EXPECT_EQ(Tag(Write(), "heading"), heading) << north << autoPos;
    }
    ctx.opt.AutoPos = true;

    // A track running due north has no longitude spread: 90 or -90 by direction.
    for (int i = 0; i < 10; ++i) ctx.points.At(i).Lon = 10, ctx.points.At(i).Lat = i * 0.01;
    for (int d = 0; d < 4; ++d) {
        ctx.opt.North = d == 0, ctx.opt.East = d == 1, ctx.opt.South = d == 2, ctx.opt.West = d == 3;
        EXPECT_EQ(Tag(Write(), "heading"), d < 2 ? "90.0" : "-90.0") << d;
    }
}

}  // namespace
}  // namespace ts
