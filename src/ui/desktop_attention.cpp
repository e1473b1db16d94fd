#include "ui/desktop_attention.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QWidget>

namespace brisk {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
const QString kActionPrefix = QStringLiteral("brisk-");

// A notification shows a few lines; an offer of many items would fill the screen.
QString firstLines(const QString& text, int count) {
  const QStringList lines = text.split(QLatin1Char('\n'));
  QString head = lines.mid(0, count).join(QLatin1Char('\n'));
  if (lines.size() > count) head += QStringLiteral("\n…");
  return head;
}

QDBusMessage serviceCall(const QString& method) {
  return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

}  // namespace

DesktopAttention::DesktopAttention(QObject* parent) : QObject(parent) {}

void DesktopAttention::call(QWidget* window, const QString& summary, const QString& body,
                            std::vector<NotificationAction> actions) {
  if (!window || QApplication::activeWindow()) return;
  QApplication::alert(window);

  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  if (!listening_) {
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(onNotificationClosed(uint, uint)));
    listening_ = true;
  }
  Request request{window, summary, body, std::move(actions)};
  if (showsActions_) {
    notify(std::move(request));
    return;
  }
  waiting_.push_back(std::move(request));
  askCapabilities();
}

void DesktopAttention::askCapabilities() {
  if (asking_) return;
  asking_ = true;
  QDBusConnection bus = QDBusConnection::sessionBus();
  auto* watcher =
      new QDBusPendingCallWatcher(bus.asyncCall(serviceCall(QStringLiteral("GetCapabilities"))));
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
    call->deleteLater();
    asking_ = false;
    const QDBusPendingReply<QStringList> reply = *call;
    // Without an answer there is probably no service yet; the next call asks again.
    if (reply.isValid()) showsActions_ = reply.value().contains(QStringLiteral("actions"));
    std::vector<Request> waiting;
    waiting.swap(waiting_);
    for (Request& request : waiting) notify(std::move(request));
  });
}

void DesktopAttention::notify(Request request) {
  if (!request.window) return;
  QStringList actionList;
  if (showsActions_.value_or(false)) {
    actionList = QStringList{kDefaultAction, QStringLiteral("查看")};
    for (std::size_t i = 0; i < request.actions.size(); ++i) {
      actionList << kActionPrefix + QString::number(i) << request.actions[i].label;
    }
  }
  const QVariantMap hints = {
      {QStringLiteral("desktop-entry"), QStringLiteral("org.brisk.Brisk")},
      {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))},
  };
  QDBusMessage notify = serviceCall(QStringLiteral("Notify"));
  notify << QStringLiteral("Brisk") << uint(0) << QStringLiteral("org.brisk.Brisk")
         << request.summary << firstLines(request.body, 6) << actionList << hints << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notify));
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, window = request.window,
           actions = std::move(request.actions)](QDBusPendingCallWatcher* call) mutable {
            call->deleteLater();
            // No notification service: the attention hint was all there is to do.
            const QDBusPendingReply<uint> reply = *call;
            if (!reply.isValid() || !window) return;
            const uint id = reply.value();
            notifications_[id] = Shown{window, std::move(actions)};
            // Answered in the window itself, or gone: the notification has nothing to offer.
            connect(window, &QObject::destroyed, this, [this, id] { withdraw(id); });
          });
}

void DesktopAttention::withdraw(uint notification) {
  if (notifications_.erase(notification) == 0) return;
  QDBusMessage close = serviceCall(QStringLiteral("CloseNotification"));
  close << notification;
  QDBusConnection::sessionBus().asyncCall(close);
}

void DesktopAttention::onActionInvoked(uint notification, const QString& action) {
  const auto found = notifications_.find(notification);
  if (found == notifications_.end()) return;
  const Shown shown = std::move(found->second);
  notifications_.erase(found);
  if (action == kDefaultAction) {
    if (QWidget* window = shown.window.data()) {
      window->showNormal();
      window->raise();
      window->activateWindow();
    }
    return;
  }
  if (!action.startsWith(kActionPrefix)) return;
  bool isNumber = false;
  const std::size_t at = action.mid(kActionPrefix.size()).toUInt(&isNumber);
  // The window it was about is gone (the offer was answered or withdrawn): too late.
  if (isNumber && at < shown.actions.size() && shown.window) shown.actions[at].run();
}

void DesktopAttention::onNotificationClosed(uint notification, uint) {
  notifications_.erase(notification);
}

}  // namespace brisk
