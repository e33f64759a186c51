#include "forms/front_end.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "qt_test_app.h"
#include "settings/options_snapshot.h"

using namespace ts;
namespace fs = std::filesystem;

namespace {

// The window's part, kept in memory; settings are the controls.
class FakeView : public ShellView {
public:
    void ReportLine(const std::string& text) override {
        for (const std::string& line : SplitReportLines(text)) {
            lines.push_back(line);
            if (onLine) onLine(line);
        }
    }
    void SetStatus(int panel, const std::string& text) override { status[panel & 1] = text; }
    std::string Status(int panel) const override { return status[panel & 1]; }
    MsgButton MessageDlg(const std::string& text, MsgKind, unsigned, MsgButton def) override {
        messages.push_back(text);
        return def;
    }
    std::string InputText() const override { return input; }
    void SetInputText(const std::string& t) override { input = t; }
    void ClearReport() override { lines.clear(); }
    bool SelectOutputBlocks(BlockTable& blocks, const PointStream&, const TConversionOptions&, int32_t&) override {
        offered.push_back(blocks);
        if (choose) choose(blocks);
        return true;
    }

    int Count(const std::string& line) const { return static_cast<int>(std::count(lines.begin(), lines.end(), line)); }

    std::vector<std::string> lines, messages;
    std::string status[2];
    std::string input;
    std::function<void(const std::string&)> onLine;
    std::vector<BlockTable> offered;  // the block table as each block dialog was shown it
    std::function<void(BlockTable&)> choose;
};

// A reader that "makes" one file for names containing "good" and fails on the others.
int32_t FakeReader(EngineContext& ctx, const std::string& name) {
    if (name.find("good") == std::string::npos) return -1;
    ctx.Report("  Make: " + name + ".kmz      5 records");
    ctx.host.filesMade++;
    return 5;
}
ReaderFn FakeLookup(int kind) { return kind ? FakeReader : nullptr; }

struct FrontEndTest : testing::Test {
    std::string dir;
    ProgramPaths pp;
    FakeView view;
    std::unique_ptr<FrontEnd> fe;
    void SetUp() override {
        dir = ScratchDir("frontend");
        pp = ProgramIn(dir);
        fe = std::make_unique<FrontEnd>(view, pp);
    }
    // A GGA+RMC log of three blocks hours apart, four fixes each, without checksums; only GPX
    // output ticked.
    std::string ThreeBlockLog() {
        std::string log;
        char line[200];
        for (int b = 0; b < 3; ++b)
            for (int i = 0; i < 4; ++i) {
                std::snprintf(line, sizeof line,
                              "$GPGGA,%02d00%02d.00,3500.%04d,N,13900.0000,E,1,08,0.9,100.0,M,40.0,M,,\r\n"
                              "$GPRMC,%02d00%02d.00,A,3500.%04d,N,13900.0000,E,1.0,0.0,160324,,,A\r\n",
                              9 + 5 * b, i * 10, i * 100, 9 + 5 * b, i * 10, i * 100);
                log += line;
            }
        const std::string name = dir + "walk.nmea";
        std::ofstream(name, std::ios::binary) << log;
        TConversionOptions& o = fe->settings.opt;
        o.NMEAout = o.KMZout = o.KMLout = o.CSVout = false;
        o.GPXout = true;
        view.input = name;
        return name;
    }
    int Files(const std::string& ext) const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir)) n += e.path().extension() == ext;
        return n;
    }
};

}  // namespace

