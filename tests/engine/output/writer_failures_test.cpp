// What the NMEA, KML, GPX and CSV writers share: a failed block stays a failure, an abort deletes only
// the block in hand, and a block without points in the window still gets its file.

#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

struct WriterKind {
    const char* ext;
    int32_t (*write)(EngineContext& ctx, const std::string& folder);
};

void PrintTo(const WriterKind& k, std::ostream* os) { *os << k.ext; }

const WriterKind kWriters[] = {
    {".nmea", [](EngineContext& c, const std::string& f) { return WriteNmeaFiles(c, f, f + "in.log"); }},
    {".kml", [](EngineContext& c, const std::string& f) { return WriteKml(c, f, false); }},
    {".gpx", [](EngineContext& c, const std::string& f) { return WriteGpx(c, f); }},
    {".csv", [](EngineContext& c, const std::string& f) { return WriteCsv(c, f, f + "in.log"); }},
};

struct WriterFailures : WriterTest, ::testing::WithParamInterface<WriterKind> {
    std::string ext = GetParam().ext;
    int32_t Write(EngineContext& c) { return GetParam().write(Fresh(c), dir.Folder()); }
};

TEST_P(WriterFailures, FailedCreateStaysVisible) {
    AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 3));
    AddBlock(ctx, Walk(T(2024, 3, 16, 12, 0, 0), 3));
    // The first block's name is taken by a folder; the second block completes after it.
    std::filesystem::create_directory(dir.path / ("2024-03-16_09-00-00" + ext));
    EXPECT_EQ(Write(ctx), -1);
    const std::string name = dir.Folder() + "2024-03-16_09-00-00" + ext;
    EXPECT_EQ(host.messages, std::vector<std::string>{"Can't create: " + name});
    EXPECT_TRUE(HasLine(host, "  Can't create: " + name));
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.path / ("2024-03-16_12-00-00" + ext)));
    EXPECT_EQ(host.filesMade, 1);

    for (TrackBlock& b : ctx.blocks.Items()) b.Output = false;
    EXPECT_EQ(Write(ctx), -1);  // nothing selected
}

TEST_P(WriterFailures, AbortDeletesTheBlockInHandOnly) {
    AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 100));
    AddBlock(ctx, Walk(T(2024, 3, 16, 12, 0, 0), 3000));
    AbortingHost aborting;
    EngineContext c2{aborting};
    CopyTrack(c2, ctx);
    EXPECT_EQ(Write(c2), -1);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"2024-03-16_09-00-00" + ext});
    EXPECT_EQ(aborting.filesMade, 1);
}

TEST_P(WriterFailures, BlockOutsideTheWindowGetsAnEmptyFile) {
    AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 5));
    TrackBlock& b = AddBlock(ctx, Walk(T(2024, 3, 17, 9, 0, 0), 5));
    ctx.opt.OutLimit = true;
    b.RangeStart = T(2024, 3, 17, 10, 0, 0);
    b.RangeEnd = T(2024, 3, 17, 11, 0, 0);
    ASSERT_EQ(Write(ctx), 5);
    EXPECT_EQ(host.filesMade, 1);
    // The NMEA writer names the block by its first record, the others by the range.
    const std::string name = (ext == ".nmea" ? "2024-03-17_09-00-00" : "2024-03-17_10-00-00") + ext;
    EXPECT_EQ(host.lines.back(), "  Make: " + name + "       0 records");
    const std::string text = ReadFile(dir.path / name);
    if (ext == ".nmea") {
        EXPECT_EQ(text, "");
    } else if (ext == ".csv") {
        EXPECT_EQ(Lines(text).size(), 1u);
    } else if (ext == ".kml") {
        EXPECT_EQ(KmlSchemaErrors(dir.path / name), "");
    } else {
        EXPECT_EQ(GpxSchemaErrors(dir.path / name), "");
        EXPECT_NE(text.find("<desc>Total points: 0, Total time: 00:00:00, Distance: 0.000km</desc>"),
                  std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Writers, WriterFailures, ::testing::ValuesIn(kWriters),
                         [](const auto& info) { return std::string(info.param.ext + 1); });

}  // namespace
}  // namespace ts
