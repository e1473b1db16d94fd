#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include "common/frontend.h"

class QAction;
class QMenu;

namespace brisk {

class MainWindow;
class Peer;
class QtFrontend;

// The program's icon in the desktop's tray (a StatusNotifierItem where the desktop hosts
// them): its tooltip and a dot on it show whether Brisk listens, is connected or moves
// files; a click shows or hides the main window; its menu shows or hides the window,
// starts listening and quits. Made only where a tray exists. GUI thread only.
class TrayIcon : public QObject {
  Q_OBJECT

 public:
  TrayIcon(MainWindow& window, QtFrontend& frontend, Peer& peer);
  ~TrayIcon() override;

  const QSystemTrayIcon& icon() const { return icon_; }

 private:
  void showStatus();
  void toggleWindow();
  void updateMenu();

  MainWindow& window_;
  Peer& peer_;
  QSystemTrayIcon icon_;
  QMenu* menu_ = nullptr;
  QAction* showAction_ = nullptr;
  QAction* listenAction_ = nullptr;
  LinkState state_ = LinkState::Idle;
  int running_ = 0;
};

}  // namespace brisk
