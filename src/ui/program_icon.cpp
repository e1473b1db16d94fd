#include "ui/program_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace brisk {

QIcon programIcon() {
  QSvgRenderer drawing(QStringLiteral(":/brisk/brisk.svg"));
  QIcon icon;
  if (!drawing.isValid()) return icon;
  // The sizes title bars, task bars and window switchers ask for.
  for (const int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    drawing.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace brisk
