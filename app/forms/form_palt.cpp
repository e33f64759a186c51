#include "forms/form_palt.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>

#include "core/barometer.h"
#include "core/text_format.h"
#include "forms/form_main.h"

namespace ts {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

QLabel* Label(const char* name, const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

}  // namespace

std::string ConvertTemperatureText(const std::string& text, bool toFahrenheit) {
    // A text that may group thousands is not guessed: it stays for OK to refuse.
    if (AmbiguousThousands(text)) return text;
    const double t = DecimalOr0(text);
    const double v = toFahrenheit ? t * 9.0 / 5.0 + 32.0 : (t - 32.0) * 5.0 / 9.0;
    char buf[64];
    // Fifteen digits hide the binary noise of the conversion (15 -> 59 -> 15).
    std::snprintf(buf, sizeof buf, "%.15g", std::isfinite(v) ? v : 0.0);
    return buf;
}

TFormPAlt::TFormPAlt(Settings& settings, QWidget* parent) : QDialog(parent), s_(settings) {
    setObjectName("FormPAlt");
    setWindowTitle("Barometer calibration");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    auto* top = new QVBoxLayout(this);
    top->setSizeConstraint(QLayout::SetFixedSize);

    GroupBoxStart = new QGroupBox(" Start point ", this);
    GroupBoxStart->setObjectName("GroupBoxStart");
    auto* g = new QGridLayout(GroupBoxStart);
    LabelFname = Label("LabelFname", "", GroupBoxStart);
    LabelLat = Label("LabelLat", "", GroupBoxStart);
    LabelLon = Label("LabelLon", "", GroupBoxStart);
    LabelAlt = Label("LabelAlt", "", GroupBoxStart);
    LabelAlt->setToolTip("Based on 1013.25hPa=0m, 15C");
    LabelVers = Label("LabelVers", "", GroupBoxStart);
    g->addWidget(new QLabel("Filename:", GroupBoxStart), 0, 0);
    g->addWidget(LabelFname, 0, 1);
    g->addWidget(new QLabel("Latitude:", GroupBoxStart), 1, 0);
    g->addWidget(LabelLat, 1, 1);
    g->addWidget(new QLabel("Longitude:", GroupBoxStart), 2, 0);
    g->addWidget(LabelLon, 2, 1);
    g->addWidget(new QLabel("Altitude:", GroupBoxStart), 3, 0);
    g->addWidget(LabelAlt, 3, 1);
    g->addWidget(LabelVers, 4, 0, 1, 2);
    top->addWidget(GroupBoxStart);

    LabelOffset = Label("LabelOffset", "", this);
    top->addWidget(LabelOffset);

    auto* edits = new QGridLayout;
    LabelAltCaption = Label("LabelAltCaption", "Actual altitude (m)", this);
    LabeledEditAlt = new QLineEdit(this);
    LabeledEditAlt->setObjectName("LabeledEditAlt");
    LabelTempCaption = Label("LabelTempCaption", "Temperature", this);
    LabeledEditTemp = new QLineEdit(this);
    LabeledEditTemp->setObjectName("LabeledEditTemp");
    CheckBoxF = new QCheckBox("Fahrenheit", this);
    CheckBoxF->setObjectName("CheckBoxF");
    edits->addWidget(LabelAltCaption, 0, 0);
    edits->addWidget(LabelTempCaption, 0, 1);
    edits->addWidget(LabeledEditAlt, 1, 0);
    edits->addWidget(LabeledEditTemp, 1, 1);
    edits->addWidget(CheckBoxF, 1, 2);
    top->addLayout(edits);

    ButtonOK = new QPushButton("OK", this);
    ButtonOK->setObjectName("ButtonOK");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ButtonOK);
    top->addLayout(buttons);

    connect(CheckBoxF, &QCheckBox::toggled, this, &TFormPAlt::CheckBoxFClick);
    connect(ButtonOK, &QPushButton::clicked, this, &TFormPAlt::ButtonOKClick);
    // Enter in either edit closes the dialog.
    connect(LabeledEditAlt, &QLineEdit::returnPressed, this, &TFormPAlt::ButtonOKClick);
    connect(LabeledEditTemp, &QLineEdit::returnPressed, this, &TFormPAlt::ButtonOKClick);
    adjustSize();
}

