// Numbers typed with a decimal comma: one rule when they are used, saved and loaded again. The
// comma is the decimal mark; the outputs, the engine and the settings file see ".".
#include <gtest/gtest.h>

#include "qt_test_app.h"

#include "core/text_format.h"
#include "forms/form_3d.h"
#include "settings/options_snapshot.h"

using namespace ts;
namespace fs = std::filesystem;

TEST(DecimalComma, OnlyAWholeNumberWithOneCommaTakesItAsTheDecimalMark) {
    EXPECT_EQ(DecimalPointText("2,5"), "2.5");
    EXPECT_EQ(DecimalPointText("-0,75"), "-0.75");
    EXPECT_EQ(DecimalPointText("1,5e3"), "1.5e3");
    for (const char* kept : {"2.5", "1,2,3", "1.5,2", "2,", ",5", "a,b", "", "35,39 29"}) {
        EXPECT_EQ(DecimalPointText(kept), kept);
    }
    double v = 0;
    EXPECT_TRUE(ReadDecimal(" 40,5 ", v));
    EXPECT_DOUBLE_EQ(v, 40.5);
    EXPECT_FALSE(ReadDecimal("1,2,3", v));
    EXPECT_DOUBLE_EQ(DecimalOr0("x"), 0.0);
}

TEST(DecimalComma, SnapshotUsesTheNumberAndShowsItWithAPoint) {
    Settings s;
    s.opt.SpeedUnit = "kt";
    s.opt.OverSpeed2 = "40,5";
    s.opt.SplitIT = "2,5";
    s.opt.LineWidth = "2,5";
    s.opt.LogoScale = "0,5";
    s.opt.IconScale[0] = "1,5";
    TConversionOptions o;
    TakeSnapshot(s, o);
    EXPECT_DOUBLE_EQ(o.SpeedClassBounds[2], 40.5);
    EXPECT_DOUBLE_EQ(o.SplitTime, 2.5);
    EXPECT_EQ(o.LineWidth, "2.5");
    EXPECT_EQ(o.LogoScale, "0.5");
    EXPECT_EQ(o.IconScale[0], "1.5");
    EXPECT_EQ(s.opt.OverSpeed2, "40.5");  // the edit shows what was used

    s.opt.SpeedUnit = "km/h";  // metres
    s.opt.GeoidValue = "36,5";
    ParseCustomGeoid(s);
    EXPECT_DOUBLE_EQ(s.opt.FixedGeoid, 36.5);
    s.opt.HdopMask = "1,5";
    s.opt.MaskUse = true;
    ApplyMaskSettings(s);
    EXPECT_DOUBLE_EQ(s.opt.HdopMax, 1.5);
    EXPECT_EQ(s.MaskCaption, "Mask (HD<=1.5 && NS>=" + Trim(s.opt.NsatMask) + ")");
    s.opt.MovingDist = "12,5";
    s.opt.SpeedUnit = "km/h";
    ReadReduceDialog(s);
    EXPECT_DOUBLE_EQ(s.opt.MoveDistMin, 12.5);
}

TEST(DecimalComma, ThreeDValuesAreDegreesAndNumbers) {
    EXPECT_DOUBLE_EQ(ParseAngle("8,5"), 8.5);
    EXPECT_DOUBLE_EQ(ParseAngle("8,5E"), 8.5);
    EXPECT_DOUBLE_EQ(ParseAngle("S 33,5"), -33.5);
    // Commas between degrees, minutes and seconds still separate them.
    EXPECT_NEAR(ParseAngle("35,39,29.1572"), 35.658099, 5e-7);
    EXPECT_NEAR(ParseAngle("35,39,29"), 35 + 39 / 60.0 + 29 / 3600.0, 1e-12);
    TConversionOptions o;
    o.ViewLon = "8,5";
    o.Range = "1500,5";
    o.Multi = "0,5";
    std::string bad;
    ASSERT_TRUE(Normalize3DFields(o, bad)) << bad;
    EXPECT_EQ(o.ViewLon, "8.500000");
    EXPECT_EQ(o.Range, "1500.5");
    EXPECT_EQ(o.Multi, "0.5");  // not a zero to be replaced by "1.0"
}

