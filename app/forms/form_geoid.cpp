#include "forms/form_geoid.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>

#include "core/text_format.h"
#include "forms/dialog_buttons.h"
#include "forms/form_3d.h"
#include "forms/form_main.h"

namespace ts {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

}  // namespace

std::string GeoidCheckText(GeoidQuery& q, const std::string& latText, const std::string& lonText) {
    const double n = q.GeoidHeight(ParseAngle(latText), ParseAngle(lonText));
    if (!std::isfinite(n)) return "Out of range.";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%6.4f", n);
    return buf;
}

std::string DialogNameFilter(const std::string& filter) {
    const size_t bar = filter.find('|');
    if (bar == std::string::npos) return filter;
    std::string patterns = filter.substr(bar + 1);
    for (char& c : patterns)
        if (c == ';') c = ' ';
    return filter.substr(0, bar) + " (" + patterns + ")";
}

TFormGeoid::TFormGeoid(TFormMain& main, Settings& settings)
    : QDialog(&main), main_(main), s_(settings), models_(main, settings.opt) {
    setObjectName("FormGeoid");
    setWindowTitle("Geoid setting");

    auto* top = new QVBoxLayout(this);
    top->setSizeConstraint(QLayout::SetFixedSize);

    ComboBoxGeoid = new QComboBox(this);
    ComboBoxGeoid->setObjectName("ComboBoxGeoid");
    for (const char* name : kGeoidModelNames) ComboBoxGeoid->addItem(name);
    top->addWidget(ComboBoxGeoid);

    CheckBoxSpline = new QCheckBox("Spline interpolation", this);
    CheckBoxSpline->setObjectName("CheckBoxSpline");
    top->addWidget(CheckBoxSpline);

    auto* fixed = new QHBoxLayout;
    EditGeoid = new QLineEdit("0.00", this);
    EditGeoid->setObjectName("EditGeoid");
    EditGeoid->setFixedWidth(80);
    LabelGeoidUnit = new QLabel("m", this);
    LabelGeoidUnit->setObjectName("LabelGeoidUnit");
    fixed->addWidget(EditGeoid);
    fixed->addWidget(LabelGeoidUnit);
    fixed->addStretch();
    top->addLayout(fixed);

    LabelCustomGeoid = new QLabel(this);
    LabelCustomGeoid->setObjectName("LabelCustomGeoid");
    top->addWidget(LabelCustomGeoid);
    LabelWaiting = new QLabel("Please waiting:  Convert to binary file...", this);
    LabelWaiting->setObjectName("LabelWaiting");
    LabelWaiting->hide();
    top->addWidget(LabelWaiting);

    GroupBoxCheck = new QGroupBox(" Geoid check ", this);
    GroupBoxCheck->setObjectName("GroupBoxCheck");
    auto* check = new QGridLayout(GroupBoxCheck);
    EditLat = new QLineEdit("35 39 29.1572", GroupBoxCheck);
    EditLat->setObjectName("EditLat");
    EditLon = new QLineEdit("139 44 28.8759", GroupBoxCheck);
    EditLon->setObjectName("EditLon");
    EditResult = new QLineEdit(GroupBoxCheck);
    EditResult->setObjectName("EditResult");
    EditResult->setReadOnly(true);
    ButtonCalc = new QPushButton("Check", GroupBoxCheck);
    ButtonCalc->setObjectName("ButtonCalc");
    check->addWidget(new QLabel("Latitude", GroupBoxCheck), 0, 0);
    check->addWidget(EditLat, 0, 1);
    check->addWidget(new QLabel("Longitude", GroupBoxCheck), 1, 0);
    check->addWidget(EditLon, 1, 1);
    check->addWidget(ButtonCalc, 2, 0);
    check->addWidget(EditResult, 2, 1);
    top->addWidget(GroupBoxCheck);

    QHBoxLayout* buttons = MakeOkCancelRow(this, ButtonOK, ButtonCan, /*cancelTakesEnter=*/true);
    top->addLayout(buttons);

    // Only a pick by the user raises the load: a selection made by code does not.
    connect(ComboBoxGeoid, &QComboBox::activated, this, &TFormGeoid::ComboBoxGeoidSelect);
    connect(ButtonCalc, &QPushButton::clicked, this, &TFormGeoid::ButtonCalcClick);
    connect(ButtonOK, &QPushButton::clicked, this, &TFormGeoid::ButtonOKClick);
    connect(ButtonCan, &QPushButton::clicked, this, &TFormGeoid::ButtonCanClick);
    // What a model shows or hides keeps its place, and a long grid name does not widen the
    // dialog: it keeps one size, and its buttons one place, for every model.
    for (QWidget* w :
         std::initializer_list<QWidget*>{CheckBoxSpline, EditGeoid, LabelGeoidUnit, LabelWaiting, GroupBoxCheck}) {
        QSizePolicy p = w->sizePolicy();
        p.setRetainSizeWhenHidden(true);
        w->setSizePolicy(p);
    }
    LabelCustomGeoid->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    adjustSize();
}

void TFormGeoid::StoreValues(Settings& s) const {
    s.GeoidModelText = S(ComboBoxGeoid->currentText());
    s.opt.GeoidValue = S(EditGeoid->text());
    s.opt.Spline = CheckBoxSpline->isChecked();
}

void TFormGeoid::ShowValues(const Settings& s) {
    QSignalBlocker block(ComboBoxGeoid);
    ComboBoxGeoid->setCurrentIndex(GeoidModelIndex(s.GeoidModelText));
    EditGeoid->setText(Q(s.opt.GeoidValue));
    LabelGeoidUnit->setText(Q(s.GeoidUnit));
    QSignalBlocker blockSpline(CheckBoxSpline);
    CheckBoxSpline->setChecked(s.opt.Spline);
}