void TFormPAlt::UpdateTempLabel() {
    const bool f = CheckBoxF->isChecked();
    LabelTempCaption->setText(f ? "Temperature (F)" : "Temperature (C)");
    if (Trim(S(LabeledEditTemp->text())).empty()) LabeledEditTemp->setText(f ? "59.0" : "15.0");
}

void TFormPAlt::CheckBoxFClick(bool ticked) {
    if (!CheckBoxF->isEnabled()) return;
    s_.Fahrenheit = ticked;
    // An empty edit gets the standard temperature already in the new unit: nothing to convert.
    const bool wasEmpty = Trim(S(LabeledEditTemp->text())).empty();
    UpdateTempLabel();
    if (!wasEmpty) LabeledEditTemp->setText(Q(ConvertTemperatureText(S(LabeledEditTemp->text()), ticked)));
}

void TFormPAlt::Prepare(const BarometerStart& start) {
    LabelFname->setText(Q(start.fileName));
    LabelVers->setText(Q(start.loggerText));
    LabelLon->setText(Q(start.lonText));
    LabelLat->setText(Q(start.latText));
    LabelAlt->setText(Q(start.altText));
    if (LabeledEditAlt->text().isEmpty()) LabeledEditAlt->setText(Q(start.altEditText));
    LabelOffset->setText(Q(start.offsetText));
    {
        QSignalBlocker block(CheckBoxF);
        CheckBoxF->setChecked(s_.Fahrenheit);
    }
    UpdateTempLabel();
}

bool TFormPAlt::Calibrate(BarometerReference& ref) {
    return CalibrateBarometer(ref, S(LabeledEditAlt->text()), S(LabeledEditTemp->text()), CheckBoxF->isChecked());
}

std::string TFormPAlt::RefusedText() const {
    const std::pair<const QLineEdit*, const char*> fields[] = {{LabeledEditAlt, "Actual altitude (m)"},
                                                               {LabeledEditTemp, "Temperature"}};
    for (const auto& [edit, field] : fields) {
        const std::string text = S(edit->text());
        if (!AmbiguousThousands(text)) continue;
        const NumberKey k{"", "", NumberKey::Text, -HUGE_VAL, HUGE_VAL, NAN, field};
        return RefusedNumberText(k, text, NumberCheck::Ambiguous);
    }
    return {};
}

void TFormPAlt::Ask(const BarometerStart& start, BarometerReference& ref) {
    Prepare(start);
    adjustSize();
    // Centred on the main window, as the other dialogs are.
    if (const QWidget* main = parentWidget()) CentreDialog(*this, *main, s_.WorkArea);
    ref_ = &ref;
    exec();
    ref_ = nullptr;
}

void TFormPAlt::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    UpdateTempLabel();
}

void TFormPAlt::ButtonOKClick() { accept(); }

void TFormPAlt::done(int r) {
    if (ref_) {
        // "1,500" m could be 1.5: the user says which before the calibration is made.
        if (const std::string refused = RefusedText(); !refused.empty()) {
            if (auto* main = qobject_cast<TFormMain*>(parentWidget()))
                main->MessageDlg(refused, MsgKind::Warning, mbOK, mbOK);
            return;
        }
        // Every other way of closing calibrates, as the close handler always did; input that
        // gives no calibration is said in the report.
        const bool calibrated = Calibrate(*ref_);
        ref_ = nullptr;
        if (!calibrated)
            if (auto* main = qobject_cast<TFormMain*>(parentWidget()))
                main->ReportLine("  Barometer calibration not usable: 1013.25 hPa is used.");
    }
    QDialog::done(r);
}

void TFormPAlt::keyPressEvent(QKeyEvent* e) {
    // No Cancel here: Esc does not close the dialog.
    if (e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

}  // namespace ts
