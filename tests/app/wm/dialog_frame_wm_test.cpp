// The block selector and the range dialog under a real window manager: what the manager offers
// on their frames, and its close request (as the title bar's close button sends it).
#include "forms/form_main.h"

#include <gtest/gtest.h>

#include "qt_test_app.h"
#include "two_blocks.h"
#include "wm/wait_for.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstring>
#include <functional>

#include "core/date_time.h"
#include "forms/block_range.h"

using namespace ts;

namespace {

// An X property of the window as xprop prints it ("NAME(TYPE) = values"); empty until it is set.
QString Property(const QWidget& w, const char* name) {
    QProcess p;
    p.start("xprop", {"-id", QString::number(w.windowHandle()->winId()), name});
    p.waitForFinished(5000);
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return out.contains('=') ? out.section('=', 1).trimmed() : QString();
}

// What the window asks of the manager and what the manager then allows.
struct FrameOffer {
    uint32_t motifFlags = 0, motifFunctions = 0;
    QString allowed;
};
FrameOffer Offer(const QWidget& w) {
    FrameOffer o;
    const QStringList motif = Property(w, "_MOTIF_WM_HINTS").split(',');
    if (motif.size() >= 2) {
        o.motifFlags = motif[0].trimmed().toUInt(nullptr, 16);
        o.motifFunctions = motif[1].trimmed().toUInt(nullptr, 16);
    }
    o.allowed = Property(w, "_NET_WM_ALLOWED_ACTIONS");
    return o;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
}

// Asks the manager to close the window, as a pager or the close button does; the manager then
// sends the window its WM_DELETE_WINDOW.
void AskManagerToClose(const QWidget& w) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(x11, nullptr);
    xcb_connection_t* c = x11->connection();
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = static_cast<xcb_window_t>(w.windowHandle()->winId());
    ev.type = Atom(c, "_NET_CLOSE_WINDOW");
    ev.data.data32[0] = XCB_CURRENT_TIME;
    ev.data.data32[1] = 2;  // from a pager: the user's own request
    xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(c);
}

using DialogFrameTest = MainWindowTest;

}  // namespace

// Neither asks for minimise or maximise; the manager's close cancels, as Esc does.
TEST_F(DialogFrameTest, SelectorAndRangeDialogCloseAsCancelWithoutMinimiseOrMaximise) {
    Start({}, false);
    test::TwoBlocks b(20);
    int32_t cur = 0;
    for (bool viaManager : {true, false}) {
        FrameOffer selectorOffer, rangeOffer;
        bool rangeClosed = false;
        QTimer::singleShot(0, form.get(), [&] {
            QDialog* range = form->FormOutputRange;
            QDialog* selector = form->FormOutBlock;
            EXPECT_TRUE(WaitFor([&] { return !(selectorOffer = Offer(*selector)).allowed.isEmpty(); }));
            // The range dialog of the first row: closed, only that edit is dropped.
            QTimer::singleShot(0, range, [&] {
                EXPECT_TRUE(WaitFor([&] { return !(rangeOffer = Offer(*range)).allowed.isEmpty(); }));
                if (viaManager) AskManagerToClose(*range);
                else SendKey(form->FormOutputRange->ListView1, Qt::Key_Escape);
                rangeClosed = WaitFor([&] { return !range->isVisible(); });
                if (!rangeClosed) form->FormOutputRange->ButtonCanClick();
            });
            form->FormOutBlock->ListView1Click(0);
            if (viaManager) AskManagerToClose(*selector);
            else SendKey(form->FormOutBlock->ListView1, Qt::Key_Escape);
            if (!WaitFor([&] { return !selector->isVisible(); })) {
                ADD_FAILURE() << "the block selector stayed open";
                form->FormOutBlock->ButtonCanClick();
            }
        });
        EXPECT_FALSE(form->SelectOutputBlocks(b.blocks, b.ps, b.o, cur)) << viaManager;
        EXPECT_TRUE(form->AbortRequested());
        EXPECT_TRUE(rangeClosed) << viaManager;
        for (const FrameOffer& o : {selectorOffer, rangeOffer}) {
            // Asked for: close (with move and resize), no minimise or maximise, not "all".
            constexpr uint32_t kFunctions = 1, kAll = 1, kMinimize = 8, kMaximize = 16, kClose = 32;
            EXPECT_TRUE(o.motifFlags & kFunctions) << o.motifFlags;
            EXPECT_EQ(o.motifFunctions & (kAll | kMinimize | kMaximize | kClose), kClose) << o.motifFunctions;
            // The manager offers close and no maximise. (This one offers minimise on every dialog
            // whatever it is asked.)
            EXPECT_TRUE(o.allowed.contains("_NET_WM_ACTION_CLOSE")) << o.allowed.toStdString();
            EXPECT_FALSE(o.allowed.contains("_NET_WM_ACTION_MAXIMIZE")) << o.allowed.toStdString();
        }
    }
}
