#include "ui/chat_log.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextCursor>

#include "ui/edit_menu.h"
#include "ui/visible_frame.h"

namespace brisk {

ChatLog::ChatLog(QWidget* parent) : QTextEdit(parent) {
  setReadOnly(true);
  setAcceptRichText(true);
  setAcceptDrops(false);
  document()->setUndoRedoEnabled(false);
  // The log keeps the latest lines only: a peer that sends without end must not grow it
  // (and the window's memory) without bound.
  document()->setMaximumBlockCount(kMaxLines);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Tab leaves the log for the next control, as it does everywhere else in the window.
  setTabChangesFocus(true);
  keepFrameVisible(this);
}

void ChatLog::appendLog(const QString& text, const QColor& colour) {
  const qsizetype nul = text.indexOf(QChar(u'\0'));
  QTextCharFormat format;
  format.setForeground(colour);
  format.setFontFamilies({QStringLiteral("宋体")});
  moveCursor(QTextCursor::End);
  textCursor().insertText(nul < 0 ? text : text.left(nul), format);
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(bar->maximum());
}

void ChatLog::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createEditMenu(this, this);
  menu->exec(event->globalPos());
  delete menu;
}

}  // namespace brisk
