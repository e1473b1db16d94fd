#include "ui/visible_frame.h"

#include <cmath>

#include <QAbstractScrollArea>
#include <QEvent>
#include <QObject>
#include <QPainter>

namespace brisk {

namespace {

class FramePainter : public QObject {
 public:
  explicit FramePainter(QAbstractScrollArea* area) : QObject(area), area_(area) {
    area->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != area_ || event->type() != QEvent::Paint) return false;
    const qreal scale = area_->devicePixelRatio();
    if (scale == std::floor(scale)) return false;
    // The outline colour of Qt's own style, from the window colour the frame sits on.
    const QColor outline = area_->palette().color(QPalette::Window).darker(140).lighter(108);
    QPainter painter(area_);
    const qreal w = area_->width();
    const qreal h = area_->height();
    painter.fillRect(QRectF(0, 0, w, 1), outline);
    painter.fillRect(QRectF(0, h - 1, w, 1), outline);
    painter.fillRect(QRectF(0, 0, 1, h), outline);
    painter.fillRect(QRectF(w - 1, 0, 1, h), outline);
    return true;
  }

 private:
  QAbstractScrollArea* area_;
};

}  // namespace

void keepFrameVisible(QAbstractScrollArea* area) {
  area->setBackgroundRole(QPalette::Base);
  area->setAutoFillBackground(true);
  area->viewport()->setAutoFillBackground(false);
  new FramePainter(area);
}

}  // namespace brisk
