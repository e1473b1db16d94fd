#pragma once

#include <map>

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace brisk {

// Draws the person's attention to a window that needs them (an offer, a question, a
// finished transfer) while no Brisk window is active: the task bar's attention hint and a
// notification through the desktop's notification service on the session bus, which is
// skipped silently where no bus or no such service runs. Activating the notification
// raises the window. GUI thread only; calls on the bus never wait.
class DesktopAttention : public QObject {
  Q_OBJECT

 public:
  explicit DesktopAttention(QObject* parent = nullptr);

  // Does nothing while one of the program's windows is active.
  void call(QWidget* window, const QString& summary, const QString& body);

 private Q_SLOTS:
  void onActionInvoked(uint notification, const QString& action);
  void onNotificationClosed(uint notification, uint reason);

 private:
  bool listening_ = false;
  std::map<uint, QPointer<QWidget>> notifications_;
};

}  // namespace brisk
