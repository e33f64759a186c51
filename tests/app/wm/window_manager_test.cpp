// The main window and its dialogs under a real window manager, which frames each window only
// after it is mapped: where the frames stand, start after start and showing after showing.
// Run by run_under_wm.sh on a private X server.
#include "forms/form_main.h"

#include <gtest/gtest.h>

#include "centred_dialogs.h"
#include "qt_test_app.h"
#include "wm/wait_for.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <QtMath>

#include <functional>

#include "forms/form_3d.h"
#include "forms/form_geoid.h"
#include "forms/form_limit.h"
#include "forms/form_palt.h"
#include "forms/form_reduce.h"
#include "forms/form_report.h"

using namespace ts;

namespace {

// The frame as the X server has it, apart from what the program believes: the client's place and
// size from xwininfo, the frame around it from the manager's extents (empty until it framed it),
// in Qt's logical pixels.
QRect XFrame(const QWidget& w) {
    const QString id = QString::number(w.windowHandle()->winId());
    QProcess p;
    p.start("xwininfo", {"-id", id});
    p.waitForFinished(5000);
    const QString info = QString::fromLocal8Bit(p.readAllStandardOutput());
    auto field = [&](const QString& name) {
        const QRegularExpressionMatch m = QRegularExpression(name + R"(:\s*(-?\d+))").match(info);
        return m.hasMatch() ? m.captured(1).toInt() : 0;
    };
    const QRect client(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"));
    p.start("xprop", {"-id", id, "_NET_FRAME_EXTENTS"});
    p.waitForFinished(5000);
    // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"
    const QStringList e = QString::fromLocal8Bit(p.readAllStandardOutput()).section('=', 1).split(',');
    if (e.size() != 4 || client.isEmpty()) return {};
    const QRect device = client.adjusted(-e[0].trimmed().toInt(), -e[2].trimmed().toInt(), e[1].trimmed().toInt(),
                                         e[3].trimmed().toInt());
    // The X server counts device pixels, Qt logical ones. Each edge is converted outwards: a frame
    // that reaches a part of a pixel past the work area does not read as within it.
    const qreal ratio = w.windowHandle()->devicePixelRatio();
    return QRect(QPoint(qFloor(device.left() / ratio), qFloor(device.top() / ratio)),
                 QPoint(qCeil((device.right() + 1) / ratio) - 1, qCeil((device.bottom() + 1) / ratio) - 1));
}

// The frame of a shown window once the manager has framed it and left it in place for a while.
QRect SettledFrame(const QWidget& w) {
    QRect last;
    EXPECT_TRUE(WaitFor([&] {
        const QWindow* h = w.windowHandle();
        return h && h->isExposed() && !(last = XFrame(w)).isEmpty();
    })) << w.objectName().toStdString()
        << " was not framed";
    QElapsedTimer still;
    still.start();
    WaitFor([&] {
        if (const QRect now = XFrame(w); now != last) {
            last = now;
            still.restart();
        }
        return still.elapsed() >= 300;
    });
    return last;
}

bool Near(const QPoint& a, const QPoint& b) { return (a - b).manhattanLength() <= 2; }

std::string Str(const QPoint& p) { return std::to_string(p.x()) + "," + std::to_string(p.y()); }

struct WindowManagerTest : MainWindowTest {
    void WriteSettings(const std::string& lines) {
        std::ofstream(dir + "prog/trailsmith.ini") << "[Option]\r\nVersion=Trailsmith  Ver2.20\r\n" << lines;
    }
    // Starts the program's window as a user does and waits until it stands framed.
    QRect StartFramed() {
        Start({}, false);
        EXPECT_TRUE(WaitFor([&] { return !form->Front().FirstActivation; }));
        return SettledFrame(*form);
    }
    void Exit() {
        form->ButtonExit->click();
        form.reset();
    }
    QRect WorkArea() const { return QGuiApplication::primaryScreen()->availableGeometry(); }
};

}  // namespace

// A first start centres the frame; every later start puts it back where the last one left it.
TEST_F(WindowManagerTest, MainWindowKeepsItsPlaceStartAfterStart) {
    QRect frame = StartFramed();
    const QRect wa = WorkArea();
    EXPECT_TRUE(Near(frame.topLeft(), CentredOn(wa, frame.size()))) << Str(frame.topLeft());
    const QPoint first = frame.topLeft();
    Exit();
    for (int start = 2; start <= 5; ++start) {
        frame = StartFramed();
        EXPECT_TRUE(Near(frame.topLeft(), first)) << "start " << start << " at " << Str(frame.topLeft());
        Exit();
    }
}

// A window closed at the work area's corner, or closed maximised, comes back at the corner: the
// place stored there (0,0 without a panel) is a place like any other.
TEST_F(WindowManagerTest, MainWindowComesBackAtTheWorkAreaCorner) {
    const QRect wa = WorkArea();
    WriteSettings("MainTop=" + std::to_string(wa.top()) + "\r\nMainLeft=" + std::to_string(wa.left()) + "\r\n");
    EXPECT_TRUE(Near(StartFramed().topLeft(), wa.topLeft())) << Str(form->pos());
    form->setWindowState(Qt::WindowMaximized);
    EXPECT_TRUE(WaitFor([&] { return form->isMaximized(); }));
    SettledFrame(*form);
    Exit();
    const QRect frame = StartFramed();
    EXPECT_TRUE(Near(frame.topLeft(), wa.topLeft())) << Str(frame.topLeft());
    EXPECT_TRUE(wa.contains(frame)) << Str(frame.topLeft()) << " " << frame.width() << "x" << frame.height();
}

// A first start with a large font centres the window as the font lays it out: a window that fits
// the screen is wholly on it.
TEST_F(WindowManagerTest, LargeFontWindowStartsWhollyOnScreen) {
    WriteSettings("[Font]\r\nFontName=DejaVu Sans\r\nFontSize=13\r\n");
    const QRect frame = StartFramed();
    const QRect wa = WorkArea();
    ASSERT_LE(frame.height(), wa.height());
    EXPECT_TRUE(wa.contains(frame)) << Str(frame.topLeft()) << " " << frame.width() << "x" << frame.height();
    EXPECT_TRUE(Near(frame.topLeft(), CentredOn(wa, frame.size()))) << Str(frame.topLeft());
}

// The first showing of a dialog is centred on its frame as the second is, though the manager
// tells the frame only once the dialog is mapped.
TEST_F(WindowManagerTest, DialogsStandWhereTheRulePutsTheirFrame) {
    WriteSettings("MainTop=40\r\nMainLeft=30\r\n");
    StartFramed();
    const BarometerStart start{"log.log", "logger 1.0", "N 35", "E 139", "12.0 m", "12.0", ""};
    for (const CentredDialog& c : CentredDialogs(*form, start)) {
        for (int showing = 1; showing <= 2; ++showing) {
            QRect frame;
            QTimer::singleShot(0, c.d, [&] {
                frame = SettledFrame(*c.d);
                c.d->done(QDialog::Accepted);
            });
            c.open();
            const QPoint rule = DialogPosition(SettledFrame(*form), frame.size(), form->Front().settings.WorkArea);
            EXPECT_TRUE(Near(frame.topLeft(), rule))
                << c.d->objectName().toStdString() << " showing " << showing << " at " << Str(frame.topLeft())
                << ", the rule gives " << Str(rule);
        }
    }
}

// The report window's first showing stands centred on the desktop by its frame.
TEST_F(WindowManagerTest, ReportWindowStartsCentredOnTheDesktop) {
    StartFramed();
    emit form->Labelrepoet->clicked();
    const QRect frame = SettledFrame(*form->FormReport());
    const QRect wa = WorkArea();
    EXPECT_TRUE(Near(frame.center(), wa.center()))
        << Str(frame.topLeft()) << " " << frame.width() << "x" << frame.height();
}

// A message box's frame stands where the placement rule puts it, from the text's measure.
TEST_F(WindowManagerTest, MessageBoxStandsWhereTheRulePutsItsFrame) {
    WriteSettings("MainTop=40\r\nMainLeft=30\r\n");
    const QRect main = StartFramed();
    const std::string text = "Start time is later than End time.";
    const QFontMetrics fm(QApplication::font());
    const QPoint rule = MessageDlgPosition(main, std::min(fm.horizontalAdvance(QString::fromStdString(text)), 360),
                                           fm.height(), form->Front().settings.WorkArea);
    QRect frame;
    QTimer::singleShot(0, form.get(), [&] {
        QWidget* box = nullptr;
        if (WaitFor([&] { return (box = QApplication::activeModalWidget()) != nullptr; })) {
            frame = SettledFrame(*box);
            box->close();
            return;
        }
        // Fail here and close whatever is up, so the box's loop returns instead of waiting for
        // ctest's timeout.
        ADD_FAILURE() << "the message box was not shown";
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != form.get() && w->isVisible()) w->close();
    });
    form->MessageDlgCentered(text, MsgKind::Warning, mbOK, form.get());
    EXPECT_TRUE(Near(frame.topLeft(), rule)) << Str(frame.topLeft()) << ", the rule gives " << Str(rule);
}

