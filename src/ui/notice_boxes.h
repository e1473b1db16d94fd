#pragma once

#include <cstddef>
#include <functional>
#include <map>

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "ui/notice_throttle.h"

class QMessageBox;
class QWidget;

namespace brisk {

// The notices the engine shows without waiting, as their throttle decides: a box of their
// own while few are open, a count in the box that shows the same text already, lines of
// the chat log beyond them, and at last only their number. GUI thread only.
class NoticeBoxes : public QObject {
  Q_OBJECT

 public:
  // `own` takes each box opened, to close it when the program ends; `log` appends a line
  // to the chat log.
  using Own = std::function<void(QWidget*)>;
  using Log = std::function<void(const QString& text, const QColor& colour)>;
  NoticeBoxes(Own own, Log log);

  void show(const QString& text);

 private:
  void tellLeftOut();
  void logLeftOut(std::size_t count);

  Own own_;
  Log log_;
  NoticeThrottle throttle_;
  std::map<int, QPointer<QMessageBox>> boxes_;
  // Tells the number of notices left out once their span is over.
  QTimer leftOutTimer_;
};

}  // namespace brisk
