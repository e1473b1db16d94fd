#pragma once

class QMenu;
class QWidget;

namespace brisk {

// The main window's context menu: "窗口始终前端显示 (&A)" (ticked while the window stays
// on top), "使用方法 (&H)" and "关于 (&A)". Each action's data is its command (70 to 72).
QMenu* createMainMenu(bool stayOnTop, QWidget* parent);

}  // namespace brisk
