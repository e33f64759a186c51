

#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

// Answers the dialogs from a script and records which one was asked.
class DialogHost : public RecordingHost {
public:
    bool SelectOutputBlocks(BlockTable& blocks, const PointStream&, const TConversionOptions&, int32_t&) override {
        ++blockDialogs;
        if (edit) edit(blocks);
        if (cancel) abortRequested = true;
        return !cancel;
    }
    int blockDialogs = 0;
    bool cancel = false;
    std::function<void(BlockTable&)> edit;
};

struct OutputStage : ::testing::Test {
    DialogHost host;
    EngineContext ctx{host};
    ScratchDir dir;
    void SetUp() override {
        ctx.opt.KMZout = false;
        ctx.opt.KMLout = true;
        ctx.opt.LocalTimeOffset = " 00:00:00";
        DeriveOptions(ctx.opt);
    }
    std::string Input() const { return dir.Folder() + "day1.nmea"; }
    void TwoBlocks() {
        AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 5));
        AddBlock(ctx, Walk(T(2024, 3, 16, 15, 0, 0), 7));
    }
};

TEST_F(OutputStage, SelectionIsRestoredOnlyForTheSameFileAndBlocks) {
    TwoBlocks();
    ctx.opt.OutLimit = true;
    host.edit = [](BlockTable& b) {
        b[0].Output = false;
        b[1].RangeFirst = b[1].First + 2;
        b[1].RangeStart = b[1].StartTime + 2 * kOneSecond;
    };
    EXPECT_EQ(MakeOutputFiles(ctx, Input()), 5);  // block 2 from its third point
    EXPECT_EQ(host.blockDialogs, 1);

    // Same file again: the dialog is offered the previous choice.
    host.edit = [](BlockTable& b) { EXPECT_TRUE(!b[0].Output && b[1].Output && b[1].RangeFirst == b[1].First + 2); };
    MakeOutputFiles(ctx, Input());

    // Another file, or the same one with other blocks: everything whole again.
    host.edit = [](BlockTable& b) {
        EXPECT_TRUE(b[0].Output && b[1].RangeFirst == b[1].First && b[1].RangeStart == b[1].StartTime);
    };
    MakeOutputFiles(ctx, dir.Folder() + "day2.nmea");
    ctx.blocks[1].Last -= 1;
    MakeOutputFiles(ctx, dir.Folder() + "day2.nmea");

    // Nothing selected: a warning, and nothing written.
    host.edit = [](BlockTable& b) { b[0].Output = b[1].Output = false; };
    const auto before = dir.Files();
    EXPECT_EQ(MakeOutputFiles(ctx, Input()), 0);
    EXPECT_EQ(host.messages, std::vector<std::string>{" Block has not been selected. "});
    EXPECT_EQ(dir.Files(), before);

    // Without output limiting nothing is asked and every block is written whole.
    ctx.blocks[1].Output = false;
    ctx.opt.OutLimit = false;
    host.blockDialogs = 0;
    EXPECT_EQ(MakeOutputFiles(ctx, dir.Folder() + "day2.nmea"), 11);
    EXPECT_EQ(host.blockDialogs, 0);
}

TEST_F(OutputStage, WritersRunInOrderAndFailuresStayVisible) {
    TwoBlocks();
    ctx.opt.KMZout = true;
    EXPECT_EQ(MakeOutputFiles(ctx, Input()), 12);  // the KML writer ran last
    EXPECT_FALSE(ctx.writerFailed);
    std::vector<std::string> made;
    for (const std::string& l : host.lines)
        if (l.rfind("  Make: ", 0) == 0 || l.rfind("  Archive error!! : ", 0) == 0) made.push_back(l);
    ASSERT_EQ(made.size(), 4u);
    EXPECT_EQ(made[0], "  Make: 2024-03-16_09-00-00.kmz       5 records");
    EXPECT_EQ(made[2], "  Make: 2024-03-16_09-00-00.kml       5 records");
    EXPECT_EQ(made[3], "  Make: 2024-03-16_15-00-00.kml       7 records");
    EXPECT_EQ(host.filesMade, 4);

    // No output type ticked: nothing to do.
    ctx.opt.KMZout = ctx.opt.KMLout = false;
    EXPECT_EQ(MakeOutputFiles(ctx, Input()), 0);
}

TEST_F(OutputStage, FileTimeStamps) {
    TConversionOptions& o = ctx.opt;
    const double t = T(2024, 3, 16, 9, 0, 0);
    EXPECT_EQ(FormatFileTimeStamp(ctx, t), "2024-03-16_09-00-00");
    o.LocalTimeOffset = "+09:00:00";  // local = UTC + 9 h
    DeriveOptions(o);
    EXPECT_EQ(FormatFileTimeStamp(ctx, t), "2024-03-16_18-00-00");
    o.LocalTimeOffset = " 00:00:00";
    ctx.locale.UserDateSep = '.';
    o.DateSep = "+", o.TimeSep = ".", o.DateTimeSep = " ";
    // A "/" the user's date format leaves must not become a folder.
    o.OutDateFormatText = "yyyy/mm/dd";
    DeriveOptions(o);
    EXPECT_EQ(FormatFileTimeStamp(ctx, t), "2024+03+16 09.00.00");
    o.DateSep = "/";  // even a separator that slipped through the settings check
    EXPECT_EQ(FormatFileTimeStamp(ctx, t), "2024-03-16 09.00.00");
    o.DateSep = "-";
    o.DateOnly = true;
    EXPECT_EQ(FormatFileTimeStamp(ctx, t), "2024-03-16");
    // A log without dates names files by the time of day.
    EXPECT_EQ(FormatFileTimeStamp(ctx, EncodeTime(9, 30, 5, 0)), "09.30.05");
}

TEST_F(OutputStage, BlocksWithTheSameNameDoNotOverwriteEachOther) {
    // A log without dates: two blocks at the same time of day on different days.
    AddBlock(ctx, Walk(EncodeTime(9, 0, 0, 0), 3));
    AddBlock(ctx, Walk(EncodeTime(9, 0, 0, 0), 4, 36.0));
    ctx.opt.DateOnly = true;
    EXPECT_EQ(MakeOutputFiles(ctx, Input()), 7);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"09-00-00(2).kml", "09-00-00.kml"}));
    EXPECT_TRUE(HasLine(host, "  Make: 09-00-00(2).kml       4 records"));
    // Another input of the same batch (a geoid-corrected copy, say) never replaces them ...
    EXPECT_EQ(MakeOutputFiles(ctx, dir.Folder() + "day1_g.nmea"), 7);
    EXPECT_EQ(dir.Files().size(), 4u);
    EXPECT_TRUE(HasLine(host, "  Make: 09-00-00(3).kml       3 records"));
    EXPECT_EQ(host.filesMade, 4);
    // ... while the next batch replaces them rather than numbering further.
    ctx.BeginBatch();
    EXPECT_EQ(MakeOutputFiles(ctx, Input()), 7);
    EXPECT_EQ(dir.Files().size(), 4u);
    EXPECT_EQ(host.lines.back(), "  Make: 09-00-00(2).kml       4 records");
}

}  // namespace
}  // namespace ts