TEST_F(FrontEndTest, ListIsTrimmedAndMadeFilesAndFailuresDecideTheExitStatus) {
    fe->readerLookup = FakeLookup;
    view.input = " good1.nmea; b.tks;; ";
    fe->settings.opt.OutDateFormatText = "YY/MM/DD";
    fe->settings.opt.TimeFormatText = "HH:MM:SS";
    fe->ButtonExecClick();
    for (const auto& [line, n] : {std::pair{"Path: " + fs::current_path().string() + "/", 2},
                                  {"File: good1.nmea", 1},
                                  {"File: b.tks", 1},
                                  {"File: ", 0},
                                  {"  *** Error!! ***", 1},
                                  {"*** Made: 1 files ***", 1}})
        EXPECT_EQ(view.Count(line), n) << line;
    EXPECT_EQ(fe->FilesFailed(), 1);
    EXPECT_NE(fe->QuietExitStatus(), 0);
    EXPECT_EQ(fe->settings.opt.OutDateFormatText, "yy/mm/dd");
    EXPECT_EQ(fe->settings.opt.TimeFmt, "hh:nn:ss");
    EXPECT_EQ(fe->settings.opt.TimeFormatText, "HH:MM:SS");

    view.input = "good1.nmea;good2.nmea";
    fe->ButtonExecClick();
    EXPECT_EQ(view.Count("*** Made: 2 files ***"), 1);
    EXPECT_EQ(fe->QuietExitStatus(), 0);
    // Nothing made: no summary line, and an unattended run fails.
    view.input = "missing.nmea";
    fe->ButtonExecClick();
    for (const std::string& l : view.lines) EXPECT_EQ(l.find("*** Made"), std::string::npos);
    EXPECT_NE(fe->QuietExitStatus(), 0);
}

TEST_F(FrontEndTest, ConvertAndDropsAreRefusedWhileABatchRuns) {
    fe->readerLookup = FakeLookup;
    view.input = "good1.nmea;good2.nmea";
    bool convertRefused = false, dropRefused = false;
    view.onLine = [&](const std::string& l) {
        if (l != "File: good1.nmea") return;
        EXPECT_TRUE(fe->Busy());
        convertRefused = !fe->ButtonExecClick();
        dropRefused = !fe->DropFiles({"good9.nmea"});
    };
    fe->ButtonExecClick();
    EXPECT_TRUE(convertRefused);
    EXPECT_TRUE(dropRefused);
    EXPECT_FALSE(fe->Busy());
    EXPECT_EQ(view.input, "good1.nmea;good2.nmea");
    EXPECT_EQ(view.Count("*** Made: 2 files ***"), 1);
}

// The last settings file named wins (an upper-case extension counts); keys it lacks keep the values
// of the earlier one.
TEST_F(FrontEndTest, CommandLineSelectsSettingsQueuesKnownInputsAndRuns) {
    std::ofstream(dir + "prog/x.ini") << "[Option]\r\nKMLout=1\r\n";
    std::ofstream(dir + "b.INI") << "[Option]\r\nCSVout=1\r\n";
    fe->readerLookup = FakeLookup;
    fe->ParseCommandLine({"x.ini", "/q", "good.csv", dir + "b.INI", "b.doc", "-Q", "/X"});
    EXPECT_EQ(fe->SettingsFileName, dir + "b.INI");
    EXPECT_TRUE(fe->settings.opt.KMLout && fe->settings.opt.CSVout);
    EXPECT_TRUE(fe->QuietMode);
    EXPECT_TRUE(view.echoReport);
    EXPECT_EQ(view.input, "good.csv");
    EXPECT_EQ(view.Count("*** Made: 1 files ***"), 1);
    EXPECT_EQ(fe->QuietExitStatus(), 0);
}

TEST_F(FrontEndTest, QuietSwitchWithoutInputLeavesTheProgramOpen) {
    fe->ParseCommandLine({"/Q", "notes.doc"});
    EXPECT_EQ(fe->SettingsFileName, dir + "prog/trailsmith.ini");
    EXPECT_FALSE(fe->QuietMode);
    EXPECT_EQ(view.input, "");
    EXPECT_TRUE(view.lines.empty());
    EXPECT_NE(fe->QuietExitStatus(), 0);
}

