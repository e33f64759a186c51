#include "forms/form_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <iostream>

#include "core/text_format.h"
#include "forms/dialog_buttons.h"
#include "forms/form_3d.h"
#include "forms/form_ext_icon.h"
#include "forms/form_geoid.h"
#include "forms/form_icon.h"
#include "forms/form_palt.h"
#include "pictures/icon_preview.h"
#include "pictures/icon_sets.h"
#include "settings/options_snapshot.h"

namespace ts {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The user's date and time forms, kept aside for what the user sees and types.
LocaleFormats UserLocaleFormats() {
    const QLocale loc = QLocale::system();
    return InitLocaleFormats(S(loc.dateFormat(QLocale::ShortFormat)), S(loc.timeFormat(QLocale::ShortFormat)),
                             S(loc.timeFormat(QLocale::LongFormat)));
}

QCheckBox* Box(const QString& text, const char* name, QWidget* parent) {
    auto* b = new QCheckBox(text, parent);
    b->setObjectName(name);
    return b;
}

// The width a line edit needs to show text whole with the caret after it, in its own font and
// style: what the edit keeps beside its text (margins, the caret, the frame) added to the text's.
int EditWidthFor(const QLineEdit& e, const QString& text) {
    const QFontMetrics fm(e.font());
    const QMargins tm = e.textMargins(), cm = e.contentsMargins();
    constexpr int kTextMargin = 2, kCaret = 1;  // the edit's own margin on each side of the text
    const int w =
        fm.horizontalAdvance(text) + 2 * kTextMargin + kCaret + tm.left() + tm.right() + cm.left() + cm.right();
    QStyleOptionFrame opt;
    opt.initFrom(&e);
    opt.lineWidth = e.hasFrame() ? e.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, &e) : 0;
    opt.midLineWidth = 0;
    opt.state |= QStyle::State_Sunken;
    return e.style()->sizeFromContents(QStyle::CT_LineEdit, &opt, QSize(w, fm.height()), &e).width();
}

// The texts a fixed-width edit must show whole, kept on the edit; its width is fitted to them in
// the font in use, never narrower than the form's design.
constexpr const char* kFitTexts = "fitTexts";
constexpr const char* kDesignWidth = "designWidth";

QLineEdit* Edit(const char* name, int width, QWidget* parent, const QStringList& holds) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setProperty(kFitTexts, holds);
    e->setProperty(kDesignWidth, width);
    e->setFixedWidth(width);
    return e;
}

void FitEditWidths(const QWidget& form) {
    for (QLineEdit* e : form.findChildren<QLineEdit*>()) {
        const QVariant texts = e->property(kFitTexts);
        if (!texts.isValid()) continue;
        int w = e->property(kDesignWidth).toInt();
        for (const QString& t : texts.toStringList()) w = std::max(w, EditWidthFor(*e, t));
        if (e->width() != w || e->minimumWidth() != w) e->setFixedWidth(w);
    }
}

void SetChecked(QCheckBox* b, bool v) {
    QSignalBlocker block(b);
    b->setChecked(v);
}

void SetText(QLineEdit* e, const std::string& t) {
    QSignalBlocker block(e);
    e->setText(Q(t));
}

// The offset edit's mask has a place for every digit: a shorter stored form such as "9:00" is
// shown in full, so that what the edit holds still reads as the same offset.
std::string OffsetForMask(const std::string& t) {
    const bool fits = t.size() == 9 && (t[0] == ' ' || t[0] == '+' || t[0] == '-') && t[3] == ':' && t[6] == ':' &&
                      std::all_of(t.begin() + 1, t.end(), [](char c) { return c == ':' || (c >= '0' && c <= '9'); });
    return fits ? t : FormatUtcOffset(-ParseTimeOffset(t));
}

}  // namespace

QPoint MessageDlgPosition(const QRect& form, int w, int h, const Rect& wa) {
    int x = std::max(0, form.left() - 45 + (form.width() - w) / 2);
    int y = std::max(0, form.top() - 45 + (form.height() - h) / 2);
    if (x + w + 78 > wa.right) x = wa.right - w - 78;
    if (y + h + 90 > wa.bottom) y = wa.bottom - h - 90;
    return {x, y};
}

QRect WorkAreaRect(const Rect& wa) { return {wa.left, wa.top, wa.right - wa.left, wa.bottom - wa.top}; }

QPoint DialogPosition(const QRect& mainWindow, const QSize& dialog, const Rect& wa) {
    const QPoint centre = CentredOn(mainWindow, dialog);
    int left = centre.x();
    int top = centre.y();
    if (left < 0) left = 1;
    if (top < 0) top = 1;
    if (left + dialog.width() > wa.right) left = wa.right - dialog.width();
    if (top + dialog.height() > wa.bottom) top = wa.bottom - dialog.height();
    return {left, top};
}

void CentreDialog(QWidget& dlg, const QWidget& mainWindow, const Rect& workArea) {
    // Measured as it will show: laid out for its font and contents (the user's font may have
    // come after it was built). Its window is not made early for a measure: that would turn the
    // main window's controls into native windows too.
    dlg.ensurePolished();
    if (QLayout* l = dlg.layout()) {
        l->invalidate();
        l->activate();
    }
    const QPointer<const QWidget> main(&mainWindow);
    PlaceFrame(
        dlg,
        [main, workArea, &dlg](const QSize& frame) {
            return main ? DialogPosition(FrameRect(*main), frame, workArea) : FrameRect(dlg).topLeft();
        },
        &mainWindow);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* e) {
    QLabel::mouseReleaseEvent(e);
    if (isEnabled()) emit clicked();
}

TFormMain::TFormMain(ProgramPaths paths, std::vector<std::string> args, bool headless, bool noDisplay)
    : QWidget(nullptr), args_(std::move(args)), headless_(headless), noDisplay_(noDisplay) {
    setObjectName("FormMain");
    setWindowTitle(kProgramCaption);
    report_ = std::make_unique<TFormReport>();
    BuildControls();
    FitEditWidths(*this);
    FixLaidOutSize();
    front_ = std::make_unique<FrontEnd>(*this, std::move(paths));
    Settings& s = front_->settings;
    s.locale = UserLocaleFormats();
    s.japaneseLocale = QLocale::system().language() == QLocale::Japanese;
    if (QScreen* sc = QGuiApplication::primaryScreen()) {
        const QRect r = sc->availableGeometry();
        s.WorkArea = {r.left(), r.top(), r.right() + 1, r.bottom() + 1};
    }
    form3D_ = std::make_unique<TForm3D>(*this, s);
    formGeoid_ = std::make_unique<TFormGeoid>(*this, s);
    formPAlt_ = std::make_unique<TFormPAlt>(s, this);
    ShowSettings(s);
    ConnectHandlers();
    WireReduceDialog();
    WireMaskDialog();
    WirePointNameDialog();
    WireOutputDialogs();
    CreateIconForms();
    // Enter presses a focused button, as in the dialogs; the window starts in the input box.
    InstallDialogKeys(this, EditFn);
    geoidTimer_.setSingleShot(true);
    geoidTimer_.setInterval(0);
    connect(&geoidTimer_, &QTimer::timeout, this, &TFormMain::GeoidIdle);
    qApp->installEventFilter(this);
}

TFormMain::~TFormMain() { qApp->removeEventFilter(this); }