// An unattended run in which nobody moved the window writes back the place it was loaded at,
// also when a repaired value shows the settings again.
TEST_F(WindowManagerTest, QuietRunWritesBackTheLoadedPlace) {
    WriteSettings("MainTop=123\r\nMainLeft=45\r\nGPXout=1\r\nKMZout=0\r\n[GPXopt]\r\nLatLonDecimal=99\r\n");
    std::ofstream(dir + "a.csv") << "DATE,TIME,LATITUDE,LONGITUDE\n2020/01/02,03:04:05,35.1,139.2\n"
                                    "2020/01/02,03:04:06,35.1001,139.2001\n";
    Start({"/Q", dir + "a.csv"}, false);
    ASSERT_TRUE(WaitFor([&] { return !form->isVisible(); }));
    std::ifstream in(dir + "prog/trailsmith.ini");
    const std::string ini((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(ini.find("MainTop=123\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("MainLeft=45\r\n"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("LatLonDecimal=99"), std::string::npos);
}

// The frame fits the work area, title bar included, with the default font and with a large one;
// where the controls need more room they scroll, and every button can be brought into sight.
TEST_F(WindowManagerTest, WindowFitsTheWorkAreaAndEveryControlCanBeReached) {
    for (const char* font : {"", "[Font]\r\nFontName=DejaVu Sans\r\nFontSize=20\r\n"}) {
        WriteSettings(font);
        const QRect frame = StartFramed();
        const QRect wa = WorkArea();
        EXPECT_TRUE(wa.contains(frame)) << font << Str(frame.topLeft()) << " " << frame.width() << "x"
                                        << frame.height();
        auto* scroll = form->findChild<QScrollArea*>();
        ASSERT_TRUE(scroll);
        for (QWidget* w : std::initializer_list<QWidget*>{form->ButtonExec, form->ButtonExit, form->BitBtnRef}) {
            scroll->ensureWidgetVisible(w);
            QCoreApplication::processEvents();
            const QRect shown(w->mapTo(scroll->viewport(), QPoint(0, 0)), w->size());
            EXPECT_TRUE(scroll->viewport()->rect().contains(shown)) << w->objectName().toStdString() << font;
        }
        EXPECT_TRUE(form->StatusBar1->isVisible());
        Exit();
    }
}

// With the default font the whole window fits a laptop's work area less a panel (1366x728) as it
// is laid out: nothing scrolls. Smaller work areas are left to the test above.
TEST_F(WindowManagerTest, DefaultFontWindowNeedsNoScrolling) {
    const QRect wa = WorkArea();
    if (wa.width() < 1024 || wa.height() < 728) GTEST_SKIP() << "work area " << wa.width() << "x" << wa.height();
    const QRect frame = StartFramed();
    EXPECT_TRUE(wa.contains(frame)) << Str(frame.topLeft()) << " " << frame.width() << "x" << frame.height();
    auto* scroll = form->findChild<QScrollArea*>();
    ASSERT_TRUE(scroll);
    const QSize need = scroll->widget()->sizeHint();
    EXPECT_EQ(scroll->verticalScrollBar()->maximum(), 0) << need.width() << "x" << need.height();
    EXPECT_EQ(scroll->horizontalScrollBar()->maximum(), 0) << need.width() << "x" << need.height();
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
    Exit();
}

// The keyboard alone works the window: it starts in the input box, Tab never stops on the frame
// around the controls, Enter presses a focused button and Esc closes the report.
TEST_F(WindowManagerTest, KeyboardStartsInTheInputBoxAndPressesTheFocusedButton) {
    StartFramed();
    auto typed = [](int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
        QKeyEvent press(QEvent::KeyPress, key, mods, text);
        if (QWidget* w = QApplication::focusWidget()) QCoreApplication::sendEvent(w, &press);
        else ADD_FAILURE() << "no control has the focus";
    };
    EXPECT_TRUE(WaitFor([&] { return QApplication::focusWidget() == form->EditFn; }))
        << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "no focus");
    typed(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_NE(QApplication::focusWidget(), form->findChild<QScrollArea*>());
    form->EditFn->setFocus();

    TFormReport& report = *form->FormReport();
    for (bool esc : {false, true}) {
        emit form->Labelrepoet->clicked();
        ASSERT_TRUE(WaitFor([&] { return QApplication::activeWindow() == &report; }));
        report.Button1->setFocus();
        typed(esc ? Qt::Key_Escape : Qt::Key_Return);
        EXPECT_TRUE(WaitFor([&] { return !report.isVisible(); })) << (esc ? "Esc" : "Enter on Close");
        report.hide();
    }

    // The reduction and mask dialogs: Enter on a focused Cancel cancels; the next showing starts
    // in the first field, where digits typed at once replace its text, and Enter there is OK.
    struct Case {
        QCheckBox* box;
        QDialog* d;
        QLineEdit* first;
        QPushButton* cancel;
    };
    for (const Case& c :
         {Case{form->CheckBoxReduce, form->FormReduce, form->FormReduce->EditMd, form->FormReduce->ButtonCan},
          Case{form->CheckBoxMask, form->FormLimit, form->FormLimit->EditHdopMask, form->FormLimit->ButtonCan}}) {
        const std::string name = c.d->objectName().toStdString();
        for (bool cancel : {true, false}) {
            QTimer::singleShot(0, form.get(), [&] {
                const bool ready = WaitFor(
                    [&] { return QApplication::activeWindow() == c.d && QApplication::focusWidget() == c.first; });
                EXPECT_TRUE(ready) << name << " did not start in its first field";
                if (ready) {
                    typed(Qt::Key_2, Qt::NoModifier, "2");
                    typed(Qt::Key_5, Qt::NoModifier, "5");
                    EXPECT_EQ(c.first->text(), "25") << name;
                    if (cancel) c.cancel->setFocus();
                    typed(Qt::Key_Return);
                }
                if (!WaitFor([&] { return !c.d->isVisible(); })) {
                    ADD_FAILURE() << name << " stayed open";
                    c.d->done(QDialog::Rejected);
                }
            });
            c.box->setChecked(true);
            EXPECT_EQ(c.d->result(), cancel ? QDialog::Rejected : QDialog::Accepted) << name;
            EXPECT_EQ(c.box->isChecked(), !cancel) << name;
        }
        EXPECT_TRUE(c.box->text().contains("25")) << name << ": " << c.box->text().toStdString();
    }

    form->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return QApplication::activeWindow() == form.get(); }));
    form->ButtonExit->setFocus();
    typed(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(WaitFor([&] { return !form->isVisible(); }));
}
