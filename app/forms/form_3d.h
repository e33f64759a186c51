// The 3D view dialog: camera position, heading, range and tilt, extrusion, clamping, altitude
// mode and speed as height. Its controls mirror the 3D fields of the settings, which the KML
// writer reads; the dialog loads them when it opens and writes them back when it closes.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <string>

#include "settings/settings.h"

namespace ts {

class TFormMain;

// Signed decimal degrees of an angle typed as decimal degrees or degrees, minutes and seconds
// ("35 39 29.1572", "139.5E", "S 33 52", "-0 30"). N/E and S/W set the sign wherever they stand,
// "+"/"-" only before the first number; a fourth number is ignored. Empty or unreadable text: 0.
double ParseAngle(const std::string& s);

// The OK rules of the dialog's number fields, in their order: zeros become "0" ("1.0" for the
// multiplier), the position is rewritten as "%8.6f" degrees. Range, tilt and heading must be
// numbers: at the first that is not, false with its text in badText, the fields before it
// already normalised.
bool Normalize3DFields(TConversionOptions& o, std::string& badText);

// The message for the first number field whose comma may group thousands, or whose value lies
// outside the range the settings load keeps (angles by their degrees); empty when all may stay.
std::string Refused3DField(const TConversionOptions& o);

// The summary the main window's "3D" box shows, such as "3D (T:45,R:Auto,H:N,AP(Hw),TE,PE,Abs)".
std::string Summary3DCaption(const TConversionOptions& o);

class TForm3D : public QDialog {
    Q_OBJECT
public:
    TForm3D(TFormMain& main, Settings& settings);

    // Controls into the settings, and back.
    void StoreValues(TConversionOptions& o) const;
    void ShowValues(const TConversionOptions& o);

    QGroupBox *GroupBoxView, *GroupBoxAutoPos, *GroupBoxManualPos, *GroupBoxAutoHeading, *GroupBoxManualHeading,
        *GroupBoxAutoRange, *GroupBoxManualRange, *GroupBoxTilt, *GroupBoxGnd, *GroupBoxExtrude, *GroupBoxAltMode,
        *GroupBoxReplace;
    QCheckBox *CheckBoxAutoPos, *CheckBoxAutoHeading, *CheckBoxAutoRange;
    QRadioButton *RadioButtonStart, *RadioButtonHalf, *RadioButtonFinal;
    QLineEdit *EditLon, *EditLat, *EditAlt;
    QRadioButton *RadioButtonHr1, *RadioButtonHr2, *RadioButtonHr3, *RadioButtonHr4;
    QLineEdit *EditHead, *EditX, *EditRange, *EditTilt;
    QCheckBox *CheckBoxTGnd, *CheckBoxPGnd, *CheckBoxLExtrude, *CheckBoxPExtrude;
    QRadioButton *RadioButtonClamp, *RadioButtonRelative, *RadioButtonAbs;
    QCheckBox* CheckBoxReplace;
    QLineEdit *EditMult, *EditOffset;
    QPushButton *ButtonOK, *ButtonCan;

public slots:
    void FormActivate();
    void ButtonOKClick();
    void ButtonCanClick();

protected:
    void showEvent(QShowEvent* e) override;
    void reject() override;

private:
    void ApplyToggles();

    TFormMain& main_;
    Settings& s_;
};

}  // namespace ts
