// Runs the program itself unattended, the way a script would.
#include <gtest/gtest.h>

#include "../test_temp.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

struct RunResult {
    int status = -1;
    std::string out;
};

RunResult RunProgram(const std::string& args) {
    const std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" TS_TRAILSMITH_EXE "' " + args + " 2>/dev/null";
    RunResult r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

struct EndToEnd : testing::Test {
    std::string dir;
    void SetUp() override {
        dir = ProcessTempDir() + "e2e_" + testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::copy_file(TS_SHARED_DIR "/testdata/sample.nmea", dir + "a.nmea");
        std::ofstream(dir + "x.ini") << "[Option]\r\nKMZout=0\r\nGPXout=1\r\nCSVout=1\r\n";
    }
};

}  // namespace

TEST_F(EndToEnd, QuietRunMakesTheSelectedFiles) {
    const RunResult r = RunProgram("'" + dir + "x.ini' /Q '" + dir + "a.nmea'");
    EXPECT_NE(r.out.find("File: a.nmea"), std::string::npos) << r.out;
    int gpx = 0, csv = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        gpx += e.path().extension() == ".gpx";
        csv += e.path().extension() == ".csv";
    }
    // The types the settings ticked are made beside the input, and the run succeeds.
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(gpx, 1);
    EXPECT_EQ(csv, 1);
    EXPECT_NE(r.out.find("*** Made: 2 files ***"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("*** Error!! ***"), std::string::npos);
    // The settings named on the command line were used and saved back.
    std::ifstream ini(dir + "x.ini");
    std::string text((std::istreambuf_iterator<char>(ini)), {});
    EXPECT_NE(text.find("Version=Trailsmith  Ver2.20"), std::string::npos);
}

// A missing input fails the run; without a display and nothing to convert unattended the
// program exits instead of waiting.
TEST_F(EndToEnd, FailuresEndWithAFailingStatus) {
    const RunResult r = RunProgram("'" + dir + "x.ini' /Q '" + dir + "missing.nmea'");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out.find("*** Made: "), std::string::npos);
    EXPECT_NE(RunProgram("'" + dir + "x.ini' '" + dir + "a.nmea'").status, 0);
    EXPECT_NE(RunProgram("'" + dir + "x.ini' /Q notes.doc").status, 0);
}

// The reader's own checks are the engine's; here the alias lists and built-in profiles it used
// are saved with the settings.
TEST_F(EndToEnd, QuietRunOfACsvLoggerLogSavesItsProfiles) {
    fs::copy_file(TS_SHARED_DIR "/testdata/iblue747.csv", dir + "b.csv");
    std::ofstream(dir + "y.ini") << "[Option]\r\nKMZout=0\r\nGPXout=1\r\n";
    const RunResult r = RunProgram("'" + dir + "y.ini' /Q '" + dir + "b.csv'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("  Default CSV:   747 records"), std::string::npos) << r.out;
    std::ifstream ini(dir + "y.ini");
    std::string text((std::istreambuf_iterator<char>(ini)), {});
    EXPECT_NE(text.find("GT-730FL-S=Date / Time,Altitude,Ground Speed"), std::string::npos);
    EXPECT_NE(text.find("Latitude=LATITUDE,Lat,LATITUDE N/S"), std::string::npos);
}
