#include "forms/frame_placer.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWindow>

namespace ts {

namespace {

// A window manager answers a map or a move with a burst of configure events a few milliseconds
// apart; 50 ms without one means it has done, yet is short enough not to be seen.
constexpr int kQuietSpellMs = 50;
// A manager that has not framed a window within a second will not: the window is then left where
// the last try put it rather than moved about for ever.
constexpr int kGiveUpMs = 1000;

QMargins FrameMargins(const QWidget& w) {
    const QWindow* h = w.windowHandle();
    return h ? h->frameMargins() : QMargins();
}

// Places a window's frame again once the window manager has framed it: until the window is
// mapped nobody knows the frame, and a move of a mapped but unframed window lands on its client
// area. A move before mapping places the frame.
class FramePlacer : public QObject {
public:
    explicit FramePlacer(QWidget& w) : QObject(&w), w_(w) {
        settle_.setSingleShot(true);
        settle_.setInterval(kQuietSpellMs);
        connect(&settle_, &QTimer::timeout, this, [this] { Apply(true); });
        w.installEventFilter(this);
        WatchWindow();
    }
    // The placer of w, if one was made.
    static FramePlacer* Of(const QWidget& w) {
        for (QObject* o : w.children())
            if (auto* p = dynamic_cast<FramePlacer*>(o)) return p;
        return nullptr;
    }
    void Place(FrameRule rule, const QMargins& like) {
        rule_ = std::move(rule);
        pending_ = true;
        since_.invalidate();
        QMargins m = FrameMargins(w_);
        if (m.isNull()) m = framed_ ? last_ : like;  // a hidden window may have lost its frame
        expectFrame_ = !m.isNull();
        like_ = m;
        if (!w_.isVisible()) w_.move(rule_(w_.size().grownBy(m)));
        else Apply(false);
    }

    bool Pending() const { return pending_; }
    // The frame as the program has it: where a placement under way puts it, or as drawn. A
    // window shown again is framed anew; until then it keeps the frame it had.
    QRect Frame(const QWidget& w) const {
        QMargins m = FrameMargins(w);
        if (m.isNull() && framed_) m = last_;
        if (!pending_) return w.geometry().marginsAdded(m);
        if (m.isNull()) m = like_;
        const QSize size = w.size().grownBy(m);
        return {rule_(size), size};
    }

protected:
    bool eventFilter(QObject* obj, QEvent* e) override {
        const QEvent::Type t = e->type();
        if (obj == &w_ && t == QEvent::Show) WatchWindow();
        else if (obj == &w_ && t == QEvent::Hide) Stop();
        else if (pending_ && obj == window_ && t == QEvent::Expose)
            QMetaObject::invokeMethod(
                this, [this] { Apply(false); }, Qt::QueuedConnection);
        else if (pending_ && obj == &w_ && (t == QEvent::Move || t == QEvent::Resize))
            settle_.start();  // until the manager's answers stop, sizes and frames may be those of before
        return false;
    }

private:
    void WatchWindow() {
        if (QWindow* h = w_.windowHandle(); h && h != window_) {
            window_ = h;
            h->installEventFilter(this);
        }
    }
    void Stop() {
        pending_ = false;
        settle_.stop();
    }
    // Done only after a quiet spell: while the manager's answers come in, the window's place may
    // be that of the moment before.
    void Apply(bool quiet) {
        if (!pending_ || !w_.isVisible()) return;
        if (!w_.windowHandle() || !w_.windowHandle()->isExposed()) return;  // placed when exposed
        if (!since_.isValid()) since_.start();
        const QMargins m = FrameMargins(w_);
        if (!m.isNull()) {
            last_ = m;
            framed_ = true;
        }
        const bool givenUp = since_.elapsed() >= kGiveUpMs;
        // A frame that was expected but is not known yet is waited for.
        const bool waiting = m.isNull() && expectFrame_ && !givenUp;
        const QPoint client = rule_(w_.size().grownBy(m)) + QPoint(m.left(), m.top());
        const bool placed = w_.geometry().topLeft() == client;
        // Size and place together: a move alone would send the window's size as the platform
        // last confirmed it, undoing a resize it has not confirmed yet.
        if (!placed && !waiting) w_.windowHandle()->setGeometry(QRect(client, w_.size()));
        if ((quiet && placed && (!m.isNull() || !expectFrame_)) || givenUp) Stop();
        else settle_.start();
    }

    QWidget& w_;
    QPointer<QWindow> window_;
    QTimer settle_;
    QElapsedTimer since_;  // since the window was first exposed
    FrameRule rule_;
    bool pending_ = false;
    bool expectFrame_ = false;
    bool framed_ = false;
    QMargins last_;
    QMargins like_;  // the frame expected before the window is framed
};

}  // namespace

QRect FrameRect(const QWidget& w) { return w.geometry().marginsAdded(FrameMargins(w)); }

QRect PlacedFrame(const QWidget& w) {
    const FramePlacer* placer = FramePlacer::Of(w);
    return placer ? placer->Frame(w) : FrameRect(w);
}

bool PlacementPending(const QWidget& w) {
    const FramePlacer* placer = FramePlacer::Of(w);
    return placer && placer->Pending();
}

QPoint CentredOn(const QRect& area, const QSize& frame) {
    return {area.left() + (area.width() - frame.width()) / 2, area.top() + (area.height() - frame.height()) / 2};
}

void PlaceFrame(QWidget& w, FrameRule rule, const QWidget* like) {
    FramePlacer* placer = FramePlacer::Of(w);
    if (!placer) placer = new FramePlacer(w);
    placer->Place(std::move(rule), like ? FrameMargins(*like) : QMargins());
}

}  // namespace ts
