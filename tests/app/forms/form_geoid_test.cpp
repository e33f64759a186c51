#include "forms/form_geoid.h"

#include <gtest/gtest.h>

#include "qt_test_app.h"
#include "settings/options_snapshot.h"

#include <cmath>
#include <fstream>

using namespace ts;

namespace {

// A custom grid of rows x cols nodes, all of one height, with its geometry trailer.
void WriteCustomGrid(const std::string& path, int32_t rows, int32_t cols, double latMin, double lonMin, float n) {
    std::ofstream f(path, std::ios::binary);
    for (int32_t i = 0; i < rows * cols; ++i) f.write(reinterpret_cast<const char*>(&n), 4);
    const double geo[4] = {latMin, lonMin, 1.0, 1.0};
    f.write(reinterpret_cast<const char*>(&rows), 4);
    f.write(reinterpret_cast<const char*>(&cols), 4);
    f.write(reinterpret_cast<const char*>(geo), sizeof geo);
}

struct FormGeoidTest : StartedWindowTest {
    TFormGeoid& D() { return *form->FormGeoid(); }
    // The user picks an item; the idle hook loads it.
    void Pick(int index) {
        D().ComboBoxGeoid->setCurrentIndex(index);
        emit D().ComboBoxGeoid->activated(index);
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    void UseCustomGrid() {
        std::filesystem::create_directories(dir + "grids");
        WriteCustomGrid(dir + "grids/local.cdat", 10, 10, 30.0, 130.0, 36.5f);
        S().opt.GeoidFolder = dir + "grids/";
        S().opt.CustomGeoidFName = "local.cdat";
        S().GeoidModelText = "Custom Geoid";
    }
};

using FormHeightsTest = MainWindowTest;

}  // namespace

TEST_F(FormGeoidTest, ActivationOpensTheModelAndTheCheckAsksIt) {
    // No model opened yet: the check refuses.
    D().ButtonCalc->click();
    EXPECT_EQ(ReportCount("Geoid data is not found."), 1);

    UseCustomGrid();
    emit form->LabelUnit->clicked();  // heights in feet; the check still answers in metres
    D().EditResult->setText("old");
    D().FormActivate();
    EXPECT_EQ(D().EditResult->text(), "");
    EXPECT_EQ(S().opt.GeoidModel, 4);
    EXPECT_EQ(D().LabelGeoidUnit->text(), "ft");
    EXPECT_EQ(D().ComboBoxGeoid->currentText(), "Custom Geoid");
    EXPECT_FALSE(D().GroupBoxCheck->isHidden());
    EXPECT_TRUE(D().EditGeoid->isHidden());
    EXPECT_TRUE(D().CheckBoxSpline->isHidden());
    EXPECT_EQ(D().LabelCustomGeoid->text(), "local.cdat");
    EXPECT_EQ(form->CheckBoxGeoid->text(), "Custom Geoid");

    D().EditLat->setText("35 30");
    D().EditLon->setText("135E");
    D().ButtonCalc->click();
    EXPECT_EQ(D().EditResult->text(), "36.5000");
    D().EditLat->setText("10");
    D().ButtonCalc->click();
    EXPECT_EQ(D().EditResult->text(), "Out of range.");

    D().setResult(-1);
    D().ButtonOK->click();
    EXPECT_EQ(D().result(), QDialog::Accepted);
    EXPECT_EQ(S().GeoidModelText, "Custom Geoid");
    EXPECT_FALSE(D().Models().Grid().IsOpen());
}

TEST_F(FormGeoidTest, PickedModelLoadsOnIdleAndFallsBackWhenItsFileIsMissing) {
    UseCustomGrid();
    D().show();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    ASSERT_EQ(S().opt.GeoidModel, 4);
    const QSize size = D().size();
    const QRect ok = D().ButtonOK->geometry();
    ExpectNoOverlaps(&D());

    Pick(1);  // EGM2008 2.5': no file, nobody to browse
    EXPECT_FALSE(form->Front().GeoidModelChanged);
    EXPECT_EQ(S().opt.CustomGeoidFName, "");
    EXPECT_EQ(ReportCount("Geoid file is not found:"), 1);
    EXPECT_EQ(S().opt.GeoidModel, 0);
    EXPECT_EQ(D().ComboBoxGeoid->currentText(), "Fixed value");
    EXPECT_EQ(S().GeoidModelText, "Fixed value");
    EXPECT_FALSE(D().EditGeoid->isHidden());  // the fixed height now applies: it shows
    EXPECT_TRUE(D().GroupBoxCheck->isHidden());
    // One size for every model; the buttons stay where they were.
    QCoreApplication::processEvents();
    EXPECT_EQ(D().size(), size);
    EXPECT_EQ(D().ButtonOK->geometry(), ok);
    ExpectNoOverlaps(&D());

    // Model 0 names its height on the main window's box.
    D().EditGeoid->setText("12.50");
    Pick(0);
    EXPECT_EQ(form->CheckBoxGeoid->text(), "12.50 m");

    // Cancel restores what the dialog showed when it opened.
    form->CheckBoxGeoid->setChecked(true);
    S().opt.GeoidModel = 4;
    D().ButtonCan->click();
    EXPECT_EQ(D().ComboBoxGeoid->currentText(), "Custom Geoid");
    EXPECT_EQ(S().opt.CustomGeoidFName, "local.cdat");
    EXPECT_EQ(S().opt.GeoidValue, "0.0");
    EXPECT_FALSE(form->CheckBoxGeoid->isChecked());
    EXPECT_EQ(S().opt.GeoidModel, 0);
    EXPECT_FALSE(D().Models().Grid().IsOpen());
}

TEST_F(FormGeoidTest, OkAndConvertFallBackWhenTheChosenGridDoesNotOpen) {
    D().FormActivate();
    D().ComboBoxGeoid->setCurrentIndex(2);
    D().setResult(-1);
    D().ButtonOK->click();
    EXPECT_EQ(D().result(), -1);
    EXPECT_EQ(D().ComboBoxGeoid->currentText(), "Fixed value");
    D().ButtonOK->click();  // the fixed value now is the choice
    EXPECT_EQ(D().result(), QDialog::Accepted);

    // Convert shows its fallback in the dialog too.
    S().GeoidModelText = "EGM2008 1'x1'";
    S().opt.GeoidModel = 2;
    form->CheckBoxGeoid->setChecked(true);
    form->EditFn->setText(QString::fromStdString(dir + "none.nmea"));
    form->ButtonExecClick();
    EXPECT_EQ(S().GeoidModelText, "Fixed value");
    EXPECT_EQ(S().opt.GeoidModel, 0);
}

namespace {
TFormMain* g_form = nullptr;
bool g_tickRefused = false;
int g_modelSeen = -1;
int32_t TickGeoidDuringBatch(EngineContext&, const std::string&) {
    g_form->CheckBoxGeoid->setChecked(!g_form->CheckBoxGeoid->isChecked());
    g_tickRefused = g_form->CheckBoxGeoid->isChecked();
    g_modelSeen = g_form->Front().settings.opt.GeoidModel;
    return 0;
}
ReaderFn TickLookup(int kind) { return kind ? TickGeoidDuringBatch : nullptr; }
}  // namespace

TEST_F(FormGeoidTest, GeoidBoxCannotChangeWhileABatchRuns) {
    UseCustomGrid();
    form->CheckBoxGeoid->setChecked(true);  // headless: the model the settings name
    ASSERT_EQ(S().opt.GeoidModel, 4);
    EXPECT_EQ(form->CheckBoxGeoid->text(), "Custom Geoid");
    g_form = form.get();
    form->Front().readerLookup = TickLookup;
    form->EditFn->setText(QString::fromStdString(dir + "a.nmea"));
    form->ButtonExecClick();
    EXPECT_TRUE(g_tickRefused);
    EXPECT_EQ(g_modelSeen, 4);
    EXPECT_TRUE(form->CheckBoxGeoid->isChecked());
    form->CheckBoxGeoid->setChecked(false);  // after the batch it changes again
    EXPECT_EQ(S().opt.GeoidModel, 0);
}

TEST_F(FormHeightsTest, StartInFeetNamesFeetBesideBothHeights) {
    WriteBytes(dir + "prog/trailsmith.ini", "[Option]\r\nSpeedUnit=kt\r\n[GroundLevel]\r\nGroundLevelValue=10\r\n");
    Start();
    ASSERT_EQ(form->LabelUnit->text(), "kt");
    EXPECT_EQ(form->LabelGroundLevelUnit->text(), "ft");
    EXPECT_TRUE(form->CheckBoxGeoid->text().endsWith(" ft"));  // the fixed geoid height's unit
    // The value shown is taken in that unit.
    emit form->LabelUnit->clicked();
    EXPECT_EQ(form->EditGroundLevel->text(), "3.05");
    EXPECT_EQ(form->LabelGroundLevelUnit->text(), "m");
}

TEST(FormGeoidLogic, FilterPatternsDisplayUnitAndUnreadableText) {
    EXPECT_EQ(DialogNameFilter("Geoid file|gsigeome.ver4;gsigeome.ver4.dat"),
              "Geoid file (gsigeome.ver4 gsigeome.ver4.dat)");
    EXPECT_EQ(DialogNameFilter("Custom Geoid file(*.cdat)|*.cdat"), "Custom Geoid file(*.cdat) (*.cdat)");
    Settings s;
    s.opt.SpeedUnit = "mph";
    s.opt.GeoidValue = "10";
    ParseCustomGeoid(s);
    EXPECT_DOUBLE_EQ(s.opt.FixedGeoid, 3.048);
    EXPECT_EQ(s.opt.GeoidValue, "10.00");
    EXPECT_EQ(s.GeoidUnit, "ft");

    s.opt.GroundLevelValue = "abc";
    ParseGroundLevel(s);
    EXPECT_EQ(s.opt.GroundLevel, 0.0);
    EXPECT_EQ(s.opt.GroundLevelValue, "0.00");
}
