// Placing top-level windows by their frames. A window manager makes a window's frame, and tells
// its size, only after mapping the window; these helpers place the frame, not the client area.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <functional>

namespace ts {

// A top-level window's frame as the window manager drew it; the window alone while unframed.
QRect FrameRect(const QWidget& w);
// Where a window's frame goes, for the frame's size.
using FrameRule = std::function<QPoint(const QSize& frame)>;
// Puts w's frame where rule says. Until the window is shown and framed the frame is taken to be
// like `like`'s, and once the window is shown and framed it is placed again for its real frame.
void PlaceFrame(QWidget& w, FrameRule rule, const QWidget* like = nullptr);
// Where w's frame stands for the settings: where a placement still under way puts it, else as
// drawn. Showing, framing and laying out the window are not the user's moves.
QRect PlacedFrame(const QWidget& w);
// Whether a placement of w waits for the window to be shown, exposed or framed.
bool PlacementPending(const QWidget& w);
// Where a frame of the given size stands centred on area (halves toward zero); every centred
// window goes through it, so that all are centred alike, the area's offset included.
QPoint CentredOn(const QRect& area, const QSize& frame);

}  // namespace ts
