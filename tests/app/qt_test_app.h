// The one application object of the test process, made by whichever window test runs first.
#pragma once

#include <QApplication>

#include <clocale>
#include <cstdlib>

inline QApplication& TestApp() {
    if (auto* a = qobject_cast<QApplication*>(QCoreApplication::instance())) return *a;
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    // Without a display the window still runs, off screen, as it does in unattended runs.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    auto* a = new QApplication(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    return *a;
}