TEST_F(FrontEndTest, DroppedIniSavesTheOldFileThenLoadsAndConverts) {
    fe->readerLookup = FakeLookup;
    fe->ParseCommandLine({});
    fe->settings.opt.NMEAout = true;  // a change made in the window
    std::ofstream(dir + "other.ini") << "[Option]\r\nKMZout=0\r\nGPXout=1\r\n";
    EXPECT_TRUE(fe->DropFiles({dir + "other.ini", "good.nmea", "x.doc"}));
    IniStore old(dir + "prog/trailsmith.ini");
    EXPECT_EQ(old.ReadString("Option", "NMEAout", ""), "1");
    EXPECT_EQ(old.ReadString("Option", "Version", ""), kProgramCaption);
    EXPECT_EQ(fe->SettingsFileName, dir + "other.ini");
    EXPECT_TRUE(fe->settings.opt.GPXout);
    EXPECT_FALSE(fe->settings.opt.KMZout);
    EXPECT_EQ(view.input, "good.nmea");
    EXPECT_EQ(view.Count("*** Made: 1 files ***"), 1);
}

TEST_F(FrontEndTest, SettingsFileThatCannotBeMadeIsReportedAndAFileNameKept) {
    std::ofstream(dir + "blocker") << "x";
    pp.exePath = dir + "missing/trailsmith";
    pp.appData = dir + "blocker";
    FrontEnd other(view, pp);
    other.ParseCommandLine({});
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0], "Cannot create : " + dir + "blocker/trailsmith/");
    EXPECT_EQ(other.SettingsFileName, dir + "missing/trailsmith.ini");
    EXPECT_FALSE(other.SaveSettingsFile());
    EXPECT_EQ(view.messages.back(), "Cannot save : " + dir + "missing/trailsmith.ini");
}

// A settings file the user made read-only is kept, without a message.
TEST_F(FrontEndTest, ReadOnlySettingsFileIsKeptSilently) {
    std::ofstream(dir + "prog/trailsmith.ini") << "[Option]\r\nKMLout=1\r\n";
    fs::permissions(dir + "prog/trailsmith.ini", fs::perms::owner_read);
    fe->ParseCommandLine({});
    EXPECT_TRUE(fe->settings.opt.KMLout);
    EXPECT_FALSE(fe->SaveSettingsFile());
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(IniStore(dir + "prog/trailsmith.ini").ReadString("Option", "Version", "none"), "none");
}

// Three steps of the unit cycle bring every converted value back to its text.
TEST(OptionsSnapshot, UnitCycleReturnsToTheSameValues) {
    Settings s;
    s.opt.OverSpeed2 = "50";
    s.opt.MovingDist = "30.0";
    s.opt.GeoidValue = "12.50";
    s.opt.GroundLevelValue = "3.00";
    ReadReduceDialog(s);
    CycleSpeedUnit(s);
    EXPECT_EQ(s.opt.SpeedUnit, "mph");
    EXPECT_EQ(s.opt.OverSpeed2, "31.1");
    EXPECT_EQ(s.opt.GeoidValue, "41.01");
    EXPECT_EQ(s.opt.GroundLevelValue, "9.84");
    EXPECT_EQ(s.ReduceCaption, "Reduce (98.4ft or 10.0s)");
    CycleSpeedUnit(s);
    CycleSpeedUnit(s);
    EXPECT_EQ(s.opt.SpeedUnit, "km/h");
    EXPECT_EQ(s.opt.OverSpeed2, "50.0");
    EXPECT_EQ(s.opt.MovingDist, "30.0");
    EXPECT_EQ(s.opt.GroundLevelValue, "3.00");
    EXPECT_EQ(s.opt.GeoidCaption, "12.50 m");
}

TEST(OptionsSnapshot, SnapshotDerivesAndWritesCorrectionsBack) {
    Settings s;
    s.opt.SplitIT = "abc";
    s.opt.SpeedUnit = "Km/h";
    s.opt.LocalTimeOffset = " 09:00:00";
    TConversionOptions o;
    TakeSnapshot(s, o);
    EXPECT_EQ(s.opt.SplitIT, "0.25");
    EXPECT_EQ(s.opt.SpeedUnit, "kt");
    EXPECT_DOUBLE_EQ(o.SpeedFactor, 1.0);
    EXPECT_DOUBLE_EQ(o.TimeOffset, -0.375);
    EXPECT_EQ(o.OutDateFormat, "yyyy/mm/dd");
}

