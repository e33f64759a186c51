// The main window: the options as controls, Convert, the command line and dropped files. It is
// also the engine's host: report lines, status panels, message boxes and the message pump.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "forms/form_limit.h"
#include "forms/form_out_block.h"
#include "forms/form_output_range.h"
#include "forms/form_point_name.h"
#include "forms/form_reduce.h"
#include "forms/form_report.h"
#include "forms/frame_placer.h"
#include "forms/front_end.h"

class QDialog;
class QScrollArea;
class QUrl;

namespace ts {

class TForm3D;
class TFormGeoid;
class TFormPAlt;
class TFormIcon;
class TFormExtIcon;

// A label that reacts to a click.
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
};

// Where a message box of text size w x h goes over a form, kept inside the work area.
QPoint MessageDlgPosition(const QRect& form, int w, int h, const Rect& workArea);
// The work area as a rectangle.
QRect WorkAreaRect(const Rect& workArea);
// Where a dialog of the given outer size goes, centred on the main window.
QPoint DialogPosition(const QRect& mainWindow, const QSize& dialog, const Rect& workArea);
// Moves a dialog about to be shown to DialogPosition for its laid-out outer size.
void CentreDialog(QWidget& dlg, const QWidget& mainWindow, const Rect& workArea);

class TFormMain : public QWidget, public ShellView {
    Q_OBJECT
public:
    // headless: nobody can answer questions; they take their default answer into the report.
    // noDisplay: nobody can see the window either; it closes unless a "/Q" batch ran.
    TFormMain(ProgramPaths paths, std::vector<std::string> args, bool headless, bool noDisplay = false);
    ~TFormMain() override;

    FrontEnd& Front() { return *front_; }
    TFormReport* FormReport() { return report_.get(); }
    bool Headless() const { return headless_; }
    // Exit status of the program after the window closed.
    int ExitStatus() const { return exitStatus_; }

    // A message box placed over `form`; returns the button pressed.
    MsgButton MessageDlgCentered(const std::string& msg, MsgKind kind, unsigned buttons, QWidget* form);
    // A modal dialog centred on the main window and kept inside the work area.
    int ShowDialogCentered(QDialog& dlg);

    // Asks the idle hook for a deferred geoid model load.
    void RequestGeoidLoad();

    // --- 3D, geoid and barometer dialogs
    TForm3D* Form3D() { return form3D_.get(); }
    TFormGeoid* FormGeoid() { return formGeoid_.get(); }
    TFormPAlt* FormPAlt() { return formPAlt_.get(); }
    // The 3D settings' summary into the "3D" box caption.
    void Update3DCaption();
    std::string BrowseGeoidFile(const std::string& folder, const std::string& fileName,
                                const std::string& filter) override;
    void ShowGeoidConverting(bool shown) override;
    void AskBarometerCalibration(const BarometerStart& start, BarometerReference& ref) override;

    // --- Host and ShellView
    void ReportLine(const std::string& line) override;
    void SetStatus(int panel, const std::string& text) override;
    std::string Status(int panel) const override;
    void ShowReport() override;
    void ProcessMessages() override;
    void SetBusyCursor(bool busy) override;
    MsgButton MessageDlg(const std::string& text, MsgKind kind, unsigned buttons, MsgButton def) override;
    std::string InputText() const override;
    void SetInputText(const std::string& text) override;
    void ClearReport() override;
    void StoreControls(Settings& s) override;
    void ShowSettings(const Settings& s) override;
    bool SelectOutputBlocks(BlockTable& blocks, const PointStream& points, const TConversionOptions& o,
                            int32_t& curBlock) override;
    bool SelectOutputRange(BlockTable& blocks, const PointStream& points, const TConversionOptions& o,
                           int32_t curBlock) override;

    // Dialogs owned by the window for the whole run.
    TFormReduce* FormReduce = nullptr;
    TFormLimit* FormLimit = nullptr;
    TFormPointName* FormPointName = nullptr;
    TFormOutBlock* FormOutBlock = nullptr;
    TFormOutputRange* FormOutputRange = nullptr;

