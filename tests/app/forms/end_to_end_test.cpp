// Runs the program itself unattended, the way a script would.
#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "core/text_format.h"
#include "settings/settings.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
    int status = -1;
    std::string out;
};

RunResult RunCommand(const std::string& cmd) {
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

RunResult RunProgram(const std::string& args, const std::string& env = "") {
    return RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + env + " '" TS_TRAILSMITH_EXE "' " +
                      args + " 2>/dev/null");
}

// Empty when xmllint finds the file valid against the schema (kml21 or gpx11).
std::string SchemaErrors(const fs::path& file, const std::string& xsd) {
    const RunResult r =
        RunCommand("xmllint --noout --schema '" TS_SHARED_DIR "/schemas/" + xsd + ".xsd' '" + file.string() + "' 2>&1");
    return r.status == 0 ? std::string() : r.out.empty() ? "xmllint failed" : r.out;
}

struct EndToEnd : testing::Test {
    std::string dir;
    // The files of one extension the run made, by name.
    std::vector<fs::path> Made(const std::string& ext) const {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().extension() == ext) out.push_back(e.path());
        return out;
    }
    void SetUp() override {
        dir = ScratchDir("e2e");
        fs::copy_file(TS_SHARED_DIR "/testdata/sample.nmea", dir + "a.nmea");
        std::ofstream(dir + "x.ini") << "[Option]\r\nKMZout=0\r\nGPXout=1\r\n";
    }
};

}  // namespace

