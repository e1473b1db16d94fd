#pragma once

class QMenu;
class QWidget;

namespace brisk {

// The main window's context menu: "窗口始终前端显示 (&A)" (ticked while the window stays
// on top), "使用方法 (&H)" and "关于 (&A)". Each action's data is its command (70 to 72).
QMenu* createMainMenu(bool stayOnTop, QWidget* parent);

// The entries of encrypted sessions: "只使用加密连接 (&E)" (80, ticked while it is chosen)
// and "已信任的计算机... (&K)" (79).
void addSecurityMenuActions(QMenu* menu, bool encryptedOnly);

// The entries that reach beyond the window: "发送文件夹... (&D)" (76), "登录时启动 (&L)"
// (77, ticked while the login entry exists) and, only while a tray shows the program,
// "关闭窗口时最小化到托盘 (&T)" (78).
void addDesktopMenuActions(QMenu* menu, bool autostart, bool trayShown, bool closeToTray);

}  // namespace brisk