    // Controls, by the names the settings and handlers use.
    QGroupBox *GroupBoxInput, *GroupBoxOuttype, *GroupBoxTimeoffs, *GroupBoxDateFmt, *GroupBoxTrack, *GroupBoxNMEAopt,
        *GroupBoxGeoid, *GroupBoxGroundLevel, *GroupBoxPNote, *GroupBoxCSV;
    QLineEdit* EditFn;
    QPushButton* BitBtnRef;
    QCheckBox *CheckBoxKML, *CheckBoxKMZ, *CheckBoxGPX, *CheckBoxNMEA, *CheckBoxCSV;
    QLineEdit* MaskEditTimeDiff;
    QCheckBox* CheckBoxTzAuto;
    QLineEdit *EditDF, *EditTF;
    QCheckBox *CheckBoxDfAuto, *CheckBoxTfAuto;
    QCheckBox *CheckBoxTrackOut, *CheckBoxPointOut, *CheckBoxRandom;
    ClickLabel *LabelColor, *PanelColor;
    QLabel *LabelAlpha, *LabelLineW;
    QLineEdit *EditAlpha, *EditLineW;
    ClickLabel *LabelSpd, *LabelUnit;
    QLineEdit *EditSp2, *EditSp3, *EditSp4;
    std::array<ClickLabel*, 8> Images{};  // ImageSp1..4, ImageIrest, ImageVoice, ImageStart, ImageEnd
    std::array<QCheckBox*, 8>
        VisibleBoxes{};                      // CheckBoxSp1..4, CheckBoxIrest, CheckBoxVoice, CheckBoxStart, CheckBoxEnd
    std::array<QLineEdit*, 8> ScaleEdits{};  // EditSc1..8
    QLabel *LabelInt, *LabelVoice;
    ClickLabel *LabelIconS, *LabelLogo;
    QCheckBox *CheckBoxVisOnly, *CheckBoxNoTab, *CheckBox3d, *CheckBoxBalloon, *CheckBoxTimeStamp;
    QLineEdit* EditST;
    QCheckBox *CheckBoxFixDt, *CheckBoxEstim, *CheckBoxReduce, *CheckBoxToLT, *CheckBoxMask, *CheckBoxOutLimit;
    QCheckBox* CheckBoxGeoid;
    QLineEdit* EditGroundLevel;
    QLabel* LabelGroundLevelUnit;
    QCheckBox* CheckBoxGroundLevel;
    QCheckBox *CheckBoxPNum, *CheckBoxPDate, *CheckBoxPTime, *CheckBoxPLat, *CheckBoxPlon, *CheckBoxPSpd, *CheckBoxPAlt,
        *CheckBoxHdop, *CheckBoxNsat, *CheckBoxTemp, *CheckBoxBarom, *CheckBoxPrAlt, *CheckBoxVoiceName;
    QCheckBox *CheckBoxIndex, *CheckBoxDateTime, *CheckBoxSNEW, *CheckBoxGeoidOut;
    QPushButton *ButtonExec, *ButtonExit;
    ClickLabel* Labelrepoet;
    QStatusBar* StatusBar1;

    void SetNoteGroupVisible(bool v);
    void EnableColorControls(bool random);

    // --- Placemark icon sets, the palette picker and the external-icon dialog
    std::unique_ptr<TFormIcon> FormIcon;
    std::unique_ptr<TFormExtIcon> FormExtIcon;
    int IconSlot = 1;  // the style slot (1..8) the pickers replace
    void ShowIcons() override;
    void ShowInternalIcons();
    // withScales false redraws the previews only and leaves the scale edits as they stand.
    void ShowExternalIcons(bool withScales = true);
    void ImageSp1Click(int tag);
    void LabelIconSClick();
    void LabelLogoClick();
    void ShowLogoLabel();

public slots:
    void ButtonExecClick();
    void BitBtnRefClick();
    void LabelUnitClick();
    // Files dropped on the window; refused (false) while a batch runs.
    bool WMDropFiles(const QList<QUrl>& urls);

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    void BuildControls();
    // The stored place of the frame, once settings are loaded; the middle of the work area when
    // none was stored.
    void PlaceMainWindow(const Settings& s);
    void ShowReportWindow();
    void FixLaidOutSize();
    void ConnectHandlers();
    void FirstActivate();
    void AfterBatch();
    void GeoidIdle();
    void ApplyFontToForms(const QFont& f);
    void Connect3DDialog();
    void ConnectGeoidDialog();
    // Option dialogs opened by a box: shown, or without a display taken as they stand (OK).
    void RunOptionDialog(QDialog& dlg, const std::function<void()>& ok);
    void WireReduceDialog();
    void WireMaskDialog();
    void WirePointNameDialog();
    void WireOutputDialogs();
    // The icon previews of the speed classes, interest and voice points.
    std::array<QPixmap, 6> RangePreviews() const;
    void CreateIconForms();

    std::unique_ptr<FrontEnd> front_;
    std::unique_ptr<TFormReport> report_;
    std::vector<std::string> args_;
    bool headless_;
    bool noDisplay_;
    bool closePending_ = false;
    bool closing_ = false;
    // Whether the last placement asked for centres the window across and down.
    bool centreX_ = false, centreY_ = false;
    bool placed_ = false;  // the settings' place was given to the window
    QScrollArea* scroll_ = nullptr;
    QWidget* content_ = nullptr;
    QSize laidOut_;        // the controls' laid-out size the window was last fitted for
    QMargins fitMargins_;  // the frame it was fitted with
    int exitStatus_ = 0;
    // The lines of the last report call, trimmed: a headless message box that only repeats them
    // is not reported twice.
    std::vector<std::string> lastReported_;
    QLabel* statusPanel_[2];
    QTimer geoidTimer_;
    uint32_t panelColor_ = 0x0000FFFF;
    // After front_: the dialogs hold its settings and go first.
    std::unique_ptr<TForm3D> form3D_;
    std::unique_ptr<TFormGeoid> formGeoid_;
    std::unique_ptr<TFormPAlt> formPAlt_;
};

}  // namespace ts