void TFormMain::BuildControls() {
    // The controls scroll inside the window when they need more room than the work area has;
    // the status bar stays in sight below them.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("ScrollBoxMain");
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    // Only a frame around the controls: no Tab stop of its own, it still scrolls to the control
    // that takes the focus.
    scroll_->setFocusPolicy(Qt::NoFocus);
    content_ = new QWidget;
    content_->setObjectName("PanelMain");
    auto* top = new QVBoxLayout(content_);
    top->setContentsMargins(6, 6, 6, 6);

    GroupBoxInput = new QGroupBox(" Input file ", this);
    GroupBoxInput->setObjectName("GroupBoxInput");
    auto* inLay = new QHBoxLayout(GroupBoxInput);
    EditFn = new QLineEdit(GroupBoxInput);
    EditFn->setObjectName("EditFn");
    BitBtnRef = new QPushButton("...", GroupBoxInput);
    BitBtnRef->setObjectName("BitBtnRef");
    BitBtnRef->setToolTip("Open dialog");
    BitBtnRef->setFixedWidth(32);
    inLay->addWidget(EditFn);
    inLay->addWidget(BitBtnRef);
    top->addWidget(GroupBoxInput);

    auto* middle = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    middle->addLayout(left);
    middle->addLayout(right, 1);
    top->addLayout(middle);

    GroupBoxOuttype = new QGroupBox(" Output File type", this);
    GroupBoxOuttype->setObjectName("GroupBoxOuttype");
    auto* outLay = new QHBoxLayout(GroupBoxOuttype);
    CheckBoxKML = Box("KML", "CheckBoxKML", GroupBoxOuttype);
    CheckBoxKMZ = Box("KMZ", "CheckBoxKMZ", GroupBoxOuttype);
    CheckBoxGPX = Box("GPX", "CheckBoxGPX", GroupBoxOuttype);
    CheckBoxNMEA = Box("NMEA", "CheckBoxNMEA", GroupBoxOuttype);
    CheckBoxCSV = Box("CSV", "CheckBoxCSV", GroupBoxOuttype);
    for (QCheckBox* b : {CheckBoxKML, CheckBoxKMZ, CheckBoxGPX, CheckBoxNMEA, CheckBoxCSV}) outLay->addWidget(b);
    left->addWidget(GroupBoxOuttype);

    GroupBoxTimeoffs = new QGroupBox(" LocalTime - UTC ", this);
    GroupBoxTimeoffs->setObjectName("GroupBoxTimeoffs");
    auto* tzLay = new QHBoxLayout(GroupBoxTimeoffs);
    MaskEditTimeDiff = Edit("MaskEditTimeDiff", 80, GroupBoxTimeoffs, {"+00:00:00"});
    // A sign or blank, then hours, minutes and seconds; blanks stand for what is not typed.
    MaskEditTimeDiff->setInputMask("#99:99:99; ");
    CheckBoxTzAuto = Box("Auto", "CheckBoxTzAuto", GroupBoxTimeoffs);
    tzLay->addWidget(MaskEditTimeDiff);
    tzLay->addWidget(CheckBoxTzAuto);
    tzLay->addStretch();
    left->addWidget(GroupBoxTimeoffs);

    GroupBoxDateFmt = new QGroupBox(" Datetime format ", this);
    GroupBoxDateFmt->setObjectName("GroupBoxDateFmt");
    auto* dfLay = new QGridLayout(GroupBoxDateFmt);
    EditDF = Edit("EditDF", 110, GroupBoxDateFmt, {"yyyy/mm/dd", "dd mmm yyyy"});
    CheckBoxDfAuto = Box("Auto", "CheckBoxDfAuto", GroupBoxDateFmt);
    EditTF = Edit("EditTF", 110, GroupBoxDateFmt, {"hh:mm:ss.zzz", "h:mm:ss ampm"});
    CheckBoxTfAuto = Box("Auto", "CheckBoxTfAuto", GroupBoxDateFmt);
    dfLay->addWidget(EditDF, 0, 0);
    dfLay->addWidget(CheckBoxDfAuto, 0, 1);
    dfLay->addWidget(EditTF, 1, 0);
    dfLay->addWidget(CheckBoxTfAuto, 1, 1);
    left->addWidget(GroupBoxDateFmt);

    GroupBoxNMEAopt = new QGroupBox(" Option ", this);
    GroupBoxNMEAopt->setObjectName("GroupBoxNMEAopt");
    auto* opLay = new QGridLayout(GroupBoxNMEAopt);
    auto* labelST = new QLabel("Split interval time for NMEA,RBT", GroupBoxNMEAopt);
    EditST = Edit("EditST", 50, GroupBoxNMEAopt, {"0000", "0.25"});
    EditST->setToolTip("No effect in WBT-100,200");
    auto* labelMin = new QLabel("min", GroupBoxNMEAopt);
    CheckBoxFixDt = Box("Use Fix only", "CheckBoxFixDt", GroupBoxNMEAopt);
    CheckBoxFixDt->setToolTip("Non Fix data is discards");
    CheckBoxEstim = Box("Use Estim.", "CheckBoxEstim", GroupBoxNMEAopt);
    CheckBoxEstim->setToolTip("Use Estimated data");
    CheckBoxReduce = Box("Reduce ", "CheckBoxReduce", GroupBoxNMEAopt);
    CheckBoxToLT = Box("Output in Local time", "CheckBoxToLT", GroupBoxNMEAopt);
    CheckBoxToLT->setToolTip("Change to Local time");
    CheckBoxMask = Box("Mask", "CheckBoxMask", GroupBoxNMEAopt);
    CheckBoxMask->setToolTip("Limit of HDOP and in use satellites");
    CheckBoxOutLimit = Box("Output range limiting", "CheckBoxOutLimit", GroupBoxNMEAopt);
    CheckBoxOutLimit->setToolTip("Range of the output is limited ");
    opLay->addWidget(labelST, 0, 0, 1, 2);
    auto* stLay = new QHBoxLayout;
    stLay->setSpacing(6);
    stLay->addWidget(EditST);
    stLay->addWidget(labelMin);
    stLay->addStretch();
    opLay->addLayout(stLay, 1, 0, 1, 2);
    opLay->addWidget(CheckBoxFixDt, 2, 0);
    opLay->addWidget(CheckBoxEstim, 2, 1);
    opLay->addWidget(CheckBoxReduce, 3, 0, 1, 2);
    opLay->addWidget(CheckBoxToLT, 4, 0, 1, 2);
    opLay->addWidget(CheckBoxMask, 5, 0, 1, 2);
    opLay->addWidget(CheckBoxOutLimit, 6, 0, 1, 2);
    left->addWidget(GroupBoxNMEAopt);

    GroupBoxGeoid = new QGroupBox(" Geoid ", this);
    GroupBoxGeoid->setObjectName("GroupBoxGeoid");
    auto* geoLay = new QHBoxLayout(GroupBoxGeoid);
    CheckBoxGeoid = Box("Not apply", "CheckBoxGeoid", GroupBoxGeoid);
    CheckBoxGeoid->setToolTip("Geoid is subtracted from height. ");
    geoLay->addWidget(CheckBoxGeoid);
    left->addWidget(GroupBoxGeoid);

    GroupBoxGroundLevel = new QGroupBox(" Ground level ", this);
    GroupBoxGroundLevel->setObjectName("GroupBoxGroundLevel");
    auto* glLay = new QHBoxLayout(GroupBoxGroundLevel);
    EditGroundLevel = Edit("EditGroundLevel", 60, GroupBoxGroundLevel, {"-0000.00"});
    LabelGroundLevelUnit = new QLabel("m", GroupBoxGroundLevel);
    LabelGroundLevelUnit->setObjectName("LabelGroundLevelUnit");
    CheckBoxGroundLevel = Box("Apply", "CheckBoxGroundLevel", GroupBoxGroundLevel);
    glLay->addWidget(EditGroundLevel);
    glLay->addWidget(LabelGroundLevelUnit);
    glLay->addWidget(CheckBoxGroundLevel);
    glLay->addStretch();
    left->addWidget(GroupBoxGroundLevel);
    left->addStretch();

    // Track and placemarks.
    GroupBoxTrack = new QGroupBox(" Track && Placemark  ", this);
    GroupBoxTrack->setObjectName("GroupBoxTrack");
    auto* tr = new QGridLayout(GroupBoxTrack);
    CheckBoxTrackOut = Box("Track", "CheckBoxTrackOut", GroupBoxTrack);
    CheckBoxPointOut = Box("Point", "CheckBoxPointOut", GroupBoxTrack);
    CheckBoxRandom = Box("Random color", "CheckBoxRandom", GroupBoxTrack);
    tr->addWidget(CheckBoxTrackOut, 0, 0, 1, 2);
    tr->addWidget(CheckBoxPointOut, 0, 2, 1, 2);
    tr->addWidget(CheckBoxRandom, 0, 4, 1, 3);
    LabelColor = new ClickLabel("Color", GroupBoxTrack);
    LabelColor->setObjectName("LabelColor");
    PanelColor = new ClickLabel(GroupBoxTrack);
    PanelColor->setObjectName("PanelColor");
    PanelColor->setFixedSize(24, 18);
    PanelColor->setFrameShape(QFrame::Box);
    PanelColor->setAutoFillBackground(true);
    LabelAlpha = new QLabel("Alpha", GroupBoxTrack);
    LabelAlpha->setObjectName("LabelAlpha");
    EditAlpha = Edit("EditAlpha", 40, GroupBoxTrack, {"000"});
    EditAlpha->setToolTip("Opacity values (0 -255)");
    LabelLineW = new QLabel("Width", GroupBoxTrack);
    LabelLineW->setObjectName("LabelLineW");
    EditLineW = Edit("EditLineW", 30, GroupBoxTrack, {"0.0"});
    EditLineW->setToolTip("Recommended range of 0 - 4 pixels");
    auto* lineRow = new QHBoxLayout;
    lineRow->setSpacing(6);  // the group's tight spacing would run each label into the control before it
    for (QWidget* w :
         std::initializer_list<QWidget*>{LabelColor, PanelColor, LabelAlpha, EditAlpha, LabelLineW, EditLineW})
        lineRow->addWidget(w);
    lineRow->addStretch();
    tr->addLayout(lineRow, 1, 0, 1, 6);

    LabelSpd = new ClickLabel("Speed", GroupBoxTrack);
    LabelSpd->setObjectName("LabelSpd");
    LabelUnit = new ClickLabel("km/h", GroupBoxTrack);
    LabelUnit->setObjectName("LabelUnit");
    for (ClickLabel* l : {LabelSpd, LabelUnit}) {
        l->setToolTip("Change a unit by a click");
        l->setCursor(Qt::PointingHandCursor);
    }
    tr->addWidget(LabelSpd, 2, 2);
    tr->addWidget(LabelUnit, 2, 3);
    tr->addWidget(new QLabel("Scale", GroupBoxTrack), 2, 4);

    static const char* const imageNames[8] = {"ImageSp1",   "ImageSp2",   "ImageSp3",   "ImageSp4",
                                              "ImageIrest", "ImageVoice", "ImageStart", "ImageEnd"};
    static const char* const boxNames[8] = {"CheckBoxSp1",   "CheckBoxSp2",   "CheckBoxSp3",   "CheckBoxSp4",
                                            "CheckBoxIrest", "CheckBoxVoice", "CheckBoxStart", "CheckBoxEnd"};
    EditSp2 = Edit("EditSp2", 50, GroupBoxTrack, {"0000.0"});
    EditSp3 = Edit("EditSp3", 50, GroupBoxTrack, {"0000.0"});
    EditSp4 = Edit("EditSp4", 50, GroupBoxTrack, {"0000.0"});
    LabelInt = new QLabel("POI1", GroupBoxTrack);
    LabelInt->setObjectName("LabelInt");
    LabelVoice = new QLabel("POI2", GroupBoxTrack);
    LabelVoice->setObjectName("LabelVoice");
    auto* labelStart = new QLabel("Start", GroupBoxTrack);
    labelStart->setToolTip("First point");
    auto* labelEnd = new QLabel("End", GroupBoxTrack);
    labelEnd->setToolTip("Last point");
    QWidget* rowLabel[8] = {
        new QLabel("0 -", GroupBoxTrack), EditSp2, EditSp3, EditSp4, LabelInt, LabelVoice, labelStart, labelEnd};
    for (int i = 0; i < 8; ++i) {
        Images[i] = new ClickLabel(GroupBoxTrack);
        Images[i]->setObjectName(imageNames[i]);
        Images[i]->setFixedSize(32, 32);
        Images[i]->setToolTip("Click it to change an icon");
        VisibleBoxes[i] = Box("", boxNames[i], GroupBoxTrack);
        VisibleBoxes[i]->setToolTip("Visible request");
        ScaleEdits[i] = Edit(("EditSc" + std::to_string(i + 1)).c_str(), 40, GroupBoxTrack, {"0.000"});
        if (i >= 1 && i <= 3) static_cast<QLineEdit*>(rowLabel[i])->setToolTip("Boundary speed");
        tr->addWidget(Images[i], 3 + i, 0);
        tr->addWidget(VisibleBoxes[i], 3 + i, 1);
        tr->addWidget(rowLabel[i], 3 + i, 2, 1, 2);
        tr->addWidget(ScaleEdits[i], 3 + i, 4);
    }
    LabelIconS = new ClickLabel("Int.\nIcon", GroupBoxTrack);
    LabelIconS->setObjectName("LabelIconS");
    LabelIconS->setToolTip("Click it to change an icon set");
    LabelLogo = new ClickLabel("Logo", GroupBoxTrack);
    LabelLogo->setObjectName("LabelLogo");
    LabelLogo->setToolTip("Open Logo setting form");
    tr->addWidget(LabelIconS, 3, 5, 2, 1);
    tr->addWidget(LabelLogo, 5, 5);
    CheckBoxVisOnly = Box("Visible only", "CheckBoxVisOnly", GroupBoxTrack);
    CheckBoxVisOnly->setToolTip("Outputs visible Placemark only");
    CheckBoxNoTab = Box("Without indent", "CheckBoxNoTab", GroupBoxTrack);
    CheckBoxNoTab->setToolTip("TAB of the line head is not output");
    CheckBox3d = Box("3D", "CheckBox3d", GroupBoxTrack);
    CheckBoxBalloon = Box("Balloon", "CheckBoxBalloon", GroupBoxTrack);
    CheckBoxTimeStamp = Box("TimeStamp", "CheckBoxTimeStamp", GroupBoxTrack);
    tr->addWidget(CheckBoxVisOnly, 11, 0, 1, 3);
    tr->addWidget(CheckBoxNoTab, 11, 3, 1, 3);
    tr->addWidget(CheckBox3d, 12, 0, 1, 3);
    tr->addWidget(CheckBoxBalloon, 12, 3, 1, 3);
    tr->addWidget(CheckBoxTimeStamp, 13, 0, 1, 3);
    right->addWidget(GroupBoxTrack);

    GroupBoxPNote = new QGroupBox(" Placemark note ", this);
    GroupBoxPNote->setObjectName("GroupBoxPNote");
    auto* pn = new QGridLayout(GroupBoxPNote);
    CheckBoxPNum = Box("No.", "CheckBoxPNum", GroupBoxPNote);
    CheckBoxPDate = Box("Date", "CheckBoxPDate", GroupBoxPNote);
    CheckBoxPTime = Box("Time", "CheckBoxPTime", GroupBoxPNote);
    CheckBoxPLat = Box("Lat", "CheckBoxPLat", GroupBoxPNote);
    CheckBoxPlon = Box("Lon", "CheckBoxPlon", GroupBoxPNote);
    CheckBoxPSpd = Box("Speed", "CheckBoxPSpd", GroupBoxPNote);
    CheckBoxPAlt = Box("Alt", "CheckBoxPAlt", GroupBoxPNote);
    CheckBoxHdop = Box("HDOP", "CheckBoxHdop", GroupBoxPNote);
    CheckBoxNsat = Box("Nsat", "CheckBoxNsat", GroupBoxPNote);
    CheckBoxTemp = Box("Temp", "CheckBoxTemp", GroupBoxPNote);
    CheckBoxBarom = Box("Pressure", "CheckBoxBarom", GroupBoxPNote);
    CheckBoxPrAlt = Box("P-Alt", "CheckBoxPrAlt", GroupBoxPNote);
    CheckBoxVoiceName = Box("Voice file", "CheckBoxVoiceName", GroupBoxPNote);
    QCheckBox* notes[13] = {CheckBoxPNum,  CheckBoxPDate, CheckBoxPTime,    CheckBoxPLat, CheckBoxPlon,
                            CheckBoxPSpd,  CheckBoxPAlt,  CheckBoxHdop,     CheckBoxNsat, CheckBoxTemp,
                            CheckBoxBarom, CheckBoxPrAlt, CheckBoxVoiceName};
    for (int i = 0; i < 13; ++i) pn->addWidget(notes[i], i / 7, i % 7);
    right->addWidget(GroupBoxPNote);

    // Shares the note group's place; one of the two shows.
    GroupBoxCSV = new QGroupBox(" CSV option ", this);
    GroupBoxCSV->setObjectName("GroupBoxCSV");
    auto* cs = new QHBoxLayout(GroupBoxCSV);
    CheckBoxIndex = Box("Index", "CheckBoxIndex", GroupBoxCSV);
    CheckBoxDateTime = Box("Date+Time", "CheckBoxDateTime", GroupBoxCSV);
    CheckBoxSNEW = Box("S/N,E/W", "CheckBoxSNEW", GroupBoxCSV);
    CheckBoxSNEW->setToolTip("S/N, E/W to separating item");
    CheckBoxGeoidOut = Box("Geoid", "CheckBoxGeoidOut", GroupBoxCSV);
    CheckBoxGeoidOut->setToolTip("Geoid item is output");
    for (QCheckBox* b : {CheckBoxIndex, CheckBoxDateTime, CheckBoxSNEW, CheckBoxGeoidOut}) cs->addWidget(b);
    GroupBoxCSV->setVisible(false);
    right->addWidget(GroupBoxCSV);
    right->addStretch();

    auto* bottom = new QHBoxLayout;
    Labelrepoet = new ClickLabel("Report", this);
    Labelrepoet->setObjectName("Labelrepoet");
    Labelrepoet->setToolTip("Open/Close report form");
    Labelrepoet->setCursor(Qt::PointingHandCursor);
    ButtonExec = new QPushButton("Convert", this);
    ButtonExec->setObjectName("ButtonExec");
    ButtonExit = new QPushButton("Exit", this);
    ButtonExit->setObjectName("ButtonExit");
    bottom->addWidget(Labelrepoet);
    bottom->addStretch();
    bottom->addWidget(ButtonExec);
    bottom->addWidget(ButtonExit);
    top->addLayout(bottom);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    for (int i = 0; i < 2; ++i) {
        statusPanel_[i] = new QLabel(StatusBar1);
        statusPanel_[i]->setFrameShape(QFrame::Panel);
        statusPanel_[i]->setFrameShadow(QFrame::Sunken);
        statusPanel_[i]->setMinimumHeight(statusPanel_[i]->fontMetrics().height() + 6);
    }
    // The last panel takes the rest of the bar, so its counts are not cut.
    statusPanel_[0]->setFixedWidth(400);
    statusPanel_[1]->setMinimumWidth(50);
    StatusBar1->addWidget(statusPanel_[0]);
    StatusBar1->addWidget(statusPanel_[1], 1);
    // Tight insets: with the style's own the window is taller than a laptop's work area less a
    // panel, and would scroll at the default font.
    top->setSpacing(4);
    middle->setSpacing(6);
    // The left column's groups keep more air between them: it then stands about as tall as the
    // right one with its icons, and a caption that needs another line there still grows the window.
    left->setSpacing(8);
    right->setSpacing(2);
    for (QGroupBox* g : {GroupBoxInput, GroupBoxOuttype, GroupBoxTimeoffs, GroupBoxDateFmt, GroupBoxNMEAopt,
                         GroupBoxGeoid, GroupBoxGroundLevel, GroupBoxTrack, GroupBoxPNote, GroupBoxCSV}) {
        g->layout()->setContentsMargins(6, 2, 6, 4);
        g->layout()->setSpacing(4);
    }
    for (QGridLayout* grid : {opLay, tr, pn, dfLay}) grid->setVerticalSpacing(2);
    scroll_->setWidget(content_);
    outer->addWidget(scroll_, 1);
    auto* statusRow = new QHBoxLayout;
    statusRow->setContentsMargins(6, 0, 6, 0);
    statusRow->addWidget(StatusBar1);
    outer->addLayout(statusRow);
}

