// Numbers typed into the dialogs and the main window: a decimal comma is used and saved with ".",
// a comma that may group thousands is refused by the field's name, and a dialog does not take
// what the next load of the settings would replace.
#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QTimer>
#include <functional>

#include "core/barometer.h"
#include "forms/form_3d.h"
#include "forms/form_ext_icon.h"
#include "forms/form_geoid.h"
#include "forms/form_limit.h"
#include "forms/form_main.h"
#include "forms/form_palt.h"
#include "forms/form_reduce.h"

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

// Convert takes what the main window and the mask and reduction dialogs hold by the load's rule,
// once per Convert even with nothing to convert: a decimal comma is used and shown with ".", and
// a text the load would replace gives way to the key's default with the load's own line.
TEST_F(StartedWindowTest, ConvertTakesTypedNumbersAsTheLoadWould) {
    using O = TConversionOptions;
    struct Row {
        const char* section;
        std::string key;
        QLineEdit* edit;
        std::function<void()> ok;  // the dialog's OK that stores the edit; none for the main window's
        std::string* text;
        const char* def;
        int iconSource;
    };
    TConversionOptions& o = S().opt;
    auto opt = [&](std::string O::*m) { return &(o.*m); };
    const auto mask = [this] { form->FormLimit->ButtonOKClick(); };
    const auto reduce = [this] { form->FormReduce->ButtonOKClick(); };
    std::vector<Row> rows = {
        {"Option", "OverSpeed2", form->EditSp2, nullptr, opt(&O::OverSpeed2), "50", 0},
        {"Option", "OverSpeed3", form->EditSp3, nullptr, opt(&O::OverSpeed3), "100", 0},
        {"Option", "OverSpeed4", form->EditSp4, nullptr, opt(&O::OverSpeed4), "200", 0},
        {"Option", "SplitIT", form->EditST, nullptr, opt(&O::SplitIT), "240", 0},
        {"Line", "Alpha", form->EditAlpha, nullptr, opt(&O::LineAlpha), "200", 0},
        {"Line", "Width", form->EditLineW, nullptr, opt(&O::LineWidth), "3", 0},
        {"GroundLevel", "GroundLevelValue", form->EditGroundLevel, nullptr, opt(&O::GroundLevelValue), "0.00", 0},
        {"Option", "HdopMask", form->FormLimit->EditHdopMask, mask, opt(&O::HdopMask), "3.0", 0},
        {"Option", "NsatMask", form->FormLimit->EditNsatMask, mask, opt(&O::NsatMask), "4", 0},
        {"Reduce", "MovingDist", form->FormReduce->EditMd, reduce, opt(&O::MovingDist), "30.0", 0},
        {"Reduce", "ElapsesTimes", form->FormReduce->EditEt, reduce, opt(&O::ElapsesTimes), "10.0", 0}};
    const char* const iconKeys[8] = {"IconSp1",   "IconSp2",    "IconSp3",   "IconSp4",
                                     "IconIrest", "IconIrest2", "IconStart", "IconEnd"};
    for (int i = 0; i < 8; ++i) {
        rows.push_back({"Icon", std::string(iconKeys[i]) + "S", form->ScaleEdits[i], nullptr, &o.IconScale[i], "1", 0});
        rows.push_back({"ExtIcon", "ExtIcon" + std::to_string(i + 1) + "S", form->ScaleEdits[i], nullptr,
                        &o.IconScale[i], "1", 1});
    }
    auto convert = [&](const Row& r, const std::string& typed) {
        o.IconSource = r.iconSource;
        r.edit->setText(Q(typed.c_str()));
        if (r.ok) r.ok();
        form->ButtonExecClick();
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.key);
        const NumberKey& k = NumberKeyOf(r.section, r.key);
        const bool whole = k.kind == NumberKey::Whole || k.kind == NumberKey::WholeText;
        // The dialogs' OK puts junk right itself; what is out of range reaches Convert.
        std::vector<std::string> bad = {FloatKeyText(k.hi + std::max(1.0, std::abs(k.hi)))};
        if (!r.ok) bad.push_back("x1");
        for (const std::string& b : bad) {
            convert(r, b);
            EXPECT_EQ(*r.text, r.def) << b;
            if (!r.ok) {
                EXPECT_EQ(r.edit->text().toStdString(), r.def) << b;
            }
            EXPECT_EQ(ReportCount("Not a number in range : "), 1) << b;
            EXPECT_EQ(ReportCount(Q(NotANumberLine(r.section, r.key, b, r.def).c_str())), 1) << b;
        }
        // Heights are shown with two decimals.
        const std::string used = whole ? "7" : r.key == "GroundLevelValue" ? "2.50" : "2.5";
        convert(r, whole ? "7" : "2,5");
        EXPECT_EQ(*r.text, used);
        if (!r.ok) {
            EXPECT_EQ(r.edit->text().toStdString(), used);
        }
        EXPECT_EQ(ReportCount("Not a number in range : "), 0);
    }
    EXPECT_EQ(rows.size(), 27u);
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
