// The KML and GPX writers make their text in chunks, on worker threads for a long block: the file
// must come out the same byte for byte as on the calling thread alone, and a stop in the middle
// must still leave no file.
#include <chrono>
#include <stdexcept>
#include <thread>

#include "archive/deflate_pipeline.h"
#include "archive/parallel_deflate.h"
#include "core/ordered_chunks.h"
#include "output/kml_placemarks.h"
#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

// Chunk settings for one test, put back afterwards.
struct Chunking {
    ChunkSettings saved = WriterChunking();
    Chunking(int64_t bytes, int threads) {
        WriterChunking().bytes = bytes;
        WriterChunking().threads = threads;
        WriterChunking().minChunksForThreads = 1;
    }
    ~Chunking() { WriterChunking() = saved; }
};

struct Case {
    const char* name;
    void (*set)(EngineContext&);
};

const Case kCases[] = {
    {"defaults", [](EngineContext&) {}},
    // The last placemark is a hidden speed point, shown because the start point is.
    {"end hidden", [](EngineContext& c) { c.opt.Visible[kcEnd] = false; }},
    // Only shown placemarks: the folder opens at the start point's chunk only.
    {"visible only",
     [](EngineContext& c) {
         c.opt.VisibleOnly = true;
         c.opt.Visible[kcStart] = false;
     }},
    // The window ends early: the last placemark lies in a chunk before the last one.
    {"window",
     [](EngineContext& c) {
         c.opt.OutLimit = true;
         c.opt.Visible[kcEnd] = false;
         for (TrackBlock& b : c.blocks.Items()) b.RangeEnd = b.StartTime + 150 * kOneSecond;
     }},
    {"reduced, 3D, balloon off",
     [](EngineContext& c) {
         c.opt.ReduseOut = true;
         c.opt.Mode3D = true;
         c.opt.NoteToBalloon = false;
         c.opt.TimeStamp = true;
     }},
};

// Two blocks of mixed speeds with interest and voice points here and there.
void MakeTrack(EngineContext& ctx) {
    for (int b = 0; b < 2; ++b) {
        std::vector<TLogData> pts = Walk(T(2024, 3, 16, 9 + b, 0, 0), 230 + 40 * b);
        for (size_t i = 0; i < pts.size(); ++i) {
            pts[i].Speed = static_cast<double>(i % 70);
            if (i % 37 == 5) pts[i].Flags |= InterestPoint;
            if (i % 53 == 7) pts[i].Flags |= VoicePoint;
        }
        AddBlock(ctx, pts);
    }
}

struct ChunkedWriting : WriterTest {
    // Every file the writer made, in name order, joined.
    std::string Written(int32_t (*write)(EngineContext&, const std::string&), const Case& c) {
        RecordingHost h;
        EngineContext run{h};
        MakeTrack(run);
        c.set(run);
        ScratchDir out;
        EXPECT_GT(write(Fresh(run), out.Folder()), 0) << c.name;
        std::string all;
        for (const std::string& name : out.Files()) all += name + "\n" + ReadFile(out.path / name);
        // The distances the filter leaves behind, to the last bit.
        const RunState& r = run.run;
        for (double v : {r.TotalDistance, r.SegmentDistance, r.FirstTime, r.PrevLat, r.PrevLon, r.PrevTime})
            all.append(reinterpret_cast<const char*>(&v), sizeof v);
        return all;
    }
};

int32_t Kml(EngineContext& c, const std::string& f) { return WriteKml(c, f, false); }
int32_t Kmz(EngineContext& c, const std::string& f) { return WriteKml(c, f, true); }
int32_t Gpx(EngineContext& c, const std::string& f) { return WriteGpx(c, f); }

TEST_F(ChunkedWriting, ThreadsMakeTheSameFilesAsOneThread) {
    for (auto* write : {&Kml, &Gpx}) {
        for (const Case& c : kCases) {
            const std::string alone = Written(write, c);
            ASSERT_GT(alone.size(), 1000u);
            // One record a chunk, then a few records a chunk, on several threads.
            for (int64_t bytes : {1, 2900}) {
                Chunking chunking(bytes, 3);
                EXPECT_EQ(Written(write, c), alone) << c.name << ", chunk bytes " << bytes;
            }
        }
    }
}

// A host that asks to stop at its nth chance.
struct LateAbortHost : RecordingHost {
    int left;
    explicit LateAbortHost(int n) : left(n) {}
    void ProcessMessages() override {
        if (--left <= 0) abortRequested = true;
    }
};

TEST_F(ChunkedWriting, AStopWhileChunksAreMadeLeavesNoFile) {
    Chunking chunking(4000, 3);
    for (auto* write : {&Kml, &Kmz, &Gpx}) {
        // 5000 records poll four times on the way through the filter; the sixth poll comes while
        // the chunks are written.
        LateAbortHost h(6);
        EngineContext run{h};
        AddBlock(run, Walk(T(2024, 3, 16, 9, 0, 0), 5000));
        EXPECT_EQ(write(Fresh(run), dir.Folder()), -1);
        EXPECT_LE(h.left, 0);
        EXPECT_EQ(dir.Files(), std::vector<std::string>{});
    }
}