void TFormMain::FixLaidOutSize() {
    // The laid-out size is also the largest: the window does not grow beyond its controls. The
    // controls settle in their final font only as they show (their metrics differ with the faces
    // installed), and captions change with the settings: a layout that outgrows it fixes it again.
    // A window larger than the work area would put its title bar or its buttons off the screen:
    // it is cut to the work area, less its frame, and the controls scroll.
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    content_->layout()->activate();
    laidOut_ = content_->sizeHint();
    const QMargins outer = layout()->contentsMargins();
    QSize full(laidOut_.width() + outer.left() + outer.right(),
               laidOut_.height() + StatusBar1->sizeHint().height() + outer.top() + outer.bottom());
    const QRect frame = PlacedFrame(*this);
    fitMargins_ = QMargins(geometry().left() - frame.left(), geometry().top() - frame.top(),
                           frame.right() - geometry().right(), frame.bottom() - geometry().bottom());
    // Not framed yet, on a display a window manager may frame: room is kept for a title bar, or
    // the manager would move a frame taller than the work area to fit, away from its place.
    if (fitMargins_.isNull() && QGuiApplication::platformName() != "offscreen") {
        const int bar = std::max(style()->pixelMetric(QStyle::PM_TitleBarHeight), fontMetrics().height() + 12);
        fitMargins_ = QMargins(8, bar + 8, 8, 8);
    }
    // At a fractional scale the frame's margins come rounded from device pixels and may be short
    // by a part of a pixel each: a pixel more a side keeps the whole frame on the work area.
    if (!fitMargins_.isNull() && devicePixelRatioF() != std::floor(devicePixelRatioF()))
        fitMargins_ += QMargins(1, 1, 1, 1);
    const QScreen* sc = screen() ? screen() : QGuiApplication::primaryScreen();
    if (sc) {
        const QSize room = sc->availableGeometry().size().shrunkBy(fitMargins_);
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        if (full.height() > room.height()) full.rwidth() += bar;
        if (full.width() > room.width()) full.rheight() += bar;
        full = full.boundedTo(room);
    }
    resize(full);
    setMaximumSize(full);
}

