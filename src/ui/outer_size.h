#pragma once

#include <QSize>

class QWidget;

namespace brisk {

// Gives a top-level window an outer size, frame and caption included, which is how the
// stored main-window size and the sizes of the program's small windows are counted. The
// frame is known only once the window manager has framed the shown window: until then the
// client area gets the whole size, and it is made smaller by the frame as soon as the frame
// is known. Without a window manager (or offscreen) the two sizes are the same.
void setOuterSize(QWidget* window, QSize outer, bool fixed);

// The outer size to remember for a window that was given `requested` and measures
// `measured` now, at `scale` device pixels per pixel. At a fractional scale the window
// manager fits the device size to its size steps and Qt rounds it back, which can take a
// pixel off a window nobody resized; within that pixel the requested size stays, so the
// stored size does not creep from one start to the next.
QSize settledOuterSize(QSize requested, QSize measured, qreal scale);

}  // namespace brisk
