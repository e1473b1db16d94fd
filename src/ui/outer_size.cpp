#include "ui/outer_size.h"

#include <cmath>
#include <cstdlib>

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <QWindow>

namespace brisk {

namespace {

void setClientSize(QWidget* window, QSize size, bool fixed) {
  if (fixed) {
    window->setFixedSize(size);
  } else {
    window->resize(size);
  }
}

// Watches a window until its frame is known, then takes the frame off the client size.
class FrameWatcher : public QObject {
 public:
  FrameWatcher(QWidget* window, QSize outer, bool fixed)
      : QObject(window), window_(window), outer_(outer), fixed_(fixed) {
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && (event->type() == QEvent::Show || event->type() == QEvent::Move ||
                               event->type() == QEvent::Resize)) {
      adjust();
    }
    return false;
  }

 private:
  void adjust() {
    const QWindow* handle = window_->windowHandle();
    if (!handle) return;
    const QMargins frame = handle->frameMargins();
    if (frame.isNull()) return;
    window_->removeEventFilter(this);
    // A maximised window keeps the size the window manager gave it.
    if (!(window_->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
      setClientSize(window_, outer_.shrunkBy(frame), fixed_);
    }
    deleteLater();
  }

  QWidget* window_;
  QSize outer_;
  bool fixed_;
};

}  // namespace

void setOuterSize(QWidget* window, QSize outer, bool fixed) {
  const QWindow* handle = window->windowHandle();
  const QMargins frame = handle ? handle->frameMargins() : QMargins();
  setClientSize(window, outer.shrunkBy(frame), fixed);
  if (frame.isNull()) new FrameWatcher(window, outer, fixed);
}

QSize settledOuterSize(QSize requested, QSize measured, qreal scale) {
  const bool fractional = scale != std::floor(scale);
  const auto settle = [fractional](int asked, int now) {
    return fractional && std::abs(now - asked) <= 1 ? asked : now;
  };
  return {settle(requested.width(), measured.width()),
          settle(requested.height(), measured.height())};
}

}  // namespace brisk
