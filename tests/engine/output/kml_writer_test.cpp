#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

struct KmlWriter : WriterTest {
    void SetUp() override {
        ctx.opt.KMZout = false;
        ctx.opt.KMLout = true;
    }
    // Writes the KML of every selected block; returns the writer's result.
    int32_t Write(bool kmz = false) { return WriteKml(Fresh(ctx), dir.Folder(), kmz); }
    std::string Only() {
        std::string found;
        for (const std::string& f : dir.Files()) found = f.ends_with(".kml") ? f : found;
        EXPECT_FALSE(found.empty());
        return found;
    }
    void ExpectValid(const std::string& name) {
        const std::string text = ReadFile(dir.path / name);
        EXPECT_EQ(KmlSchemaErrors(dir.path / name), "") << text;
        for (const char* bad : {">nan", ",nan", "nan<", "nan,", ">inf", ",inf", "inf<", "inf,", "-inf", "NaN", "INF"})
            EXPECT_EQ(text.find(bad), std::string::npos) << bad;
    }
};

TEST_F(KmlWriter, DefaultDocumentValidatesAndSumsTheTrack) {
    std::vector<TLogData> pts = Walk(T(2024, 3, 16, 9, 0, 0), 30);
    pts[3].Speed = kNaN;  // no speed: hidden speed1
    pts[4].Alt = kNaN;    // no altitude: height 0.0
    pts[5].Flags = InterestPoint;
    pts[6].Flags = pts[10].Flags = VoicePoint;
    pts[6].VoiceName = "v&<1>.wav";
    pts[10].VoiceName = "caf\xE9.wav";  // not UTF-8: read as Windows-1252
    pts[7].Speed = 60 / 1.852;          // speed2 bound exactly (50 km/h is below)
    pts[8].Speed = 150 / 1.852;         // speed3
    pts[9].Speed = 250 / 1.852;         // speed4
    AddBlock(ctx, pts);
    ctx.opt.NoteVoiceFile = true;
    ASSERT_EQ(Write(), 30);
    const std::string name = Only();
    EXPECT_EQ(name, "2024-03-16_09-00-00.kml");
    ExpectValid(name);
    const std::string k = ReadFile(dir.path / name);
    EXPECT_NE(k.find("<Document>\r\n\t\t<name>2024-03-16_09-00-00</name>\r\n\t\t<visibility>1</visibility>\r\n"),
              std::string::npos);
    // One placemark a point, and start, interest, voice and end in place of speed classes.
    EXPECT_EQ(CountOf(k, "<Placemark>"), 31);
    EXPECT_NE(k.find("Voice= caf\xC3\xA9.wav"), std::string::npos);
    for (const char* cls : {"speed1", "speed2", "speed3", "speed4", "Irest", "Voice", "Start", "End"})
        EXPECT_EQ(CountOf(k, std::string("<Style id=\"style_id_") + cls + "\">"), 1) << cls;
    EXPECT_NE(k.find("\t\t\t\t\t139.0004000,35.0004000,0.0\r\n"), std::string::npos);
    EXPECT_NE(k.find("Voice= v&amp;&lt;1&gt;.wav"), std::string::npos);

    // The summary agrees with GeographicLib on the same points.
    double sum = 0;
    for (size_t i = 1; i < pts.size(); ++i) {
        std::string out;
        char cmd[256];
        std::snprintf(cmd, sizeof cmd, "echo %.9f %.9f %.9f %.9f | GeodSolve -i -e 6378137 1/298.257222101 -p 6",
                      pts[i - 1].Lat, pts[i - 1].Lon, pts[i].Lat, pts[i].Lon);
        ASSERT_EQ(RunCommand(cmd, &out), 0) << out;
        double a1, a2, s;
        ASSERT_EQ(std::sscanf(out.c_str(), "%lf %lf %lf", &a1, &a2, &s), 3) << out;
        sum += s;
    }
    char expect[200];
    std::snprintf(expect, sizeof expect,
                  "<![CDATA[Total time 00:00:29<br/>Distance %5.3fkm<br/>Speed %5.3fkm/h<br/>]]>", sum / 1000,
                  sum / 29 * 3.6);
    EXPECT_NE(k.find(expect), std::string::npos) << expect;
    for (auto [unit, metres, distUnit] : {std::tuple{"mph", 1609.344, "mi"}, {"kt", 1852.0, "NM"}}) {
        ctx.opt.SpeedUnit = unit;
        ASSERT_EQ(Write(), 30);
        std::snprintf(expect, sizeof expect, "Distance %5.3f%s<br/>Speed %5.3f%s<br/>", sum / metres, distUnit,
                      sum / 29 * 3600 / metres, unit);
        EXPECT_NE(ReadFile(dir.path / name).find(expect), std::string::npos) << expect;
    }
}

