// The keyboard in the dialogs: every control reached with Tab, Enter on a focused button presses
// it, Tab enters a radio group at its checked button; and the range dialog reading back the
// texts it shows in the formats that hold names, quotes, no year or no day.
#include <gtest/gtest.h>

#include "qt_test_app.h"
#include "two_blocks.h"

#include <QLineEdit>
#include <QRadioButton>

#include <map>
#include <set>

#include "core/date_time.h"
#include "forms/block_range.h"
#include "forms/form_3d.h"
#include "forms/form_ext_icon.h"
#include "forms/form_geoid.h"
#include "forms/form_limit.h"
#include "forms/form_palt.h"
#include "forms/form_point_name.h"
#include "forms/form_reduce.h"
#include "forms/form_report.h"

using namespace ts;

namespace {

// Two blocks of 100 points one second apart, an hour apart, in the date format given.
struct Log : test::TwoBlocks {
    explicit Log(const std::string& dateFormat = "yyyy/mm/dd") : TwoBlocks(100, dateFormat) { TestApp(); }
};

void Key(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QCoreApplication::sendEvent(w, &press);
}

// Presses key (Tab by default) on the dialog's focused control; the control then focused.
QWidget* Press(QWidget& d, int key = Qt::Key_Tab, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Key(d.focusWidget(), key, mods);
    return d.focusWidget();
}

// Every control Tab reaches from the focused one, once round.
std::set<QWidget*> TabWalk(QWidget& d) {
    std::set<QWidget*> seen{d.focusWidget()};
    for (int i = 0; i < 100; ++i)
        if (!seen.insert(Press(d)).second) break;
    return seen;
}

void ExpectEveryControlReached(QWidget& d, const std::set<QWidget*>& reached) {
    for (QWidget* w : d.findChildren<QWidget*>()) {
        if ((qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QTableWidget*>(w)) &&
            w->isVisibleTo(&d) && w->isEnabled()) {
            EXPECT_TRUE(reached.count(w)) << w->objectName().toStdString() << " of " << d.objectName().toStdString();
        }
    }
}

}  // namespace

