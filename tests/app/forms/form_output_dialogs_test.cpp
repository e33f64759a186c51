// The block selector and the output range dialog: driven offscreen by their handlers, and shown
// modally by the main window as the output stage's questions.
#include "forms/form_main.h"

#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <QHeaderView>
#include <QTimer>

#include <functional>

#include "core/date_time.h"
#include "forms/block_range.h"
#include "output/output_stage.h"

using namespace ts;

namespace {

const double kDay = EncodeDate(2024, 3, 16);

// Three blocks of 100 points one second apart, an hour between blocks.
struct Log {
    PointStream ps;
    BlockTable blocks;
    TConversionOptions o;
    Log() {
        TestApp();
        o.OutDateFormatText = "yyyy/mm/dd";
        o.SpeedUnit = "km/h";
        o.Visible = {true, true, true, true, true, true, true, true};
        DeriveOptions(o);
        o.TimeFmt = "hh:nn:ss";
        o.TimeOffset = 0;
        for (int k = 0; k < 3; ++k) {
            const double start = kDay + (9 + k) / 24.0;
            TrackBlock& b = blocks.Open(ps.Count(), start);
            for (int i = 0; i < 100; ++i) {
                TLogData p;
                p.Time = start + i * kOneSecond;
                p.Speed = i < 50 ? 1 : 200;
                if (i == 7) p.Flags = InterestPoint;
                ps.Append(p);
            }
            b.Last = ps.Count() - 1;
            b.EndTime = ps.At(b.Last).Time;
        }
        for (TrackBlock& b : blocks.Items()) b.Output = true;
        ResetBlockRanges(blocks);
    }
};

QString Cell(QTableWidget* t, int r, int c) { return t->item(r, c) ? t->item(r, c)->text() : QString("<none>"); }

}  // namespace

TEST(OutputDialogsTest, BlockSelectorRowsClicksAndButtons) {
    Log log;
    log.blocks[1].Output = false;
    TFormOutBlock d;
    int32_t cur = -1;
    std::vector<int32_t> opened;
    bool accept = true;
    d.Setup(log.blocks, log.o, cur);
    d.OpenRange = [&](int32_t b) {
        opened.push_back(b);
        log.blocks[b].RangeFirst += 10;  // what an edit in the range dialog would do
        return accept;
    };
    d.FormShow();
    ASSERT_EQ(d.ListView1->rowCount(), 3);
    EXPECT_EQ(Cell(d.ListView1, 2, 1), "2024/03/16 11:00:00");
    EXPECT_EQ(Cell(d.ListView1, 2, 3), "100");
    EXPECT_TRUE(d.RowTicked(0));
    EXPECT_FALSE(d.RowTicked(1));

    d.ListView1Click(1);  // unticked: selects, opens nothing
    EXPECT_EQ(cur, 1);
    EXPECT_TRUE(opened.empty());
    d.ListView1Click(2);
    EXPECT_EQ(opened, std::vector<int32_t>{2});
    EXPECT_EQ(Cell(d.ListView1, 2, 3), "90");  // refreshed from the block
    accept = false;
    d.ListView1Click(0);
    EXPECT_EQ(Cell(d.ListView1, 0, 3), "100");  // cancelled: the row stays as it was

    d.ButtonUnselectClick();
    EXPECT_FALSE(d.RowTicked(0) || d.RowTicked(2));
    EXPECT_TRUE(log.blocks[0].Output);  // ticks reach the blocks only with OK
    d.ButtonResetClick();
    EXPECT_TRUE(d.RowTicked(0) && d.RowTicked(1) && d.RowTicked(2));
    EXPECT_EQ(log.blocks[2].RangeFirst, log.blocks[2].First);
    d.ButtonOKClick();
    EXPECT_FALSE(d.Cancelled());
    EXPECT_TRUE(log.blocks[0].Output && log.blocks[1].Output && log.blocks[2].Output);

    d.Setup(log.blocks, log.o, cur);
    d.FormShow();
    d.ButtonUnselectClick();
    d.ButtonOKClick();
    EXPECT_FALSE(AnyBlockSelected(log.blocks));

    // Esc, a close request and the Cancel button each cancel.
    const std::function<void()> cancels[] = {[&] { SendKey(d.ListView1, Qt::Key_Escape); }, [&] { d.close(); },
                                             [&] { d.ButtonCanClick(); }};
    for (const auto& cancel : cancels) {
        d.Setup(log.blocks, log.o, cur);
        d.show();
        ExpectNoOverlaps(&d);
        EXPECT_FALSE(d.Cancelled());
        cancel();
        EXPECT_TRUE(d.Cancelled());
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(d.ListView1->rowCount(), 0);
    }
}