TEST_F(KmlWriter, LogoOverlayAndEscapedNames) {
    const std::string logo = dir.Folder() + "logo & <co>.png";
    { std::ofstream(logo) << "png"; }
    ctx.opt.LogoFile = logo;
    ctx.opt.IconSource = 1;
    ctx.opt.ExtIconFile[0] = "/icons/a&b.png";
    ctx.opt.ExtIconFile[6] = "/icons/st'art.png";
    ctx.opt.IconScale[0] = " 1.5 ";
    ctx.opt.IconScale[6] = "abc";
    AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 3));
    ctx.opt.DateTimeSep = "&";
    ASSERT_EQ(Write(), 3);
    const std::string name = Only();
    EXPECT_EQ(name, "2024-03-16&09-00-00.kml");
    ExpectValid(name);
    const std::string k = ReadFile(dir.path / name);
    EXPECT_NE(k.find("<name>2024-03-16&amp;09-00-00</name>"), std::string::npos);
    EXPECT_NE(
        k.find("<ScreenOverlay>\r\n\t\t\t<name>Logo</name>\r\n\t\t\t<Icon><href>logo &amp; &lt;co&gt;.png</href>"),
        std::string::npos);
    EXPECT_NE(k.find("\t\t\t\t<scale>1.5</scale>\r\n\t\t\t\t<Icon>\r\n\t\t\t\t\t<href>a&amp;b.png</href>"),
              std::string::npos);
    EXPECT_NE(k.find("<IconStyle>\r\n\t\t\t\t<Icon>\r\n\t\t\t\t\t<href>st&apos;art.png</href>"), std::string::npos);

    // A logo setting naming a missing file writes no overlay.
    ctx.opt.LogoFile = dir.Folder() + "gone.png";
    ASSERT_EQ(Write(), 3);
    EXPECT_EQ(ReadFile(dir.path / name).find("ScreenOverlay"), std::string::npos);
}

TEST_F(KmlWriter, OutputWindowEndsTheBlock) {
    TrackBlock& a = AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 5));
    a.RangeStart = T(2024, 3, 16, 9, 0, 1);  // points 1 to 3
    a.RangeEnd = T(2024, 3, 16, 9, 0, 3);
    ctx.opt.OutLimit = true;
    ASSERT_EQ(Write(), 3);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"2024-03-16_09-00-01.kml"}));
    // The last point of the window carries the end marker.
    const std::string k = ReadFile(dir.path / "2024-03-16_09-00-01.kml");
    EXPECT_EQ(CountOf(k, "#style_id_End"), 1);
    const size_t end = k.find("#style_id_End</styleUrl>");
    EXPECT_EQ(k.find("<coordinates>139.0003000,35.0003000,"), k.find("<coordinates>", end));
    ExpectValid("2024-03-16_09-00-01.kml");
}

TEST_F(KmlWriter, KmzThatCannotBePackedIsAnError) {
    AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 5));
    // A folder in the way is never replaced: the archive cannot be made.
    std::filesystem::create_directories(dir.path / "2024-03-16_09-00-00.kmz" / "x");
    EXPECT_EQ(Write(true), -1);
    const std::string kmz = dir.Folder() + "2024-03-16_09-00-00.kmz";
    EXPECT_EQ(host.lines.back(), "  Can't create: " + kmz);
    EXPECT_EQ(host.messages, std::vector<std::string>{"Can't create: " + kmz});
    EXPECT_TRUE(std::filesystem::is_directory(dir.path / "2024-03-16_09-00-00.kmz" / "x"));
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"2024-03-16_09-00-00.kmz"});
}

