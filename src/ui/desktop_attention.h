#pragma once

#include <functional>
#include <map>
#include <optional>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace brisk {

// A button of a notification, and what pressing it does (on the GUI thread).
struct NotificationAction {
  QString label;
  std::function<void()> run;
};

// Draws the person's attention to a window that needs them (an offer, a question, a
// finished transfer) while no Brisk window is active: the task bar's attention hint and a
// notification through the desktop's notification service on the session bus, which is
// skipped silently where no bus or no such service runs. Activating the notification
// raises the window; its buttons run their actions. A service that shows no buttons gets
// the same text without them. The notification is withdrawn when its window goes. GUI
// thread only; calls on the bus never wait.
class DesktopAttention : public QObject {
  Q_OBJECT

 public:
  explicit DesktopAttention(QObject* parent = nullptr);

  // Does nothing while one of the program's windows is active.
  void call(QWidget* window, const QString& summary, const QString& body,
            std::vector<NotificationAction> actions = {});

 private Q_SLOTS:
  void onActionInvoked(uint notification, const QString& action);
  void onNotificationClosed(uint notification, uint reason);

 private:
  struct Request {
    QPointer<QWidget> window;
    QString summary;
    QString body;
    std::vector<NotificationAction> actions;
  };
  struct Shown {
    QPointer<QWidget> window;
    std::vector<NotificationAction> actions;
  };

  // Asks the service once whether it shows buttons; the requests wait for the answer.
  void askCapabilities();
  void notify(Request request);
  void withdraw(uint notification);

  bool listening_ = false;
  bool asking_ = false;
  std::optional<bool> showsActions_;
  std::vector<Request> waiting_;
  std::map<uint, Shown> notifications_;
};

}  // namespace brisk
