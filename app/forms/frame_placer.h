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

}  // namespace ts
