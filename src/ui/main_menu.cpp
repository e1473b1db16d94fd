#include "ui/main_menu.h"

#include <QAction>
#include <QMenu>

#include "ui/control_ids.h"

namespace brisk {

QMenu* createMainMenu(bool stayOnTop, QWidget* parent) {
  auto* menu = new QMenu(parent);
  QAction* onTop = menu->addAction(QStringLiteral("窗口始终前端显示 (&A)"));
  onTop->setData(kCmdStayOnTop);
  onTop->setCheckable(true);
  onTop->setChecked(stayOnTop);
  menu->addAction(QStringLiteral("使用方法 (&H)"))->setData(kCmdHelp);
  menu->addAction(QStringLiteral("关于 (&A)"))->setData(kCmdAbout);
  return menu;
}

void addSecurityMenuActions(QMenu* menu, bool encryptedOnly) {
  menu->addSeparator();
  QAction* only = menu->addAction(QStringLiteral("只使用加密连接 (&E)"));
  only->setData(kCmdEncryptedOnly);
  only->setCheckable(true);
  only->setChecked(encryptedOnly);
  menu->addAction(QStringLiteral("已信任的计算机... (&K)"))->setData(kCmdTrustedComputers);
}

void addDesktopMenuActions(QMenu* menu, bool autostart, bool trayShown, bool closeToTray) {
  menu->addSeparator();
  menu->addAction(QStringLiteral("发送文件夹... (&D)"))->setData(kCmdSendFolder);
  menu->addSeparator();
  const auto addSwitch = [menu](const QString& text, int command, bool on) {
    QAction* action = menu->addAction(text);
    action->setData(command);
    action->setCheckable(true);
    action->setChecked(on);
  };
  addSwitch(QStringLiteral("登录时启动 (&L)"), kCmdAutostart, autostart);
  if (trayShown)
    addSwitch(QStringLiteral("关闭窗口时最小化到托盘 (&T)"), kCmdCloseToTray, closeToTray);
}

}  // namespace brisk