void TFormMain::ConnectHandlers() {
    connect(ButtonExec, &QPushButton::clicked, this, &TFormMain::ButtonExecClick);
    connect(ButtonExit, &QPushButton::clicked, this, &QWidget::close);
    connect(BitBtnRef, &QPushButton::clicked, this, &TFormMain::BitBtnRefClick);
    connect(LabelSpd, &ClickLabel::clicked, this, &TFormMain::LabelUnitClick);
    connect(LabelUnit, &ClickLabel::clicked, this, &TFormMain::LabelUnitClick);

    auto kmlKmz = [this](bool) {
        if (CheckBoxKML->isChecked() || CheckBoxKMZ->isChecked()) SetNoteGroupVisible(true);
        else SetNoteGroupVisible(!CheckBoxCSV->isChecked());
    };
    connect(CheckBoxKML, &QCheckBox::toggled, this, kmlKmz);
    connect(CheckBoxKMZ, &QCheckBox::toggled, this, kmlKmz);
    connect(CheckBoxCSV, &QCheckBox::toggled, this, [this](bool on) { SetNoteGroupVisible(!on); });

    connect(CheckBoxTrackOut, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) CheckBoxPointOut->setChecked(true);
        for (QWidget* w : std::initializer_list<QWidget*>{CheckBoxRandom, LabelLineW, EditLineW}) w->setEnabled(on);
        EnableColorControls(on ? CheckBoxRandom->isChecked() : true);
    });
    connect(CheckBoxPointOut, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) CheckBoxTrackOut->setChecked(true);
        for (QWidget* w : std::initializer_list<QWidget*>{CheckBoxBalloon, CheckBoxTimeStamp, CheckBoxVisOnly})
            w->setEnabled(on);
    });
    connect(CheckBoxRandom, &QCheckBox::toggled, this, [this](bool on) { EnableColorControls(on); });

    auto pickColor = [this] {
        if (headless_) return;
        const QColor c = QColorDialog::getColor(
            QColor(panelColor_ & 0xFF, (panelColor_ >> 8) & 0xFF, (panelColor_ >> 16) & 0xFF), this);
        if (!c.isValid()) return;
        Settings& s = front_->settings;
        StoreControls(s);
        s.opt.LineColor = static_cast<uint32_t>(c.red()) | (static_cast<uint32_t>(c.green()) << 8) |
                          (static_cast<uint32_t>(c.blue()) << 16);
        s.opt.KmlColor = MakeKmlColor(s.opt.LineAlpha, s.opt.LineColor);
        ShowSettings(s);
    };
    connect(LabelColor, &ClickLabel::clicked, this, pickColor);
    connect(PanelColor, &ClickLabel::clicked, this, pickColor);

    connect(CheckBoxTzAuto, &QCheckBox::toggled, this, [this](bool on) {
        MaskEditTimeDiff->setEnabled(!on);
        if (on) MaskEditTimeDiff->setText(Q(SystemUtcOffsetText()));
    });
    connect(CheckBoxDfAuto, &QCheckBox::toggled, this, [this](bool on) {
        EditDF->setEnabled(!on);
        if (on) EditDF->setText(Q(front_->settings.locale.UserDateFormatText));
    });
    connect(CheckBoxTfAuto, &QCheckBox::toggled, this, [this](bool on) {
        EditTF->setEnabled(!on);
        if (on) EditTF->setText(Q(front_->settings.locale.UserTimeFormatText));
    });
    connect(Labelrepoet, &ClickLabel::clicked, this, [this] {
        if (report_->isVisible()) report_->close();
        else if (!headless_) ShowReportWindow();
    });

    Connect3DDialog();
    ConnectGeoidDialog();
}

