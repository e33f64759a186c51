#include "forms/form_3d.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "core/text_format.h"
#include "forms/dialog_buttons.h"
#include "forms/form_main.h"

namespace ts {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

std::string Fixed(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, std::isfinite(v) ? v : 0.0);
    return buf;
}

QLineEdit* Edit(const char* name, const QString& text, int width, QWidget* parent) {
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(name);
    e->setFixedWidth(width);
    return e;
}

QRadioButton* Radio(const char* name, const QString& text, QWidget* parent) {
    auto* r = new QRadioButton(text, parent);
    r->setObjectName(name);
    return r;
}

QCheckBox* Box(const char* name, const QString& text, QWidget* parent) {
    auto* b = new QCheckBox(text, parent);
    b->setObjectName(name);
    return b;
}

QGroupBox* Group(const char* name, const QString& title, QWidget* parent) {
    auto* g = new QGroupBox(title, parent);
    g->setObjectName(name);
    return g;
}

// A settings file may tick none or several of a group; show exactly what it says.
void SetRadios(std::initializer_list<std::pair<QRadioButton*, bool>> radios) {
    for (const auto& [r, on] : radios) {
        QSignalBlocker block(r);
        r->setAutoExclusive(false);
        r->setChecked(on);
        r->setAutoExclusive(true);
    }
}

void SetBox(QCheckBox* b, bool on) {
    QSignalBlocker block(b);
    b->setChecked(on);
}

}  // namespace

double ParseAngle(const std::string& text) {
    std::string s = UpperCase(Trim(text));
    // "139,500" could be 139.5 or degrees and minutes: nothing is guessed.
    if (s.empty() || AmbiguousThousands(s)) return 0.0;
    // A lone comma between digits, with no ".", is a decimal mark ("8,5" is 8.5 degrees), as in
    // every numeric edit; commas between the numbers of degrees, minutes and seconds stay separators.
    const size_t comma = s.find(',');
    if (comma != std::string::npos && comma > 0 && s.find(',', comma + 1) == std::string::npos &&
        s.find('.') == std::string::npos && std::isdigit(static_cast<unsigned char>(s[comma - 1])) &&
        comma + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[comma + 1])))
        s[comma] = '.';
    s += ' ';
    double nums[3] = {0, 0, 0};
    int ended = 0;  // numbers ended so far
    bool negative = false;
    bool bad = false;
    std::string cur;
    for (char c : s) {
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            cur += c;
            continue;
        }
        if (c == 'N' || c == 'E') {
            negative = false;
            continue;
        }
        if (c == 'S' || c == 'W') {
            negative = true;
            continue;
        }
        // A sign counts only in front of the first number; later it is a separator.
        if ((c == '+' || c == '-') && ended == 0 && cur.empty()) negative = c == '-';
        if (cur.empty()) continue;
        if (ended < 3) {
            double v = 0;
            if (TryStrToFloat(cur, v)) nums[ended] = v;
            else bad = true;
        }
        ++ended;
        cur.clear();
    }
    if (bad) return 0.0;
    const double deg = nums[0] + (nums[1] + nums[2] / 60.0) / 60.0;
    return negative ? -deg : deg;
}

bool Normalize3DFields(TConversionOptions& o, std::string& badText) {
    for (std::string* f : {&o.Range, &o.Tilt, &o.Heading, &o.ViewAlt, &o.Multi, &o.Offset3D}) *f = DecimalPointText(*f);
    for (std::string* f : {&o.Range, &o.Tilt, &o.Heading}) {
        double v = 0;
        if (!TryStrToFloat(*f, v)) {
            badText = *f;
            return false;
        }
        if (v == 0) f->assign(1, '0');
    }
    for (std::string* f : {&o.ViewLon, &o.ViewLat}) {
        const double d = ParseAngle(*f);
        *f = d == 0 ? std::string(1, '0') : Fixed("%8.6f", d);
    }
    if (StrToFloatSafe(o.ViewAlt) == 0) o.ViewAlt.assign(1, '0');
    if (StrToFloatSafe(o.Multi) == 0) o.Multi = "1.0";
    if (StrToFloatSafe(o.Offset3D) == 0) o.Offset3D.assign(1, '0');
    return true;
}

