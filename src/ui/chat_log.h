#pragma once

#include <QTextEdit>

namespace brisk {

// Control 5: the read-only chat log. Every text sent or received is appended in the colour
// of its origin (made readable on a dark colour scheme); the log keeps no undo history, so no edit
// command can take text out of it.
class ChatLog : public QTextEdit {
  Q_OBJECT

 public:
  // The most lines the log holds; the oldest go first.
  static constexpr int kMaxLines = 20000;

  explicit ChatLog(QWidget* parent);

  // Appends `text` at the end in `colour` and scrolls to the bottom. The text ends at a
  // NUL character, if it holds one.
  void appendLog(const QString& text, const QColor& colour);

 protected:
  void changeEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Shows every line in its colour's counterpart for the current palette.
  void recolour();
};

}  // namespace brisk
