#include "ui/input_box.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "ui/edit_menu.h"
#include "ui/visible_frame.h"

namespace brisk {

namespace {

// The local files and folders a drag carries; other URLs are not files to offer.
std::vector<std::filesystem::path> droppedPaths(const QMimeData* data) {
  std::vector<std::filesystem::path> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    QString name = url.toLocalFile();
    // File managers may end a folder's name with a slash; the offer names the folder.
    while (name.size() > 1 && name.endsWith(QLatin1Char('/'))) name.chop(1);
    if (!name.isEmpty()) paths.emplace_back(QFile::encodeName(name).toStdString());
  }
  return paths;
}

}  // namespace

InputBox::InputBox(QWidget* parent) : QTextEdit(parent) {
  setAcceptRichText(true);
  setAcceptDrops(true);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setTabChangesFocus(true);
  keepFrameVisible(this);
}

void InputBox::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & Qt::ControlModifier)) {
    event->accept();
    Q_EMIT sendRequested();
    return;
  }
  QTextEdit::keyPressEvent(event);
}

std::string InputBox::chatText() const {
  QString text = toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return text.toStdString();
}

void InputBox::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createEditMenu(this, this);
  menu->exec(event->globalPos());
  delete menu;
}

void InputBox::dragEnterEvent(QDragEnterEvent* event) {
  if (!droppedPaths(event->mimeData()).empty()) {
    event->acceptProposedAction();
    return;
  }
  QTextEdit::dragEnterEvent(event);
}

void InputBox::dragMoveEvent(QDragMoveEvent* event) {
  if (!droppedPaths(event->mimeData()).empty()) {
    event->acceptProposedAction();
    return;
  }
  QTextEdit::dragMoveEvent(event);
}

void InputBox::dropEvent(QDropEvent* event) {
  std::vector<std::filesystem::path> paths = droppedPaths(event->mimeData());
  if (paths.empty()) {
    QTextEdit::dropEvent(event);
    return;
  }
  event->acceptProposedAction();
  // The offer may ask questions and pause; the file manager should not wait for that, so
  // the drop is finished first and the offer made right after.
  QTimer::singleShot(0, this, [this, paths = std::move(paths)] {
    if (dropHandler_) dropHandler_(paths);
  });
}

}  // namespace brisk