void TFormMain::SetNoteGroupVisible(bool v) {
    GroupBoxPNote->setVisible(v);
    GroupBoxCSV->setVisible(!v);
}

void TFormMain::EnableColorControls(bool random) {
    for (QWidget* w : std::initializer_list<QWidget*>{LabelAlpha, EditAlpha, LabelColor, PanelColor})
        w->setEnabled(!random);
}

void TFormMain::StoreControls(Settings& s) {
    TConversionOptions& o = s.opt;
    o.KMLout = CheckBoxKML->isChecked();
    o.KMZout = CheckBoxKMZ->isChecked();
    o.GPXout = CheckBoxGPX->isChecked();
    o.NMEAout = CheckBoxNMEA->isChecked();
    o.CSVout = CheckBoxCSV->isChecked();
    // As shown: the masked edit's text() would drop the leading blank of a positive offset.
    o.LocalTimeOffset = S(MaskEditTimeDiff->displayText());
    o.AutoOffs = CheckBoxTzAuto->isChecked();
    o.OutDateFormatText = S(EditDF->text());
    o.DateAutoFormat = CheckBoxDfAuto->isChecked();
    o.TimeFormatText = S(EditTF->text());
    o.TimeAutoFormat = CheckBoxTfAuto->isChecked();
    o.TrackOut = CheckBoxTrackOut->isChecked();
    o.PointOut = CheckBoxPointOut->isChecked();
    o.Random = CheckBoxRandom->isChecked();
    o.LineColor = panelColor_;
    o.LineAlpha = S(EditAlpha->text());
    o.LineWidth = S(EditLineW->text());
    o.SpeedUnit = S(LabelUnit->text());
    o.OverSpeed2 = S(EditSp2->text());
    o.OverSpeed3 = S(EditSp3->text());
    o.OverSpeed4 = S(EditSp4->text());
    for (int i = 0; i < 8; ++i) {
        o.Visible[i] = VisibleBoxes[i]->isChecked();
        o.IconScale[i] = S(ScaleEdits[i]->text());
    }
    o.VisibleOnly = CheckBoxVisOnly->isChecked();
    o.NoTab = CheckBoxNoTab->isChecked();
    o.Mode3D = CheckBox3d->isChecked();
    o.NoteToBalloon = CheckBoxBalloon->isChecked();
    o.TimeStamp = CheckBoxTimeStamp->isChecked();
    o.SplitIT = S(EditST->text());
    o.FixDataOnly = CheckBoxFixDt->isChecked();
    o.UseEstimated = CheckBoxEstim->isChecked();
    o.ReduseOut = CheckBoxReduce->isChecked();
    o.ToLocaltime = CheckBoxToLT->isChecked();
    o.MaskUse = CheckBoxMask->isChecked();
    o.OutLimit = CheckBoxOutLimit->isChecked();
    o.GeoidApply = CheckBoxGeoid->isChecked();
    o.GroundLevelValue = S(EditGroundLevel->text());
    o.GroundLevelApply = CheckBoxGroundLevel->isChecked();
    o.NoteDNum = CheckBoxPNum->isChecked();
    o.NoteDate = CheckBoxPDate->isChecked();
    o.NoteTime = CheckBoxPTime->isChecked();
    o.NoteLat = CheckBoxPLat->isChecked();
    o.NoteLon = CheckBoxPlon->isChecked();
    o.NoteSpeed = CheckBoxPSpd->isChecked();
    o.NoteAlt = CheckBoxPAlt->isChecked();
    o.NoteHdop = CheckBoxHdop->isChecked();
    o.NoteNsat = CheckBoxNsat->isChecked();
    o.NoteTemp = CheckBoxTemp->isChecked();
    o.NotePressure = CheckBoxBarom->isChecked();
    o.NotePressureAlt = CheckBoxPrAlt->isChecked();
    o.NoteVoiceFile = CheckBoxVoiceName->isChecked();
    o.Index = CheckBoxIndex->isChecked();
    o.DateTime = CheckBoxDateTime->isChecked();
    o.SNEW = CheckBoxSNEW->isChecked();
    o.CsvGeoid = CheckBoxGeoidOut->isChecked();
    s.NoteGroupVisible = !GroupBoxPNote->isHidden();
    // The frame as the window manager drew it, the place the window is put back at. A placement
    // still under way is where the window goes: reading it as drawn would take the place the
    // window stood at before as the user's, and a centred place stays centred for the real frame.
    const QRect frame = PlacedFrame(*this);
    const bool pending = PlacementPending(*this);
    s.MainTop = frame.top();
    s.MainLeft = frame.left();
    s.MainTopCentred = pending && centreY_;
    s.MainLeftCentred = pending && centreX_;
    s.MainWidth = frame.width();
    s.MainHeight = frame.height();
}

void TFormMain::ShowSettings(const Settings& s) {
    const TConversionOptions& o = s.opt;
    SetChecked(CheckBoxKML, o.KMLout);
    SetChecked(CheckBoxKMZ, o.KMZout);
    SetChecked(CheckBoxGPX, o.GPXout);
    SetChecked(CheckBoxNMEA, o.NMEAout);
    SetChecked(CheckBoxCSV, o.CSVout);
    SetNoteGroupVisible(s.NoteGroupVisible);
    SetText(MaskEditTimeDiff, OffsetForMask(o.LocalTimeOffset));
    SetChecked(CheckBoxTzAuto, o.AutoOffs);
    MaskEditTimeDiff->setEnabled(!o.AutoOffs);
    SetText(EditDF, o.OutDateFormatText);
    SetChecked(CheckBoxDfAuto, o.DateAutoFormat);
    EditDF->setEnabled(!o.DateAutoFormat);
    SetText(EditTF, o.TimeFormatText);
    SetChecked(CheckBoxTfAuto, o.TimeAutoFormat);
    EditTF->setEnabled(!o.TimeAutoFormat);
    SetChecked(CheckBoxTrackOut, o.TrackOut);
    SetChecked(CheckBoxPointOut, o.PointOut);
    SetChecked(CheckBoxRandom, o.Random);
    panelColor_ = o.LineColor;
    QPalette pal = PanelColor->palette();
    pal.setColor(QPalette::Window, QColor(o.LineColor & 0xFF, (o.LineColor >> 8) & 0xFF, (o.LineColor >> 16) & 0xFF));
    PanelColor->setPalette(pal);
    SetText(EditAlpha, o.LineAlpha);
    SetText(EditLineW, o.LineWidth);
    EnableColorControls(o.TrackOut ? o.Random : true);
    for (QWidget* w : std::initializer_list<QWidget*>{CheckBoxRandom, LabelLineW, EditLineW}) w->setEnabled(o.TrackOut);
    LabelUnit->setText(Q(o.SpeedUnit));
    SetText(EditSp2, o.OverSpeed2);
    SetText(EditSp3, o.OverSpeed3);
    SetText(EditSp4, o.OverSpeed4);
    for (int i = 0; i < 8; ++i) {
        SetChecked(VisibleBoxes[i], o.Visible[i]);
        SetText(ScaleEdits[i], o.IconScale[i]);
    }
    LabelInt->setToolTip(Q(s.LabelIntHint));
    LabelVoice->setToolTip(Q(s.LabelVoiceHint));
    LabelIconS->setText(Q(s.IconSetLabel).replace("\r\n", "\n"));
    LabelLogo->setText(Q(s.LogoLabel));
    SetChecked(CheckBoxVisOnly, o.VisibleOnly);
    SetChecked(CheckBoxNoTab, o.NoTab);
    SetChecked(CheckBox3d, o.Mode3D);
    Update3DCaption();
    SetChecked(CheckBoxBalloon, o.NoteToBalloon);
    CheckBoxBalloon->setText(Q(s.BalloonCaption));
    SetChecked(CheckBoxTimeStamp, o.TimeStamp);
    for (QWidget* w : std::initializer_list<QWidget*>{CheckBoxBalloon, CheckBoxTimeStamp, CheckBoxVisOnly})
        w->setEnabled(o.PointOut);
    SetText(EditST, o.SplitIT);
    SetChecked(CheckBoxFixDt, o.FixDataOnly);
    SetChecked(CheckBoxEstim, o.UseEstimated);
    SetChecked(CheckBoxReduce, o.ReduseOut);
    CheckBoxReduce->setText(Q(s.ReduceCaption));
    SetChecked(CheckBoxToLT, o.ToLocaltime);
    SetChecked(CheckBoxMask, o.MaskUse);
    CheckBoxMask->setText(Q(s.MaskCaption));
    SetChecked(CheckBoxOutLimit, o.OutLimit);
    SetChecked(CheckBoxGeoid, o.GeoidApply);
    CheckBoxGeoid->setText(Q(o.GeoidCaption));
    SetText(EditGroundLevel, o.GroundLevelValue);
    LabelGroundLevelUnit->setText(Q(s.GroundLevelUnit));
    SetChecked(CheckBoxGroundLevel, o.GroundLevelApply);
    SetChecked(CheckBoxPNum, o.NoteDNum);
    SetChecked(CheckBoxPDate, o.NoteDate);
    SetChecked(CheckBoxPTime, o.NoteTime);
    SetChecked(CheckBoxPLat, o.NoteLat);
    SetChecked(CheckBoxPlon, o.NoteLon);
    SetChecked(CheckBoxPSpd, o.NoteSpeed);
    SetChecked(CheckBoxPAlt, o.NoteAlt);
    SetChecked(CheckBoxHdop, o.NoteHdop);
    SetChecked(CheckBoxNsat, o.NoteNsat);
    SetChecked(CheckBoxTemp, o.NoteTemp);
    SetChecked(CheckBoxBarom, o.NotePressure);
    SetChecked(CheckBoxPrAlt, o.NotePressureAlt);
    SetChecked(CheckBoxVoiceName, o.NoteVoiceFile);
    SetChecked(CheckBoxIndex, o.Index);
    SetChecked(CheckBoxDateTime, o.DateTime);
    SetChecked(CheckBoxSNEW, o.SNEW);
    SetChecked(CheckBoxGeoidOut, o.CsvGeoid);
    QFont f(Q(s.UiFontName));
    if (s.UiFontSize > 0) f.setPointSize(s.UiFontSize);
    if (font() != f) ApplyFontToForms(f);
    // After the font: it sets the size a centred window is centred for.
    if (!front_->FirstActivation) PlaceMainWindow(s);
}

