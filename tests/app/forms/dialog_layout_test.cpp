// Dialog layouts as the user meets them in the program's font: where a dialog stands when it
// opens, and whether the block selector's columns show whole.
#include "forms/form_main.h"

#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>

#include <functional>

#include "core/date_time.h"
#include "forms/form_3d.h"
#include "forms/form_geoid.h"
#include "forms/form_palt.h"

using namespace ts;

// Places show as x,y in failures.
static void PrintTo(const QPoint& p, std::ostream* os) { *os << p.x() << ',' << p.y(); }

namespace {

struct DialogLayoutTest : MainWindowTest {
    // The main window with the default font, or with one the settings name.
    void StartWithFont(const std::string& fontLines) {
        std::ofstream(dir + "prog/trailsmith.ini") << "[Option]\r\nVersion=Trailsmith  Ver2.20\r\n" << fontLines;
        Start({}, false);
    }
    // Runs open(), which shows d modally, and inspects d once it stands on screen.
    void WhileShown(QDialog& d, const std::function<void()>& open, const std::function<void()>& inspect) {
        QTimer::singleShot(0, &d, [&] {
            for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
            inspect();
            d.done(QDialog::Accepted);
        });
        open();
    }
};

}  // namespace

// Every showing, the first included, is centred on the dialog's frame as laid out for the font
// the settings gave it.
TEST_F(DialogLayoutTest, DialogsOpenCentredFromTheFirstShowing) {
    StartWithFont("[Font]\r\nFontName=DejaVu Sans\r\nFontSize=8\r\n");
    const BarometerStart start{"log.log", "logger 1.0", "N 35", "E 139", "12.0 m", "12.0", ""};
    struct Case {
        QDialog* d;
        std::function<void()> open;
    };
    const Case cases[] = {
        {form->Form3D(), [&] { form->ShowDialogCentered(*form->Form3D()); }},
        {form->FormGeoid(), [&] { form->ShowDialogCentered(*form->FormGeoid()); }},
        {form->FormPAlt(),
         [&] {
             BarometerReference ref;
             form->AskBarometerCalibration(start, ref);
         }},
    };
    for (const Case& c : cases) {
        QPoint at[2];
        for (QPoint& shownAt : at)
            WhileShown(*c.d, c.open, [&] {
                shownAt = c.d->frameGeometry().topLeft();
                EXPECT_EQ(shownAt, DialogPosition(form->frameGeometry(), c.d->frameGeometry().size(), S().WorkArea))
                    << c.d->objectName().toStdString();
            });
        EXPECT_EQ(at[0], at[1]) << c.d->objectName().toStdString();
    }
}
