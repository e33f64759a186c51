
#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

struct CsvWriter : WriterTest {
    int32_t Write(const std::string& input = "") {
        return WriteCsv(Fresh(ctx), dir.Folder(), input.empty() ? dir.Folder() + "in.nmea" : input);
    }
    // Python's reading of the only CSV file, one row a line.
    std::vector<std::string> Rows() {
        const std::vector<std::string> files = FilesWithExt(dir, ".csv");
        EXPECT_EQ(files.size(), 1u);
        if (files.empty()) return {};
        std::string out;
        EXPECT_EQ(ReadCsvWithPython(dir.path / files[0], &out), 0) << out;
        return Lines(out);
    }
};

TLogData Full(double t, double lat, double lon) {
    TLogData p = Pt(t, lat, lon, 100, 10);
    p.Temperature = 21.0f;
    p.Pressure = 1013.25f;
    p.PressureAlt = 123.44f;
    p.GeoidSep = 36.7f;
    return p;
}

TEST_F(CsvWriter, DefaultColumnsReadByPython) {
    std::vector<TLogData> pts;
    for (int q = 0; q <= 9; ++q) {
        pts.push_back(Full(T(2024, 3, 16, 3, 25, 9 + q), 35.5, 139.25));
        pts.back().FixQuality = static_cast<uint8_t>(q);
    }
    pts[1].Flags = InterestPoint;
    pts[2].Flags = VoicePoint;
    pts[3].Flags = InterestPoint | VoicePoint;
    pts[4].Flags = TimeRecord | InterestPoint;
    pts[5].Hdop10 = 0;  // as binary logs store them
    pts[5].Sats = 99;
    pts[6].Alt = pts[6].Speed = kNaN;
    pts[6].Temperature = pts[6].Pressure = pts[6].PressureAlt = kNaNf;
    pts[7].Time += 5 * kOneMs;
    AddBlock(ctx, pts);
    ASSERT_EQ(Write(), 10);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"2024-03-16_03-25-09.csv"});
    const std::vector<std::string> r = Rows();
    ASSERT_EQ(r.size(), 11u);
    EXPECT_EQ(r[0], "RCR|TIME|VALID|LATITUDE|LONGITUDE|HEIGHT|SPEED|HDOP|NSAT|TEMPERATURE|BAROMETER|PRESSURE ALTITUDE");
    EXPECT_EQ(r[1], "T|2024/03/16 03:25:09.000|No fix|35.5000000|139.2500000|100.000|18.520|1.2|7|21|1013.3|123.4|");
    const char* const rcr[] = {"T", "B", "V", "BV", "TB"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(r[1 + i].substr(0, r[1 + i].find('|')), rcr[i]);
    const char* const valid[] = {
        "No fix",    "SPS",   "DGPS", "PPS", "RTK", "FRTK", "Estimated (dead reckoning)", "Manual input mode",
        "Simulator", "No fix"};
    for (int q = 0; q <= 9; ++q) {
        const std::string& row = r[1 + q];
        const size_t a = row.find('|', row.find('|') + 1) + 1;
        EXPECT_EQ(row.substr(a, row.find('|', a) - a), valid[q]);
    }
    EXPECT_EQ(r[6], "T|2024/03/16 03:25:14.000|FRTK|35.5000000|139.2500000|100.000|18.520|||21|1013.3|123.4|");
    EXPECT_EQ(r[7], "T|2024/03/16 03:25:15.000|Estimated (dead reckoning)|35.5000000|139.2500000|||1.2|7||||");
    EXPECT_EQ(r[8].substr(0, 27), "T|2024/03/16 03:25:16.005|M");
}

// Letters beyond ASCII go out whole, so that the file stays UTF-8.
TEST_F(CsvWriter, RecordTypeLettersKeepTheirWholeCharacter) {
    std::vector<TLogData> pts;
    for (int i = 0; i < 3; ++i) pts.push_back(Full(T(2024, 3, 16, 3, 25, 9 + i), 35.5, 139.25));
    pts[0].Flags = InterestPoint;
    pts[1].Flags = VoicePoint;
    pts[2].Flags = InterestPoint | VoicePoint;
    AddBlock(ctx, pts);
    ctx.opt.Interest = "\xC3\xA9";       // e acute
    ctx.opt.Interest2 = "\xE2\x82\xAC";  // euro sign
    ASSERT_EQ(Write(), 3);
    const std::vector<std::string> files = FilesWithExt(dir, ".csv");
    ASSERT_EQ(files.size(), 1u);
    const std::vector<std::string> rows = Lines(ReadFile((dir.path / files[0]).string()));
    ASSERT_EQ(rows.size(), 4u);
    const char* const rcr[] = {"\xC3\xA9,", "\xE2\x82\xAC,", "\xC3\xA9\xE2\x82\xAC,"};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rows[1 + i].substr(0, std::string(rcr[i]).size()), rcr[i]) << i;
}

TEST_F(CsvWriter, OptionalColumnsAndTheDateSeparator) {
    std::vector<TLogData> pts = {Full(T(2024, 3, 16, 3, 25, 9), -33.5, -70.25), Full(0.5, 33.5, 70.25)};
    AddBlock(ctx, pts);
    ctx.opt.Index = true;
    ctx.opt.DateTime = false;
    ctx.opt.SNEW = true;
    ctx.opt.CsvGeoid = true;
    // The user's date format with a comma leaves the columns alone.
    ctx.opt.DateAutoFormat = false;
    ctx.opt.OutDateFormatText = "yyyy,mm,dd";
    ctx.locale.UserDateSep = ',';
    ctx.opt.CsvLatLonDecimal = "3";  // out of range: the midpoint, 6
    ASSERT_EQ(Write(), 2);
    EXPECT_EQ(ctx.opt.CsvLatLonDecimal, "6");
    const std::vector<std::string> r = Rows();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0],
              "INDEX|RCR|DATE|TIME|VALID|LATITUDE|N/S|LONGITUDE|E/W|HEIGHT|SPEED|HDOP|NSAT|TEMPERATURE|"
              "BAROMETER|PRESSURE ALTITUDE|GEOID");
    EXPECT_EQ(r[1],
              "1|T|2024/03/16|03:25:09.000|SPS|33.500000|S|70.250000|W|100.000|18.520|1.2|7|21|1013.3|123.4|36.700|");
    // A time of day without a date has an empty date.
    EXPECT_EQ(r[2], "2|T||12:00:00.000|SPS|33.500000|N|70.250000|E|100.000|18.520|1.2|7|21|1013.3|123.4|36.700|");
}

TEST_F(CsvWriter, CsvInputIsRefusedOncePerFile) {
    AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 3));
    AddBlock(ctx, Walk(T(2024, 3, 16, 12, 0, 0), 3));
    EXPECT_EQ(Write(dir.Folder() + "log.CSV"), -1);
    EXPECT_TRUE(dir.Files().empty());
    const std::string name = dir.Folder() + "2024-03-16_09-00-00.csv";
    EXPECT_EQ(host.messages,
              std::vector<std::string>{"Can't create: " + name + "\r\n Extension name of input and output is CSV."});
    EXPECT_EQ(host.lines,
              (std::vector<std::string>{"  Can't create: " + name, "   Extension name of input and output is CSV."}));
}

}  // namespace
}  // namespace ts
