// What Brisk does outside its main window: the tray icon and its menu, hiding in the tray
// on close when chosen, the login entry, and paths handed over by a later start.

#include <algorithm>
#include <atomic>
#include <thread>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include "ui/autostart.h"
#include "ui/instance_channel.h"
#include "ui/outside_sends.h"
#include "ui/prompt_window.h"
#include "ui/tray_icon.h"
#include "ui/tray_status.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

QAction* trayAction(const TrayIcon& tray, const QString& text) {
  for (QAction* action : tray.icon().contextMenu()->actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

QString logOf(MainWindow& window) {
  return control<QTextEdit>(&window, kIdChatLog)->toPlainText();
}

}  // namespace

class DesktopPresenceTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() { writeSettings(); }

  void trayStatusFollowsLinkAndTransfers_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("running");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("badge");
    QTest::newRow("idle") << int(LinkState::Idle) << 0 << QStringLiteral("Brisk\n未连接") << false;
    QTest::newRow("listening") << int(LinkState::Listening) << 0
                               << QStringLiteral("Brisk\n正在监听，端口 6000") << true;
    QTest::newRow("moving") << int(LinkState::Connected) << 2
                            << QStringLiteral("Brisk\n已连接\n2 个传送正在进行") << true;
  }
  void trayStatusFollowsLinkAndTransfers() {
    QFETCH(int, state);
    QFETCH(int, running);
    QFETCH(QString, toolTip);
    QFETCH(bool, badge);
    const TrayStatus status = trayStatus(LinkState(state), 6000, running);
    QCOMPARE(status.toolTip, toolTip);
    QCOMPARE(status.badge.isValid(), badge);
  }

  // The tray's menu shows and hides the window and starts listening; closing the window
  // hides it only once the person chose so (and the choice is kept); quitting ends it.
  void trayMenuAndCloseToTray() {
    Program program;
    TrayIcon tray(program.window, program.frontend, program.peer);
    program.window.start(true);
    QVERIFY(!program.window.isVisible());
    QMenu* menu = tray.icon().contextMenu();
    Q_EMIT menu->aboutToShow();
    trayAction(tray, QStringLiteral("显示窗口"))->trigger();
    QVERIFY(program.window.isVisible());

    control<QLineEdit>(&program.window, kIdPortBox)->setText(QString::number(freePortRange(1)));
    trayAction(tray, QStringLiteral("监听"))->trigger();
    QTRY_VERIFY(tray.icon().toolTip().contains(QStringLiteral("正在监听")));
    Q_EMIT menu->aboutToShow();
    QVERIFY(!trayAction(tray, QStringLiteral("监听"))->isEnabled());

    QSignalSpy closed(&program.window, &MainWindow::closed);
    QCOMPARE(storedSetting(QStringLiteral("CloseToTray")), QVariant());
    program.window.close();  // not chosen yet: the window would end the program
    QCOMPARE(closed.size(), 1);

    Program second;
    TrayIcon secondTray(second.window, second.frontend, second.peer);
    second.window.start();
    second.window.command(kCmdCloseToTray);
    QCOMPARE(storedSetting(QStringLiteral("CloseToTray")).toInt(), 1);
    QVERIFY(!second.window.close());
    QVERIFY(!second.window.isVisible());
    QSignalSpy secondClosed(&second.window, &MainWindow::closed);
    trayAction(secondTray, QStringLiteral("退出"))->trigger();
    QCOMPARE(secondClosed.size(), 1);
  }

  // Where no tray shows the program, the choice changes nothing and the window shows
  // even when started hidden.
  void withoutATrayNothingChanges() {
    writeSettings({{QStringLiteral("CloseToTray"), 1}});
    Program program;
    QVERIFY(program.window.closesToTray() == false);
    program.window.start(true);
    QVERIFY(program.window.isVisible());
    QSignalSpy closed(&program.window, &MainWindow::closed);
    program.window.close();
    QCOMPARE(closed.size(), 1);
  }

  // 登录时启动 writes the login entry, which starts this program in the tray, and
  // removes it again.
  void loginEntry() {
    const QString entry = autostartEntryPath();
    QVERIFY(entry.startsWith(QDir::cleanPath(qEnvironmentVariable("XDG_CONFIG_HOME"))));
    QFile::remove(entry);
    Program program;
    program.window.command(kCmdAutostart);
    QVERIFY(autostartEnabled());
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QVERIFY(text.contains(QStringLiteral("\nExec=") +
                          desktopExecArgument(QCoreApplication::applicationFilePath()) +
                          QStringLiteral(" --hidden\n")));
    program.window.command(kCmdAutostart);
    QVERIFY(!autostartEnabled());
    program.window.closeWithoutAsking();
  }

  void execArgumentsAreQuoted_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("written");
    QTest::newRow("plain") << QStringLiteral("/usr/bin/brisk") << QStringLiteral("/usr/bin/brisk");
    QTest::newRow("space") << QStringLiteral("/opt/my apps/brisk")
                           << QStringLiteral("\"/opt/my apps/brisk\"");
    QTest::newRow("dollar and percent")
        << QStringLiteral("/a$b/100%") << QStringLiteral("\"/a\\\\$b/100%%\"");
  }
  void execArgumentsAreQuoted() {
    QFETCH(QString, argument);
    QFETCH(QString, written);
    QCOMPARE(desktopExecArgument(argument), written);
  }

  // A later start hands its paths to the listening program; a socket left behind by one
  // that died is taken over, and a stranger's bytes are no hand-over.
  void handOverReachesTheRunningProgram() {
    QTemporaryDir folder;
    const QString name = folder.filePath(QStringLiteral("channel"));
    QVERIFY(!InstanceChannel::handOver(name, {}, 1000));
    QFile left(name);  // what a program that died leaves
    QVERIFY(left.open(QIODevice::WriteOnly));
    left.close();

    InstanceChannel channel;
    QVERIFY(channel.listen(name));
    InstanceChannel second;
    QVERIFY(!second.listen(name));
    QSignalSpy received(&channel, &InstanceChannel::received);

    QLocalSocket stranger;
    stranger.connectToServer(name);
    QVERIFY(stranger.waitForConnected(5000));
    stranger.write(QByteArray(8, 'x'));
    QTRY_COMPARE(stranger.state(), QLocalSocket::UnconnectedState);

    const QStringList paths{QStringLiteral("/tmp/照片"), QStringLiteral("/tmp/a\nb.txt")};
    // Blocking calls on this thread: the channel answers from this thread's event loop,
    // so the hand-over runs on another.
    std::atomic<bool> taken{false};
    std::jthread start([&] { taken = InstanceChannel::handOver(name, paths); });
    QTRY_VERIFY(taken.load());
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(0).toStringList(), paths);
  }

  // Handed-over paths wait for the link and are then offered as a drop is.
  void handedOverPathsAreOfferedOnceConnected() {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("给你.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("hello");
    file.close();

    Program listener;
    Program connector;
    OutsideSends sends(listener.window, listener.frontend, listener.peer);
    listener.window.start();
    sends.take({path});
    QCOMPARE(sends.waiting(), 1u);
    QTRY_VERIFY(logOf(listener.window).contains(QStringLiteral("（连接后发送：给你.txt）")));
    QVERIFY(openWindows<PromptWindow>().isEmpty());
    QVERIFY(startAndLink(listener, connector));
    QCOMPARE(sends.waiting(), 0u);
    const auto offered = [] {
      const QList<PromptWindow*> prompts = openWindows<PromptWindow>();
      return std::any_of(prompts.cbegin(), prompts.cend(), [](PromptWindow* prompt) {
        return prompt->findChild<QLabel*>()->text() ==
               QStringLiteral("对方要发送文件给你，你要接收吗？");
      });
    };
    // The offer leaves a moment after the link's first message.
    QTRY_VERIFY_WITH_TIMEOUT(offered(), 20000);
    listener.window.closeWithoutAsking();
    connector.window.closeWithoutAsking();
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::DesktopPresenceTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "desktop_presence_test.moc"
