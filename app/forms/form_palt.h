// The barometer calibration dialog: shown while a barometric log is read, it takes the actual
// altitude and temperature at the log's start point and rescales the reference pressure.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <string>

#include "core/host.h"
#include "settings/settings.h"

namespace ts {

// A temperature text converted to the other unit (to Fahrenheit when toFahrenheit), as a short
// general number; a decimal comma is read as the decimal mark, other unreadable text counts as 0,
// and a text whose comma may group thousands stays as it is.
std::string ConvertTemperatureText(const std::string& text, bool toFahrenheit);

class TFormPAlt : public QDialog {
    Q_OBJECT
public:
    explicit TFormPAlt(Settings& settings, QWidget* parent = nullptr);

    // Fills the start point's labels and proposes the logged altitude when the edit is empty.
    void Prepare(const BarometerStart& start);
    // The close handler's calibration of ref from the edits; false when they give none.
    bool Calibrate(BarometerReference& ref);
    // The message for an edit whose comma may group thousands; empty when there is none.
    std::string RefusedText() const;
    // Prepare, show modally, calibrate on close.
    void Ask(const BarometerStart& start, BarometerReference& ref);
    void UpdateTempLabel();

    QGroupBox* GroupBoxStart;
    QLabel *LabelFname, *LabelLat, *LabelLon, *LabelAlt, *LabelVers, *LabelOffset;
    QLabel *LabelAltCaption, *LabelTempCaption;  // the labels of the two edits
    QLineEdit *LabeledEditAlt, *LabeledEditTemp;
    QCheckBox* CheckBoxF;
    QPushButton* ButtonOK;

public slots:
    void CheckBoxFClick(bool ticked);
    void ButtonOKClick();

protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    Settings& s_;
    BarometerReference* ref_ = nullptr;
};

}  // namespace ts
