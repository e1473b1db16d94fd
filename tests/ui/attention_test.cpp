// Attention while Brisk is in the background: an offer or a finished transfer sends a
// notification to the desktop's notification service (here a stub on a private session
// bus) and activating it raises the window; without the service nothing breaks.

#include <cstdlib>
#include <thread>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include "ui/prompt_window.h"
#include "ui/transfer_window.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// The desktop's notification service as far as Brisk uses it: Notify records what it was
// given and answers with a new id; invoke() sends the signal a click on it would.
class StubNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Shown {
    QString app;
    QString summary;
    QString body;
    QStringList actions;
    uint id = 0;
  };

  explicit StubNotifications(QDBusConnection bus) : bus_(std::move(bus)) {}
  QList<Shown> shown;

  void invoke(uint id) {
    QDBusMessage signal =
        QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActionInvoked"));
    signal << id << QStringLiteral("default");
    bus_.send(signal);
  }

 public Q_SLOTS:
  uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap&, int) {
    shown.append(Shown{app, summary, body, actions, uint(shown.size() + 1)});
    return uint(shown.size());
  }

 private:
  QDBusConnection bus_;
};

// The person turns to another program: no Brisk window is active.
void workElsewhere() {
  QCoreApplication::processEvents();
  QApplication::setActiveWindow(nullptr);
}

}  // namespace

class AttentionTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // A session bus of the test's own, before anything in the process opens the bus.
  void initTestCase() {
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1")});
    QVERIFY(bus_.waitForStarted());
    QVERIFY(QTest::qWaitFor([&] { return bus_.canReadLine(); }, 10000));
    const QByteArray address = bus_.readLine().trimmed();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    stubBus_ = QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("stub"));
    QVERIFY(stubBus_.isConnected());
  }

  void cleanupTestCase() {
    bus_.terminate();
    bus_.waitForFinished();
  }

  void init() { writeSettings(); }
  void cleanup() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (!qobject_cast<MainWindow*>(widget)) delete widget;
    }
  }

  void offerAndVerdictNotifyWhileInTheBackground() {
    StubNotifications stub(stubBus_);
    QVERIFY(stubBus_.registerObject(kPath, &stub, QDBusConnection::ExportAllSlots));
    QVERIFY(stubBus_.registerService(kService));

    Program program;
    program.window.start();
    QVERIFY(QTest::qWaitForWindowActive(&program.window));
    workElsewhere();

    PromptHandle handle("a.txt\t10 bytes");
    std::jthread offer([&] {
      program.frontend.showPrompt(
          handle,
          PromptRequest{"对方要发送文件给你，你要接收吗？", "a.txt\t10 bytes", {"接收", "拒绝"}});
    });
    const auto closePrompt = qScopeGuard([&] { handle.close(); });
    QTRY_COMPARE(stub.shown.size(), 1);
    QCOMPARE(stub.shown[0].app, QStringLiteral("Brisk"));
    QCOMPARE(stub.shown[0].summary, QStringLiteral("对方要发送文件给你，你要接收吗？"));
    QCOMPARE(stub.shown[0].body, QStringLiteral("a.txt\t10 bytes"));
    QVERIFY(stub.shown[0].actions.contains(QStringLiteral("default")));

    // Clicking the notification brings the prompt back from wherever the person put it.
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 1);
    PromptWindow* prompt = openWindows<PromptWindow>().constFirst();
    prompt->showMinimized();
    QTRY_VERIFY(prompt->isMinimized());
    workElsewhere();
    stub.invoke(stub.shown[0].id);
    QTRY_VERIFY(!prompt->isMinimized());

    // While a Brisk window is active, nothing is sent.
    const TransferWindowId window = program.frontend.openTransferWindow(transferSpec(3));
    QApplication::setActiveWindow(&program.window);
    program.frontend.showTransferVerdict(window, verdictOf(true, "传送完毕！"));
    QCoreApplication::processEvents();
    workElsewhere();
    const TransferWindowId second = program.frontend.openTransferWindow(transferSpec(4));
    program.frontend.showTransferVerdict(second, verdictOf(false, "传送中止！"));
    QTRY_COMPARE(stub.shown.size(), 2);
    QCOMPARE(stub.shown[1].summary, QStringLiteral("传送中止！"));
    QCOMPARE(stub.shown[1].body, QStringLiteral("接收文件 Index: 4"));

    stubBus_.unregisterService(kService);
    stubBus_.unregisterObject(kPath);
    program.window.closeWithoutAsking();
  }

  // With the bus but no notification service, an offer is shown as always and no notice
  // about the missing service appears.
  void noServiceIsSilent() {
    BoxAnswerer boxes;
    Program program;
    program.window.start();
    QVERIFY(QTest::qWaitForWindowActive(&program.window));
    workElsewhere();
    const TransferWindowId window = program.frontend.openTransferWindow(transferSpec(5));
    program.frontend.showTransferVerdict(window, verdictOf(true, "传送完毕！"));
    QTRY_COMPARE(program.frontend.transferWindow(window)
                     ->findChild<QWidget*>(QStringLiteral("control42"))
                     ->property("text")
                     .toString(),
                 QStringLiteral("传送完毕！"));
    QVERIFY(boxes.texts().isEmpty());
    program.window.closeWithoutAsking();
  }

 private:
  QProcess bus_;
  QDBusConnection stubBus_{QString()};
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::AttentionTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "attention_test.moc"
