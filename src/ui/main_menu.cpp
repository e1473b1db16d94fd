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

}  // namespace brisk
