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
// to the whole log's points, the last one whole or left out, and a CSV row left out is reported.
TEST(LogCut, TextLogsCutInsideTheirLastRowOrRecord) {
    struct Kind {
        const char* name;
        ReaderFn reader;
        int kind;
        std::string ext, log;
    };
    // The last record or row differs from the one before in every value.
    const std::string more = "Altitude: 105.0\r\nHDOP: 0.9\r\nSatellite No: 9\r\nSpeed(kms/hr): 20\r\n";
    std::string own = "DATE,TIME,LATITUDE,N/S,LONGITUDE,E/W,HEIGHT\r\n";  // rows end with a comma
    for (int i = 0; i < 3; ++i)
        own += "2024/03/16,12:00:0" + std::to_string(i) + "," + std::to_string(35.611 + i * 0.123) + ",N," +
               std::to_string(139.722 + i * 0.211) + ",E," + std::to_string(98 + i * 7) + ",\r\n";
    const Kind kinds[] = {
        {"RBT-3000", ReadRbt3000File, ikRbt3000, ".txt",
         test::kRbtHead + test::RbtRec(0, 35.5) + test::RbtRec(20, 35.6123, more, true, 139.7345)},
        {"CSV", ReadCsvLogFile, ikCsv, ".csv", testing::ReadFile(TS_SHARED_DIR "/testdata/iblue747.csv")},
        {"own CSV", ReadCsvLogFile, ikCsv, ".csv", own},
    };
    for (const Kind& k : kinds) {
        test::Reading whole;
        whole.ctx.inputKind = k.kind;
        whole.ReadBytes(k.reader, k.log, k.ext);
        const int32_t n = whole.ctx.points.Count();
        ASSERT_GE(n, 2) << k.name;
        // From the start of the last record or row; the line end after it is cut below too.
        const size_t last = k.kind == ikCsv ? k.log.rfind('\n', k.log.size() - 2) + 1 : k.log.rfind("Record:");
        for (size_t size = last; size < k.log.size(); ++size) {
            test::Reading r;
            r.ctx.inputKind = k.kind;
            r.ReadBytes(k.reader, k.log.substr(0, size), k.ext);
            const int32_t got = r.ctx.points.Count();
            ASSERT_TRUE(got == n || got == n - 1) << k.name << " cut at " << size << ": " << got;
            for (int32_t i = 0; i < got; ++i)
                ASSERT_EQ(test::Describe(r.P(i)), test::Describe(whole.P(i))) << k.name << " cut at " << size;
            if (k.kind == ikCsv)
                EXPECT_EQ(r.Lines("  Damaged row was disregarded: line "), got < n && size > last ? 1 : 0)
                    << k.name << " cut at " << size;
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

}  // namespace
}  // namespace ts
