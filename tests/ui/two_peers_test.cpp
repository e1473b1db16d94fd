// Two copies of the program in one process, linked over loopback by clicking their buttons.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

#include "ui/control_ids.h"
#include "ui_test_support.h"

namespace brisk::test {

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
    const auto statusOf = [](MainWindow& window) {
      auto* label = window.findChild<QLabel*>(kStatusLabelName);
      return label->isVisible() ? label->text() : QString();
    };
    const auto logOf = [](MainWindow& window) {
      return control<QTextEdit>(&window, kIdChatLog)->toPlainText();
    };

    control<QLineEdit>(&listener.window, kIdPortBox)->setText(port);
    QTest::mouseClick(control<QPushButton>(&listener.window, kIdListen), Qt::LeftButton);
    QTRY_COMPARE(statusOf(listener.window), QStringLiteral("正在监听..."));

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
