#include "readers/csv_profiles.h"
#include "reader_test_util.h"

namespace ts {
namespace {

using test::TempFile;

// Runs the header analysis on a file of the given lines.
struct Header {
    TConversionOptions o;
    CsvHeader h;
    bool found = false;
    std::string next;  // the line after the header
    void Analyse(const std::string& text) {
        TempFile f(text, ".csv");
        LineReader file;
        ASSERT_TRUE(file.Open(f.path()));
        found = AnalyseCsvHeader(o, file, h);
        std::string_view line;
        next = file.ReadLine(line) ? std::string(line) : std::string("<end>");
    }
};

// The fields view into the line, so both are kept together.
struct Split {
    explicit Split(std::string s) : line(std::move(s)) { SplitCsvLine(line, fields); }
    Split(const Split&) = delete;
    std::string line;
    CsvFields fields;
};

TEST(CsvProfiles, SplitKeepsTheRestOfALongLineInTheLastField) {
    std::string line;
    for (int i = 1; i <= 30; ++i) line += (i > 1 ? "," : "") + std::to_string(i);
    const Split s(line);
    const CsvFields& f = s.fields;
    ASSERT_EQ(f.Count, 25);
    EXPECT_EQ(f.f[23], "24");
    EXPECT_EQ(f.f[24], "25,26,27,28,29,30");

    const Split sg(" a ,\tb\t, ,");
    const CsvFields& g = sg.fields;
    ASSERT_EQ(g.Count, 4);
    EXPECT_TRUE(g.f[0] == "a" && g.f[1] == "b" && g.f[2] == "" && g.f[3] == "");
    EXPECT_EQ(Split("").fields.Count, 0);
    EXPECT_EQ(g.Field(5), "");  // past the row's end: empty, never stale

    std::array<std::string, 6> o;
    EXPECT_EQ(SplitCsv6("0, 1 ,\"a,b\"c,3", o), 4);
    EXPECT_TRUE(o[1] == "1" && o[2] == "a,bc" && o[3] == "3" && o[4] == "");
    EXPECT_EQ(SplitCsv6("1,2,3,4,5,6,7", o), 6);
    EXPECT_EQ(SplitCsv6("\"unclosed", o), 1);
    EXPECT_EQ(o[0], "unclosed");
}

TEST(CsvProfiles, HeaderIsLookedForInTheFirstFiveLines) {
    const std::string header = "Date,Time,Latitude,N/S,Longitude,E/W\r\n";
    Header a;
    a.Analyse("title\r\nmore\r\n" + header + "row\r\n");
    EXPECT_TRUE(a.found);
    EXPECT_EQ(a.next, "row");
    EXPECT_TRUE(a.h.map[ciDate] == 1 && a.h.map[ciNS] == 4 && a.h.map[ciEW] == 6 && a.h.map[ciHeight] == 0);

    Header b;
    b.Analyse("1\r\n2\r\n3\r\n4\r\n5\r\n" + header);
    EXPECT_FALSE(b.found);
    EXPECT_EQ(b.h.CsvProfileName, "Default");
}

TEST(CsvProfiles, TheFirstProfileScoringEightyIsChosenAndApplied) {
    Header a;
    a.o.CsvInfoList = {{"Other", "X,Y,Z"}, {"GT-730FL-S", "Date / Time,Altitude,Ground Speed"}};
    a.o.CsvOptionList = {{"Default", "1,0,0"}, {"GT-730FL-S", "0,1,0,2,0,1"}};
    a.Analyse("Index,Date / Time,Latitude,Longitude,Altitude,Ground Speed\r\n");
    EXPECT_EQ(a.h.CsvProfileName, "GT-730FL-S");
    const CsvProfileOptions& x = a.h.options;
    EXPECT_TRUE(!x.CsvAddTimeOffset && x.CsvHeightsAboveGeoid && x.CsvSpeedUnit == 2 && x.CsvRepeatFlagsInterest);

    Header b;
    b.o.CsvInfoList = a.o.CsvInfoList;
    b.o.CsvOptionList = a.o.CsvOptionList;
    b.Analyse("Date / Time,Latitude,Longitude,Altitude\r\n");
    EXPECT_EQ(b.h.CsvProfileName, "Default");
    EXPECT_TRUE(b.h.options.CsvAddTimeOffset);

    const Split s("DATE / TIME,ALTITUDE,LATITUDE");
    const CsvFields& f = s.fields;
    EXPECT_EQ(CsvHeaderScore(f, "DATE / TIME,ALTITUDE,GROUND SPEED"), 66);
    EXPECT_EQ(CsvHeaderScore(f, ""), 0);
    EXPECT_EQ(CsvHeaderScore(Split("A,A").fields, "A"), 200);  // a repeated name counts twice
}

TEST(CsvProfiles, NumberAndCoordinateFields) {
    EXPECT_EQ(CsvNumberValue("12.5 km/h"), 12.5);
    EXPECT_EQ(CsvNumberValue("N35.5"), 35.5);
    for (const std::string& bad : {std::string(), std::string("1.2.3"), std::string("-"), std::string(400, '9')})
        EXPECT_EQ(CsvNumberValue(bad), 0);  // 400 nines: out of range, no value rather than infinity
    EXPECT_EQ(CsvNumberValue("0." + std::string(100, '0') + "5"), 5e-101);
    EXPECT_EQ(CsvLeadingInteger("8(12)"), 8);
    EXPECT_EQ(CsvLeadingInteger("(12)"), 0);
    EXPECT_EQ(CsvLeadingInteger("99999999999"), 0);
    EXPECT_EQ(CsvCoordToDegrees("0.5W"), -0.5);
    EXPECT_EQ(CsvCoordToDegrees("South 33.9"), -33.9);
}

TEST(CsvProfiles, FixTypeTexts) {
    // (text, estimated accepted, code); "258" is an 8-bit value; a text that is neither a fix type
    // nor a number says nothing about the fix.
    const std::tuple<const char*, bool, int> cases[] = {{"", false, 0},
                                                        {"D", false, 2},
                                                        {"ESTIMATED", true, 6},
                                                        {"Estimated mode", false, 0},
                                                        {"Estimated mode", true, 6},
                                                        {"1", false, 1},
                                                        {"0", false, 0},
                                                        {"6", false, 0},
                                                        {"258", false, 2},
                                                        {"Unknown", false, 1},
                                                        {"Simulator mode", false, 1}};
    for (const auto& [text, est, code] : cases) EXPECT_EQ(CsvFixTypeCode(text, est), code) << text << est;
    // The CSV writer's texts read back to their codes.
    const char* written[] = {
        "No fix", "SPS", "DGPS", "PPS", "RTK", "FRTK", "Estimated (dead reckoning)", "Manual input mode", "Simulator"};
    for (int q = 0; q <= 8; ++q) {
        EXPECT_EQ(CsvFixTypeCode(written[q], true), q) << q;
        EXPECT_EQ(CsvFixTypeCode(written[q], false), q == 6 ? 0 : q) << q;
    }
}

TEST(CsvProfiles, VoidFixTextsAreNoFix) {
    for (const char* t : {"V", "v", "Invalid", "INVALID FIX", "NoFix", "no fix"})
        EXPECT_EQ(CsvFixTypeCode(t, true), 0) << t;
    for (const char* t : {"Unknown", "A", "Valid"}) EXPECT_EQ(CsvFixTypeCode(t, true), 1) << t;
}

// Only texts that say no fix are void; words that merely begin with "No" say nothing about it.
TEST(CsvProfiles, VoidFixTextsAreWholeWords) {
    for (const char* t : {"NO", "none", "NONE", "No_Fix", "NO-FIX", "nofix3d", "Not fixed", "NOT", "no signal",
                          "Non-fix", "NON FIX", "Nonfix", "non_fix", "NON"})
        EXPECT_EQ(CsvFixTypeCode(t, true), 0) << t;
    for (const char* t : {"Normal", "NORMAL", "North", "Nominal", "Notable", "Nonexistent"})
        EXPECT_EQ(CsvFixTypeCode(t, true), 1) << t;
}

}  // namespace
}  // namespace ts
