// The geoid dialog: the model, spline interpolation, the fixed geoid height and a check calculator
// that asks the open model at a typed position. Its controls mirror the geoid fields of the
// settings; picking a model only raises a flag, and the main window's idle hook loads it.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <string>

#include "geoid/geoid_models.h"
#include "settings/settings.h"

namespace ts {

class TFormMain;

// The check calculator's answer: N at the typed position with four decimals, or "Out of range.".
std::string GeoidCheckText(GeoidQuery& q, const std::string& latText, const std::string& lonText);
// "description|pattern;pattern" as a file dialog's name filter "description (pattern pattern)".
std::string DialogNameFilter(const std::string& filter);

class TFormGeoid : public QDialog {
    Q_OBJECT
public:
    TFormGeoid(TFormMain& main, Settings& settings);

    GeoidModels& Models() { return models_; }
    // Controls into the settings, and back.
    void StoreValues(Settings& s) const;
    void ShowValues(const Settings& s);
    // Opens the model the combo names and shows what the selection made of it.
    void SelectGeoidModel();
    // The file dialog of a missing grid file; the chosen file's full name, empty when cancelled.
    std::string BrowseGeoidFile(const std::string& folder, const std::string& fileName, const std::string& filter);

    QComboBox* ComboBoxGeoid;
    QCheckBox* CheckBoxSpline;
    QLineEdit* EditGeoid;
    QLabel *LabelGeoidUnit, *LabelCustomGeoid, *LabelWaiting;
    QGroupBox* GroupBoxCheck;
    QLineEdit *EditLat, *EditLon, *EditResult;
    QPushButton *ButtonCalc, *ButtonOK, *ButtonCan;

public slots:
    void FormActivate();
    void ComboBoxGeoidSelect();
    void ButtonCalcClick();
    void ButtonOKClick();
    void ButtonCanClick();

protected:
    void showEvent(QShowEvent* e) override;
    void reject() override;

private:
    struct SavedGeoidState {
        std::string modelText, heightText, customFName;
        bool spline = false;
    };
    void DropPendingLoad();

    TFormMain& main_;
    Settings& s_;
    GeoidModels models_;
    SavedGeoidState saved_;
};

}  // namespace ts