// The summaries' total time: times of day without a date that pass midnight count the day; a
// span that cannot be known (dates lost in mid-block, time running back) is left out, in the KML
// and the GPX alike.
TEST_F(KmlWriter, TotalTimeAcrossMidnightOrUnknown) {
    const double day = T(2024, 3, 16);
    const struct {
        const char* what;
        std::vector<double> times;
        const char* shown;  // nullptr: left out
    } cases[] = {
        {"midnight",
         {EncodeTime(23, 55, 0, 0), EncodeTime(23, 59, 59, 0), EncodeTime(0, 0, 30, 0), EncodeTime(0, 3, 19, 0)},
         "00:08:19"},
        {"two midnights",
         {EncodeTime(23, 0, 0, 0), EncodeTime(8, 0, 0, 0), EncodeTime(20, 0, 0, 0), EncodeTime(0, 0, 1, 0)},
         "1day 01:00:01"},
        {"dated", {day + EncodeTime(23, 55, 0, 0), day + 1 + EncodeTime(0, 3, 19, 0)}, "00:08:19"},
        {"date lost", {day + EncodeTime(23, 55, 0, 0), EncodeTime(0, 3, 19, 0)}, nullptr},
        {"time back", {day + EncodeTime(10, 0, 5, 0), day + EncodeTime(10, 0, 3, 0)}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& f : dir.Files()) std::filesystem::remove(dir.path / f);
        ctx.points.Clear();
        ctx.blocks.Clear();
        std::vector<TLogData> pts;
        for (double t : c.times) pts.push_back(Pt(t, 35 + 0.001 * static_cast<double>(pts.size()), 139));
        AddBlock(ctx, pts);
        ASSERT_EQ(Write(), static_cast<int32_t>(pts.size()));
        ctx.opt.GPXout = true;
        ASSERT_EQ(WriteGpx(Fresh(ctx), dir.Folder()), static_cast<int32_t>(pts.size()));
        const std::string kml = ReadFile(dir.path / Only());
        std::string gpx;
        for (const std::string& f : dir.Files())
            if (f.ends_with(".gpx")) gpx = ReadFile(dir.path / f);
        const std::string count = "Total points: " + std::to_string(pts.size()) + ", ";
        if (c.shown) {
            EXPECT_NE(kml.find(std::string("<![CDATA[Total time ") + c.shown + "<br/>Distance "), std::string::npos);
            EXPECT_NE(kml.find("<br/>Speed "), std::string::npos);
            EXPECT_NE(gpx.find(count + "Total time: " + c.shown + ", Distance: "), std::string::npos);
        } else {
            EXPECT_NE(kml.find("<![CDATA[Distance "), std::string::npos);
            EXPECT_EQ(kml.find("Speed "), std::string::npos);
            EXPECT_NE(gpx.find(count + "Distance: "), std::string::npos);
        }
    }
}

TEST_F(KmlWriter, RingAddressedStream) {
    // Stored records run 10:00:03..10:00:05 then 10:00:00..10:00:02; the reader set WrapPoint 3.
    for (int i : {3, 4, 5, 0, 1, 2}) ctx.points.Append(Pt(T(2024, 3, 16, 10, 0, i), 35 + i * 0.001, 139));
    ctx.points.SetWrapPoint(3);
    TrackBlock& b = ctx.blocks.Open(0, T(2024, 3, 16, 10, 0, 0));
    b.Last = 5;
    b.EndTime = T(2024, 3, 16, 10, 0, 5);
    b.Output = true;
    ASSERT_EQ(Write(), 6);
    const std::string k = ReadFile(dir.path / Only());
    EXPECT_NE(k.find("139.0000000,35.0000000,100.0\r\n\t\t\t\t\t139.0000000,35.0010000,100.0\r\n"), std::string::npos);
    EXPECT_NE(k.find("Total time 00:00:05"), std::string::npos);
}

}  // namespace
}  // namespace ts