namespace {
double g_seenHeight = 0;
std::string g_seenCaption;
int32_t GeoidProbe(EngineContext& ctx, const std::string&) {
    g_seenHeight = ctx.GeoidHeight(35.0, 139.0);
    g_seenCaption = ctx.opt.GeoidCaption;
    return 0;
}
}  // namespace

TEST_F(FrontEndTest, TheBatchOpensTheChosenGeoidModelForTheReaders) {
    fe->readerLookup = [](int) -> ReaderFn { return GeoidProbe; };
    fe->settings.opt.GeoidApply = true;
    fe->settings.opt.GeoidModel = 0;
    fe->settings.opt.GeoidValue = "36.5";
    view.input = "a.nmea";
    fe->ButtonExecClick();
    EXPECT_EQ(g_seenHeight, 36.5);
    EXPECT_EQ(g_seenCaption, "36.50 m");
}

TEST_F(FrontEndTest, TheNextConvertOffersTheSameLogsBlockChoiceAgain) {
    ThreeBlockLog();
    fe->settings.opt.OutLimit = true;
    const double tenSeconds = 10.0 / 86400;
    view.choose = [&](BlockTable& b) {
        b[1].Output = false;
        b[2].RangeFirst = b[2].First + 1;
        b[2].RangeStart = b[2].StartTime + tenSeconds;
    };
    fe->ButtonExecClick();
    EXPECT_EQ(view.Count("*** Made: 2 files ***"), 1);

    view.choose = nullptr;
    fe->ButtonExecClick();
    ASSERT_EQ(view.offered.size(), 2u);
    const BlockTable& again = view.offered[1];
    ASSERT_EQ(again.Count(), 3);
    EXPECT_TRUE(again[0].Output && !again[1].Output && again[2].Output);
    EXPECT_EQ(again[0].RangeFirst, again[0].First);
    EXPECT_EQ(again[2].RangeFirst, again[2].First + 1);
    EXPECT_EQ(again[2].RangeStart, again[2].StartTime + tenSeconds);
    EXPECT_EQ(again[2].RangeEnd, again[2].EndTime);
    // A new batch replaces the files of the previous one.
    EXPECT_EQ(view.Count("*** Made: 2 files ***"), 1);
    EXPECT_EQ(Files(".gpx"), 2);

    // A log and its geoid-corrected copy in one batch: the copy's files get numbered names.
    fs::copy_file(dir + "walk.nmea", dir + "walk_g.nmea");
    view.input = dir + "walk.nmea;" + dir + "walk_g.nmea";
    fe->settings.opt.OutLimit = false;
    fe->ButtonExecClick();
    EXPECT_EQ(view.Count("*** Made: 6 files ***"), 1);
    EXPECT_EQ(view.Count("  Make: 2024-03-16_09-00-00(2).gpx       4 records"), 1);
    EXPECT_EQ(Files(".gpx"), 7);  // with the one the first choice named after its block's second point
}

TEST_F(FrontEndTest, QuotedTextInTheDateFormatKeepsItsCaseAndEnds) {
    ThreeBlockLog();
    // Lower case outside the quotes only; an unclosed quote runs to the end of the date format, and
    // the time still follows it.
    const std::pair<const char*, const char*> cases[] = {
        {"'Day' DD \"Of\" MMMM YYYY", "Day 16 Of March 2024_14-00-00.gpx"},
        {"YYYY/MM/DD 'Walk", "2024-03-16 Walk_14-00-00.gpx"},
    };
    for (const auto& [format, name] : cases) {
        fe->settings.opt.OutDateFormatText = format;
        fe->ButtonExecClick();
        EXPECT_EQ(view.Count(std::string("  Make: ") + name + "       4 records"), 1) << format;
    }
    EXPECT_EQ(fe->settings.opt.OutDateFormatText, "yyyy/mm/dd 'Walk");
    EXPECT_EQ(DateFormatForOutput("D'M'\"x'Y\"M"), "d'M'\"x'Y\"m");
}

