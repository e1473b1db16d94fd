#include "ui/chat_log.h"

#include <vector>

#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "ui/edit_menu.h"
#include "ui/readable_colour.h"
#include "ui/visible_frame.h"

namespace brisk {

namespace {

// Each run of text keeps the colour it was appended in, so that it can be shown anew when
// the colour scheme changes.
constexpr int kOriginColour = QTextFormat::UserProperty;

}  // namespace

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
  format.setProperty(kOriginColour, colour);
  format.setForeground(readableLogColour(colour, palette()));
  format.setFontFamilies({QStringLiteral("宋体")});
  moveCursor(QTextCursor::End);
  textCursor().insertText(nul < 0 ? text : text.left(nul), format);
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(bar->maximum());
}

void ChatLog::changeEvent(QEvent* event) {
  QTextEdit::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) recolour();
}

void ChatLog::recolour() {
  struct Run {
    int start, end;
    QColor origin;
  };
  std::vector<Run> runs;
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const QVariant origin = fragment.charFormat().property(kOriginColour);
      if (origin.isValid()) {
        runs.push_back(
            {fragment.position(), fragment.position() + fragment.length(), origin.value<QColor>()});
      }
    }
  }
  // Changing formats joins and splits fragments: the runs are collected first.
  QTextCursor cursor(document());
  for (const Run& run : runs) {
    QTextCharFormat format;
    format.setForeground(readableLogColour(run.origin, palette()));
    cursor.setPosition(run.start);
    cursor.setPosition(run.end, QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(format);
  }
}

void ChatLog::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createEditMenu(this, this);
  menu->exec(event->globalPos());
  delete menu;
}

}  // namespace brisk
