#include "form_main.h"

#include <gtest/gtest.h>

#include "../test_temp.h"

#include <QApplication>

#include "qt_test_app.h"
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QUrl>

#include <clocale>
#include <cstdlib>
#include <filesystem>

using namespace ts;
namespace fs = std::filesystem;

namespace {

QApplication& App() { return TestApp(); }

struct FormMainTest : testing::Test {
    std::string dir;
    std::unique_ptr<TFormMain> form;
    void SetUp() override {
        App();
        dir = ProcessTempDir() + "formmain_" + testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        fs::remove_all(dir);
        fs::create_directories(dir + "prog");
    }
    void Start(std::vector<std::string> args = {}) {
        ProgramPaths pp;
        pp.exePath = dir + "prog/trailsmith";
        pp.appData = dir + "appdata";
        form = std::make_unique<TFormMain>(pp, std::move(args), true);
        form->show();
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    void TearDown() override {
        if (form) form->close();
    }
};

}  // namespace

TEST_F(FormMainTest, ControlsCaptionsAndStartState) {
    Start();
    TFormMain& f = *form;
    EXPECT_EQ(f.windowTitle(), "Trailsmith  Ver2.20");
    EXPECT_EQ(f.GroupBoxInput->title(), " Input file ");
    EXPECT_EQ(f.GroupBoxOuttype->title(), " Output File type");
    EXPECT_EQ(f.GroupBoxTimeoffs->title(), " LocalTime - UTC ");
    EXPECT_EQ(f.GroupBoxDateFmt->title(), " Datetime format ");
    EXPECT_EQ(f.GroupBoxTrack->title(), " Track && Placemark  ");
    EXPECT_EQ(f.GroupBoxNMEAopt->title(), " Option ");
    EXPECT_EQ(f.GroupBoxGeoid->title(), " Geoid ");
    EXPECT_EQ(f.GroupBoxGroundLevel->title(), " Ground level ");
    EXPECT_EQ(f.GroupBoxPNote->title(), " Placemark note ");
    EXPECT_EQ(f.GroupBoxCSV->title(), " CSV option ");
    EXPECT_EQ(f.ButtonExec->text(), "Convert");
    EXPECT_EQ(f.ButtonExit->text(), "Exit");
    EXPECT_EQ(f.Labelrepoet->text(), "Report");
    EXPECT_EQ(f.BitBtnRef->toolTip(), "Open dialog");
    EXPECT_EQ(f.CheckBoxFixDt->text(), "Use Fix only");
    EXPECT_EQ(f.CheckBoxToLT->text(), "Output in Local time");
    EXPECT_EQ(f.CheckBoxOutLimit->toolTip(), "Range of the output is limited ");
    EXPECT_EQ(f.EditST->toolTip(), "No effect in WBT-100,200");
    EXPECT_EQ(f.CheckBoxDateTime->text(), "Date+Time");

    // Settings are loaded at the first activation: the first-start state.
    EXPECT_EQ(f.Front().SettingsFileName, dir + "prog/trailsmith.ini");
    EXPECT_TRUE(f.CheckBoxKMZ->isChecked());
    EXPECT_FALSE(f.CheckBoxKML->isChecked() || f.CheckBoxGPX->isChecked() || f.CheckBoxNMEA->isChecked() ||
                 f.CheckBoxCSV->isChecked());
    EXPECT_TRUE(f.CheckBoxTzAuto->isChecked());
    EXPECT_FALSE(f.MaskEditTimeDiff->isEnabled());
    EXPECT_EQ(f.MaskEditTimeDiff->text().toStdString(), SystemUtcOffsetText());
    EXPECT_TRUE(f.CheckBoxDfAuto->isChecked());
    EXPECT_FALSE(f.EditDF->isEnabled());
    EXPECT_FALSE(f.CheckBoxTfAuto->isChecked());
    EXPECT_EQ(f.EditTF->text(), "hh:mm:ss.");
    EXPECT_TRUE(f.EditTF->isEnabled());
    EXPECT_TRUE(f.CheckBoxTrackOut->isChecked());
    EXPECT_TRUE(f.CheckBoxPointOut->isChecked());
    EXPECT_EQ(f.EditAlpha->text(), "200");
    EXPECT_EQ(f.EditLineW->text(), "3");
    EXPECT_EQ(f.LabelUnit->text(), "km/h");
    EXPECT_EQ(f.EditSp2->text(), "50");
    EXPECT_EQ(f.EditSp4->text(), "200");
    EXPECT_EQ(f.EditST->text(), "240");
    EXPECT_EQ(f.CheckBoxBalloon->text(), "Balloon (Num)");
    EXPECT_TRUE(f.CheckBoxBalloon->isChecked());
    EXPECT_EQ(f.CheckBoxMask->text(), "Mask (HD<=3.0 && NS>=4)");
    EXPECT_EQ(f.CheckBoxReduce->text(), "Reduce (30.0m or 10.0s)");
    EXPECT_EQ(f.CheckBoxGeoid->text(), "0.0 m");
    EXPECT_EQ(f.EditGroundLevel->text(), "0.0");
    EXPECT_TRUE(f.CheckBoxPNum->isChecked() && f.CheckBoxPAlt->isChecked());
    EXPECT_FALSE(f.CheckBoxHdop->isChecked() || f.CheckBoxVoiceName->isChecked());
    EXPECT_FALSE(f.GroupBoxPNote->isHidden());
    EXPECT_TRUE(f.GroupBoxCSV->isHidden());
    EXPECT_FALSE(f.VisibleBoxes[0]->isChecked());
    EXPECT_TRUE(f.VisibleBoxes[7]->isChecked());
    EXPECT_EQ(f.ScaleEdits[0]->text(), "1");
    EXPECT_EQ(f.LabelIconS->text(), "Int.\nIcon");
    EXPECT_TRUE(f.acceptDrops());
    EXPECT_TRUE(f.isVisible());  // no arguments: the window stays open

    if (const char* shots = std::getenv("TS_SCREENSHOT_DIR")) f.grab().save(QString(shots) + "/main_window.png");
}

TEST_F(FormMainTest, EnablingRules) {
    Start();
    TFormMain& f = *form;
    f.CheckBoxTrackOut->setChecked(false);
    EXPECT_TRUE(f.CheckBoxPointOut->isChecked());
    EXPECT_FALSE(f.CheckBoxRandom->isEnabled());
    EXPECT_FALSE(f.EditAlpha->isEnabled());
    f.CheckBoxPointOut->setChecked(false);  // unticking both is impossible
    EXPECT_TRUE(f.CheckBoxTrackOut->isChecked());
    EXPECT_FALSE(f.CheckBoxBalloon->isEnabled());
    EXPECT_TRUE(f.EditAlpha->isEnabled());
    f.CheckBoxRandom->setChecked(true);
    EXPECT_FALSE(f.PanelColor->isEnabled());

    f.CheckBoxKMZ->setChecked(false);
    f.CheckBoxCSV->setChecked(true);
    EXPECT_TRUE(f.GroupBoxPNote->isHidden());
    EXPECT_FALSE(f.GroupBoxCSV->isHidden());
    f.CheckBoxKML->setChecked(true);
    EXPECT_FALSE(f.GroupBoxPNote->isHidden());

    f.CheckBoxTzAuto->setChecked(false);
    EXPECT_TRUE(f.MaskEditTimeDiff->isEnabled());
    f.CheckBoxDfAuto->setChecked(false);
    EXPECT_TRUE(f.EditDF->isEnabled());

    f.CheckBoxMask->setChecked(true);
    EXPECT_EQ(f.Front().settings.opt.HdopMax, 3.0);
    f.CheckBoxMask->setChecked(false);
    EXPECT_EQ(f.Front().settings.opt.HdopMax, 10000);

    f.LabelUnitClick();
    EXPECT_EQ(f.LabelUnit->text(), "mph");
    EXPECT_EQ(f.EditSp2->text(), "31.1");
    f.LabelUnitClick();
    f.LabelUnitClick();
    EXPECT_EQ(f.LabelUnit->text(), "km/h");
    EXPECT_EQ(f.EditSp2->text(), "50.0");
}

TEST_F(FormMainTest, ConvertWithoutOutputTypeAndEscAndClosingSaves) {
    Start();
    TFormMain& f = *form;
    f.CheckBoxKMZ->setChecked(false);
    f.EditFn->setText("a.nmea");
    f.ButtonExec->click();
    ASSERT_EQ(f.FormReport()->Lines().size(), 1);
    EXPECT_EQ(f.FormReport()->Lines()[0], " Please select \"Output File type\". ");

    f.CheckBoxGPX->setChecked(true);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(f.EditFn, &esc);
    EXPECT_TRUE(f.abortRequested);
    QDialog dlg;
    f.ShowDialogCentered(dlg);  // a dialog starts with a clear flag too
    EXPECT_FALSE(f.abortRequested);
    QCoreApplication::sendEvent(f.EditFn, &esc);
    f.ButtonExec->click();  // Convert clears the flag first
    EXPECT_FALSE(f.abortRequested);
    EXPECT_TRUE(f.FormReport()->Lines().contains("File: a.nmea"));
    EXPECT_TRUE(f.FormReport()->Lines().contains("  *** Error!! ***"));  // there is no a.nmea

    f.close();
    IniStore ini(dir + "prog/trailsmith.ini");
    EXPECT_EQ(ini.ReadString("Option", "GPXout", ""), "1");
    EXPECT_EQ(ini.ReadString("Option", "KMZout", ""), "0");
    EXPECT_EQ(ini.ReadString("Option", "Version", ""), "Trailsmith  Ver2.20");
}

// Closing while a batch runs first stops the batch; the window closes once it has returned.
TEST_F(FormMainTest, CloseDuringBatchAbortsThenCloses) {
    Start();
    TFormMain& f = *form;
    f.EditFn->setText("a.nmea;b.nmea;c.nmea");
    bool closedDuringBatch = false;
    QObject::connect(f.FormReport()->Memo1, &QPlainTextEdit::textChanged, &f, [&] {
        if (!f.Front().Busy() || closedDuringBatch) return;
        closedDuringBatch = true;
        f.close();
        EXPECT_TRUE(f.isVisible());
    });
    f.ButtonExec->click();
    EXPECT_TRUE(closedDuringBatch);
    EXPECT_TRUE(f.FormReport()->Lines().contains("*** Aborted by user ***"));
    EXPECT_FALSE(f.FormReport()->Lines().contains("File: b.nmea"));
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(fs::exists(dir + "prog/trailsmith.ini"));
}

TEST_F(FormMainTest, QuietRunConvertsAndCloses) {
    Start({"/Q", "a.nmea"});
    EXPECT_FALSE(form->isVisible());
    EXPECT_NE(form->ExitStatus(), 0);  // nothing was made
    EXPECT_TRUE(form->FormReport()->Lines().contains("File: a.nmea"));
}

TEST(Placement, MessageBoxesAndDialogsStayOnTheWorkArea) {
    const Rect wa{0, 0, 1920, 1080};
    // Centred over the form, shifted up-left by the box's frame.
    EXPECT_EQ(MessageDlgPosition(QRect(100, 100, 600, 400), 300, 40, wa), QPoint(205, 235));
    EXPECT_EQ(MessageDlgPosition(QRect(-500, -500, 100, 100), 300, 40, wa), QPoint(0, 0));
    EXPECT_EQ(MessageDlgPosition(QRect(1800, 1000, 600, 400), 360, 40, wa), QPoint(1920 - 360 - 78, 1080 - 40 - 90));
    EXPECT_EQ(DialogPosition(QRect(100, 100, 600, 400), QSize(200, 100), wa), QPoint(300, 250));
    EXPECT_EQ(DialogPosition(QRect(-300, -300, 100, 100), QSize(200, 100), wa), QPoint(1, 1));
    EXPECT_EQ(DialogPosition(QRect(1800, 1000, 100, 100), QSize(200, 100), wa), QPoint(1720, 980));
    // Larger than the work area: its far edge on the work area's edge.
    EXPECT_EQ(DialogPosition(QRect(0, 0, 100, 100), QSize(2000, 1200), wa), QPoint(-80, -120));
}

TEST_F(FormMainTest, DroppedFilesAreTakenWholeAndConverted) {
    Start();
    TFormMain& f = *form;
    const std::string longName = dir + std::string(300, 'n') + ".nmea";
    EXPECT_TRUE(f.WMDropFiles({QUrl::fromLocalFile(QString::fromStdString(longName)), QUrl::fromLocalFile("/tmp/notes.doc")}));
    EXPECT_EQ(f.EditFn->text().toStdString(), longName);
    EXPECT_TRUE(f.FormReport()->Lines().contains(QString::fromStdString("File: " + std::string(300, 'n') + ".nmea")));
}

TEST_F(FormMainTest, ReportWindowLayoutFollowsItsSize) {
    Start();
    TFormReport& r = *form->FormReport();
    r.show();
    r.resize(500, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(r.Memo1->height(), 260);
    EXPECT_EQ(r.Memo1->width(), 500 - 2 * r.Memo1->x());
    EXPECT_EQ(r.Button1->y(), r.Memo1->y() + 260 + 5);
    EXPECT_EQ(r.Button1->x() + r.Button1->width(), 500 - r.Memo1->x());
    EXPECT_EQ(r.windowTitle(), "Report");
    EXPECT_EQ(r.Button1->text(), "Close");
}
