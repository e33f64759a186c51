// Unattended runs whose settings file fails them: every failed call of the settings' reads and
// saves fails the run, and the file is the old one or the new one, whole.
#include <gtest/gtest.h>

#include "qt_test_app.h"
#include "settings_faults.h"

using namespace ts;
namespace fs = std::filesystem;

namespace {

struct SettingsFailures : MainWindowTest {
    std::string ini, oldText;
    void SetUp() override {
        MainWindowTest::SetUp();
        ini = dir + "s.ini";
        oldText = "[Option]\r\nKMZout=0\r\nGPXout=1\r\n[User]\r\n";
        for (int i = 0; i < 400; ++i) oldText += "mine" + std::to_string(i) + "=kept as it is\r\n";
        fs::copy_file(TS_SHARED_DIR "/testdata/sample.nmea", dir + "a.nmea");
    }
    // A quiet run of the window, to its end; the GPX files it made.
    size_t Run() {
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().extension() == ".gpx") fs::remove(e.path());
        fs::remove_all(dir + "appdata");
        WriteBytes(ini, oldText);
        Start({ini, "/Q", dir + "a.nmea"});
        for (int i = 0; i < 20 && form->isVisible(); ++i) QCoreApplication::processEvents();
        size_t made = 0;
        for (const auto& e : fs::directory_iterator(dir)) made += e.path().extension() == ".gpx";
        return made;
    }
};

}  // namespace

TEST_F(SettingsFailures, EveryFailedSettingsCallFailsTheRunAndKeepsTheFileWhole) {
    ASSERT_EQ(Run(), 1u);
    ASSERT_EQ(form->ExitStatus(), 0);
    const std::string newText = ReadBytes(ini);
    ASSERT_NE(newText.find("mine399=kept as it is"), std::string::npos);

    int runs = 0;
    for (int kind = 0; kind < faults::kKinds; ++kind)
        for (int at = 1;; ++at) {
            size_t made;
            {
                faults::Scope f(kind, at);
                made = Run();
                if (!faults::state.hit) break;
            }
            ++runs;
            const std::string what = std::string(faults::kKindNames[kind]) + " #" + std::to_string(at);
            const std::string now = ReadBytes(ini);
            EXPECT_TRUE(now == oldText || now == newText) << what;
            EXPECT_EQ(faults::ScratchLeft(dir), std::vector<std::string>{}) << what;
            // A run may only succeed when the settings were saved: here, or in the per-user
            // folder after a failed write test, which the report then names.
            const std::string moved = dir + "appdata/trailsmith/s.ini";
            const bool savedElsewhere = ReportCount(QString::fromStdString("  Settings saved : " + moved)) == 1;
            if (form->ExitStatus() == 0) {
                EXPECT_TRUE(now == newText || savedElsewhere) << what;
            }
            if (savedElsewhere) {
                EXPECT_EQ(ReadBytes(moved), newText) << what;
            }
            // Settings that could not be read convert nothing and are never saved over.
            if (ReportCount("Cannot read : ") > 0) {
                EXPECT_EQ(made, 0u) << what;
                EXPECT_EQ(now, oldText) << what;
                EXPECT_NE(form->ExitStatus(), 0) << what;
            }
            if (now == oldText && !savedElsewhere) {
                EXPECT_NE(form->ExitStatus(), 0) << what;
            }
        }
    EXPECT_GE(runs, 10);
}