void TFormGeoid::SelectGeoidModel() {
    StoreValues(s_);
    s_.opt.GeoidModel = GeoidModelIndex(s_.GeoidModelText);
    models_.SelectGeoidModel();
    const GeoidView& v = models_.View();
    s_.GeoidModelText = v.modelText;
    {
        QSignalBlocker block(ComboBoxGeoid);
        ComboBoxGeoid->setCurrentIndex(GeoidModelIndex(v.modelText));
    }
    CheckBoxSpline->setVisible(v.splineVisible);
    // After a fallback the fixed height applies: its edit shows, as when it is picked.
    const bool fixedShown = v.fixedVisible || s_.opt.GeoidModel == 0;
    EditGeoid->setVisible(fixedShown);
    LabelGeoidUnit->setVisible(fixedShown);
    GroupBoxCheck->setVisible(v.checkVisible);
    LabelCustomGeoid->setText(Q(v.customLabel));
    main_.CheckBoxGeoid->setText(Q(s_.opt.GeoidCaption));
}

std::string TFormGeoid::BrowseGeoidFile(const std::string& folder, const std::string& fileName,
                                        const std::string& filter) {
    QFileDialog OpenDialog2(isVisible() ? static_cast<QWidget*>(this) : static_cast<QWidget*>(&main_));
    OpenDialog2.setObjectName("OpenDialog2");
    OpenDialog2.setFileMode(QFileDialog::ExistingFile);
    OpenDialog2.setDirectory(Q(folder));
    OpenDialog2.setNameFilter(Q(DialogNameFilter(filter)));
    if (!fileName.empty()) OpenDialog2.selectFile(Q(fileName));
    if (OpenDialog2.exec() != QDialog::Accepted || OpenDialog2.selectedFiles().isEmpty()) return {};
    return S(OpenDialog2.selectedFiles().first());
}

void TFormGeoid::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // The model opens once the dialog is on screen: opening may ask for a file or show an error.
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) FormActivate();
    });
}

void TFormGeoid::FormActivate() {
    ShowValues(s_);
    EditResult->clear();
    s_.opt.GeoidModel = GeoidModelIndex(S(ComboBoxGeoid->currentText()));
    saved_ = {S(ComboBoxGeoid->currentText()), S(EditGeoid->text()), s_.opt.CustomGeoidFName,
              CheckBoxSpline->isChecked()};
    SelectGeoidModel();
}

void TFormGeoid::ComboBoxGeoidSelect() {
    s_.opt.CustomGeoidFName.clear();
    main_.RequestGeoidLoad();
}

void TFormGeoid::ButtonCalcClick() {
    if (!models_.GeoidLoaded()) {
        main_.MessageDlg("Geoid data is not found.", MsgKind::Error, mbOK, mbOK);
        return;
    }
    // The position is read as the 3D view's is, and "35,500" is no more guessed here.
    for (const auto& [edit, key] : {std::pair{EditLat, "ViewLat"}, std::pair{EditLon, "ViewLon"}}) {
        const std::string text = S(edit->text());
        if (!AmbiguousThousands(text)) continue;
        main_.MessageDlg(RefusedNumberText(NumberKeyOf("3D", key), text, NumberCheck::Ambiguous), MsgKind::Warning,
                         mbOK, mbOK);
        return;
    }
    EditResult->setText(Q(GeoidCheckText(models_, S(EditLat->text()), S(EditLon->text()))));
}

void TFormGeoid::ButtonOKClick() {
    const int wanted = GeoidModelIndex(S(ComboBoxGeoid->currentText()));
    // The fixed height is taken as the next load takes it, with "." for a decimal comma; what
    // that load would not keep keeps the dialog open.
    if (wanted == 0) {
        const NumberKey& k = NumberKeyOf("Geoid", "GeoidValue");
        std::string text = S(EditGeoid->text());
        double v = 0;
        const NumberCheck c = CheckNumber(k, text, v);
        if (c != NumberCheck::Used) {
            main_.MessageDlg(RefusedNumberText(k, text, c), MsgKind::Error, mbOK, mbOK);
            EditGeoid->setFocus();
            return;
        }
        EditGeoid->setText(Q(text));
    }
    SelectGeoidModel();
    // A chosen grid that could not be opened fell back to the fixed value: the user sees the
    // dialog again, now on "Fixed value", and decides.
    if (!models_.GeoidLoaded() || (wanted >= 1 && s_.opt.GeoidModel != wanted)) return;
    models_.CloseGeoid();
    DropPendingLoad();
    accept();
}

void TFormGeoid::ButtonCanClick() {
    s_.opt.CustomGeoidFName = saved_.customFName;
    {
        QSignalBlocker block(ComboBoxGeoid);
        ComboBoxGeoid->setCurrentIndex(GeoidModelIndex(saved_.modelText));
    }
    EditGeoid->setText(Q(saved_.heightText));
    CheckBoxSpline->setChecked(saved_.spline);
    SelectGeoidModel();
    models_.CloseGeoid();
    DropPendingLoad();
    main_.CheckBoxGeoid->setChecked(false);
    QDialog::reject();
}

void TFormGeoid::reject() { ButtonCanClick(); }

void TFormGeoid::DropPendingLoad() {
    // The dialog's own selection has run; a load still pending would reopen the grid after it.
    main_.Front().GeoidModelChanged = false;
}

}  // namespace ts