TEST(OutputDialogsTest, RangeDialogListEditsAndOk) {
    Log log;
    TFormOutputRange d;
    std::vector<std::string> warnings;
    d.Warn = [&](const std::string& m) { warnings.push_back(m); };
    d.Setup(log.blocks, log.ps, log.o, 1, {});
    d.FormShow();
    EXPECT_EQ(d.EditStime->text(), "2024/03/16 10:00:00");
    EXPECT_EQ(d.EditEtime->text(), "2024/03/16 10:01:39");
    ASSERT_EQ(d.ListView1->rowCount(), 100);  // a block of 100 lists every point
    EXPECT_EQ(Cell(d.ListView1, 0, 0), "101");

    d.ListView1Click(30);
    EXPECT_EQ(d.EditStime->text(), "2024/03/16 10:00:30");
    d.ButtonFinalViewClick();
    EXPECT_EQ(d.ListView1->currentRow(), 99);
    d.ListView1Click(20);
    EXPECT_EQ(d.EditEtime->text(), "2024/03/16 10:00:20");

    // A start after the final time is refused and the block keeps its range.
    d.ButtonOKClick();
    EXPECT_EQ(warnings, std::vector<std::string>{"Start time is later than End time."});
    EXPECT_EQ(log.blocks[1].RangeLast, log.blocks[1].Last);

    d.EditEtime->clear();
    d.ButtonFinalViewClick();  // an emptied edit is refilled with the block's end
    EXPECT_EQ(d.EditEtime->text(), "2024/03/16 10:01:39");
    d.ButtonPrevClick();  // pages to the first row's time
    EXPECT_EQ(d.EditEtime->text(), "2024/03/16 10:00:00");
    d.ButtonNextClick();
    EXPECT_EQ(d.EditEtime->text(), "2024/03/16 10:01:39");
    d.EditEtime->setText("2024/03/16 10:01:00");
    d.ButtonOKClick();
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_EQ(log.blocks[1].RangeFirst, 130);
    EXPECT_EQ(log.blocks[1].RangeLast, 160);
    EXPECT_FALSE(d.Cancelled());

    log.o.SpeedUnit = "mph";
    d.Setup(log.blocks, log.ps, log.o, 1, {});
    d.FormShow();
    EXPECT_EQ(d.EditStime->text(), "2024/03/16 10:00:30");  // the stored range comes back
    EXPECT_EQ(d.ListView1->horizontalHeaderItem(4)->text(), "Spd(mph)");
    d.reject();
    EXPECT_TRUE(d.Cancelled());
}

