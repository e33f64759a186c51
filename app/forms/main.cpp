// Start-up: the application object, the main window and the report window, then the message loop
// until the main window closes.
#include <QApplication>

#include <clocale>
#include <cstdlib>
#include <iostream>

#include "forms/form_main.h"

namespace {

// Without a display the platform's chatter (no runtime folder, no size hints) is noise to a
// script; real failures still show.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::cerr << msg.toStdString() << '\n';
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool headless = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
    if (headless) {
        bool quiet = false;
        for (const std::string& a : args) quiet = quiet || a == "/Q" || a == "/q";
        if (!quiet) {
            std::cerr << "trailsmith: no display (DISPLAY and WAYLAND_DISPLAY are not set), so the window "
                         "cannot be shown; to convert unattended run: trailsmith [settings.ini] /Q log files\n";
            return 2;
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        qInstallMessageHandler(QuietMessages);
    }

    QApplication app(argc, argv);
    // Numbers in files never follow the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName("Trailsmith");

    ts::TFormMain form(ts::ProgramPaths::FromProcess(), args, headless, headless);
    // Without a display nobody sees the window's pixels: it is not drawn.
    if (headless) form.setUpdatesEnabled(false);
    form.show();
    const int rc = app.exec();
    return form.ExitStatus() != 0 ? form.ExitStatus() : rc;
}
