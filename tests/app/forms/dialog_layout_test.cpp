// Dialog layouts as the user meets them in the program's font: where a dialog stands when it
// opens, and whether the block selector's columns show whole.
#include "forms/form_main.h"

#include <gtest/gtest.h>

#include "centred_dialogs.h"
#include "qt_test_app.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>

#include <functional>

#include "core/date_time.h"
#include "forms/block_range.h"
#include "forms/form_3d.h"
#include "forms/form_geoid.h"
#include "forms/form_out_block.h"
#include "forms/form_palt.h"

using namespace ts;

// Places show as x,y in failures.
static void PrintTo(const QPoint& p, std::ostream* os) { *os << p.x() << ',' << p.y(); }

namespace {

struct DialogLayoutTest : MainWindowTest {
    // The main window with the default font, or with one the settings name.
    void StartWithFont(const std::string& fontLines) {
        std::ofstream(dir + "prog/trailsmith.ini") << "[Option]\r\nVersion=Trailsmith  Ver2.20\r\n" << fontLines;
        Start({}, false);
    }
    // Runs open(), which shows d modally, and inspects d once it stands on screen.
    void WhileShown(QDialog& d, const std::function<void()>& open, const std::function<void()>& inspect) {
        QTimer::singleShot(0, &d, [&] {
            for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
            inspect();
            d.done(QDialog::Accepted);
        });
        open();
    }
};

}  // namespace

// Every showing, the first included, is centred on the dialog's frame as laid out for the font
// the settings gave it.
TEST_F(DialogLayoutTest, DialogsOpenCentredFromTheFirstShowing) {
    StartWithFont("[Font]\r\nFontName=DejaVu Sans\r\nFontSize=8\r\n");
    const BarometerStart start{"log.log", "logger 1.0", "N 35", "E 139", "12.0 m", "12.0", ""};
    for (const CentredDialog& c : CentredDialogs(*form, start)) {
        QPoint at[2];
        for (QPoint& shownAt : at)
            WhileShown(*c.d, c.open, [&] {
                shownAt = c.d->frameGeometry().topLeft();
                EXPECT_EQ(shownAt, DialogPosition(form->frameGeometry(), c.d->frameGeometry().size(), S().WorkArea))
                    << c.d->objectName().toStdString();
            });
        EXPECT_EQ(at[0], at[1]) << c.d->objectName().toStdString();
    }
    // Showing them left the main window's controls as they were, none a native window of its own.
    for (const QWidget* w : form->findChildren<QWidget*>()) {
        if (!w->isWindow()) {
            EXPECT_FALSE(w->testAttribute(Qt::WA_NativeWindow)) << w->objectName().toStdString();
        }
    }
}

// The block selector shows every column whole, without a horizontal scroll bar, for long point
// counts and date-times (a range's time may have more decimals than its block's), in the default
// font and in a large one; eight rows show whole, more scroll downwards. It opens centred, and
// the same size again.
TEST_F(DialogLayoutTest, BlockSelectorColumnsShowWhole) {
    for (const char* font : {"", "[Font]\r\nFontName=DejaVu Sans\r\nFontSize=13\r\n"}) {
        SCOPED_TRACE(font);
        dir = ScratchDir(font[0] ? "bigfont" : "font");
        StartWithFont(font);
        TConversionOptions o;
        o.OutDateFormat = "yyyy/mm/dd";
        o.OutDateFormatText = "yyyy/mm/dd";
        o.TimeFmt = "hh:nn:ss";
        BlockTable blocks;
        for (int k = 0; k < 12; ++k) {
            const double t = EncodeDate(2024, 12, 28) + (k + 10) / 24.0;
            blocks.Open(k * 2'000'000, t);
            blocks.Close(k * 2'000'000 + 1'999'999, t + 0.02);
            blocks.Back().Output = true;
        }
        ResetBlockRanges(blocks);
        blocks[3].RangeStart += 0.125 * kOneSecond;
        blocks[3].RangeLast -= 1'000'000;
        TFormOutBlock& d = *form->FormOutBlock;
        QTableWidget& list = *d.ListView1;
        int32_t cur = 0;
        PointStream ps;
        QSize size[2];
        for (QSize& shownSize : size)
            WhileShown(
                d, [&] { form->SelectOutputBlocks(blocks, ps, o, cur); },
                [&] {
                    shownSize = d.frameGeometry().size();
                    EXPECT_EQ(d.frameGeometry().topLeft(),
                              DialogPosition(form->frameGeometry(), shownSize, S().WorkArea));
                    ASSERT_EQ(list.rowCount(), 12);
                    EXPECT_EQ(list.item(3, 1)->text(), "2024/12/28 13:00:00.125");
                    EXPECT_EQ(list.item(11, 3)->text(), "2,000,000");
                    EXPECT_EQ(list.horizontalScrollBar()->maximum(), 0);
                    const QFontMetrics fm = list.fontMetrics();
                    // The style's margins on either side of a cell's text, and its tick box.
                    const int margins =
                        2 * (list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1);
                    const int tick = list.style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, &list);
                    const QRect shown = list.viewport()->rect();
                    EXPECT_LE(list.visualRect(list.model()->index(7, 0)).bottom(), shown.bottom());
                    for (int c = 0; c < 4; ++c) {
                        const QString title = list.horizontalHeaderItem(c)->text();
                        EXPECT_GE(list.horizontalHeader()->sectionSize(c),
                                  list.horizontalHeader()->fontMetrics().horizontalAdvance(title) + margins)
                            << title.toStdString();
                        for (int r = 0; r < list.rowCount(); ++r) {
                            const QRect cell = list.visualRect(list.model()->index(r, c));
                            const QString text = list.item(r, c)->text();
                            EXPECT_GE(cell.width(), fm.horizontalAdvance(text) + margins + (c == 0 ? tick : 0))
                                << text.toStdString();
                            EXPECT_GE(cell.left(), shown.left()) << text.toStdString();
                            EXPECT_LE(cell.right(), shown.right()) << text.toStdString();
                        }
                    }
                });
        EXPECT_EQ(size[0], size[1]);
        form->close();
    }
}