std::string Refused3DField(const TConversionOptions& o) {
    const std::pair<const std::string*, const char*> fields[] = {
        {&o.Range, "Range"},     {&o.Tilt, "Tilt"},       {&o.Heading, "Heading"},
        {&o.ViewLon, "ViewLon"}, {&o.ViewLat, "ViewLat"}, {&o.ViewAlt, "ViewAlt"},
        {&o.Multi, "Multi"},     {&o.Offset3D, "Offset"}, {&o.AutoRangeMulti, "AutoRangeMulti"}};
    for (const auto& [text, key] : fields)
        if (AmbiguousThousands(*text)) return RefusedNumberText(NumberKeyOf("3D", key), *text, NumberCheck::Ambiguous);
    for (const auto& [text, key] : fields) {
        const NumberKey& k = NumberKeyOf("3D", key);
        const std::string_view name(key);
        std::string t = *text;
        double v = 0;
        const NumberCheck c = CheckNumber(k, t, v);
        bool out = c == NumberCheck::OutOfRange;
        // Angles may be typed in degrees, minutes and seconds: their value is what counts.
        if (name == "ViewLon" || name == "ViewLat") out = !NumberInRange(k, ParseAngle(*text));
        if (out) return RefusedNumberText(k, *text, NumberCheck::OutOfRange);
        // Range, tilt and heading that are no numbers are the normalisation's to refuse; the
        // automatic range's factor has no normalisation, and the next load would not keep it.
        if (name == "AutoRangeMulti" && c == NumberCheck::NotANumber)
            return RefusedNumberText(k, *text, NumberCheck::NotANumber);
    }
    return {};
}

std::string Summary3DCaption(const TConversionOptions& o) {
    std::string c = "3D (T:" + o.Tilt + ",";
    c += o.AutoRange ? std::string("R:Auto") : "R:" + o.Range;
    if (o.AutoHeading) {
        if (o.North) c += ",H:N";
        else if (o.East) c += ",H:E";
        else if (o.South) c += ",H:S";
        else if (o.West) c += ",H:W";
    } else {
        c += ",H:" + o.Heading;
    }
    if (o.AutoPos) {
        c += ",AP(";
        if (o.Start) c += "St)";
        else if (o.Half) c += "Hw)";
        else if (o.Final) c += "Fin)";
        else c += ")";
    } else {
        c += ",MP";
    }
    if (o.LExtrude) c += ",TE";
    if (o.PExtrude) c += ",PE";
    if (o.ClampToGnd) c += ",CG";
    else if (o.RelativeToGnd) c += ",RG";
    else if (o.Absolute) c += ",Abs";
    if (o.AltReplace) c += ",Rp";
    return c + ")";
}