void TFormMain::PlaceMainWindow(const Settings& s) {
    const QPoint stored(s.MainLeft, s.MainTop);
    const bool centreX = s.MainLeftCentred, centreY = s.MainTopCentred;
    // A window nobody placed yet may stand at the stored place by chance (the origin, where an
    // unplaced window starts): it is placed all the same, or the window manager would choose.
    if (placed_ && !centreX && !centreY && PlacedFrame(*this).topLeft() == stored) return;
    placed_ = true;
    centreX_ = centreX;
    centreY_ = centreY;
    const QRect wa = WorkAreaRect(s.WorkArea);
    PlaceFrame(*this, [=](const QSize& frame) {
        const QPoint centre = CentredOn(wa, frame);
        return QPoint(centreX ? centre.x() : stored.x(), centreY ? centre.y() : stored.y());
    });
}

// The user's font goes to the main window and the dialogs; the icon picker and the barometer
// dialog keep their own.
void TFormMain::ApplyFontToForms(const QFont& f) {
    setFont(f);
    FitEditWidths(*this);
    FixLaidOutSize();
    for (QWidget* w :
         std::initializer_list<QWidget*>{report_.get(), FormOutputRange, FormLimit, FormReduce, FormOutBlock,
                                         form3D_.get(), FormExtIcon.get(), FormPointName, formGeoid_.get()})
        if (w) w->setFont(f);
}

// --- Host

void TFormMain::ReportLine(const std::string& text) {
    lastReported_.clear();
    for (const std::string& line : SplitReportLines(text)) {
        report_->AddLine(Q(line));
        Echo(line);
        lastReported_.push_back(Trim(line));
    }
}

void TFormMain::SetStatus(int panel, const std::string& text) {
    if (panel == 0 || panel == 1) statusPanel_[panel]->setText(Q(text));
}

std::string TFormMain::Status(int panel) const {
    return panel == 0 || panel == 1 ? S(statusPanel_[panel]->text()) : std::string();
}

void TFormMain::ShowReport() {
    if (!headless_) ShowReportWindow();
}

void TFormMain::ShowReportWindow() {
    // Its first showing stands centred on the desktop; later ones where the user left it.
    if (!report_->windowHandle())
        PlaceFrame(
            *report_,
            [](const QSize& frame) {
                const QScreen* sc = QGuiApplication::primaryScreen();
                return CentredOn(sc ? sc->availableGeometry() : QRect(), frame);
            },
            this);
    report_->show();
}

void TFormMain::ProcessMessages() { QCoreApplication::processEvents(); }

void TFormMain::SetBusyCursor(bool busy) {
    if (headless_) return;
    if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
    else QApplication::restoreOverrideCursor();
}

MsgButton TFormMain::MessageDlg(const std::string& text, MsgKind kind, unsigned buttons, MsgButton def) {
    if (headless_) {
        // Nobody can answer: the default answer is taken, and the question goes to the report,
        // unless the report has just said the same (a failure is reported, then shown).
        std::vector<std::string> lines = SplitReportLines(text);
        for (std::string& line : lines) line = Trim(line);
        if (lines != lastReported_) ReportLine(text);
        if (!echoReport) std::cerr << text << '\n';
        return def;
    }
    return MessageDlgCentered(text, kind, buttons, this);
}

std::string TFormMain::InputText() const { return S(EditFn->text()); }
void TFormMain::SetInputText(const std::string& text) { EditFn->setText(Q(text)); }
void TFormMain::ClearReport() { report_->Clear(); }

MsgButton TFormMain::MessageDlgCentered(const std::string& msg, MsgKind kind, unsigned buttons, QWidget* form) {
    const QString text = Q(msg);
    const QFontMetrics fm(QApplication::font());
    int w = 0, h = 0;
    for (const QString& line : text.split('\n')) {
        w = std::max(w, fm.horizontalAdvance(line));
        h += fm.height();
    }
    w = std::min(w, 360);
    if (!form) form = this;
    const QPoint at = MessageDlgPosition(FrameRect(*form), w, h, front_->settings.WorkArea);

    QMessageBox::Icon icon = QMessageBox::Warning;
    if (kind == MsgKind::Error) icon = QMessageBox::Critical;
    else if (kind == MsgKind::Information) icon = QMessageBox::Information;
    else if (kind == MsgKind::Confirmation) icon = QMessageBox::Question;
    QMessageBox box(icon, Q(kProgramCaption), text, QMessageBox::NoButton, form);
    const std::pair<unsigned, QMessageBox::StandardButton> map[] = {
        {mbOK, QMessageBox::Ok}, {mbCancel, QMessageBox::Cancel}, {mbYes, QMessageBox::Yes}, {mbNo, QMessageBox::No}};
    for (const auto& [b, sb] : map)
        if (buttons & b) box.addButton(sb);
    PlaceFrame(
        box, [at](const QSize&) { return at; }, form);
    const int r = box.exec();
    for (const auto& [b, sb] : map)
        if (r == sb) return static_cast<MsgButton>(b);
    return (buttons & mbCancel) ? mbCancel : mbOK;
}

int TFormMain::ShowDialogCentered(QDialog& dlg) {
    // A dialog starts with a clear flag: an Esc pressed earlier must not cancel it.
    abortRequested = false;
    if (headless_) return QDialog::Rejected;
    CentreDialog(dlg, *this, front_->settings.WorkArea);
    return dlg.exec();
}

// --- Handlers

void TFormMain::ButtonExecClick() {
    front_->ButtonExecClick();
    AfterBatch();
}

void TFormMain::AfterBatch() {
    if (closePending_ && !front_->Busy()) close();
}

void TFormMain::BitBtnRefClick() {
    if (headless_) return;
    Settings& s = front_->settings;
    QFileDialog dlg(this);
    dlg.setFileMode(QFileDialog::ExistingFiles);
    dlg.setDirectory(Q(s.OpenDir));
    QStringList filters;
    const QStringList parts = Q(s.OpenFilter).split('|');
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
    dlg.setNameFilters(filters);
    if (s.OpenFiltIdx >= 1 && s.OpenFiltIdx <= filters.size()) dlg.selectNameFilter(filters[s.OpenFiltIdx - 1]);
    if (dlg.exec() != QDialog::Accepted) return;
    std::vector<std::string> names;
    for (const QString& f : dlg.selectedFiles()) names.push_back(S(f));
    s.OpenFiltIdx = static_cast<int>(filters.indexOf(dlg.selectedNameFilter())) + 1;
    if (s.OpenFiltIdx < 1) s.OpenFiltIdx = 1;
    front_->SetInputFiles(names);
}

