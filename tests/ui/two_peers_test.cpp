// Two copies of the program in one process, linked over loopback by clicking their buttons.

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

#include "support/test_support.h"
#include "ui/control_ids.h"
#include "ui/prompt_window.h"
#include "ui/transfer_window.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

QString statusOf(MainWindow& window) {
  auto* label = window.findChild<QLabel*>(kStatusLabelName);
  return label->isVisible() ? label->text() : QString();
}

QString logOf(MainWindow& window) {
  return control<QTextEdit>(&window, kIdChatLog)->toPlainText();
}

PromptWindow* promptSaying(const QString& line) {
  for (PromptWindow* prompt : openWindows<PromptWindow>()) {
    if (prompt->findChild<QLabel*>()->text() == line) return prompt;
  }
  return nullptr;
}

}  // namespace

class TwoPeersTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() { writeSettings(); }

  void listenConnectChatAndDisconnect() {
    Program listener;
    Program connector;
    listener.window.start();
    connector.window.start();
    const QString port = QString::number(freePortRange(1));

    control<QLineEdit>(&listener.window, kIdPortBox)->setText(port);
    QTest::mouseClick(control<QPushButton>(&listener.window, kIdListen), Qt::LeftButton);
    QTRY_COMPARE(statusOf(listener.window), QStringLiteral("正在监听..."));
    // The label changes at once; the port listens a moment later, on the link's thread.
    QTRY_VERIFY(isListening(port.toInt()));

    control<QComboBox>(&connector.window, kIdAddressBox)->setEditText(QStringLiteral("127.0.0.1"));
    control<QLineEdit>(&connector.window, kIdPortBox)->setText(port);
    QTest::mouseClick(control<QPushButton>(&connector.window, kIdConnect), Qt::LeftButton);

    for (MainWindow* window : {&listener.window, &connector.window}) {
      QTRY_COMPARE(statusOf(*window), QStringLiteral("已连接"));
      QCOMPARE(control<QPushButton>(window, kIdDisconnect)->text(), QStringLiteral("断开"));
      QVERIFY(!control<QPushButton>(window, kIdListen)->isVisible());
      QTRY_VERIFY(logOf(*window).contains(QStringLiteral("连接成功！")));
    }
    // The listener shows where its peer came from.
    QTRY_COMPARE(control<QComboBox>(&listener.window, kIdAddressBox)->currentText(),
                 QStringLiteral("127.0.0.1"));

    // A two-line Chinese chat line: Enter in the input box is a new line, not a send.
    auto* input = control<QTextEdit>(&connector.window, kIdInputBox);
    input->setFocus();
    input->insertPlainText(QStringLiteral("你好，朋友"));
    QTest::keyClick(input, Qt::Key_Return);
    input->insertPlainText(QStringLiteral("第二行"));
    QCOMPARE(input->toPlainText(), QStringLiteral("你好，朋友\n第二行"));
    QTest::mouseClick(control<QPushButton>(&connector.window, kIdSend), Qt::LeftButton);
    QTRY_VERIFY(logOf(listener.window).contains(QStringLiteral("你好，朋友\n第二行\n")));
    QTRY_VERIFY(logOf(connector.window).contains(QStringLiteral("你好，朋友\n第二行\n")));
    QCOMPARE(input->toPlainText(), QString());

    // Sent text is blue on the sender's side and black on the receiver's.
    const auto colourOf = [](MainWindow& window, const QString& part) {
      return control<QTextEdit>(&window, kIdChatLog)
          ->document()
          ->find(part)
          .charFormat()
          .foreground()
          .color();
    };
    QCOMPARE(colourOf(connector.window, QStringLiteral("第二行")), QColor(0, 0, 255));
    QCOMPARE(colourOf(listener.window, QStringLiteral("第二行")), QColor(0, 0, 0));

    // An empty input box sends nothing.
    const QString before = logOf(listener.window);
    QTest::mouseClick(control<QPushButton>(&connector.window, kIdSend), Qt::LeftButton);

    QTest::mouseClick(control<QPushButton>(&listener.window, kIdDisconnect), Qt::LeftButton);
    for (MainWindow* window : {&listener.window, &connector.window}) {
      QTRY_VERIFY(control<QPushButton>(window, kIdListen)->isVisible());
      QTRY_VERIFY(logOf(*window).contains(QStringLiteral("连接中断")));
      QCOMPARE(statusOf(*window), QString());
      QCOMPARE(control<QPushButton>(window, kIdDisconnect)->text(), QStringLiteral("取消"));
    }
    QCOMPARE(logOf(listener.window).count(QStringLiteral("第二行")),
             before.count(QStringLiteral("第二行")));
    connector.window.close();
    listener.window.close();
  }

  // A file dropped on one side's input box, accepted in the other side's prompt and saved
  // through its dialog, arrives whole; both transfer windows report it.
  void offerAcceptedThroughTheWindows() {
    Program listener;
    Program connector;
    QVERIFY(startAndLink(listener, connector));

    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("in"))));
    const QString source = dir.filePath(QStringLiteral("报告 1.txt"));
    const std::string bytes = patternBytes(300000);
    writeFile(QFile::encodeName(source).toStdString(), bytes);
    QVERIFY(dropUrls(control<QWidget>(&connector.window, kIdInputBox)
                         ->findChild<QWidget*>(QStringLiteral("qt_scrollarea_viewport")),
                     {QUrl::fromLocalFile(source)}));

    QTRY_VERIFY(promptSaying(QStringLiteral("发送文件给对方，等待对方接收...")));
    QTRY_VERIFY(promptSaying(QStringLiteral("对方要发送文件给你，你要接收吗？")));
    PromptWindow* question = promptSaying(QStringLiteral("对方要发送文件给你，你要接收吗？"));
    QVERIFY(control<QPlainTextEdit>(question, kIdPromptText)
                ->toPlainText()
                .startsWith(QStringLiteral("报告 1.txt\t")));

    QString proposed;
    QTimer saver;
    connect(&saver, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      proposed = QFileInfo(dialog->selectedFiles().value(0)).fileName();
      dialog->setDirectory(dir.filePath(QStringLiteral("in")));
      dialog->selectFile(proposed);
      static_cast<QDialog*>(dialog)->accept();
    });
    saver.start(10);
    QTest::mouseClick(control<QPushButton>(question, 1001), Qt::LeftButton);

    const auto verdicts = [] {
      QStringList seen;
      for (TransferWindow* window : openWindows<TransferWindow>()) {
        seen.append(window->windowTitle() + u'=' + control<QLabel>(window, kIdStatus)->text());
      }
      seen.sort();
      return seen;
    };
    QTRY_COMPARE_WITH_TIMEOUT(verdicts(),
                              (QStringList{QStringLiteral("发送文件 Index: 1=传送完毕！"),
                                           QStringLiteral("接收文件 Index: 1=传送完毕！")}),
                              20000);
    QCOMPARE(proposed, QStringLiteral("报告 1.txt"));
    QCOMPARE(
        readFile(QFile::encodeName(dir.filePath(QStringLiteral("in/报告 1.txt"))).toStdString()),
        bytes);
    QVERIFY(openWindows<PromptWindow>().isEmpty());
    for (TransferWindow* window : openWindows<TransferWindow>()) {
      QCOMPARE(control<QPushButton>(window, kIdStopButton)->text(), QStringLiteral("关闭"));
    }
    connector.window.close();
    listener.window.close();
    QTRY_VERIFY(openWindows<TransferWindow>().isEmpty());
  }

  // A folder dropped on one side's input box and saved into a folder chosen on the other
  // side arrives as the same tree.
  void folderOfferedAndSavedThroughTheWindows() {
    Program listener;
    Program connector;
    QVERIFY(startAndLink(listener, connector));

    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in"));
    QVERIFY(QDir().mkpath(in));
    const QString tree = dir.filePath(QStringLiteral("相册"));
    const auto path = [](const QString& text) { return QFile::encodeName(text).toStdString(); };
    const std::string first = patternBytes(70000, 1);
    const std::string second = patternBytes(1234, 2);
    writeFile(path(tree + QStringLiteral("/a.jpg")), first);
    writeFile(path(tree + QStringLiteral("/子目录/b.bin")), second);
    QVERIFY(QDir().mkpath(tree + QStringLiteral("/empty")));
    QVERIFY(dropUrls(control<QWidget>(&listener.window, kIdInputBox)
                         ->findChild<QWidget*>(QStringLiteral("qt_scrollarea_viewport")),
                     {QUrl::fromLocalFile(tree)}));

    QTRY_VERIFY(promptSaying(QStringLiteral("对方要发送文件给你，你要接收吗？")));
    PromptWindow* question = promptSaying(QStringLiteral("对方要发送文件给你，你要接收吗？"));
    QVERIFY(!question->findChild<QPushButton*>(QString::number(1003)));
    QTimer chooser;
    connect(&chooser, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      // The dialog fills its list on a thread of its own; the typed path does not wait for it.
      dialog->setDirectory(in);
      dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(in);
      static_cast<QDialog*>(dialog)->accept();
    });
    chooser.start(10);
    QTest::mouseClick(control<QPushButton>(question, 1001), Qt::LeftButton);

    const auto finished = [] {
      int done = 0;
      for (TransferWindow* window : openWindows<TransferWindow>()) {
        done += control<QLabel>(window, kIdStatus)->text() == QStringLiteral("传送完毕！");
      }
      return done;
    };
    QTRY_COMPARE_WITH_TIMEOUT(finished(), 2, 20000);
    QCOMPARE(readFile(path(in + QStringLiteral("/相册/a.jpg"))), first);
    QCOMPARE(readFile(path(in + QStringLiteral("/相册/子目录/b.bin"))), second);
    QVERIFY(QFileInfo(in + QStringLiteral("/相册/empty")).isDir());
    connector.window.close();
    listener.window.close();
    QTRY_VERIFY(openWindows<TransferWindow>().isEmpty());
  }

  // Closing the window while it still waits for a peer ends the attempt and the program.
  void closingWhileListening() {
    Program program;
    program.window.start();
    control<QLineEdit>(&program.window, kIdPortBox)->setText(QString::number(freePortRange(1)));
    QTest::mouseClick(control<QPushButton>(&program.window, kIdListen), Qt::LeftButton);
    QTRY_VERIFY(program.window.findChild<QLabel*>(kStatusLabelName)->isVisible());
    QSignalSpy closed(&program.window, &MainWindow::closed);
    program.window.close();
    QCOMPARE(closed.count(), 1);
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::TwoPeersTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "two_peers_test.moc"
