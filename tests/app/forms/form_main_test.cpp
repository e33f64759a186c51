#include "forms/form_main.h"
#include "forms/form_ext_icon.h"

#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QCloseEvent>
#include <QDialog>
#include <QFileDialog>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <fstream>

using namespace ts;
namespace fs = std::filesystem;

using FormMainTest = MainWindowTest;

TEST_F(FormMainTest, ControlsCaptionsAndStartState) {
    Start();
    TFormMain& f = *form;
    // The texts set after construction, from the settings or by a call; the literal captions
    // of the constructors are not repeated here.
    const std::pair<QString, const char*> texts[] = {
        {f.windowTitle(), "Trailsmith  Ver2.20"},
        {f.BitBtnRef->toolTip(), "Open dialog"},
        {f.CheckBoxOutLimit->toolTip(), "Range of the output is limited "},
        {f.EditST->toolTip(), "No effect in WBT-100,200"},
        {f.CheckBoxMask->text(), "Mask (HD<=3.0 && NS>=4)"},
        {f.CheckBoxReduce->text(), "Reduce (30.0m or 10.0s)"},
        {f.CheckBoxGeoid->text(), "0.0 m"},
        {f.LabelUnit->text(), "km/h"},
        {f.EditTF->text(), "hh:mm:ss."},
        {f.EditST->text(), "240"},
    };
    for (const auto& [actual, expected] : texts) EXPECT_EQ(actual.toStdString(), expected);
    // Settings are loaded at the first activation: the first-start state.
    EXPECT_EQ(f.Front().SettingsFileName, dir + "prog/trailsmith.ini");
    EXPECT_TRUE(f.CheckBoxKMZ->isChecked());
    EXPECT_FALSE(f.CheckBoxKML->isChecked() || f.CheckBoxGPX->isChecked() || f.CheckBoxNMEA->isChecked() ||
                 f.CheckBoxCSV->isChecked());
    EXPECT_TRUE(f.CheckBoxTzAuto->isChecked());
    EXPECT_FALSE(f.MaskEditTimeDiff->isEnabled());
    EXPECT_EQ(f.MaskEditTimeDiff->displayText().toStdString(), SystemUtcOffsetText());
    // The laid-out size is also the largest.
    EXPECT_EQ(f.maximumSize(), f.size());
    ExpectNoOverlaps(&f);
    // The last status panel takes the rest of the bar: its counts show whole.
    f.SetStatus(1, "  Read:498rec.");
    QLabel* panel = nullptr;
    for (QLabel* l : f.StatusBar1->findChildren<QLabel*>()) panel = l->text() == "  Read:498rec." ? l : panel;
    ASSERT_TRUE(panel);
    EXPECT_GE(panel->contentsRect().width(), panel->fontMetrics().horizontalAdvance(panel->text()));
    EXPECT_GE(panel->geometry().right(), f.StatusBar1->contentsRect().right() - 10);
    EXPECT_TRUE(f.CheckBoxDfAuto->isChecked());
    EXPECT_FALSE(f.EditDF->isEnabled());
    EXPECT_TRUE(f.EditTF->isEnabled());  // the time format is not automatic
    EXPECT_FALSE(f.GroupBoxPNote->isHidden());
    EXPECT_TRUE(f.GroupBoxCSV->isHidden());
    EXPECT_EQ(f.LabelIconS->text(), "Int.\nIcon");
    EXPECT_TRUE(f.acceptDrops());
    EXPECT_TRUE(f.isVisible());  // no arguments: the window stays open

    if (const char* shots = std::getenv("TS_SCREENSHOT_DIR")) f.grab().save(QString(shots) + "/main_window.png");
}

TEST_F(FormMainTest, LargestSizeFollowsTheSettledLayout) {
    Start();
    TFormMain& f = *form;
    // A caption that needs more room after the size was fixed, as a face with other metrics does
    // once the window shows: the window takes the room and its largest size follows.
    const int before = f.height();
    f.CheckBoxOutLimit->setText("Output range\nlimiting\nby time");
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    EXPECT_GT(f.height(), before);
    EXPECT_EQ(f.maximumSize(), f.size());
    ExpectNoOverlaps(&f);
    // A layout that needs less room leaves the window as it is.
    const QSize size = f.size();
    f.CheckBoxCSV->setChecked(true);
    f.CheckBoxKMZ->setChecked(false);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    ASSERT_TRUE(f.GroupBoxCSV->isVisible());
    EXPECT_EQ(f.size(), size);
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
    // The offset edit takes a sign and digits in its fixed places; a positive offset keeps its blank.
    f.MaskEditTimeDiff->setText("-05:30:00");
    f.MaskEditTimeDiff->setCursorPosition(1);
    for (const char* key : {"x", "1"}) SendKey(f.MaskEditTimeDiff, 0, key);
    EXPECT_EQ(f.MaskEditTimeDiff->displayText(), "-15:30:00");
    // A short stored form ("9:30" from an older file) is shown in full and keeps its value.
    for (const auto& [stored, shown] :
         {std::pair{" 9:30", " 09:30:00"}, {"-0:30", "-00:30:00"}, {" 09:00:00", " 09:00:00"}}) {
        S().opt.LocalTimeOffset = stored;
        f.ShowSettings(S());
        f.StoreControls(S());
        EXPECT_EQ(S().opt.LocalTimeOffset, shown) << stored;
    }
    f.CheckBoxDfAuto->setChecked(false);
    EXPECT_TRUE(f.EditDF->isEnabled());
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
    SendKey(f.EditFn, Qt::Key_Escape);
    EXPECT_TRUE(f.abortRequested);
    QDialog dlg;
    f.ShowDialogCentered(dlg);  // a dialog starts with a clear flag too
    EXPECT_FALSE(f.abortRequested);
    SendKey(f.EditFn, Qt::Key_Escape);
    f.ButtonExec->click();  // Convert clears the flag first
    EXPECT_FALSE(f.abortRequested);
    EXPECT_TRUE(f.FormReport()->Lines().contains("File: a.nmea"));
    EXPECT_TRUE(f.FormReport()->Lines().contains("  *** Error!! ***"));  // there is no a.nmea

    f.close();
    IniStore ini(dir + "prog/trailsmith.ini");
    EXPECT_EQ(ini.ReadString("Option", "GPXout", ""), "1");
    EXPECT_EQ(ini.ReadString("Option", "KMZout", ""), "0");
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
    EXPECT_NE(f.Front().QuietExitStatus(), 0);  // an aborted batch fails
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(fs::exists(dir + "prog/trailsmith.ini"));  // saved once the batch returned
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
    EXPECT_TRUE(
        f.WMDropFiles({QUrl::fromLocalFile(QString::fromStdString(longName)), QUrl::fromLocalFile("/tmp/notes.doc")}));
    EXPECT_EQ(f.EditFn->text().toStdString(), longName);
    EXPECT_TRUE(f.FormReport()->Lines().contains(QString::fromStdString("File: " + std::string(300, 'n') + ".nmea")));
}

