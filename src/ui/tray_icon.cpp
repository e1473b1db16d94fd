#include "ui/tray_icon.h"

#include <QAction>
#include <QMenu>

#include "link/peer.h"
#include "ui/control_ids.h"
#include "ui/main_window.h"
#include "ui/program_icon.h"
#include "ui/qt_frontend.h"
#include "ui/tray_status.h"

namespace brisk {

TrayIcon::TrayIcon(MainWindow& window, QtFrontend& frontend, Peer& peer)
    : window_(window), peer_(peer), menu_(new QMenu) {
  showAction_ = menu_->addAction(QStringLiteral("显示窗口"), this, &TrayIcon::toggleWindow);
  listenAction_ =
      menu_->addAction(QStringLiteral("监听"), this, [this] { window_.command(kIdListen); });
  menu_->addSeparator();
  menu_->addAction(QStringLiteral("退出"), &window_, &MainWindow::quit);
  connect(menu_, &QMenu::aboutToShow, this, &TrayIcon::updateMenu);
  icon_.setContextMenu(menu_);
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::Trigger) toggleWindow();
  });
  connect(&frontend, &QtFrontend::linkStateChanged, this, [this](LinkState state) {
    state_ = state;
    showStatus();
  });
  connect(&frontend, &QtFrontend::runningTransfersChanged, this, [this](int running) {
    running_ = running;
    showStatus();
  });
  showStatus();
  icon_.show();
  window_.setTrayShown(true);
}

TrayIcon::~TrayIcon() {
  window_.setTrayShown(false);
  delete menu_;
}

void TrayIcon::showStatus() {
  const TrayStatus status = trayStatus(state_, peer_.controlPort(), running_);
  icon_.setToolTip(status.toolTip);
  icon_.setIcon(trayIcon(programIcon(), status.badge));
  updateMenu();
}

void TrayIcon::updateMenu() {
  showAction_->setText(window_.isVisible() ? QStringLiteral("隐藏窗口")
                                           : QStringLiteral("显示窗口"));
  listenAction_->setEnabled(state_ == LinkState::Idle);
}

void TrayIcon::toggleWindow() {
  if (window_.isVisible() && !window_.isMinimized()) {
    window_.hide();
  } else {
    window_.showFromOutside();
  }
}

}  // namespace brisk
