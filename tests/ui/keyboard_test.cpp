// Working Brisk from the keyboard: Tab through the main window in the order of use, Ctrl+Enter
// sends a chat line while Enter starts a new one, and Enter presses the focused button of a
// prompt or of the file-exists dialog.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

#include "ui/control_ids.h"
#include "ui/file_exists_dialog.h"
#include "ui/input_box.h"
#include "ui/prompt_window.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

// The numbered control that has the window's focus (or holds the widget that has it, as the
// address box holds its line edit).
QString focusedControl(const QWidget& window) {
  for (QWidget* widget = window.focusWidget(); widget; widget = widget->parentWidget()) {
    if (widget->objectName().startsWith(QStringLiteral("control"))) return widget->objectName();
  }
  return {};
}

void press(QWidget& window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* target = window.focusWidget() ? window.focusWidget() : &window;
  QTest::keyClick(target, key, modifiers);
}

void tabTo(QWidget& window, int id) {
  for (int i = 0; i < 12 && focusedControl(window) != controlName(id); ++i) {
    press(window, Qt::Key_Tab);
  }
}

QString statusOf(MainWindow& window) {
  auto* label = window.findChild<QLabel*>(kStatusLabelName);
  return label->isVisible() ? label->text() : QString();
}

QString logOf(MainWindow& window) {
  return control<QTextEdit>(&window, kIdChatLog)->toPlainText();
}

}  // namespace

class KeyboardTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() { writeSettings(); }
  void cleanup() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (!qobject_cast<MainWindow*>(widget)) delete widget;
    }
  }

  // Tab and Shift+Tab walk the controls in the order a person uses them; the chat log,
  // only read, comes last.
  void tabOrderOfTheMainWindow() {
    Program program;
    program.window.start();
    control<QWidget>(&program.window, kIdAddressBox)->setFocus();
    const QList<int> order = {kIdAddressBox, kIdPortBox, kIdListen,   kIdConnect, kIdDisconnect,
                              kIdInputBox,   kIdSend,    kIdSendFile, kIdChatLog, kIdAddressBox};
    for (qsizetype i = 0; i < order.size(); ++i) {
      QCOMPARE(focusedControl(program.window), controlName(order[i]));
      press(program.window, Qt::Key_Tab);
    }
    press(program.window, Qt::Key_Backtab);
    press(program.window, Qt::Key_Backtab);
    QCOMPARE(focusedControl(program.window), controlName(kIdChatLog));
  }

  // One side listens and the other connects and chats without touching the mouse.
  void connectAndSendFromTheKeyboard() {
    Program listener;
    Program connector;
    listener.window.start();
    connector.window.start();
    const QString port = QString::number(freePortRange(100));

    control<QWidget>(&listener.window, kIdPortBox)->setFocus();
    control<QLineEdit>(&listener.window, kIdPortBox)->clear();
    QTest::keyClicks(listener.window.focusWidget(), port);
    press(listener.window, Qt::Key_Tab);
    QCOMPARE(focusedControl(listener.window), controlName(kIdListen));
    press(listener.window, Qt::Key_Space);
    QTRY_VERIFY(isListening(port.toInt()));

    control<QWidget>(&connector.window, kIdAddressBox)->setFocus();
    control<QComboBox>(&connector.window, kIdAddressBox)->clearEditText();
    QTest::keyClicks(connector.window.focusWidget(), QStringLiteral("127.0.0.1"));
    press(connector.window, Qt::Key_Tab);
    control<QLineEdit>(&connector.window, kIdPortBox)->clear();
    QTest::keyClicks(connector.window.focusWidget(), port);
    tabTo(connector.window, kIdConnect);
    QCOMPARE(focusedControl(connector.window), controlName(kIdConnect));
    press(connector.window, Qt::Key_Space);
    QTRY_COMPARE(statusOf(connector.window), QStringLiteral("已连接"));
    QTRY_COMPARE(statusOf(listener.window), QStringLiteral("已连接"));

    tabTo(connector.window, kIdInputBox);
    QCOMPARE(focusedControl(connector.window), controlName(kIdInputBox));
    QTest::keyClicks(connector.window.focusWidget(), QStringLiteral("first"));
    // Enter starts a new line and sends nothing.
    press(connector.window, Qt::Key_Return);
    QTest::keyClicks(connector.window.focusWidget(), QStringLiteral("second"));
    auto* input = control<QTextEdit>(&connector.window, kIdInputBox);
    QCOMPARE(input->toPlainText(), QStringLiteral("first\nsecond"));
    press(connector.window, Qt::Key_Return, Qt::ControlModifier);
    QTRY_VERIFY(logOf(listener.window).contains(QStringLiteral("first\nsecond")));
    QVERIFY(input->toPlainText().isEmpty());
    // Ctrl with the keypad's Enter sends too.
    QTest::keyClicks(connector.window.focusWidget(), QStringLiteral("keypad"));
    press(connector.window, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    QTRY_VERIFY(logOf(listener.window).contains(QStringLiteral("keypad")));
  }

  // The text box has the focus first, so a stray Enter answers nothing; Tab reaches the
  // buttons in order and Enter presses the focused one.
  void enterPressesTheFocusedPromptButton() {
    auto* prompt = new PromptWindow(
        PromptRequest{"对方要发送文件给你，你要接收吗？", "a.txt\t10 bytes", {"接收", "拒绝"}});
    QSignalSpy answered(prompt, &PromptWindow::answered);
    prompt->show();
    control<QWidget>(prompt, kIdPromptText)->setFocus();
    press(*prompt, Qt::Key_Return);
    QCOMPARE(answered.count(), 0);
    press(*prompt, Qt::Key_Tab);
    QCOMPARE(focusedControl(*prompt), controlName(kIdFirstButton));
    press(*prompt, Qt::Key_Tab);
    QCOMPARE(focusedControl(*prompt), controlName(kIdFirstButton + 1));
    press(*prompt, Qt::Key_Return);
    QCOMPARE(answered.count(), 1);
    QCOMPARE(answered.constFirst().constFirst().toInt(), kIdFirstButton + 1);
  }

  void enterPressesTheFocusedFileExistsButton() {
    auto* dialog = new FileExistsDialog(QStringLiteral("文件已经存在：/tmp/a\n你要："));
    QSignalSpy answered(dialog, &FileExistsDialog::answered);
    dialog->show();
    control<QWidget>(dialog, kIdFirstButton)->setFocus();
    tabTo(*dialog, kIdAlwaysBox);
    press(*dialog, Qt::Key_Space);
    QVERIFY(control<QCheckBox>(dialog, kIdAlwaysBox)->isChecked());
    tabTo(*dialog, kIdFirstButton + 2);
    press(*dialog, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(answered.count(), 1);
    QCOMPARE(answered.constFirst().at(0).toInt(), kIdFirstButton + 2);
    QCOMPARE(answered.constFirst().at(1).toBool(), true);
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::KeyboardTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "keyboard_test.moc"