// The font of the settings file reaches the dialogs; the barometer dialog keeps its own.
TEST_F(FormMainTest, SettingsFontReachesTheDialogs) {
    std::ofstream(dir + "prog/trailsmith.ini")
        << "[Option]\r\nVersion=Trailsmith  Ver2.20\r\nMainTop=40\r\nMainLeft=30\r\n"
           "[Font]\r\nFontName=DejaVu Sans\r\nFontSize=13\r\n";
    Start();
    TFormMain& f = *form;
    EXPECT_EQ(f.pos(), QPoint(30, 40));  // where the settings put it
    EXPECT_EQ(f.font().pointSize(), 13);
    EXPECT_EQ(f.maximumSize(), f.size());  // laid out again for the font
    const QWidget* dialogs[] = {f.FormReport(), f.FormReduce,      f.FormLimit,        f.FormPointName,
                                f.FormOutBlock, f.FormOutputRange, f.FormExtIcon.get()};
    for (const QWidget* w : dialogs) EXPECT_EQ(w->font().pointSize(), 13) << w->objectName().toStdString();
}

// The report label shows and closes the report window, centred on the desktop; its memo and
// button follow its size.
TEST_F(FormMainTest, ReportWindowToggleLayoutAndPlace) {
    Start({}, false);
    TFormMain& f = *form;
    TFormReport& r = *f.FormReport();
    emit f.Labelrepoet->clicked();
    EXPECT_TRUE(r.isVisible());
    const QRect desk = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((r.geometry().center() - desk.center()).manhattanLength(), 4);
    r.resize(500, 300);
    EXPECT_EQ(r.Memo1->geometry(), QRect(4, 4, 492, 260));
    EXPECT_EQ(r.Button1->geometry().topRight(), QPoint(495, 269));
    emit f.Labelrepoet->clicked();
    EXPECT_FALSE(r.isVisible());
}

// The open dialog lists the log kinds the settings name and starts on the stored one; a pick
// fills the input box and keeps the kind for the next time.
TEST_F(FormMainTest, OpenDialogFiltersAndPick) {
    Start({}, false);
    TFormMain& f = *form;
    std::ofstream(dir + "b.nmea") << "x";
    S().OpenFiltIdx = 2;
    QStringList filters;
    QString selected;
    QTimer::singleShot(0, &f, [&] {
        auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dlg);
        filters = dlg->nameFilters();
        selected = dlg->selectedNameFilter();
        dlg->selectNameFilter(filters.last());
        dlg->selectFile(QString::fromStdString(dir + "b.nmea"));
        static_cast<QDialog*>(dlg)->accept();
    });
    f.BitBtnRefClick();
    ASSERT_EQ(filters.size(), 10);
    EXPECT_EQ(filters[0], "NMEA file (*.nmea, *.nme, log) (*.nmea *.nme *.log)");
    EXPECT_EQ(filters[1], "WBT-100, 200 Log file (*.tks) (*.tks)");
    EXPECT_EQ(filters[9], "All file (*.*) (*.*)");
    EXPECT_EQ(selected, filters[1]);
    EXPECT_EQ(f.EditFn->text().toStdString(), dir + "b.nmea");
    EXPECT_EQ(S().OpenFiltIdx, 10);
}

// Unattended, a failure the engine reports and then shows in a message box is printed once; a
// message the report did not hold still reaches it.
TEST_F(FormMainTest, HeadlessMessageThatRepeatsTheReportIsNotRepeated) {
    fs::copy_file(TS_SHARED_DIR "/testdata/sample.nmea", dir + "a.nmea");
    WriteBytes(dir + "s.ini", "[Option]\r\nKMZout=0\r\nGPXout=1\r\n");
    fs::create_directory(dir + "07-08-2004_03-29-08.gpx");  // in the way of the output
    Start({dir + "s.ini", "/Q", dir + "a.nmea"});
    EXPECT_EQ(ReportCount("Can't create: "), 1);
    EXPECT_NE(form->ExitStatus(), 0);
    form->ReportLine("  first");
    form->MessageDlg("second", MsgKind::Error, mbOK, mbOK);
    form->MessageDlg("second", MsgKind::Error, mbOK, mbOK);  // the report's last line: once is enough
    EXPECT_EQ(ReportCount("second"), 1);
}
