#pragma once

class QMenu;
class QTextEdit;
class QWidget;

namespace brisk {

// The edit menu of the chat log and the input box: copy, cut, paste, a separator, select
// all, a separator, undo and redo (commands 3031 to 3036), each acted out on `target`.
// Every item is always enabled; a read-only target refuses what would change it.
QMenu* createEditMenu(QTextEdit* target, QWidget* parent);

// Acts out one edit command (3031 to 3036) on `target`; other numbers do nothing.
void runEditCommand(QTextEdit* target, int command);

}  // namespace brisk