TEST(DialogKeysTest, BlockSelectorListLetsTheFocusGoAndEnterPressesTheButton) {
    Log log;
    TFormOutBlock d;
    int32_t cur = 0;
    d.Setup(log.blocks, log.o, cur);
    d.show();
    d.ListView1->setFocus();
    ExpectEveryControlReached(d, TabWalk(d));
    for (Qt::KeyboardModifiers mods :
         {Qt::KeyboardModifiers(Qt::ShiftModifier), Qt::KeyboardModifiers(Qt::ControlModifier),
          Qt::ControlModifier | Qt::ShiftModifier}) {
        d.ListView1->setFocus();
        EXPECT_NE(Press(d, Qt::Key_Tab, mods), d.ListView1) << mods;
    }
    d.ListView1->setFocus();
    EXPECT_NE(Press(d, Qt::Key_Backtab, Qt::ShiftModifier), d.ListView1);
    // Enter on the focused button presses it, whichever it is.
    d.ButtonUnselect->setFocus();
    Key(d.ButtonUnselect, Qt::Key_Return);
    EXPECT_FALSE(d.RowTicked(0) || d.RowTicked(1));
    d.ButtonCan->setFocus();
    Key(d.ButtonCan, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(d.Cancelled());
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(log.blocks[0].Output);
}

TEST(DialogKeysTest, RangeDialogTabsOutOfItsListAndEnterPressesOk) {
    Log log;
    TFormOutputRange d;
    d.Setup(log.blocks, log.ps, log.o, 0, {});
    d.show();
    ASSERT_EQ(d.focusWidget(), d.ListView1);  // the list takes the focus at each fill
    ExpectEveryControlReached(d, TabWalk(d));
    d.ListView1->setFocus();
    EXPECT_NE(Press(d, Qt::Key_Tab, Qt::ControlModifier), d.ListView1);
    // Enter in an edit views its time; on a button it presses that button.
    d.EditEtime->setFocus();
    Key(d.EditEtime, Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.LabelView->text(), "Select Final time");
    d.ListView1Click(50);
    d.ButtonOK->setFocus();
    Key(d.ButtonOK, Qt::Key_Return);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(log.blocks[0].RangeLast, 50);
}

TEST(DialogKeysTest, RangeDialogReadsBackTheTextsItShows) {
    for (const char* fmt : {"dd mmmm", "yyyy\"y\"mm\"m\"dd\"d\"", "\"Day\" dd \"of\" mmmm yyyy"}) {
        Log log(fmt);
        TFormOutputRange d;
        std::vector<std::string> warnings;
        d.Warn = [&](const std::string& m) { warnings.push_back(m); };
        d.Setup(log.blocks, log.ps, log.o, 1, {});
        d.show();
        // Next pages to the last listed time and keeps it.
        d.ButtonFinalViewClick();
        d.ButtonPrevClick();
        EXPECT_EQ(d.EditEtime->text().toStdString(), DateTimeToText(log.blocks[1].StartTime, log.o)) << fmt;
        d.ButtonNextClick();
        EXPECT_EQ(d.EditEtime->text().toStdString(), DateTimeToText(log.blocks[1].EndTime, log.o)) << fmt;
        // OK with the shown texts keeps the whole block.
        d.ButtonOKClick();
        EXPECT_TRUE(warnings.empty()) << fmt;
        EXPECT_FALSE(d.isVisible()) << fmt;
        EXPECT_EQ(log.blocks[1].RangeFirst, log.blocks[1].First) << fmt;
        EXPECT_EQ(log.blocks[1].RangeLast, log.blocks[1].Last) << fmt;
    }
    // Without a day in the format the block lends it: the shown texts read back too.
    Log log("mmmm yy");
    TFormOutputRange d;
    std::vector<std::string> warnings;
    d.Warn = [&](const std::string& m) { warnings.push_back(m); };
    d.Setup(log.blocks, log.ps, log.o, 0, {});
    d.show();
    d.ButtonOKClick();
    EXPECT_TRUE(warnings.empty());
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(log.blocks[0].RangeLast, log.blocks[0].Last);
    EXPECT_EQ(log.blocks[0].RangeEnd, log.blocks[0].EndTime);
}

using DialogKeysWindowTest = MainWindowTest;

TEST_F(DialogKeysWindowTest, ExtIconEnterPressesTheFocusedButton) {
    Start();
    TFormExtIcon& d = *form->FormExtIcon;
    d.show();
    d.ButtonOK->setFocus();
    Key(d.ButtonOK, Qt::Key_Return);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    // Enter in an edit still reloads its preview and leaves the dialog open.
    d.show();
    d.Edits[0]->setFocus();
    Key(d.Edits[0], Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    d.ButtonCan->setFocus();
    Key(d.ButtonCan, Qt::Key_Return);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Rejected);
}

TEST_F(DialogKeysWindowTest, TabEntersARadioGroupAtItsCheckedButton) {
    Start();
    TForm3D& d = *form->Form3D();
    d.RadioButtonAbs->setChecked(true);
    d.show();
    QCoreApplication::processEvents();
    // Into the group: at the checked button; on from it: out of the group; back: at it again.
    d.CheckBoxPExtrude->setFocus();
    EXPECT_EQ(Press(d), d.RadioButtonAbs);
    QWidget* after = Press(d);
    EXPECT_FALSE(after == d.RadioButtonClamp || after == d.RadioButtonRelative || after == d.RadioButtonAbs);
    EXPECT_EQ(Press(d, Qt::Key_Backtab, Qt::ShiftModifier), d.RadioButtonAbs);
    // Another choice moves the stop with it.
    d.RadioButtonClamp->setChecked(true);
    d.CheckBoxPExtrude->setFocus();
    EXPECT_EQ(Press(d), d.RadioButtonClamp);
    // A group the settings left without a checked button keeps every button reachable.
    d.hide();
    d.CheckBoxAutoPos->setChecked(true);
    for (QRadioButton* r : {d.RadioButtonStart, d.RadioButtonHalf, d.RadioButtonFinal}) {
        r->setAutoExclusive(false);
        r->setChecked(false);
        r->setAutoExclusive(true);
    }
    d.show();
    QCoreApplication::processEvents();
    ASSERT_TRUE(d.RadioButtonStart->isVisible());
    d.CheckBoxAutoPos->setFocus();
    const std::set<QWidget*> reached = TabWalk(d);
    EXPECT_TRUE(reached.count(d.RadioButtonStart) && reached.count(d.RadioButtonHalf) &&
                reached.count(d.RadioButtonFinal));
    d.close();
}

// Enter on a focused button presses that button and no other, in the main window, the report
// and every dialog the main window owns; Esc closes the report.
TEST_F(DialogKeysWindowTest, EnterPressesTheFocusedButtonEverywhere) {
    Start();
    for (QWidget* w : std::initializer_list<QWidget*>{form.get(), form->FormReport(), form->FormReduce, form->FormLimit,
                                                      form->FormPointName, form->Form3D(), form->FormGeoid(),
                                                      form->FormPAlt(), form->FormExtIcon.get()}) {
        w->show();
        // Counted instead of acted on: a button may open a file dialog or close the window.
        std::map<QPushButton*, int> clicks;
        std::vector<QPushButton*> buttons;
        for (QPushButton* b : w->findChildren<QPushButton*>())
            if (b->window() == w && b->isVisibleTo(w) && b->isEnabled()) buttons.push_back(b);
        ASSERT_FALSE(buttons.empty()) << w->objectName().toStdString();
        for (QPushButton* b : buttons) {
            QObject::disconnect(b, &QPushButton::clicked, nullptr, nullptr);
            QObject::connect(b, &QPushButton::clicked, [&clicks, b] { ++clicks[b]; });
        }
        for (QPushButton* b : buttons) {
            clicks.clear();
            b->setFocus();
            Key(b, Qt::Key_Return);
            EXPECT_EQ(clicks, (std::map<QPushButton*, int>{{b, 1}}))
                << b->objectName().toStdString() << " of " << w->objectName().toStdString();
        }
        if (w != form.get()) w->hide();
    }
    TFormReport& report = *form->FormReport();
    report.show();
    Key(report.Memo1, Qt::Key_Escape);
    EXPECT_FALSE(report.isVisible());
}
