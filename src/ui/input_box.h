#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include <QTextEdit>

namespace brisk {

// Control 6: the input box. Enter starts a new line; the Send button or Ctrl+Enter sends,
// and Tab moves on to the next control. Files and folders dropped on it from a file
// manager become one offer to the peer.
class InputBox : public QTextEdit {
  Q_OBJECT

 public:
  using DropHandler = std::function<void(const std::vector<std::filesystem::path>&)>;

  explicit InputBox(QWidget* parent);

  // Receives the full paths of the local files and folders of each drop, in drop order.
  void setDropHandler(DropHandler handler) { dropHandler_ = std::move(handler); }

  // The typed text with "\r\n" line breaks, as the peer receives it.
  std::string chatText() const;

 Q_SIGNALS:
  // Ctrl+Enter: the person wants the text sent, as the Send button does.
  void sendRequested();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  DropHandler dropHandler_;
};

}  // namespace brisk
