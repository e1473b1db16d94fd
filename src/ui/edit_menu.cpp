#include "ui/edit_menu.h"

#include <QAction>
#include <QMenu>
#include <QTextEdit>

#include "ui/control_ids.h"

namespace brisk {

QMenu* createEditMenu(QTextEdit* target, QWidget* parent) {
  auto* menu = new QMenu(parent);
  const auto add = [&](int command, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setData(command);
    QObject::connect(action, &QAction::triggered, target,
                     [target, command] { runEditCommand(target, command); });
  };
  add(kCmdCopy, QStringLiteral("复制 (&C)"));
  add(kCmdCut, QStringLiteral("剪切 (&X)"));
  add(kCmdPaste, QStringLiteral("粘贴 (&V)"));
  menu->addSeparator();
  add(kCmdSelectAll, QStringLiteral("全选 (&A)"));
  menu->addSeparator();
  add(kCmdUndo, QStringLiteral("撤销 (&Z)"));
  add(kCmdRedo, QStringLiteral("重做 (&Y)"));
  return menu;
}

void runEditCommand(QTextEdit* target, int command) {
  // QTextEdit itself refuses cut and paste when read-only; undo and redo it would carry
  // out on any document, so they are refused here.
  const bool editable = !target->isReadOnly();
  switch (command) {
    case kCmdCopy:
      target->copy();
      break;
    case kCmdCut:
      if (editable) target->cut();
      break;
    case kCmdPaste:
      if (editable) target->paste();
      break;
    case kCmdSelectAll:
      target->selectAll();
      break;
    case kCmdUndo:
      if (editable) target->undo();
      break;
    case kCmdRedo:
      if (editable) target->redo();
      break;
    default:
      break;
  }
}

}  // namespace brisk