TForm3D::TForm3D(TFormMain& main, Settings& settings) : QDialog(&main), main_(main), s_(settings) {
    setObjectName("Form3D");
    setWindowTitle("3D setting");
    // No title-bar buttons: the dialog ends through OK or Cancel.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    auto* top = new QGridLayout(this);
    top->setSizeConstraint(QLayout::SetFixedSize);

    GroupBoxView = Group("GroupBoxView", " View point ", this);
    auto* view = new QGridLayout(GroupBoxView);

    CheckBoxAutoPos = Box("CheckBoxAutoPos", "Auto setting", GroupBoxView);
    CheckBoxAutoPos->setChecked(true);
    GroupBoxAutoPos = Group("GroupBoxAutoPos", " Auto position", GroupBoxView);
    auto* ap = new QHBoxLayout(GroupBoxAutoPos);
    RadioButtonStart = Radio("RadioButtonStart", "Start", GroupBoxAutoPos);
    RadioButtonHalf = Radio("RadioButtonHalf", "Halfway", GroupBoxAutoPos);
    RadioButtonFinal = Radio("RadioButtonFinal", "Final", GroupBoxAutoPos);
    RadioButtonHalf->setChecked(true);
    for (QWidget* w : {RadioButtonStart, RadioButtonHalf, RadioButtonFinal}) ap->addWidget(w);
    GroupBoxManualPos = Group("GroupBoxManualPos", " Manual position ", GroupBoxView);
    auto* mp = new QGridLayout(GroupBoxManualPos);
    EditLon = Edit("EditLon", "0", 110, GroupBoxManualPos);
    EditLat = Edit("EditLat", "0", 110, GroupBoxManualPos);
    EditAlt = Edit("EditAlt", "0", 110, GroupBoxManualPos);
    mp->addWidget(new QLabel("Longitude", GroupBoxManualPos), 0, 0);
    mp->addWidget(EditLon, 0, 1);
    mp->addWidget(new QLabel("Latitude", GroupBoxManualPos), 1, 0);
    mp->addWidget(EditLat, 1, 1);
    mp->addWidget(new QLabel("Altitude(m)", GroupBoxManualPos), 2, 0);
    mp->addWidget(EditAlt, 2, 1);
    view->addWidget(CheckBoxAutoPos, 0, 0);
    view->addWidget(GroupBoxAutoPos, 1, 0, Qt::AlignTop);
    view->addWidget(GroupBoxManualPos, 1, 0, Qt::AlignTop);

    CheckBoxAutoHeading = Box("CheckBoxAutoHeading", "Auto setting", GroupBoxView);
    CheckBoxAutoHeading->setChecked(true);
    GroupBoxAutoHeading = Group("GroupBoxAutoHeading", " Auto heading ", GroupBoxView);
    auto* ah = new QHBoxLayout(GroupBoxAutoHeading);
    RadioButtonHr1 = Radio("RadioButtonHr1", "North", GroupBoxAutoHeading);
    RadioButtonHr2 = Radio("RadioButtonHr2", "East", GroupBoxAutoHeading);
    RadioButtonHr3 = Radio("RadioButtonHr3", "South", GroupBoxAutoHeading);
    RadioButtonHr4 = Radio("RadioButtonHr4", "West", GroupBoxAutoHeading);
    RadioButtonHr1->setChecked(true);
    RadioButtonHr1->setToolTip("-90..90 degree");
    RadioButtonHr2->setToolTip("0..180 degree");
    RadioButtonHr3->setToolTip("90..-90 degree");
    RadioButtonHr4->setToolTip("-180..0  degree");
    for (QWidget* w : {RadioButtonHr1, RadioButtonHr2, RadioButtonHr3, RadioButtonHr4}) ah->addWidget(w);
    GroupBoxManualHeading = Group("GroupBoxManualHeading", " Manual heading ", GroupBoxView);
    auto* mh = new QHBoxLayout(GroupBoxManualHeading);
    EditHead = Edit("EditHead", "0", 80, GroupBoxManualHeading);
    EditHead->setToolTip("Direction in degrees (0:North, -180 to 180)");
    mh->addWidget(EditHead);
    mh->addWidget(new QLabel("degree", GroupBoxManualHeading));
    mh->addStretch();
    view->addWidget(CheckBoxAutoHeading, 2, 0);
    view->addWidget(GroupBoxAutoHeading, 3, 0, Qt::AlignTop);
    view->addWidget(GroupBoxManualHeading, 3, 0, Qt::AlignTop);

    CheckBoxAutoRange = Box("CheckBoxAutoRange", "Auto setting", GroupBoxView);
    CheckBoxAutoRange->setChecked(true);
    GroupBoxAutoRange = Group("GroupBoxAutoRange", " Auto range ", GroupBoxView);
    auto* ar = new QHBoxLayout(GroupBoxAutoRange);
    EditX = Edit("EditX", "1.2", 80, GroupBoxAutoRange);
    ar->addWidget(new QLabel("x", GroupBoxAutoRange));
    ar->addWidget(EditX);
    ar->addStretch();
    GroupBoxManualRange = Group("GroupBoxManualRange", " Manual range ", GroupBoxView);
    auto* mr = new QHBoxLayout(GroupBoxManualRange);
    EditRange = Edit("EditRange", "1000", 80, GroupBoxManualRange);
    mr->addWidget(EditRange);
    mr->addWidget(new QLabel("m", GroupBoxManualRange));
    mr->addStretch();
    view->addWidget(CheckBoxAutoRange, 4, 0);
    view->addWidget(GroupBoxAutoRange, 5, 0, Qt::AlignTop);
    view->addWidget(GroupBoxManualRange, 5, 0, Qt::AlignTop);

    GroupBoxTilt = Group("GroupBoxTilt", " Tilt ", GroupBoxView);
    auto* tl = new QHBoxLayout(GroupBoxTilt);
    EditTilt = Edit("EditTilt", "45", 80, GroupBoxTilt);
    EditTilt->setToolTip("Angle in degrees (0:directly above, 0 to 90)");
    tl->addWidget(EditTilt);
    tl->addWidget(new QLabel("degree", GroupBoxTilt));
    tl->addStretch();
    view->addWidget(GroupBoxTilt, 6, 0);

    GroupBoxGnd = Group("GroupBoxGnd", " Clamp to ground ", GroupBoxView);
    auto* gn = new QHBoxLayout(GroupBoxGnd);
    CheckBoxTGnd = Box("CheckBoxTGnd", "Track", GroupBoxGnd);
    CheckBoxPGnd = Box("CheckBoxPGnd", "Placemark", GroupBoxGnd);
    gn->addWidget(CheckBoxTGnd);
    gn->addWidget(CheckBoxPGnd);
    view->addWidget(GroupBoxGnd, 7, 0);

    GroupBoxExtrude = Group("GroupBoxExtrude", " Extrude ", this);
    auto* ex = new QVBoxLayout(GroupBoxExtrude);
    CheckBoxLExtrude = Box("CheckBoxLExtrude", "Track extrude", GroupBoxExtrude);
    CheckBoxPExtrude = Box("CheckBoxPExtrude", "Point extrude", GroupBoxExtrude);
    CheckBoxLExtrude->setChecked(true);
    CheckBoxPExtrude->setChecked(true);
    ex->addWidget(CheckBoxLExtrude);
    ex->addWidget(CheckBoxPExtrude);

    GroupBoxAltMode = Group("GroupBoxAltMode", " Altitude mode ", this);
    auto* am = new QVBoxLayout(GroupBoxAltMode);
    RadioButtonClamp = Radio("RadioButtonClamp", "Clamp to ground", GroupBoxAltMode);
    RadioButtonRelative = Radio("RadioButtonRelative", "Relative to ground", GroupBoxAltMode);
    RadioButtonAbs = Radio("RadioButtonAbs", "Absolute", GroupBoxAltMode);
    RadioButtonAbs->setChecked(true);
    for (QWidget* w : {RadioButtonClamp, RadioButtonRelative, RadioButtonAbs}) am->addWidget(w);

    GroupBoxReplace = Group("GroupBoxReplace", " Altitude is replaced at speed ", this);
    auto* rp = new QGridLayout(GroupBoxReplace);
    CheckBoxReplace = Box("CheckBoxReplace", "Replace", GroupBoxReplace);
    EditMult = Edit("EditMult", "1.0", 70, GroupBoxReplace);
    EditOffset = Edit("EditOffset", "0", 70, GroupBoxReplace);
    rp->addWidget(CheckBoxReplace, 0, 0, 1, 3);
    rp->addWidget(new QLabel("Coefficient", GroupBoxReplace), 1, 0);
    rp->addWidget(EditMult, 1, 1);
    rp->addWidget(new QLabel("m/(km/h)", GroupBoxReplace), 1, 2);
    rp->addWidget(new QLabel("Offset", GroupBoxReplace), 2, 0);
    rp->addWidget(EditOffset, 2, 1);
    rp->addWidget(new QLabel("m", GroupBoxReplace), 2, 2);

    QHBoxLayout* buttons = MakeOkCancelRow(this, ButtonOK, ButtonCan, /*cancelTakesEnter=*/true);

    auto* right = new QVBoxLayout;
    right->addWidget(GroupBoxExtrude);
    right->addWidget(GroupBoxAltMode);
    right->addWidget(GroupBoxReplace);
    right->addStretch();
    top->addWidget(GroupBoxView, 0, 0);
    top->addLayout(right, 0, 1);
    top->addLayout(buttons, 1, 0, 1, 2);

    connect(CheckBoxAutoPos, &QCheckBox::toggled, this, &TForm3D::ApplyToggles);
    connect(CheckBoxAutoHeading, &QCheckBox::toggled, this, &TForm3D::ApplyToggles);
    connect(CheckBoxAutoRange, &QCheckBox::toggled, this, &TForm3D::ApplyToggles);
    connect(ButtonOK, &QPushButton::clicked, this, &TForm3D::ButtonOKClick);
    connect(ButtonCan, &QPushButton::clicked, this, &TForm3D::ButtonCanClick);
    // Each auto group and its manual twin share a place that fits the larger: the dialog keeps
    // one size, and its buttons one place, whichever shows.
    for (QWidget* g : std::initializer_list<QWidget*>{GroupBoxAutoPos, GroupBoxManualPos, GroupBoxAutoHeading,
                                                      GroupBoxManualHeading, GroupBoxAutoRange, GroupBoxManualRange}) {
        QSizePolicy p = g->sizePolicy();
        p.setRetainSizeWhenHidden(true);
        g->setSizePolicy(p);
    }
    ApplyToggles();
    adjustSize();
    InstallDialogKeys(this);
}