// The reader's own checks are the engine's; here the alias lists and built-in profiles the CSV
// reader used are saved with the settings.
TEST_F(EndToEnd, QuietRunMakesTheSelectedFilesAndSavesTheSettings) {
    fs::copy_file(TS_SHARED_DIR "/testdata/iblue747.csv", dir + "b.csv");
    const RunResult r = RunProgram("'" + dir + "x.ini' /Q '" + dir + "a.nmea' '" + dir + "b.csv'");
    EXPECT_NE(r.out.find("File: a.nmea"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  Default CSV:   747 records"), std::string::npos) << r.out;
    // The types the settings ticked are made beside the inputs, and the run succeeds.
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Made(".gpx").size(), 2u);
    EXPECT_TRUE(Made(".kmz").empty());
    EXPECT_NE(r.out.find("*** Made: 2 files ***"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("*** Error!! ***"), std::string::npos);
    // The settings named on the command line were used and saved back.
    const std::string text = ReadBytes(dir + "x.ini");
    EXPECT_NE(text.find("Version=Trailsmith  Ver2.20"), std::string::npos);
    EXPECT_NE(text.find("GT-730FL-S=Date / Time,Altitude,Ground Speed"), std::string::npos);
    EXPECT_NE(text.find("Latitude=LATITUDE,Lat,LATITUDE N/S"), std::string::npos);
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

// Unattended, with every argument skipped, the program says which and why.
TEST_F(EndToEnd, SkippedArgumentsAreNamedWhenNobodySeesTheWindow) {
    const RunResult r = RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" TS_TRAILSMITH_EXE "' '" +
                                   dir + "x.ini' /Q notes.doc README 2>&1 >/dev/null");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("skipped \"notes.doc\": unknown extension \".doc\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("skipped \"README\": no extension"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("nothing to convert unattended"), std::string::npos) << r.out;
}

// The automatic time format shows the time as the user's locale writes it, its AM/PM mark
// included; the fixed format keeps ":" where the locale's long time has no plain separator.
TEST_F(EndToEnd, NotesShowTheTimeInTheUsersLocale) {
    const struct {
        const char* locale;
        bool automatic;
        const char* shown;
    } cases[] = {{"en_US", true, "3:29:08 AM"},
                 {"fi_FI", true, "3.29.08"},
                 {"ko_KR", true, "AM 3시 29분 8초"},
                 {"ja_JP", false, "03:29:08.379"},
                 {"fi_FI", false, "03.29.08.379"}};  // the others: LocaleFormatsTest
    for (const auto& c : cases) {
        std::ofstream(dir + "t.ini")
            << "[Option]\r\nKMZout=0\r\nKMLout=1\r\nToLocaltime=0\r\n[TimeFormat]\r\nAutoFormat="
            << (c.automatic ? "1" : "0") << "\r\n";
        for (const fs::path& f : Made(".kml")) fs::remove(f);
        const std::string env = std::string("LANG=") + c.locale + ".UTF-8 LC_ALL=" + c.locale + ".UTF-8";
        ASSERT_EQ(RunProgram("'" + dir + "t.ini' /Q '" + dir + "a.nmea'", env).status, 0) << c.locale;
        ASSERT_EQ(Made(".kml").size(), 1u);
        const std::string kml = ReadBytes(Made(".kml")[0]);
        EXPECT_NE(kml.find(std::string("Time= ") + c.shown + "<br/>"), std::string::npos)
            << c.locale << ": " << kml.substr(kml.find("Time="), 40);
    }
}

// Hand-edited numbers that do not parse, or lie outside what their field takes, load as their
// defaults: every file of the run stays valid.
TEST_F(EndToEnd, GarbageInEveryNumericKeyStillGivesValidFiles) {
    {
        ts::Settings fresh;
        fresh.loadComplete = true;
        ts::IniStore ini(dir + "defaults.ini");
        ASSERT_TRUE(ts::SaveSettings(fresh, ini));
    }
    std::ofstream(dir + "logo.png") << "only its name is used";
    const std::map<std::string, std::string> fixed = {{"Version", ts::kProgramCaption},
                                                      {"KMLout", "1"},
                                                      {"KMZout", "0"},
                                                      {"GPXout", "1"},
                                                      {"NMEAout", "1"},
                                                      {"CSVout", "1"},
                                                      {"TrackOut", "1"},
                                                      {"PointOut", "1"},
                                                      {"3D_mode", "1"},
                                                      {"AutoRange", "0"},
                                                      {"AutoHeading", "0"},
                                                      {"AutoPos", "0"},
                                                      {"Random", "0"},
                                                      {"OutLimit", "0"},
                                                      {"VisibleOnly", "0"},
                                                      {"LogoFile", dir + "logo.png"}};
    const ts::IniStore defaults(dir + "defaults.ini");
    for (const char* garbage : {"abc", "-99999", "99999"}) {
        std::string text;
        int garbled = 0;
        for (const std::string& sec : defaults.SectionNames()) {
            text += "[" + sec + "]\r\n";
            for (const auto& [key, v] : defaults.ReadSection(sec)) {
                double d;
                std::string value = v;
                if (auto it = fixed.find(key); it != fixed.end()) value = it->second;
                else if (ts::TryStrToFloat(v, d)) value = garbage, ++garbled;
                text += key + "=" + value + "\r\n";
            }
        }
        ASSERT_GT(garbled, 140);
        std::ofstream(dir + "g.ini", std::ios::binary) << text;
        for (const char* ext : {".kml", ".gpx", ".csv", ".nmea"})
            for (const fs::path& f : Made(ext))
                if (f.filename() != "a.nmea") fs::remove(f);
        const RunResult r = RunProgram("'" + dir + "g.ini' /Q '" + dir + "a.nmea'");
        ASSERT_EQ(r.status, 0) << garbage << "\n" << r.out;
        ASSERT_EQ(Made(".kml").size(), 1u) << garbage;
        ASSERT_EQ(Made(".gpx").size(), 1u) << garbage;
        EXPECT_EQ(SchemaErrors(Made(".kml")[0], "kml21"), "") << garbage;
        EXPECT_EQ(SchemaErrors(Made(".gpx")[0], "gpx11"), "") << garbage;
        const std::string kml = ReadBytes(Made(".kml")[0]);
        EXPECT_NE(kml.find("<width>3</width>"), std::string::npos) << garbage;
        EXPECT_NE(kml.find("<tilt>45</tilt>"), std::string::npos) << garbage;
        EXPECT_NE(kml.find("<color>C8"), std::string::npos) << garbage;
    }
}
