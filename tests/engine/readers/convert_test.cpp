#include "writer_test_util.h"

using namespace ts;

TEST(DetectInputKind, KindTable) {
    TConversionOptions o;
    EXPECT_EQ(DetectInputKind(o, "x.log"), ikBarometer);
    o.UseBarometer = false;
    // No extension, an unknown one, or a folder with a dot: no reader.
    const std::pair<const char*, int> kinds[] = {
        {"/x/track.NMEA", ikNmea}, {"a.nme", ikNmea}, {"x.log", ikNmea},         {"x.tks", ikTks},
        {"x.TXT", ikRbt3000},      {"x.csv", ikCsv},  {"x.tk1", ikTk1},          {"x.tk2", ikTk2},
        {"x.tk3", ikTk3},          {"x.TES", ikTes},  {"x.trl", ikM241},         {"x.nma", ikTripMate},
        {"track", ikNone},         {"x.gpx", ikNone}, {"/a.nmea/track", ikNone}, {"x.", ikNone},
        {"x.nm", ikNone}};
    for (const auto& [name, kind] : kinds) EXPECT_EQ(DetectInputKind(o, name), kind) << name;
    // An empty mask does not shift the others; an extension listed twice resolves to its first entry.
    o.WBTmask = "";
    o.Holuxmask = "*.csv";
    for (const auto& [name, kind] :
         {std::pair{"x.txt", ikRbt3000}, {"x.nma", ikTripMate}, {"x.tks", ikNone}, {"x.csv", ikCsv}})
        EXPECT_EQ(DetectInputKind(o, name), kind) << name;
}

namespace {

std::vector<std::string> g_calls;
int32_t g_nextResult = 0;
bool g_askReport = false, g_writerFailed = false;

int32_t FakeReader(EngineContext& ctx, const std::string& name) {
    g_calls.push_back(std::to_string(ctx.inputKind) + ":" + name);
    if (g_nextResult > 0) ctx.host.filesMade++;
    return g_nextResult;
}
int32_t NotRbtReader(EngineContext& ctx, const std::string& name) {
    g_calls.push_back("rbt:" + std::to_string(ctx.inputKind) + ":" + name);
    return -2;
}
ReaderFn Lookup(int kind) {
    if (kind == ikRbt3000) return NotRbtReader;
    return kind == ikNone ? nullptr : FakeReader;
}

struct DriverTest : ::testing::Test {
    RecordingHost host;
    EngineContext ctx{host};
    void SetUp() override {
        g_calls.clear();
        g_nextResult = 0;
        ctx.readerLookup = Lookup;
    }
};

}  // namespace

TEST_F(DriverTest, BlankNameWritesOnlyTheHeader) {
    host.status[1] = "from the last file";
    ConvertFile(ctx, "   ");
    EXPECT_EQ(host.status[1], "");
    ASSERT_EQ(host.lines.size(), 2u);
    EXPECT_EQ(host.lines[0], "Path: ");
    EXPECT_EQ(host.lines[1], "File:    ");
    EXPECT_TRUE(g_calls.empty());
}

// The status and last report line of each kind of result; the reader's own message stays in the
// error status, a report the reader asked for is shown once the file is done, and an earlier
// writer's failure is not hidden by a later writer's success.
TEST_F(DriverTest, StatusOfEachResultAndTheReportAtTheEnd) {
    struct Case {
        int32_t result;
        bool ask, failed;
        const char *status, *line;
    };
    const Case cases[] = {{-1, true, false, " <<Error!!>>   Can not open: a.nmea", "  *** Error!! ***"},
                          {0, false, false, " a.nmea  *** No data ***", "  *** No data ***"},
                          {3, true, false, "  *** Completed: a.nmea  3 records ***  1 file", nullptr},
                          {5, false, true, nullptr, "  *** Error!! ***"}};
    for (const Case& c : cases) {
        RecordingHost h;
        EngineContext x{h};
        g_nextResult = c.result;
        g_askReport = c.ask, g_writerFailed = c.failed;
        x.readerLookup = [](int) -> ReaderFn {
            return [](EngineContext& e, const std::string& name) {
                e.host.SetStatus(0, "  Can not open: " + ExtractFileName(name));
                e.host.showReportAtEnd = g_askReport;
                e.writerFailed = g_writerFailed;
                if (g_nextResult > 0) e.host.filesMade++;
                return g_nextResult;
            };
        };
        ConvertFile(x, "/d/a.nmea");
        ASSERT_GE(h.lines.size(), 3u);
        EXPECT_EQ(h.status[0], c.status ? c.status : h.status[0]);
        EXPECT_EQ(h.lines[h.lines.size() - 2], c.line ? c.line : h.lines[h.lines.size() - 2]) << c.result;
        EXPECT_EQ(h.reportShown, c.ask ? 1 : 0) << c.result;
    }
}

TEST_F(DriverTest, TxtFilesThatAreNotRbtLogsAreReadAsNmea) {
    g_nextResult = 3;
    ConvertFile(ctx, "/d/walk.txt");
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0], "rbt:3:/d/walk.txt");
    EXPECT_EQ(g_calls[1], "3:/d/walk.txt");  // the kind stays 3
    EXPECT_EQ(host.lines[2], "Try NMEA mode :");

    // With another extension for those logs there is no second try.
    g_calls.clear();
    ctx.opt.RBTmask = "*.rbt";
    ConvertFile(ctx, "/d/walk.rbt");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(host.lines.back(), "");
    EXPECT_EQ(host.lines[host.lines.size() - 2], "  *** Error!! ***");
}

TEST_F(DriverTest, PostFixSwitchesGeoidCorrectionOff) {
    ctx.opt.GeoidApply = true;
    ConvertFile(ctx, "/d/walk_g.nmea");
    EXPECT_FALSE(ctx.geoidCorrection);
    ConvertFile(ctx, "/d/walk_G.nmea");
    EXPECT_TRUE(ctx.geoidCorrection);
    ctx.opt.PostFix = "";
    ConvertFile(ctx, "/d/walk_g.nmea");
    EXPECT_TRUE(ctx.geoidCorrection);
}