void TForm3D::ApplyToggles() {
    GroupBoxAutoPos->setVisible(CheckBoxAutoPos->isChecked());
    GroupBoxManualPos->setVisible(!CheckBoxAutoPos->isChecked());
    GroupBoxAutoHeading->setVisible(CheckBoxAutoHeading->isChecked());
    GroupBoxManualHeading->setVisible(!CheckBoxAutoHeading->isChecked());
    GroupBoxAutoRange->setVisible(CheckBoxAutoRange->isChecked());
    GroupBoxManualRange->setVisible(!CheckBoxAutoRange->isChecked());
}

void TForm3D::StoreValues(TConversionOptions& o) const {
    o.AutoPos = CheckBoxAutoPos->isChecked();
    o.Start = RadioButtonStart->isChecked();
    o.Half = RadioButtonHalf->isChecked();
    o.Final = RadioButtonFinal->isChecked();
    o.ViewLon = S(EditLon->text());
    o.ViewLat = S(EditLat->text());
    o.ViewAlt = S(EditAlt->text());
    o.AutoHeading = CheckBoxAutoHeading->isChecked();
    o.North = RadioButtonHr1->isChecked();
    o.East = RadioButtonHr2->isChecked();
    o.South = RadioButtonHr3->isChecked();
    o.West = RadioButtonHr4->isChecked();
    o.Heading = S(EditHead->text());
    o.AutoRange = CheckBoxAutoRange->isChecked();
    o.AutoRangeMulti = S(EditX->text());
    o.Range = S(EditRange->text());
    o.Tilt = S(EditTilt->text());
    o.TrackToGnd = CheckBoxTGnd->isChecked();
    o.PlaceMarkToGnd = CheckBoxPGnd->isChecked();
    o.LExtrude = CheckBoxLExtrude->isChecked();
    o.PExtrude = CheckBoxPExtrude->isChecked();
    o.ClampToGnd = RadioButtonClamp->isChecked();
    o.RelativeToGnd = RadioButtonRelative->isChecked();
    o.Absolute = RadioButtonAbs->isChecked();
    o.AltReplace = CheckBoxReplace->isChecked();
    o.Multi = S(EditMult->text());
    o.Offset3D = S(EditOffset->text());
}