void TFormMain::LabelUnitClick() {
    Settings& s = front_->settings;
    StoreControls(s);
    // The switch converts the typed numbers: one that is not clear stays, and the unit with it.
    if (const std::string ambiguous = AmbiguousNumberMessage(s); !ambiguous.empty()) {
        MessageDlg(ambiguous, MsgKind::Warning, mbOK, mbOK);
        return;
    }
    CycleSpeedUnit(s);
    ShowSettings(s);
}

void TFormMain::RequestGeoidLoad() {
    front_->GeoidModelChanged = true;
    geoidTimer_.start();
}

void TFormMain::GeoidIdle() {
    if (!front_->GeoidModelChanged) return;
    front_->GeoidModelChanged = false;
    formGeoid_->SelectGeoidModel();
}

void TFormMain::FirstActivate() {
    if (!front_->FirstActivation) return;
    front_->FirstActivation = false;
    front_->ParseCommandLine(args_);
    setAcceptDrops(true);
    // A file dropped on the input box is dropped on the window (converted), not typed into it.
    EditFn->setAcceptDrops(false);
    if (!CheckBoxGeoid->isChecked()) front_->settings.opt.GeoidModel = 0;
    if (front_->QuietMode) {
        exitStatus_ = front_->QuietExitStatus();
        close();
    } else if (noDisplay_) {
        // Nobody sees the input box: say which arguments were left out, so the command can be mended.
        for (const std::string& a : front_->SkippedArguments) {
            const std::string ext = ExtractFileExt(a);
            std::cerr << "trailsmith: skipped \"" << a
                      << "\": " << (ext.empty() ? std::string("no extension") : "unknown extension \"" + ext + "\"")
                      << '\n';
        }
        std::cerr << "trailsmith: no display and nothing to convert unattended; the window cannot be shown\n";
        exitStatus_ = 2;
        close();
    } else {
        AfterBatch();
    }
}

bool TFormMain::event(QEvent* e) {
    // The layout has handled the request already (Qt passes it to the layout first). Only a layout
    // that no longer fits fixes the size again: a smaller one (the CSV group shown for the note
    // group) leaves the window as it is.
    if (e->type() == QEvent::LayoutRequest && (minimumWidth() > maximumWidth() || minimumHeight() > maximumHeight()))
        FixLaidOutSize();
    // Once framed, the window is fitted again for its real frame.
    if ((e->type() == QEvent::Move || e->type() == QEvent::Resize) && windowHandle() &&
        windowHandle()->frameMargins() != fitMargins_ && !windowHandle()->frameMargins().isNull())
        QTimer::singleShot(0, this, &TFormMain::FixLaidOutSize);
    if (e->type() == QEvent::Show && front_->FirstActivation) {
        QTimer::singleShot(0, this, &TFormMain::FirstActivate);
    } else if (e->type() == QEvent::WindowActivate && !front_->FirstActivation && front_->QuietMode &&
               !front_->Busy()) {
        QTimer::singleShot(0, this, &QWidget::close);
    }
    return QWidget::event(e);
}

void TFormMain::closeEvent(QCloseEvent* e) {
    if (front_->Busy()) {
        // The batch runs below this call: stop it first, close once it has returned.
        abortRequested = true;
        closePending_ = true;
        e->ignore();
        return;
    }
    if (closing_) {
        e->accept();
        return;
    }
    closing_ = true;
    std::string saving(1, ' ');
    saving.append(ExtractFileName(front_->SettingsFileName)).append("  saving...");
    SetStatus(0, saving);
    QCoreApplication::processEvents();
    front_->SaveSettingsFile();
    // The status of a quiet run was taken before this save; a save that failed fails the run too.
    if (front_->SettingsFailed() && exitStatus_ == 0) exitStatus_ = 1;
    report_->close();
    e->accept();
}

void TFormMain::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls() && !front_->Busy()) e->acceptProposedAction();
}

void TFormMain::dropEvent(QDropEvent* e) {
    if (front_->Busy()) {
        e->ignore();
        return;
    }
    e->acceptProposedAction();
    WMDropFiles(e->mimeData()->urls());
}

bool TFormMain::WMDropFiles(const QList<QUrl>& urls) {
    if (front_->Busy()) return false;
    std::vector<std::string> names;
    for (const QUrl& u : urls)
        if (u.isLocalFile()) names.push_back(S(u.toLocalFile()));
    front_->DropFiles(names);
    AfterBatch();
    return true;
}

bool TFormMain::eventFilter(QObject* obj, QEvent* e) {
    // Controls that need more room than they were laid out in fix the size again; a layout that
    // needs less leaves the window as it is.
    if (obj == content_ && e->type() == QEvent::LayoutRequest)
        QTimer::singleShot(0, this, [this] {
            const QSize now = content_->sizeHint();
            if (now.width() > laidOut_.width() || now.height() > laidOut_.height()) FixLaidOutSize();
        });
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) abortRequested = true;
    return QWidget::eventFilter(obj, e);
}

// --- 3D view dialog

void TFormMain::Connect3DDialog() {
    connect(CheckBox3d, &QCheckBox::toggled, this, [this](bool on) {
        if (!CheckBox3d->isEnabled() || !on) return;
        // The dialog's own answer decides, not an Esc that closed a message box over it; the
        // flag its Cancel raised must not abort a later conversion.
        if (ShowDialogCentered(*form3D_) == QDialog::Rejected && !headless_) CheckBox3d->setChecked(false);
        abortRequested = false;
    });
}

void TFormMain::Update3DCaption() { CheckBox3d->setText(Q(Summary3DCaption(front_->settings.opt))); }

// --- Geoid and barometer dialogs

void TFormMain::ConnectGeoidDialog() {
    connect(CheckBoxGeoid, &QCheckBox::toggled, this, [this](bool on) {
        if (!CheckBoxGeoid->isEnabled()) return;
        Settings& s = front_->settings;
        if (front_->Busy()) {
            // The running batch reads the model at every point: it cannot change under it.
            SetChecked(CheckBoxGeoid, !on);
            return;
        }
        if (!on) {
            s.opt.GeoidModel = 0;
            return;
        }
        if (headless_) {
            // Nobody can pick: the model the settings name applies, as after a load.
            UpdateGeoidCaption(s);
            CheckBoxGeoid->setText(Q(s.opt.GeoidCaption));
            return;
        }
        ShowDialogCentered(*formGeoid_);
    });
}

std::string TFormMain::BrowseGeoidFile(const std::string& folder, const std::string& fileName,
                                       const std::string& filter) {
    if (headless_) return {};
    return formGeoid_->BrowseGeoidFile(folder, fileName, filter);
}

void TFormMain::ShowGeoidConverting(bool shown) { formGeoid_->LabelWaiting->setVisible(shown); }

void TFormMain::AskBarometerCalibration(const BarometerStart& start, BarometerReference& ref) {
    if (headless_) {
        Host::AskBarometerCalibration(start, ref);
        ReportLine("  Barometer calibration not asked: 1013.25 hPa and 15 C are used.");
        return;
    }
    formPAlt_->Ask(start, ref);
}

// --- Reduction, mask and point-name dialogs. Their edits show the values held in the settings
// when they open; OK stores the edits there and runs the apply procedure.

void TFormMain::RunOptionDialog(QDialog& dlg, const std::function<void()>& ok) {
    if (headless_) ok();
    else ShowDialogCentered(dlg);
}

void TFormMain::WireReduceDialog() {
    FormReduce = new TFormReduce(this);
    FormReduce->OnOK = [this] {
        Settings& s = front_->settings;
        StoreControls(s);
        s.opt.MovingDist = S(FormReduce->EditMd->text());
        s.opt.ElapsesTimes = S(FormReduce->EditEt->text());
        ReadReduceDialog(s);
        ShowSettings(s);
        FormReduce->EditMd->setText(Q(s.opt.MovingDist));
        FormReduce->EditEt->setText(Q(s.opt.ElapsesTimes));
        FormReduce->LabelMdu->setText(Q(s.ReduceUnitLabel));
    };
    FormReduce->OnCancel = [this] { CheckBoxReduce->setChecked(false); };
    connect(CheckBoxReduce, &QCheckBox::toggled, this, [this](bool on) {
        if (!on || !CheckBoxReduce->isEnabled()) return;
        const Settings& s = front_->settings;
        FormReduce->EditMd->setText(Q(s.opt.MovingDist));
        FormReduce->EditEt->setText(Q(s.opt.ElapsesTimes));
        FormReduce->LabelMdu->setText(Q(s.ReduceUnitLabel));
        RunOptionDialog(*FormReduce, [this] { FormReduce->ButtonOKClick(); });
    });
}

