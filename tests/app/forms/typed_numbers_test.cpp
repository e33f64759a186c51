// Numbers typed into the dialogs and the main window: a decimal comma is used and saved with ".",
// a comma that may group thousands is refused by the field's name, and a dialog does not take
// what the next load of the settings would replace.
#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QTimer>

#include "core/barometer.h"
#include "forms/form_3d.h"
#include "forms/form_ext_icon.h"
#include "forms/form_geoid.h"
#include "forms/form_palt.h"

using namespace ts;
namespace fs = std::filesystem;

namespace {

QString Q(const char* s) { return QString::fromUtf8(s); }

TEST_F(StartedWindowTest, LogoFieldsTakeADecimalCommaAndRefuseThousands) {
    TFormExtIcon& d = *form->FormExtIcon;
    d.show();
    d.LabeledEditLogoX->setText("0,5");
    d.LabeledEditLogoY->setText("0,25");
    d.LabeledEditLogoScale->setText("1,500");
    d.ButtonOKClick();
    EXPECT_TRUE(d.isVisible());  // refused, nothing stored
    EXPECT_EQ(ReportCount("Scale : \"1,500\" is ambiguous. Type 1500 or 1.500."), 1);
    EXPECT_EQ(S().opt.LogoXpos, "0");
    d.LabeledEditLogoScale->setText("0,75");
    d.ButtonOKClick();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(S().opt.LogoXpos, "0.5");
    EXPECT_EQ(S().opt.LogoYpos, "0.25");
    EXPECT_EQ(S().opt.LogoScale, "0.75");
    // Between -1 and 0 the next load would not keep it: OK does not either.
    d.show();
    d.LabeledEditLogoScale->setText("-0,5");
    d.ButtonOKClick();
    EXPECT_EQ(S().opt.LogoScale, "0.2");
}

TEST_F(StartedWindowTest, ThreeDDialogRefusesWhatTheLoadWouldReplace) {
    TForm3D& d = *form->Form3D();
    d.show();
    d.EditTilt->setText("100");
    d.ButtonOKClick();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(ReportCount("Tilt : 100 is out of range (0 to 90)."), 1);
    d.EditTilt->setText("45");
    d.EditLon->setText("139,500");
    d.ButtonOKClick();
    EXPECT_EQ(ReportCount("Longitude : \"139,500\" is ambiguous. Type 139500 or 139.500."), 1);
    d.EditLon->setText("200 30");  // degrees and minutes beyond the range
    d.ButtonOKClick();
    EXPECT_EQ(ReportCount("Longitude : 200 30 is out of range (-180 to 180)."), 1);
    d.EditLon->setText("139,5");
    d.EditTilt->setText("80,5");
    d.ButtonOKClick();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(S().opt.Tilt, "80.5");
    EXPECT_EQ(S().opt.ViewLon, "139.500000");
}

TEST_F(StartedWindowTest, GeoidOkAndTheSaveTakeHeightsAsTheyAreUsed) {
    TFormGeoid& d = *form->FormGeoid();
    d.show();
    d.FormActivate();
    d.EditGeoid->setText("1,500");
    d.ButtonOKClick();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(ReportCount("Geoid height : \"1,500\" is ambiguous. Type 1500 or 1.500."), 1);
    d.EditGeoid->setText("2e6");
    d.ButtonOKClick();
    EXPECT_EQ(ReportCount("Geoid height : 2e6 is out of range (-100000 to 100000)."), 1);
    d.EditGeoid->setText("2,5");
    d.ButtonOKClick();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(S().opt.GeoidValue, "2.5");
    EXPECT_EQ(form->CheckBoxGeoid->text(), "2.5 m");

    // Typed and saved without a Convert: the file holds what Convert would have used.
    form->EditGroundLevel->setText("x");
    form->close();
    const std::string saved = ReadBytes(dir + "prog/trailsmith.ini");
    EXPECT_NE(saved.find("GeoidValue=2.5\r\n"), std::string::npos);
    EXPECT_NE(saved.find("GroundLevelValue=0.00\r\n"), std::string::npos);
}

// Convert and the unit switch do not guess a number; a stored height Convert cannot use is named.
TEST_F(StartedWindowTest, ConvertRefusesThousandsByTheFieldsName) {
    fs::copy_file(TS_SHARED_DIR "/testdata/sample.nmea", dir + "a.nmea");
    form->SetInputText(dir + "a.nmea");
    form->EditLineW->setText("1,000");
    form->ButtonExecClick();
    EXPECT_EQ(ReportCount("Width : \"1,000\" is ambiguous. Type 1000 or 1.000."), 1);
    EXPECT_EQ(form->filesMade, 0);
    const QString unit = form->LabelUnit->text();
    form->LabelUnitClick();
    EXPECT_EQ(form->LabelUnit->text(), unit);
    EXPECT_EQ(form->EditLineW->text(), Q("1,000"));

    form->EditLineW->setText("1,25");
    form->EditGroundLevel->setText("high");
    form->ButtonExecClick();
    EXPECT_GT(form->filesMade, 0);
    EXPECT_EQ(form->EditLineW->text(), Q("1.25"));
    EXPECT_EQ(ReportCount("  Not a number in range : [GroundLevel] GroundLevelValue=high (0.00 used)"), 1);
}

BarometerStart Start1() {
    BarometerStart b;
    b.fileName = "walk.log";
    b.altEditText = "100.0";
    return b;
}

TEST(TypedCalibration, ADecimalCommaCalibratesAndThousandsAreAskedAgain) {
    TestApp();
    Settings s;
    TFormPAlt d(s);
    BarometerReference ref{1000.0, 15.0};
    bool refused = false;
    QTimer::singleShot(0, &d, [&] {
        d.LabeledEditAlt->setText("1,500");
        d.LabeledEditTemp->setText("15,5");
        emit d.LabeledEditAlt->returnPressed();
        refused = d.isVisible();
        d.LabeledEditAlt->setText("200,5");
        emit d.LabeledEditAlt->returnPressed();
    });
    d.Ask(Start1(), ref);
    EXPECT_TRUE(refused);
    BarometerReference expected{1000.0, 15.0};
    ASSERT_TRUE(CalibrateBarometer(expected, "200.5", "15.5", false));
    EXPECT_DOUBLE_EQ(ref.pressure, expected.pressure);
    EXPECT_DOUBLE_EQ(ref.temperature, expected.temperature);
    EXPECT_EQ(ConvertTemperatureText("15,5", true), "59.9");
}

}  // namespace