TEST(OutputDialogsTest, RangeDialogInFormatsWithoutDayOrMonth) {
    // 85 points 20 minutes apart, all listed, from 2023-12-31 22:00: rows 9 and 81 are 01:00 on
    // the first and the second of January, one text in most of these formats.
    TestApp();
    PointStream ps;
    BlockTable blocks;
    TrackBlock& blk = blocks.Open(0, EncodeDate(2023, 12, 31) + 22.0 / 24);
    for (int i = 0; i < 85; ++i) {
        TLogData p;
        p.Time = blk.StartTime + i / 72.0;
        ps.Append(p);
    }
    blk.Last = 84;
    blk.EndTime = ps.At(84).Time;
    for (const char* fmt : {"mmmm yyyy", "mm/yy", "yyyy", "dd", "d", "mmmm"}) {
        TConversionOptions o;
        o.OutDateFormatText = fmt;
        DeriveOptions(o);
        ResetBlockRanges(blocks);
        TFormOutputRange d;
        std::vector<std::string> warnings;
        d.Warn = [&](const std::string& m) { warnings.push_back(m); };
        d.Setup(blocks, ps, o, 0, {});
        d.FormShow();
        d.ButtonOKClick();  // the shown texts keep the whole block
        EXPECT_EQ(blocks[0].RangeLast, 84) << fmt;
        d.FormShow();
        d.ListView1Click(9);
        const QString first = d.EditStime->text();
        d.ButtonFinalViewClick();
        EXPECT_EQ(d.EditStime->text(), first) << fmt;  // the picked start survives
        for (int row : {9, 81}) {
            d.ListView1Click(row);
            const QString picked = d.EditEtime->text();
            d.ButtonFinalViewClick();
            EXPECT_EQ(d.EditEtime->text(), picked) << fmt;
            EXPECT_EQ(d.ListView1->currentRow(), row) << fmt << ": " << picked.toStdString();
        }
        d.ButtonStartViewClick();
        EXPECT_EQ(d.ListView1->currentRow(), 9) << fmt;
        d.ButtonOKClick();
        EXPECT_TRUE(warnings.empty()) << fmt;
        EXPECT_EQ(blocks[0].RangeFirst, 9) << fmt;
        EXPECT_EQ(blocks[0].RangeLast, 81) << fmt;
        d.FormShow();  // the chosen times come back and read as themselves
        EXPECT_EQ(d.ListView1->currentRow(), 9) << fmt;
    }
}

TEST(OutputDialogsTest, MainWindowAsksAndCancelAborts) {
    Log log;
    TFormMain f(ProgramIn(ScratchDir("outdlg")), {}, /*headless=*/false);
    int32_t cur = 0;

    // The range dialog of a single block: OK stores the range. Its rows show the main window's
    // icons by speed class and point kind.
    auto icon = [&](int row) { return f.FormOutputRange->ListView1->item(row, 0)->icon().pixmap(16, 16).toImage(); };
    auto preview = [&](int i) {
        return f.Images[i]->pixmap().scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).toImage();
    };
    QTimer::singleShot(0, &f, [&] {
        EXPECT_EQ(icon(0), preview(0));   // 1 kt: first class
        EXPECT_EQ(icon(7), preview(4));   // interest point
        EXPECT_EQ(icon(60), preview(3));  // 200 kt: fourth class
        EXPECT_NE(preview(0), preview(3));
        f.FormOutputRange->EditStime->setText("2024/03/16 09:00:10");
        f.FormOutputRange->ButtonOKClick();
    });
    EXPECT_TRUE(f.SelectOutputRange(log.blocks, log.ps, log.o, 0));
    EXPECT_FALSE(f.AbortRequested());
    EXPECT_EQ(log.blocks[0].RangeFirst, 10);

    // A row's range dialog cancelled: only that edit is dropped; OK still converts.
    QTimer::singleShot(0, &f, [&] {
        QTimer::singleShot(0, &f, [&] { f.FormOutputRange->ButtonCanClick(); });
        f.FormOutBlock->ListView1Click(2);
        f.FormOutBlock->ButtonOKClick();
    });
    EXPECT_TRUE(f.SelectOutputBlocks(log.blocks, log.ps, log.o, cur));
    EXPECT_FALSE(f.AbortRequested());
    EXPECT_EQ(cur, 2);

    // Cancel of the block selector aborts the conversion.
    QTimer::singleShot(0, &f, [&] { f.FormOutBlock->ButtonCanClick(); });
    EXPECT_FALSE(f.SelectOutputBlocks(log.blocks, log.ps, log.o, cur));
    EXPECT_TRUE(f.AbortRequested());
}

// Nobody to ask: every block is written whole, and the report says so.
TEST(OutputDialogsTest, UnattendedRunTakesWholeBlocksAndSaysSo) {
    Log log;
    TFormMain f(ProgramIn(ScratchDir("outdlg")), {}, /*headless=*/true);
    int32_t cur = 0;
    EXPECT_TRUE(f.SelectOutputBlocks(log.blocks, log.ps, log.o, cur));
    EXPECT_TRUE(f.SelectOutputRange(log.blocks, log.ps, log.o, 0));
    EXPECT_EQ(f.FormReport()->Lines(), QStringList(2, "  Output range not asked: every block is written whole."));
    EXPECT_TRUE(log.blocks[0].Output && log.blocks[1].Output && log.blocks[2].Output);
}