void TFormMain::WireMaskDialog() {
    FormLimit = new TFormLimit(this);
    FormLimit->OnOK = [this] {
        Settings& s = front_->settings;
        StoreControls(s);
        s.opt.HdopMask = S(FormLimit->EditHdopMask->text());
        s.opt.NsatMask = S(FormLimit->EditNsatMask->text());
        ApplyMaskSettings(s);
        ShowSettings(s);
        FormLimit->EditHdopMask->setText(Q(s.opt.HdopMask));
        FormLimit->EditNsatMask->setText(Q(s.opt.NsatMask));
    };
    FormLimit->OnCancel = [this] { CheckBoxMask->setChecked(false); };
    connect(CheckBoxMask, &QCheckBox::toggled, this, [this](bool on) {
        if (on && CheckBoxMask->isEnabled()) {
            const Settings& s = front_->settings;
            FormLimit->EditHdopMask->setText(Q(s.opt.HdopMask));
            FormLimit->EditNsatMask->setText(Q(s.opt.NsatMask));
            RunOptionDialog(*FormLimit, [this] { FormLimit->ButtonOKClick(); });
        }
        if (!CheckBoxMask->isChecked()) {
            TConversionOptions& o = front_->settings.opt;
            o.MaskUse = false;
            o.HdopMax = 10000.0;
            o.NsatMin = -100.0;
        }
    });
}

void TFormMain::WirePointNameDialog() {
    FormPointName = new TFormPointName(this);
    FormPointName->OnApply = [this](bool fixText) {
        Settings& s = front_->settings;
        QComboBox* combo = FormPointName->ComboBoxPointName;
        s.opt.PointName = S(combo->currentText());
        ApplyPointName(s);
        if (fixText && combo->currentText() != Q(s.opt.PointName)) combo->setEditText(Q(s.opt.PointName));
        combo->setToolTip(Q(s.PointNameHint));
        CheckBoxBalloon->setText(Q(s.BalloonCaption));
    };
    connect(CheckBoxBalloon, &QCheckBox::toggled, this, [this](bool on) {
        if (!on || !CheckBoxBalloon->isEnabled()) return;
        const Settings& s = front_->settings;
        {
            QSignalBlocker block(FormPointName->ComboBoxPointName);
            FormPointName->ComboBoxPointName->setEditText(Q(s.opt.PointName));
        }
        FormPointName->ComboBoxPointName->setToolTip(Q(s.PointNameHint));
        RunOptionDialog(*FormPointName, [this] {
            FormPointName->FormShow();
            FormPointName->ButtonOKClick();
        });
    });
}

// --- Block selector and output range dialog: the output stage's questions.

namespace {
const char* const kRangeNotAsked = "  Output range not asked: every block is written whole.";
}  // namespace

std::array<QPixmap, 6> TFormMain::RangePreviews() const {
    std::array<QPixmap, 6> p;
    for (size_t i = 0; i < p.size(); ++i) p[i] = Images[i]->pixmap();
    return p;
}

void TFormMain::WireOutputDialogs() {
    FormOutputRange = new TFormOutputRange(this);
    FormOutBlock = new TFormOutBlock(this);
    FormOutputRange->Warn = [this](const std::string& text) {
        MessageDlgCentered(text, MsgKind::Warning, mbOK, FormOutputRange);
    };
}

bool TFormMain::SelectOutputRange(BlockTable& blocks, const PointStream& points, const TConversionOptions& o,
                                  int32_t curBlock) {
    if (headless_) {
        ReportLine(kRangeNotAsked);
        return Host::SelectOutputRange(blocks, points, o, curBlock);
    }
    FormOutputRange->Setup(blocks, points, o, curBlock, RangePreviews());
    ShowDialogCentered(*FormOutputRange);
    // The dialog's own answer decides, not an Esc pressed in a message box over it.
    abortRequested = FormOutputRange->Cancelled();
    return !abortRequested;
}

bool TFormMain::SelectOutputBlocks(BlockTable& blocks, const PointStream& points, const TConversionOptions& o,
                                   int32_t& curBlock) {
    if (headless_) {
        ReportLine(kRangeNotAsked);
        return Host::SelectOutputBlocks(blocks, points, o, curBlock);
    }
    FormOutBlock->Setup(blocks, o, curBlock);
    FormOutBlock->OpenRange = [this, &blocks, &points, &o](int32_t block) {
        FormOutputRange->Setup(blocks, points, o, block, RangePreviews());
        ShowDialogCentered(*FormOutputRange);
        // Cancel there drops only that block's edit.
        abortRequested = false;
        return !FormOutputRange->Cancelled();
    };
    ShowDialogCentered(*FormOutBlock);
    FormOutBlock->OpenRange = nullptr;
    abortRequested = FormOutBlock->Cancelled();
    return !abortRequested;
}

// --- Placemark icon sets: the eight previews, the set switch, the palette picker and the
// external-icon dialog.

void TFormMain::CreateIconForms() {
    FormIcon = std::make_unique<TFormIcon>(*this);
    FormExtIcon = std::make_unique<TFormExtIcon>(*this);
    for (int i = 0; i < 8; ++i) connect(Images[i], &ClickLabel::clicked, this, [this, i] { ImageSp1Click(i + 1); });
    connect(LabelIconS, &ClickLabel::clicked, this, &TFormMain::LabelIconSClick);
    connect(LabelLogo, &ClickLabel::clicked, this, &TFormMain::LabelLogoClick);
    ShowIcons();
}

void TFormMain::ShowIcons() {
    Settings& s = front_->settings;
    FormIcon->UseSheetFile(s.InternalImage);
    if (s.opt.IconSource == 0) ShowInternalIcons();
    else if (s.opt.IconSource == 1) ShowExternalIcons();
}

void TFormMain::ShowInternalIcons() {
    Settings& s = front_->settings;
    for (int i = 0; i < 8; ++i) {
        DrawPaletteIcon(Images[i], FormIcon->SheetFor(s.opt.PaletteIconName[i]), s.opt.PaletteIconName[i]);
        s.opt.IconScale[i] = FloatKeyText(s.InternalIconScale[i]);
        SetText(ScaleEdits[i], s.opt.IconScale[i]);
    }
}

void TFormMain::ShowExternalIcons(bool withScales) {
    Settings& s = front_->settings;
    if (s.opt.IconSource != 1) return;
    for (int i = 0; i < 8; ++i) {
        LoadPictureFile(Images[i], s.opt.ExtIconFile[i], FormIcon->SheetFor(kMissingIconName), PreviewRole::Icon);
        if (!withScales) continue;
        s.opt.IconScale[i] = FloatKeyText(s.ExternalIconScale[i]);
        SetText(ScaleEdits[i], s.opt.IconScale[i]);
    }
}

void TFormMain::ImageSp1Click(int tag) {
    IconSlot = tag;
    const int source = front_->settings.opt.IconSource;
    if (source == 0) ShowDialogCentered(*FormIcon);
    else if (source == 1) ShowDialogCentered(*FormExtIcon);
}

void TFormMain::LabelIconSClick() {
    Settings& s = front_->settings;
    for (int i = 0; i < 8; ++i) s.opt.IconScale[i] = S(ScaleEdits[i]->text());
    StoreIconScales(s);
    s.opt.IconSource = NextIconSource(s.opt.IconSource);
    ShowIconSetLabel(s);
    LabelIconS->setText(Q(s.IconSetLabel).replace("\r\n", "\n"));
    bool noExtFiles = true;
    for (const std::string& f : s.opt.ExtIconFile) noExtFiles = noExtFiles && f.empty();
    if (s.opt.IconSource == 1 && noExtFiles) ShowDialogCentered(*FormExtIcon);
    ShowIcons();
}

void TFormMain::LabelLogoClick() { ShowDialogCentered(*FormExtIcon); }

void TFormMain::ShowLogoLabel() { LabelLogo->setText(Q(front_->settings.LogoLabel)); }

}  // namespace ts
