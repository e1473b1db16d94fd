#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

#include "common/frontend.h"

namespace brisk {

// What the tray shows of the program: the link's state and the running transfers.
struct TrayStatus {
  QString toolTip;
  // The dot on the icon: none while idle.
  QColor badge;
};

// `port` is the control port while listening; `running` the transfers under way.
TrayStatus trayStatus(LinkState state, int port, int running);

// The program's icon with the status's dot in its lower right corner.
QIcon trayIcon(const QIcon& programIcon, const QColor& badge);

}  // namespace brisk