// Typed in the window: the KML holds the number, the settings keep it, and the next start shows
// it again. A file written elsewhere with commas loads them as the same numbers.
TEST_F(MainWindowTest, ACommaNumberIsUsedSavedAndLoadedAlike) {
    fs::copy_file(TS_SHARED_DIR "/testdata/sample.nmea", dir + "a.nmea");
    const std::string ini = dir + "prog/trailsmith.ini";
    WriteBytes(ini,
               "[Option]\r\nVersion=Trailsmith  Ver2.20\r\nKMZout=0\r\nKMLout=1\r\nSpeedUnit=kt\r\n"
               "[3D]\r\n3D_mode=1\r\nAutoPos=0\r\n");
    Start();
    form->EditLineW->setText("2,5");
    form->EditSp2->setText("40,5");
    S().opt.ViewLon = "8,5";
    form->SetInputText(dir + "a.nmea");
    form->ButtonExecClick();
    std::string kml;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".kml") kml = ReadBytes(e.path().string());
    ASSERT_FALSE(kml.empty());
    EXPECT_NE(kml.find("<width>2.5</width>"), std::string::npos);
    EXPECT_NE(kml.find("<longitude>8.5"), std::string::npos);
    EXPECT_EQ(kml.find("2,5"), std::string::npos);
    EXPECT_DOUBLE_EQ(S().opt.SpeedClassBounds[2], 40.5);
    EXPECT_EQ(form->EditLineW->text(), "2.5");
    form->close();
    const std::string saved = ReadBytes(ini);
    for (const char* line : {"Width=2.5\r\n", "OverSpeed2=40.5\r\n", "ViewLon=8.5\r\n"}) {
        EXPECT_NE(saved.find(line), std::string::npos) << line;
    }

    WriteBytes(
        ini,
        "[Option]\r\nVersion=Trailsmith  Ver2.20\r\nSpeedUnit=kt\r\nOverSpeed2=40,5\r\nSplitIT=2,5\r\n"
        "[Line]\r\nWidth=2,5\r\n[3D]\r\nViewLon=8,5\r\nRange=1500,5\r\n[GroundLevel]\r\nGroundLevelValue=12,5\r\n"
        "[ExtIcon]\r\nLogoYpos=0,5\r\n");
    Start();
    EXPECT_EQ(form->EditLineW->text(), "2.5");
    EXPECT_EQ(form->EditSp2->text(), "40.5");
    EXPECT_EQ(form->EditST->text(), "2.5");
    EXPECT_EQ(S().opt.ViewLon, "8.5");
    EXPECT_EQ(S().opt.Range, "1500.5");
    EXPECT_EQ(S().opt.LogoYpos, "0.5");
    EXPECT_EQ(form->EditGroundLevel->text(), "12.5");
}

// A stored number the load cannot use gives way to its default with a word in the report; a
// comma number is no such case.
TEST_F(MainWindowTest, AStoredNumberReplacedAtLoadIsReported) {
    WriteBytes(dir + "prog/trailsmith.ini",
               "[Option]\r\nVersion=Trailsmith  Ver2.20\r\nOverSpeed3=fast\r\nOverSpeed2=40,5\r\n"
               "[Line]\r\nWidth=2.5.1\r\nAlpha=300\r\n");
    Start();
    EXPECT_EQ(form->EditLineW->text(), "3");
    EXPECT_EQ(form->EditAlpha->text(), "200");
    EXPECT_EQ(ReportCount("Not a number in range : "), 3);
    EXPECT_EQ(ReportCount("[Line] Width=2.5.1 (3 used)"), 1);
    EXPECT_EQ(ReportCount("[Line] Alpha=300 (200 used)"), 1);
    EXPECT_EQ(ReportCount("[Option] OverSpeed3=fast (100 used)"), 1);
    // The report of the next conversion, which clears the window first, tells it too; later ones not.
    for (int run = 0; run < 2; ++run) {
        form->SetInputText(dir + "none.nmea");
        form->ButtonExecClick();
        EXPECT_EQ(ReportCount("Not a number in range : "), run == 0 ? 3 : 0);
    }
}