void TForm3D::ShowValues(const TConversionOptions& o) {
    SetBox(CheckBoxAutoPos, o.AutoPos);
    SetRadios({{RadioButtonStart, o.Start}, {RadioButtonHalf, o.Half}, {RadioButtonFinal, o.Final}});
    EditLon->setText(Q(o.ViewLon));
    EditLat->setText(Q(o.ViewLat));
    EditAlt->setText(Q(o.ViewAlt));
    SetBox(CheckBoxAutoHeading, o.AutoHeading);
    SetRadios(
        {{RadioButtonHr1, o.North}, {RadioButtonHr2, o.East}, {RadioButtonHr3, o.South}, {RadioButtonHr4, o.West}});
    EditHead->setText(Q(o.Heading));
    SetBox(CheckBoxAutoRange, o.AutoRange);
    EditX->setText(Q(o.AutoRangeMulti));
    EditRange->setText(Q(o.Range));
    EditTilt->setText(Q(o.Tilt));
    SetBox(CheckBoxTGnd, o.TrackToGnd);
    SetBox(CheckBoxPGnd, o.PlaceMarkToGnd);
    SetBox(CheckBoxLExtrude, o.LExtrude);
    SetBox(CheckBoxPExtrude, o.PExtrude);
    SetRadios({{RadioButtonClamp, o.ClampToGnd}, {RadioButtonRelative, o.RelativeToGnd}, {RadioButtonAbs, o.Absolute}});
    SetBox(CheckBoxReplace, o.AltReplace);
    EditMult->setText(Q(o.Multi));
    EditOffset->setText(Q(o.Offset3D));
    ApplyToggles();
}

void TForm3D::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    FormActivate();
}

void TForm3D::FormActivate() {
    ShowValues(s_.opt);
    main_.Update3DCaption();
}

void TForm3D::ButtonOKClick() {
    StoreValues(s_.opt);
    // What the next load would not keep is not taken now either: the dialog stays open on it.
    if (const std::string refused = Refused3DField(s_.opt); !refused.empty()) {
        main_.MessageDlg(refused, MsgKind::Error, mbOK, mbOK);
        return;
    }
    std::string bad;
    const bool ok = Normalize3DFields(s_.opt, bad);
    ShowValues(s_.opt);
    if (!ok) {
        // The dialog stays open on the field that is not a number.
        main_.MessageDlg("'" + bad + "' is not a valid floating point value", MsgKind::Error, mbOK, mbOK);
        return;
    }
    main_.Update3DCaption();
    accept();
}

void TForm3D::ButtonCanClick() {
    // The main window reads the flag and unticks "3D"; typed values stay.
    main_.abortRequested = true;
    StoreValues(s_.opt);
    main_.Update3DCaption();
    QDialog::reject();
}

void TForm3D::reject() { ButtonCanClick(); }

}  // namespace ts
