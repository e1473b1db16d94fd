// Attention while Brisk is in the background: an offer or a finished transfer sends a
// notification to the desktop's notification service (here a stub on a private session
// bus) and activating it raises the window; without the service nothing breaks.

#include <atomic>
#include <cstdlib>
#include <thread>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
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
// given and answers with a new id; invoke() sends the signal a click on it (or on one of
// its buttons) would. `capabilities` is what it says it can show.
class StubNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Shown {
    QString app;
    QString summary;
    QString body;
    QStringList actions;  // key, label, key, label...
    uint id = 0;
    bool closed = false;

    // The key of the button labelled `label`, or an empty text.
    QString actionKey(const QString& label) const {
      const qsizetype at = actions.indexOf(label);
      return at > 0 && at % 2 == 1 ? actions[at - 1] : QString();
    }
  };

  explicit StubNotifications(QDBusConnection bus,
                             QStringList capabilities = {QStringLiteral("body"),
                                                         QStringLiteral("actions")})
      : capabilities_(std::move(capabilities)), bus_(std::move(bus)) {
    QVERIFY(bus_.registerObject(kPath, this, QDBusConnection::ExportAllSlots));
    QVERIFY(bus_.registerService(kService));
  }
  ~StubNotifications() override {
    bus_.unregisterService(kService);
    bus_.unregisterObject(kPath);
  }
  QList<Shown> shown;

  void invoke(uint id, const QString& action = QStringLiteral("default")) {
    QDBusMessage signal =
        QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActionInvoked"));
    signal << id << action;
    bus_.send(signal);
  }

 public Q_SLOTS:
  QStringList GetCapabilities() { return capabilities_; }
  uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap&, int) {
    shown.append(Shown{app, summary, body, actions, uint(shown.size() + 1)});
    return uint(shown.size());
  }
  void CloseNotification(uint id) {
    if (id >= 1 && id <= uint(shown.size())) shown[id - 1].closed = true;
  }

 private:
  QStringList capabilities_;
  QDBusConnection bus_;
};

// Records the folders the program asks the desktop to open.
class OpenedUrls : public QObject {
  Q_OBJECT

 public:
  OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
  ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  QList<QUrl> urls;

 public Q_SLOTS:
  void open(const QUrl& url) { urls.append(url); }
};

// The person turns to another program: no Brisk window is active.
void workElsewhere() {
  QCoreApplication::processEvents();
  QApplication::setActiveWindow(nullptr);
}

// Shows the main window, then turns to another program.
bool startInTheBackground(Program& program) {
  program.window.start();
  if (!QTest::qWaitForWindowActive(&program.window)) return false;
  workElsewhere();
  return true;
}

PromptRequest offerRequest() {
  return PromptRequest{"对方要发送文件给你，你要接收吗？",
                       "a.txt\t10 bytes",
                       {"接收", "拒绝", "续传已有文件"},
                       PromptKind::PeerSingleFileOffer};
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
    Program program;
    QVERIFY(startInTheBackground(program));

    PromptHandle handle("a.txt\t10 bytes");
    std::jthread offer([&] { program.frontend.showPrompt(handle, offerRequest()); });
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
    program.window.closeWithoutAsking();
  }

  // The offer's buttons answer as the prompt's own buttons do. Answered in the window
  // instead, the notification is withdrawn: it has nothing left to offer.
  void offerButtonsAnswerThePrompt_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("inWindow");
    QTest::addColumn<int>("answer");
    QTest::newRow("接收") << QStringLiteral("接收") << false << int(PromptAnswer::Accept);
    QTest::newRow("拒绝") << QStringLiteral("拒绝") << false << int(PromptAnswer::Refuse);
    QTest::newRow("window") << QString() << true << int(PromptAnswer::Refuse);
  }
  void offerButtonsAnswerThePrompt() {
    QFETCH(QString, label);
    QFETCH(bool, inWindow);
    QFETCH(int, answer);
    StubNotifications stub(stubBus_);
    Program program;
    QVERIFY(startInTheBackground(program));

    PromptHandle handle("a.txt\t10 bytes");
    std::atomic<int> given{-1};
    std::jthread offer([&] { given = int(program.frontend.showPrompt(handle, offerRequest())); });
    const auto closePrompt = qScopeGuard([&] { handle.close(); });
    QTRY_COMPARE(stub.shown.size(), 1);
    QVERIFY(stub.shown[0].actionKey(QStringLiteral("续传已有文件")).isEmpty());
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 1);
    if (inWindow) {
      openWindows<PromptWindow>().constFirst()->press(1);
      QTRY_VERIFY(stub.shown[0].closed);
    } else {
      const QString key = stub.shown[0].actionKey(label);
      QVERIFY(!key.isEmpty());
      stub.invoke(stub.shown[0].id, key);
    }
    QTRY_COMPARE(given.load(), answer);
    QTRY_VERIFY(openWindows<PromptWindow>().isEmpty());
    program.window.closeWithoutAsking();
  }

  // The end of a transfer names what moved and offers its folder; a service that shows
  // no buttons gets the same text without them.
  void verdictNamesTheItemAndOpensItsFolder_data() {
    QTest::addColumn<bool>("buttons");
    QTest::addColumn<int>("fileCount");
    QTest::addColumn<QString>("itemName");
    QTest::addColumn<QString>("body");
    QTest::newRow("folder") << true << -1 << QStringLiteral("照片")
                            << QStringLiteral("照片\n接收文件 Index: 6");
    QTest::newRow("items") << true << 3 << QString()
                           << QStringLiteral("3 个项目\n接收文件 Index: 6");
    QTest::newRow("no buttons") << false << 1 << QStringLiteral("a.txt")
                                << QStringLiteral("a.txt\n接收文件 Index: 6");
  }
  void verdictNamesTheItemAndOpensItsFolder() {
    QFETCH(bool, buttons);
    QFETCH(int, fileCount);
    QFETCH(QString, itemName);
    QFETCH(QString, body);
    StubNotifications stub(stubBus_,
                           buttons ? QStringList{QStringLiteral("body"), QStringLiteral("actions")}
                                   : QStringList{QStringLiteral("body")});
    OpenedUrls opened;
    Program program;
    QVERIFY(startInTheBackground(program));

    TransferWindowSetup setup = transferSpec(6);
    setup.fileCount = fileCount;
    setup.itemName = itemName.toStdString();
    setup.folder = "/tmp/收到的";
    const TransferWindowId window = program.frontend.openTransferWindow(setup);
    program.frontend.showTransferVerdict(window, verdictOf(true, "传送完毕！"));
    QTRY_COMPARE(stub.shown.size(), 1);
    QCOMPARE(stub.shown[0].summary, QStringLiteral("传送完毕！"));
    QCOMPARE(stub.shown[0].body, body);
    const QString key = stub.shown[0].actionKey(QStringLiteral("打开文件夹"));
    QCOMPARE(stub.shown[0].actions.isEmpty(), !buttons);
    if (buttons) {
      stub.invoke(stub.shown[0].id, key);
      QTRY_COMPARE(opened.urls, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/收到的"))});
    }
    program.window.closeWithoutAsking();
  }

  // With the bus but no notification service, an offer is shown as always and no notice
  // about the missing service appears.
  void noServiceIsSilent() {
    BoxAnswerer boxes;
    Program program;
    QVERIFY(startInTheBackground(program));
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
