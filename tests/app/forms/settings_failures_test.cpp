// Quiet runs whose settings calls fail, each in turn: the run fails unless the settings were saved
// (in place, or in the per-user folder that the report then names), the file is old or new and
// whole, and settings that could not be read convert nothing.
#include <gtest/gtest.h>

#include "qt_test_app.h"
#include "settings_faults.h"

namespace fs = std::filesystem;

TEST_F(MainWindowTest, EveryFailedSettingsCallFailsTheRunOrSavesTheSettings) {
    const std::string ini = dir + "s.ini", moved = dir + "appdata/trailsmith/s.ini";
    std::string oldText = "[Option]\r\nKMZout=0\r\nGPXout=1\r\n[User]\r\n", newText;
    for (int i = 0; i < 400; ++i) oldText += "mine" + std::to_string(i) + "=kept as it is\r\n";
    fs::copy_file(TS_SHARED_DIR "/testdata/sample.nmea", dir + "a.nmea");
    const std::string gpx = dir + "07-08-2004_03-29-08.gpx";
    int runs = 0;
    for (int kind = -1; kind < faults::kKinds; ++kind)
        for (int at = 1;; ++at, ++runs) {
            fs::remove(gpx);
            fs::remove_all(dir + "appdata");
            WriteBytes(ini, oldText);
            {
                faults::Scope f(kind, at);
                Start({ini, "/Q", dir + "a.nmea"});
                for (int i = 0; i < 20 && form->isVisible(); ++i) QCoreApplication::processEvents();
                if (kind >= 0 && !faults::state.hit) break;
            }
            const std::string now = ReadBytes(ini),
                              what = kind < 0 ? "clean" : faults::kNames[kind] + std::to_string(at);
            if (kind < 0) {
                ASSERT_EQ(form->ExitStatus(), 0);
                newText = now;
                break;
            }
            EXPECT_TRUE(now == oldText || now == newText) << what;
            EXPECT_EQ(faults::ScratchLeft(dir), std::vector<std::string>{}) << what;
            const bool elsewhere = ReportCount(QString::fromStdString("  Settings saved : " + moved)) == 1;
            if (elsewhere) {
                EXPECT_EQ(ReadBytes(moved), newText) << what;
            }
            EXPECT_EQ(form->ExitStatus() == 0, now == newText || elsewhere) << what;
            EXPECT_TRUE(ReportCount("Cannot read : ") == 0 || !fs::exists(gpx)) << what;
        }
    EXPECT_NE(newText.find("mine399=kept as it is"), std::string::npos);
    EXPECT_GE(runs, 10);
}
