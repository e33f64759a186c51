#include "output/kml_placemarks.h"

#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

struct KmlPlacemark : ::testing::Test {
    TConversionOptions o;
    KmlFormats f;
    void SetUp() override {
        o.Visible = {true, true, true, true, true, true, true, true};
        Derive();
    }
    void Derive() {
        DeriveOptions(o);
        f = MakeKmlFormats(o);
    }
    // The placemark text of points numbered from n, block end included.
    std::string Marks(const std::vector<TLogData>& pts, int32_t n = 2) {
        KmlPlacemarks m(o, f, false);
        m.StartBlock();
        std::string text;
        for (const TLogData& p : pts) m.AddPoint(p, p.Alt, n++, false, false, text);
        m.FinishBlock(text);
        return text;
    }
    std::string Marks(const TLogData& p, int32_t n = 2) { return Marks(std::vector{p}, n); }
    static std::string Between(const std::string& text, const std::string& a, const std::string& b) {
        const size_t p = text.find(a);
        if (p == std::string::npos) return "<missing " + a + ">";
        return text.substr(p + a.size(), text.find(b, p + a.size()) - p - a.size());
    }
    static std::string Name(const std::string& text) { return Between(text, "\t\t\t\t<name>", "</name>"); }
    TLogData P(double speedKn = 10) { return Pt(T(2024, 3, 16, 9, 0, 0, 500), 35.5, -139.25, 100, speedKn); }
};

TEST_F(KmlPlacemark, VisibilityRules) {
    // Only visible placemarks: a hidden interest class leaves the point without any placemark.
    o.VisibleOnly = true;
    o.Visible[kcIrest] = false;
    TLogData p = P();
    p.Flags = InterestPoint;
    EXPECT_EQ(Marks(p), "");

    // At block end the last placemark is made visible when start markers are on.
    o.VisibleOnly = false;
    o.Visible[kcSpeed1] = false;
    const std::string text = Marks({P(), P()}, 1);
    EXPECT_EQ(CountOf(text, "<visibility>0</visibility>"), 1);
    EXPECT_EQ(CountOf(text, "<visibility>1</visibility>"), 1);
    EXPECT_EQ(text.rfind("<visibility>1</visibility>"), text.rfind("<visibility>"));
    // A point both of interest and with a voice note gets a placemark of each.
    TLogData both = P();
    both.Flags = InterestPoint | VoicePoint;
    EXPECT_EQ(CountOf(Marks(both), "<Placemark>"), 2);
    // Without start markers nothing is forced.
    o.Visible[kcStart] = false;
    EXPECT_EQ(CountOf(Marks(P(), 1), "<visibility>1</visibility>"), 0);
}

TEST_F(KmlPlacemark, BalloonAndPointNames) {
    o.NoteHdop = o.NoteNsat = true;
    o.PointNameKind = 1;
    Derive();
    std::string t = Marks(P(), 4);
    EXPECT_EQ(Name(t), "#4");
    EXPECT_EQ(Between(t, "<description><![CDATA[", "]]></description>"),
              "Date= 2024/03/16<br/>Time= 09:00:00<br/>Lat= 35.5000000N<br/>Lon= 139.2500000W<br/>Spd= 18.5km/h<br/>"
              "Alt= 100.0m<br/>HDOP= 1.2<br/>Nsat= 7<br/>");

    const std::pair<int, std::string> kinds[] = {{0, "<missing \t\t\t\t<name>>"}, {3, "09:00:00"}, {6, "100.0m"}};
    for (const auto& [kind, name] : kinds) {
        o.PointNameKind = kind;
        EXPECT_EQ(Name(Marks(P(), 4)), name) << kind;
    }
    // Missing values give no name rather than a made-up number.
    o.PointNameKind = 5;
    EXPECT_EQ(Marks(P(kNaN)).find("\t\t\t\t<name>"), std::string::npos);
    o.PointNameKind = 6;
    TLogData p = P();
    p.Alt = kNaN;
    EXPECT_EQ(Marks(p).find("\t\t\t\t<name>"), std::string::npos);
    // A voice name cannot break out of the balloon.
    o.NoteVoiceFile = true;
    p.VoiceName = "x]]><b>.wav";
    t = Marks(p);
    EXPECT_NE(t.find("Voice= x]]&gt;&lt;b&gt;.wav<br/>"), std::string::npos);

    // Without balloon the note is the name, with short labels; 99 satellites is no count.
    o.NoteTemp = true;
    o.NoteToBalloon = o.NoteVoiceFile = o.NoteHdop = false;
    p = P();
    p.Temperature = 21.5f;
    EXPECT_EQ(Name(Marks(p, 4)),
              "#4 2024/03/16 09:00:00 35.5000000N 139.2500000W S=18.5km/h Alt=100.0m Nsat=7 T=21.5C");
    p.Sats = 99;
    EXPECT_EQ(Name(Marks(p, 4)).find("Nsat"), std::string::npos);
}

TEST_F(KmlPlacemark, TimesWithoutDate) {
    o.TimeStamp = true;
    o.PointNameKind = 2;
    Derive();
    TLogData p = P();
    std::string t = Marks(p);
    EXPECT_NE(t.find("\t\t\t\t<TimeStamp><when>2024-03-16T09:00:00.5Z</when></TimeStamp>\r\n\t\t\t\t<styleUrl>"),
              std::string::npos);
    // UTC in the stamp, local time in the note.
    o.LocalTimeOffset = "+02:00:00";
    Derive();
    t = Marks(p);
    EXPECT_NE(t.find("<when>2024-03-16T09:00:00.5Z</when>"), std::string::npos);
    EXPECT_NE(t.find("Time= 11:00:00<br/>"), std::string::npos);

    // A time of day only: no date anywhere and no 1899 time stamp.
    p.Time = EncodeTime(9, 30, 5, 0);
    t = Marks(p);
    EXPECT_EQ(t.find("<TimeStamp>"), std::string::npos);
    EXPECT_EQ(t.find("1899"), std::string::npos);
    EXPECT_EQ(Name(t), " 11:30:05");
    EXPECT_EQ(t.find("Date="), std::string::npos);
    // No time at all: no date or time item.
    p.Time = 0;
    t = Marks(p);
    EXPECT_EQ(t.find("Time="), std::string::npos);
    EXPECT_EQ(t.find("<TimeStamp>"), std::string::npos);
}

// A whole document through the schema.
struct KmlPlacemarkDoc : KmlPlacemark {
    RecordingHost host;
    EngineContext ctx{host};
    ScratchDir dir;
    std::string Write() {
        ctx.opt = o;
        ctx.opt.KMLout = true;
        return WriteValidKml(ctx, dir);
    }
};

TEST_F(KmlPlacemarkDoc, LogWithoutTimesHasOneEnd) {
    std::vector<TLogData> pts = Walk(0, 6);
    for (TLogData& p : pts) p.Time = 0;
    AddBlock(ctx, pts);
    o.TimeStamp = true;
    const std::string k = Write();
    EXPECT_EQ(CountOf(k, "#style_id_End"), 1);
    EXPECT_EQ(CountOf(k, "#style_id_Start"), 1);
    EXPECT_EQ(k.find("<TimeStamp>"), std::string::npos);
    EXPECT_NE(k.find("Total time 00:00:00"), std::string::npos);
}

}  // namespace
}  // namespace ts
