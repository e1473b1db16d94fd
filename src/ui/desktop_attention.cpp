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

// A notification shows a few lines; an offer of many items would fill the screen.
QString firstLines(const QString& text, int count) {
  const QStringList lines = text.split(QLatin1Char('\n'));
  QString head = lines.mid(0, count).join(QLatin1Char('\n'));
  if (lines.size() > count) head += QStringLiteral("\n…");
  return head;
}

}  // namespace

DesktopAttention::DesktopAttention(QObject* parent) : QObject(parent) {}

void DesktopAttention::call(QWidget* window, const QString& summary, const QString& body) {
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
  QDBusMessage notify =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  const QVariantMap hints = {
      {QStringLiteral("desktop-entry"), QStringLiteral("org.brisk.Brisk")},
      {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))},
  };
  notify << QStringLiteral("Brisk") << uint(0) << QStringLiteral("org.brisk.Brisk") << summary
         << firstLines(body, 6) << QStringList{kDefaultAction, QStringLiteral("查看")} << hints
         << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(notify), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, window = QPointer<QWidget>(window)](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            // No notification service: the attention hint was all there is to do.
            const QDBusPendingReply<uint> reply = *call;
            if (reply.isValid() && window) notifications_[reply.value()] = window;
          });
}

void DesktopAttention::onActionInvoked(uint notification, const QString& action) {
  const auto found = notifications_.find(notification);
  if (found == notifications_.end() || action != kDefaultAction) return;
  if (QWidget* window = found->second.data()) {
    window->showNormal();
    window->raise();
    window->activateWindow();
  }
  notifications_.erase(found);
}

void DesktopAttention::onNotificationClosed(uint notification, uint) {
  notifications_.erase(notification);
}

}  // namespace brisk
