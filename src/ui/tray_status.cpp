#include "ui/tray_status.h"

#include <QPainter>
#include <QPixmap>

namespace brisk {

namespace {

const QColor kWaitingColour(0xe0, 0x9a, 0x00);    // listening or connecting
const QColor kConnectedColour(0x2e, 0x9d, 0x3a);  // connected, nothing moving
const QColor kMovingColour(0x1f, 0x6f, 0xd8);     // transfers under way

}  // namespace

TrayStatus trayStatus(LinkState state, int port, int running) {
  TrayStatus status;
  QString line;
  switch (state) {
    case LinkState::Idle:
      line = QStringLiteral("未连接");
      break;
    case LinkState::Listening:
      line = QStringLiteral("正在监听，端口 %1").arg(port);
      status.badge = kWaitingColour;
      break;
    case LinkState::Connecting:
      line = QStringLiteral("正在连接...");
      status.badge = kWaitingColour;
      break;
    case LinkState::Connected:
      line = QStringLiteral("已连接");
      status.badge = kConnectedColour;
      break;
  }
  status.toolTip = QStringLiteral("Brisk\n") + line;
  if (running > 0) {
    status.toolTip += QStringLiteral("\n%1 个传送正在进行").arg(running);
    status.badge = kMovingColour;
  }
  return status;
}

QIcon trayIcon(const QIcon& programIcon, const QColor& badge) {
  if (!badge.isValid()) return programIcon;
  QIcon icon;
  for (const int side : {16, 22, 24, 32, 48, 64}) {
    QPixmap pixmap = programIcon.pixmap(side, side);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // A white ring keeps the dot apart from the drawing under it.
    const qreal diameter = side * 0.5;
    const QRectF dot(side - diameter, side - diameter, diameter, diameter);
    painter.setPen(QPen(Qt::white, qMax(1.0, side / 16.0)));
    painter.setBrush(badge);
    painter.drawEllipse(dot.adjusted(0.5, 0.5, -0.5, -0.5));
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace brisk