// The first member's stored data of an archive: CRC, sizes and the deflated bytes.
std::string FirstMemberData(const std::string& zip) {
    const auto le = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(zip[at + static_cast<size_t>(i)]);
        return v;
    };
    if (zip.size() < 30) return {};
    const size_t data = 30 + le(26, 2) + le(28, 2);
    return zip.substr(14, 12) + zip.substr(data, le(18, 4));
}

TEST_F(ChunkedWriting, AKmzDeflatedWhileWrittenHoldsTheArchivesOwnBlocks) {
    if (zip::AvailableProcessors() < 2) GTEST_SKIP() << "one processor: the archive deflates on its own";
    // Three deflate blocks of document.
    AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 9000));
    ScratchDir kml, pack;
    ASSERT_GT(WriteKml(Fresh(ctx), dir.Folder(), true), 0);
    ASSERT_GT(WriteKml(Fresh(ctx), kml.Folder(), false), 0);
    const std::string name = "2024-03-16_09-00-00";
    ASSERT_GT(std::filesystem::file_size(kml.path / (name + ".kml")), 3u * 1024 * 1024);
    // The archive's own deflate of the same document.
    std::filesystem::copy_file(kml.path / (name + ".kml"), pack.path / (name + ".$$$"));
    ASSERT_EQ(PackKmz(Fresh(ctx), pack / (name + ".$$$"), KmzContents{}), 0);
    const std::string ours = ReadFile(dir.path / (name + ".kmz"));
    EXPECT_TRUE(FirstMemberData(ours) == FirstMemberData(ReadFile(pack.path / (name + ".kmz"))));
    std::string member;
    EXPECT_EQ(RunCommand("unzip -p " + Quote(dir / (name + ".kmz")), &member), 0);
    EXPECT_TRUE(member == ReadFile(kml.path / (name + ".kml")));
    EXPECT_EQ(dir.Files(), std::vector<std::string>{name + ".kmz"});
}

// The blocks' data match the archive's own deflate (above); they fit their file, size and level only.
TEST_F(ChunkedWriting, TheBlocksDeflatedAlongFitTheirFileOnly) {
    if (zip::AvailableProcessors() < 2) GTEST_SKIP() << "one processor: nothing is deflated along";
    const std::string text = ReadFile(std::string(TS_SHARED_DIR) + "/testdata/sample.nmea");
    std::string doc;
    while (doc.size() < 4 * 1024 * 1024) doc += text;
    const std::string file = dir / "doc.$$$";
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_TRUE(f);
    std::unique_ptr<KmzDeflate> d = KmzDeflate::Start(file, dir.Folder());
    ASSERT_TRUE(d);
    for (size_t at = 0; at < doc.size(); at += 100000) {
        const size_t n = std::min<size_t>(100000, doc.size() - at);
        std::fwrite(doc.data() + at, 1, n, f);
        std::fflush(f);
        d->Grown(static_cast<int64_t>(at + n));
    }
    std::fclose(f);
    const auto size = static_cast<int64_t>(doc.size());
    std::shared_ptr<zip::TDeflatedSource> blocks = d->Finish(size, dir / "doc.kml");
    ASSERT_TRUE(blocks);
    const int64_t cut = zip::GetBufferSizeByMode(9);
    EXPECT_TRUE(blocks->Fits(u"/elsewhere/doc.kml", size, cut, 9));
    EXPECT_FALSE(blocks->Fits(u"/elsewhere/doc.kml", size - 1, cut, 9));
    EXPECT_FALSE(blocks->Fits(u"/elsewhere/doc.kml", size, cut, 6));
    EXPECT_FALSE(blocks->Fits(u"/elsewhere/icon.png", size, cut, 9));
    // A document of one block is left to the archive.
    std::unique_ptr<KmzDeflate> small = KmzDeflate::Start(file, dir.Folder());
    ASSERT_TRUE(small);
    EXPECT_FALSE(small->Finish(1000, dir / "doc.kml"));
}

TEST(MakeChunksInOrder, OrderAndFailuresOnEitherSide) {
    Chunking chunking(1, 4);
    std::string joined;
    const auto format = [](int64_t k, std::string& t) {
        if (k == 40) throw std::runtime_error("chunk 40");
        // Later chunks are quicker, so that they come done out of order.
        std::this_thread::sleep_for(std::chrono::microseconds(k < 8 ? 300 - 30 * k : 0));
        t = std::to_string(k) + ",";
    };
    EXPECT_THROW(MakeChunksInOrder(60, format, [&](std::string& t) { joined += t; }), std::runtime_error);
    std::string want;
    for (int k = 0; k < 40; ++k) want += std::to_string(k) + ",";
    EXPECT_EQ(joined, want);
    // A failing take ends the run at once.
    int taken = 0;
    EXPECT_THROW(MakeChunksInOrder(1000, format,
                                   [&](std::string&) {
                                       if (++taken == 3) throw std::runtime_error("disk");
                                   }),
                 std::runtime_error);
    EXPECT_EQ(taken, 3);
}

}  // namespace
}  // namespace ts
