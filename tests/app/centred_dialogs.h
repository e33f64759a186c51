// The dialogs the main window opens centred on itself, each with the way the program opens it.
#pragma once

#include <QDialog>

#include <functional>
#include <vector>

#include "forms/form_3d.h"
#include "forms/form_geoid.h"
#include "forms/form_main.h"
#include "forms/form_palt.h"

struct CentredDialog {
    QDialog* d;
    std::function<void()> open;
};

// start: the barometer dialog's log, which must outlive the cases.
inline std::vector<CentredDialog> CentredDialogs(ts::TFormMain& form, const ts::BarometerStart& start) {
    return {
        {form.Form3D(), [&form] { form.ShowDialogCentered(*form.Form3D()); }},
        {form.FormGeoid(), [&form] { form.ShowDialogCentered(*form.FormGeoid()); }},
        {form.FormPAlt(),
         [&form, &start] {
             ts::BarometerReference ref;
             form.AskBarometerCalibration(start, ref);
         }},
    };
}
