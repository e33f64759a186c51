// Shared set-up of the application tests: the one application object of the test process, a
// fresh scratch folder per test, and the main window started on it.
#pragma once

#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "forms/form_main.h"
#include "test_temp.h"

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

// A key press sent straight to w: a key code, or typed text.
inline void SendKey(QWidget* w, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &press);
}

inline std::string ReadBytes(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
}

// Visible sibling controls of a shown form never cover one another, at any depth of the form's
// own widgets (the insides of lists and combo boxes are Qt's).
inline void ExpectNoOverlaps(const QWidget* w) {
    std::vector<const QWidget*> kids;
    for (const QObject* o : w->children())
        if (auto* c = qobject_cast<const QWidget*>(o); c && !c->isWindow() && c->isVisibleTo(w)) kids.push_back(c);
    for (size_t i = 0; i < kids.size(); ++i) {
        for (size_t j = i + 1; j < kids.size(); ++j)
            EXPECT_FALSE(kids[i]->geometry().intersects(kids[j]->geometry()))
                << kids[i]->objectName().toStdString() << " covers " << kids[j]->objectName().toStdString() << " in "
                << w->objectName().toStdString();
        if (!qobject_cast<const QAbstractScrollArea*>(kids[i]) && !qobject_cast<const QComboBox*>(kids[i]))
            ExpectNoOverlaps(kids[i]);
    }
}

// An empty folder named after the running test, with a "prog" folder for the program.
inline std::string ScratchDir(const std::string& prefix) {
    const std::string dir =
        ProcessTempDir() + prefix + "_" + testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "prog");
    return dir;
}

// The program installed in dir + "prog", its per-user folder dir + "appdata".
inline ts::ProgramPaths ProgramIn(const std::string& dir) {
    ts::ProgramPaths pp;
    pp.exePath = dir + "prog/trailsmith";
    pp.appData = dir + "appdata";
    return pp;
}

// The main window on a scratch folder, shown off screen.
struct MainWindowTest : testing::Test {
    std::string dir;
    std::unique_ptr<ts::TFormMain> form;
    void SetUp() override {
        TestApp();
        dir = ScratchDir("win");
    }
    void Start(std::vector<std::string> args = {}, bool headless = true) {
        form = std::make_unique<ts::TFormMain>(ProgramIn(dir), std::move(args), headless);
        form->show();
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    void TearDown() override {
        if (form) form->close();
    }
    ts::Settings& S() { return form->Front().settings; }
    // How many report lines contain text.
    int ReportCount(const QString& text) const {
        int n = 0;
        for (const QString& l : form->FormReport()->Lines()) n += l.contains(text) ? 1 : 0;
        return n;
    }
};

// The same, started in SetUp.
struct StartedWindowTest : MainWindowTest {
    void SetUp() override {
        MainWindowTest::SetUp();
        Start();
    }
};