// An out-of-range decimals setting is repaired in the settings themselves, so that it is saved so.
TEST_F(FrontEndTest, RepairedDecimalsAreKeptInTheSettings) {
    ThreeBlockLog();
    fe->settings.opt.GpxLatLonDecimal = "9";
    fe->settings.opt.GpxAltDecimal = "2";
    fe->ButtonExecClick();
    EXPECT_EQ(view.Count("*** Made: 3 files ***"), 1);
    EXPECT_EQ(fe->settings.opt.GpxLatLonDecimal, "6");
    EXPECT_EQ(fe->settings.opt.GpxAltDecimal, "2");
    fe->SettingsFileName = dir + "kept.ini";
    ASSERT_TRUE(fe->SaveSettingsFile());
    EXPECT_EQ(IniStore(dir + "kept.ini").ReadString("GPXopt", "LatLonDecimal", ""), "6");
}

// A decimals setting loaded out of range reaches the writer as stored, which repairs it to the
// middle of its range; the repair is what the settings then save.
TEST_F(FrontEndTest, DecimalsLoadedOutOfRangeAreRepairedByTheWriter) {
    std::ofstream(dir + "d.ini") << "[GPXopt]\r\nLatLonDecimal=9\r\n";
    fe->UseSettingsFile(dir + "d.ini");
    ThreeBlockLog();
    fe->ButtonExecClick();
    EXPECT_EQ(view.Count("*** Made: 3 files ***"), 1);
    ASSERT_TRUE(fe->SaveSettingsFile());
    EXPECT_EQ(IniStore(dir + "d.ini").ReadString("GPXopt", "LatLonDecimal", ""), "6");
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".gpx") {  // each block starts at 35 N 139 E
            EXPECT_NE(ReadBytes(e.path().string()).find("lat=\"35.000000\" lon=\"139.000000\""), std::string::npos);
        }
}

// The open button's choice moves only where the dialog starts next; the saved DataPath stays.
TEST_F(FrontEndTest, OpenedFilesMoveTheDialogNotTheDataPath) {
    std::ofstream(dir + "o.ini") << "[Option]\r\nDataPath=/data/logs/\r\n";
    fe->UseSettingsFile(dir + "o.ini");
    EXPECT_EQ(fe->settings.OpenDir, "/data/logs/");
    fe->SetInputFiles({dir + "sub/a.nmea", dir + "b.nmea"});
    EXPECT_EQ(view.input, dir + "sub/a.nmea;" + dir + "b.nmea");
    EXPECT_EQ(fe->settings.OpenDir, dir + "sub/");
    ASSERT_TRUE(fe->SaveSettingsFile());
    EXPECT_EQ(IniStore(dir + "o.ini").ReadString("Option", "DataPath", ""), "/data/logs/");
}

// A grid that cannot be opened falls back to the fixed value, and the settings save that, with
// the geoid box ticked or not.
TEST_F(FrontEndTest, AGridThatCannotOpenIsSavedAsTheFixedValue) {
    for (bool ticked : {false, true}) {
        SCOPED_TRACE(ticked);
        fe->SettingsFileName = dir + "g.ini";
        fe->settings.GeoidModelText = "EGM2008 1'x1'";
        fe->settings.opt.GeoidModel = 2;
        fe->settings.opt.GeoidApply = ticked;
        fe->settings.opt.GeoidFolder = dir + "no-grids/";
        view.input.clear();
        fe->ButtonExecClick();
        EXPECT_EQ(fe->settings.GeoidModelText, "Fixed value");
        ASSERT_TRUE(fe->SaveSettingsFile());
        EXPECT_EQ(IniStore(dir + "g.ini").ReadString("Geoid", "GeoidModel", ""), "Fixed value");
    }
}

using FirstActivationTest = MainWindowTest;

// With the geoid box unticked the first activation takes the fixed geoid value, whatever model the
// file names; ticked, the file's model stays.
TEST_F(FirstActivationTest, UntickedGeoidBoxTakesTheFixedValue) {
    for (const char* apply : {"0", "1"}) {
        std::ofstream(dir + "prog/trailsmith.ini")
            << "[Geoid]\r\nGeoidModel=EGM2008 1'x1'\r\nApply=" << apply << "\r\n";
        Start();
        EXPECT_EQ(S().opt.GeoidModel, *apply == '0' ? 0 : 2) << apply;
        form->close();
        form.reset();
    }
}
