// A log cut short while it is read is not a shorter log: the reader fails, says why, and makes no
// output; a log that grows meanwhile reads on.
#include <unistd.h>

#include "reader_test_util.h"

namespace ts {
namespace {

namespace fs = std::filesystem;

void Cut(const std::string& path, uint64_t size) { ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0); }

TEST(LogCut, LineReaderAndChunkedFeedTellACutFromAnEnd) {
    std::string text;
    for (int i = 0; i < 40000; ++i) text += "line " + std::to_string(i) + "\n";
    test::TempFile f(text, ".txt");
    LineReader r;
    ASSERT_TRUE(r.Open(f.path()));
    std::string_view l;
    ASSERT_TRUE(r.ReadLine(l));
    Cut(f.path(), text.size() / 2);
    while (r.ReadLine(l)) {}
    EXPECT_TRUE(r.Failed());
    EXPECT_EQ(r.FailReason(), "changed while being read");

    // The feed measures against the size the reader opened.
    ChunkedLineFeed feed;
    ASSERT_TRUE(r.Rewind());
    ASSERT_TRUE(feed.Start(r, 2, 4096, [](ChunkedLineFeed::Chunk&, unsigned) {}));
    while (feed.Next()) {}
    EXPECT_TRUE(feed.Failed());
    EXPECT_EQ(feed.FailReason(), "changed while being read");

    // Grown after opening: read to the new end, no failure.
    ASSERT_TRUE(r.Open(f.path()));
    std::ofstream(f.path(), std::ios::app) << "more\n";
    int lines = 0;
    while (r.ReadLine(l)) ++lines;
    EXPECT_FALSE(r.Failed());
    EXPECT_EQ(l, "more");
    EXPECT_EQ(ReadFailReason(EIO), "Input/output error");
}

TEST(LogCut, RecordFileCutUnderTheReader) {
    test::TempFile f(std::string(16 * 10000, '\0'), ".tks");
    RecordFile file;
    ASSERT_TRUE(file.Open(f.path()));
    file.SetDataArea(0, file.Size());
    unsigned char rec[RecordFile::kRecordSize];
    ASSERT_TRUE(file.NextRecord(rec));
    Cut(f.path(), 16 * 5000 + 3);
    EXPECT_THROW(
        {
            while (file.NextRecord(rec)) {}
        },
        ReadError);
}

// A power loss cuts a text log inside its last row or record. Cut there at every byte, the log reads
// to the whole log's points, the last one whole or left out (a CSV row left out is reported).
TEST(LogCut, TextLogsCutInsideTheirLastRowOrRecord) {
    const std::string own =
        "DATE,TIME,LATITUDE,N/S,LONGITUDE,E/W,HEIGHT\r\n2024/03/16,12:00:00,35.611,N,139.722,E,98,\r\n"
        "2024/03/16,12:00:01,35.734,N,139.933,E,105,\r\n";  // rows as the CSV writer ends them
    const std::tuple<ReaderFn, int, std::string, std::string> kinds[] = {
        {ReadRbt3000File, ikRbt3000, ".txt",
         test::kRbtHead + test::RbtRec(0, 35.5) + test::RbtRec(20, 35.61, "", true, 139.73)},
        {ReadCsvLogFile, ikCsv, ".csv", testing::ReadFile(TS_SHARED_DIR "/testdata/iblue747.csv")},
        {ReadCsvLogFile, ikCsv, ".csv", own}};
    for (const auto& [reader, kind, ext, log] : kinds) {
        test::Reading whole;
        whole.ctx.inputKind = kind;
        whole.ReadBytes(reader, log, ext);
        const int32_t n = whole.ctx.points.Count();
        const size_t last = kind == ikCsv ? log.rfind('\n', log.size() - 2) + 1 : log.rfind("Record:");
        for (size_t size = last; size < log.size(); ++size) {
            test::Reading r;
            r.ctx.inputKind = kind;
            r.ReadBytes(reader, log.substr(0, size), ext);
            const int32_t got = r.ctx.points.Count();
            ASSERT_TRUE(n >= 2 && (got == n || got == n - 1)) << ext << " cut at " << size << ": " << got;
            for (int32_t i = 0; i < got; ++i)
                ASSERT_EQ(test::Describe(r.P(i)), test::Describe(whole.P(i))) << ext << " cut at " << size;
            if (kind == ikCsv) {
                EXPECT_EQ(r.Lines("  Damaged row was disregarded: "), got < n && size > last) << size;
            }
        }
    }
}

// Cuts the log in half at the first pump of the read pass.
struct CuttingHost : test::TestHost {
    std::string path;
    uint64_t size = 0;
    bool cut = false;
    void ProcessMessages() override {
        if (!cut && Status(0).find("Reading NMEA file") != std::string::npos) {
            cut = true;
            Cut(path, size / 2);
        }
    }
};

TEST(LogCut, NmeaReaderOnBothRoadsMakesNoOutput) {
    struct Restore {
        NmeaThreading saved = NmeaReadThreading();
        ~Restore() { NmeaReadThreading() = saved; }
    } restore;
    const std::string sample = testing::ReadFile(TS_SHARED_DIR "/testdata/sample.nmea");
    std::string text;
    while (text.size() < 1000000) text += sample;
    for (int road = 0; road < 2; ++road) {
        NmeaReadThreading() = road == 0 ? NmeaThreading() : NmeaThreading{0, 2, 4096};
        const std::string dir = ProcessTempDir() + "cut" + std::to_string(road) + "/";
        fs::create_directories(dir);
        std::ofstream(dir + "log.nmea", std::ios::binary) << text;
        CuttingHost host;
        host.path = dir + "log.nmea";
        host.size = text.size();
        EngineContext ctx{host};
        ctx.opt.KMZout = false;
        ctx.opt.GPXout = true;
        DeriveOptions(ctx.opt);
        ctx.inputKind = ikNmea;
        EXPECT_EQ(ReadNmeaFile(ctx, dir + "log.nmea"), -1) << road;
        EXPECT_TRUE(host.cut);
        EXPECT_TRUE(testing::HasLine(host, "  Can not read: log.nmea (changed while being read)")) << road;
        EXPECT_EQ(host.status[0], "  Can not read: log.nmea (changed while being read)");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << road;
    }
}

// A power loss cuts the last line of a log anywhere. In a log whose sentences carry checksums the
// cut sentence gives nothing: every point is the uncut log's, but the last may lack what the cut
// sentence gave (and take its speed from the track). Each kind of log that reads NMEA, both orders,
// cut at every byte of the last line, on both roads. A log joined on that was written without
// checksums is read whole.
TEST(LogCut, NmeaLastLineCutGivesNoValueTheLogDoesNotHave) {
    struct Restore {
        NmeaThreading saved = NmeaReadThreading();
        ~Restore() { NmeaReadThreading() = saved; }
    } restore;
    const auto fix = [](int i, bool ggaFirst, bool sums) {
        const std::string t = "12000" + std::to_string(i) + ".000,", lat = "4807.0" + std::to_string(i) + "0,S,";
        const std::string g = "GPGGA," + t + lat + "01131.000,W,1,08,1.0,104.5,M,47.0,M,,";
        const std::string r = "GPRMC," + t + "A," + lat + "01131.000,W,10.0,45.0,070804,,";
        const auto line = [&](const std::string& b) { return (sums ? test::Nmea(b) : "$" + b) + "\r\n"; };
        return ggaFirst ? line(g) + line(r) : line(r) + line(g);
    };
    const auto read = [](const std::string& text, int kind, int road) {
        NmeaReadThreading() = road == 0 ? NmeaThreading() : NmeaThreading{0, 2, 100};
        auto r = std::make_unique<test::Reading>();
        r->ReadText(text, kind);
        return r;
    };
    for (const int kind : {ikNmea, ikTripMate, ikBarometer, ikRbt3000})
        for (const bool ggaFirst : {true, false}) {
            std::string log = kind == ikBarometer  ? "$CUUB V2.0 logger\r\n"
                              : kind == ikTripMate ? "/* LOG NOW */\r\n"
                                                   : "";
            for (int i = 0; i < 5; ++i)
                log += (kind == ikBarometer ? "@CBDBG,1," + std::to_string(10 * i) + ",0\r\n" : "") +
                       fix(i, ggaFirst, true);
            const auto whole = read(log, kind, 0);
            ASSERT_EQ(whole->ctx.points.Count(), 5);
            const size_t last = log.rfind('$');
            for (size_t cut = last + 1; cut < log.size() - 2; ++cut)
                for (int road = 0; road < 2; ++road) {
                    const auto r = read(log.substr(0, cut), kind, road);
                    const std::string at = std::to_string(kind) + " " + log.substr(last, cut - last);
                    ASSERT_GE(r->ctx.points.Count(), 4) << at;
                    for (int32_t i = 0; i < r->ctx.points.Count(); ++i) {
                        const TLogData &p = r->P(i), &q = whole->P(i);
                        const bool lastOne = i == 4;  // may lack what the cut sentence gave
                        EXPECT_TRUE(
                            p.Time == q.Time && p.Lat == q.Lat && p.Lon == q.Lon && p.FixQuality == q.FixQuality &&
                            (p.Alt == q.Alt || (lastOne && std::isnan(p.Alt))) && (p.Speed == q.Speed || lastOne) &&
                            (p.Sats == q.Sats || (lastOne && p.Sats == 99)) &&
                            (kind != ikBarometer || p.PressureAlt == q.PressureAlt) && p.Flags == q.Flags)
                            << at << " " << i << " " << test::Describe(p);
                    }
                }
        }
    std::string joined;
    for (int i = 0; i < 10; ++i) joined += fix(i, true, i < 5);
    for (int road = 0; road < 2; ++road) {
        const auto r = read(joined, ikNmea, road);
        ASSERT_EQ(r->ctx.points.Count(), 10) << road;
        for (int i = 0; i < 10; ++i) EXPECT_EQ(r->P(i).Alt, 104.5) << road << " " << i;
    }
}

}  // namespace
}  // namespace ts
