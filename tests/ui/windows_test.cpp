// The engine's small windows: prompt, file-exists dialog, transfer window and the code's
// question, their geometry, their answers and how they close.

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include "ui/code_dialog.h"
#include "ui/control_ids.h"
#include "ui/file_exists_dialog.h"
#include "ui/prompt_window.h"
#include "ui/transfer_window.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

std::string lines(int count, const std::string& line) {
  std::string text;
  for (int i = 0; i < count; ++i) text += (i ? "\r\n" : "") + line;
  return text;
}

bool captionOnly(const QWidget& window) {
  const Qt::WindowFlags flags = window.windowFlags();
  return (flags & Qt::CustomizeWindowHint) && (flags & Qt::WindowTitleHint) &&
         !(flags & Qt::WindowCloseButtonHint) && !(flags & Qt::WindowSystemMenuHint) &&
         !(flags & Qt::WindowMinMaxButtonsHint);
}

}  // namespace

class WindowsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void cleanup() {
    for (QWidget* widget : QApplication::topLevelWidgets()) delete widget;
  }

  void promptGeometry_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QRect>("textBox");
    QTest::addColumn<QList<int>>("buttonX");
    QTest::addColumn<int>("buttonY");

    QTest::newRow("ten characters, one button") << QStringLiteral("abcdefghij") << 1 << 400 << 155
                                                << QRect(20, 55, 370, 15) << QList<int>{150} << 90;
    QTest::newRow("two buttons") << QStringLiteral("abcdefghij") << 2 << 400 << 155
                                 << QRect(20, 55, 370, 15) << QList<int>{90, 210} << 90;
    QTest::newRow("three buttons") << QStringLiteral("abcdefghij") << 3 << 400 << 155
                                   << QRect(20, 55, 370, 15) << QList<int>{37, 150, 263} << 90;
    QTest::newRow("lines of 60 bytes on average")
        << QString::fromStdString(lines(2, std::string(58, 'x')) + "xx") << 0 << 800 << 170
        << QRect(20, 55, 770, 30) << QList<int>{} << 0;
    // Chinese characters take two bytes each on the wire: 20 of them are 40 bytes.
    QTest::newRow("twenty Chinese characters") << QString(20, QChar(0x6587)) << 1 << 640 << 155
                                               << QRect(20, 55, 610, 15) << QList<int>{270} << 90;
    QTest::newRow("fifty lines are shown as thirty")
        << QString::fromStdString(lines(50, "a.txt\t1 KB")) << 2 << 400 << 590
        << QRect(20, 55, 370, 450) << QList<int>{90, 210} << 525;
    QTest::newRow("a final line break counts as a line")
        << QStringLiteral("abc\r\n") << 1 << 400 << 170 << QRect(20, 55, 370, 30) << QList<int>{150}
        << 105;
  }

  // The arithmetic and the real window agree with it.
  void promptGeometry() {
    QFETCH(QString, text);
    QFETCH(int, buttons);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QRect, textBox);
    QFETCH(QList<int>, buttonX);
    QFETCH(int, buttonY);

    // The arithmetic counts lines of 15 pixels.
    const PromptGeometry counted = brisk::promptGeometry(text.toStdString(), buttons);
    QCOMPARE(QSize(counted.width, counted.height), QSize(width, height));
    QCOMPARE(counted.textBox, textBox);
    QCOMPARE(counted.messageLine, QRect(20, 20, width - 40, 25));
    QCOMPARE(counted.buttons.size(), std::size_t(buttons));
    for (int i = 0; i < buttons; ++i) {
      QCOMPARE(counted.buttons[i], QRect(buttonX[i], buttonY, 100, 25));
    }

    // The real window follows the same arithmetic with its font's own line height.
    PromptRequest request{"line", text.toStdString(), {}};
    for (int i = 0; i < buttons; ++i) request.captions.push_back("b" + std::to_string(i));
    auto* window = new PromptWindow(request);
    window->show();
    const PromptGeometry shown =
        brisk::promptGeometry(request.text, buttons, window->fontMetrics().lineSpacing());
    QCOMPARE(window->frameGeometry().size(), QSize(shown.width, shown.height));
    QCOMPARE(control<QPlainTextEdit>(window, kIdPromptText)->geometry(), shown.textBox);
    QCOMPARE(window->findChildren<QPushButton*>().size(), buttons);
    for (int i = 0; i < buttons; ++i) {
      QCOMPARE(control<QPushButton>(window, kIdFirstButton + i)->geometry(), shown.buttons[i]);
    }
    QCOMPARE(window->findChild<QLabel*>()->geometry(), shown.messageLine);
  }

  // A font taller than 15 pixels grows the text box by whole lines and moves the buttons
  // and the window's bottom down by as much; widths and gaps stay.
  void promptGrowsWithTheLineHeight() {
    const PromptGeometry tall = brisk::promptGeometry("abc\r\ndef", 2, 19);
    QCOMPARE(tall.width, 400);
    QCOMPARE(tall.lines, 2);
    QCOMPARE(tall.height, 2 * 15 + 140 + 2 * 4 + 1);
    QCOMPARE(tall.textBox, QRect(20, 55, 370, 39));
    QCOMPARE(tall.buttons.at(0), QRect(90, 7 * 15 + 9, 100, 25));
    QCOMPARE(tall.buttons.at(1), QRect(210, 7 * 15 + 9, 100, 25));
    // Fifty lines still show thirty.
    std::string fifty = lines(50, "a.txt\t1 KB");
    QCOMPARE(brisk::promptGeometry(fifty, 1, 20).textBox.height(), 30 * 20 + 1);
  }

  // With the fonts a Linux desktop has, every line of a short offer is shown whole: the
  // text box needs no scrolling up to 30 lines, and scrolls beyond.
  void promptShowsWholeLines_data() {
    QTest::addColumn<int>("items");
    QTest::addColumn<bool>("scrolls");
    QTest::newRow("one item") << 1 << false;
    QTest::newRow("four items") << 4 << false;
    QTest::newRow("twenty-eight items") << 28 << false;
    QTest::newRow("fifty items") << 50 << true;
  }

  void promptShowsWholeLines() {
    QFETCH(int, items);
    QFETCH(bool, scrolls);
    std::string text;
    for (int i = 0; i < items; ++i) text += "folderBig" + std::to_string(i) + "\t\t文件夹\r\n";
    text += "文件个数：" + std::to_string(items) + "\r\n总大小：1.00 GB";
    auto* window =
        new PromptWindow(PromptRequest{"对方要发送文件给你，你要接收吗？", text, {"接收", "拒绝"}});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* box = control<QPlainTextEdit>(window, kIdPromptText);
    QCOMPARE(box->verticalScrollBar()->maximum() > 0, scrolls);
    QCOMPARE(box->verticalScrollBar()->isVisible(), scrolls);
    // The buttons stay below the text box.
    QVERIFY(control<QPushButton>(window, kIdFirstButton)->geometry().top() >
            box->geometry().bottom());
  }

  void promptLooksAndStaysOpen() {
    auto* window = new PromptWindow(
        PromptRequest{"对方要发送文件给你，你要接收吗？", "a.txt\t10 bytes\r\n", {"接收", "拒绝"}});
    window->show();
    QCOMPARE(window->windowTitle(), QStringLiteral("传送文件消息"));
    QVERIFY(captionOnly(*window));
    auto* text = control<QPlainTextEdit>(window, kIdPromptText);
    QVERIFY(text->isReadOnly());
    QCOMPARE(text->toPlainText(), QStringLiteral("a.txt\t10 bytes\n"));
    QCOMPARE(window->findChild<QLabel*>()->text(),
             QStringLiteral("对方要发送文件给你，你要接收吗？"));
    // Only a button or the engine closes it.
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    QSignalSpy answered(window, &PromptWindow::answered);
    const QPointer<PromptWindow> alive(window);
    QTest::mouseClick(control<QPushButton>(window, 1002), Qt::LeftButton);
    QCOMPARE(answered.count(), 1);
    QCOMPARE(answered.constFirst().constFirst().toInt(), 1002);
    QTRY_VERIFY(!alive);  // deleted once closed
  }

  void fileExistsDialogLayout() {
    auto* dialog = new FileExistsDialog(QStringLiteral("文件已经存在：/home/a/b.txt\n你要："));
    dialog->show();
    QCOMPARE(dialog->objectName(), QStringLiteral("FileExistDlg"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("提示信息"));
    QVERIFY(captionOnly(*dialog));
    QCOMPARE(dialog->frameGeometry().size(), QSize(500, 300));
    auto* text = control<QLabel>(dialog, kIdPromptText);
    QCOMPARE(text->geometry(), QRect(20, 20, 460, 100));
    QCOMPARE(text->text(), QStringLiteral("文件已经存在：/home/a/b.txt\n你要："));
    const QString captions[] = {QStringLiteral("断点续传"), QStringLiteral("重新传输"),
                                QStringLiteral("忽略跳过"), QStringLiteral("终止")};
    for (int i = 0; i < 4; ++i) {
      auto* button = control<QPushButton>(dialog, 1001 + i);
      QCOMPARE(button->text(), captions[i]);
      QCOMPARE(button->geometry(), QRect(35 + 110 * i, 200, 100, 25));
    }
    auto* always = control<QCheckBox>(dialog, kIdAlwaysBox);
    QCOMPARE(always->text(), QStringLiteral("始终采取相同操作"));
    QCOMPARE(always->geometry(), QRect(160, 140, 150, 25));
    QVERIFY(!always->isChecked());
    QVERIFY(!dialog->close());
  }

  void transferWindowSizes_data() {
    QTest::addColumn<int>("fileCount");
    QTest::addColumn<int>("height");
    QTest::newRow("one file") << 1 << 235;
    QTest::newRow("one folder") << -1 << 265;
    QTest::newRow("three items") << 3 << 265;
  }

  void transferWindowSizes() {
    QFETCH(int, fileCount);
    QFETCH(int, height);
    const int e = height - 235;
    TransferWindowSetup spec;
    spec.index = 12;
    spec.fileCount = fileCount;
    auto* window = new TransferWindow(spec);
    window->show();
    QCOMPARE(window->windowTitle(), QStringLiteral("接收文件 Index: 12"));
    QVERIFY(captionOnly(*window));
    QCOMPARE(window->frameGeometry().size(), QSize(420, height));
    QCOMPARE(control<QWidget>(window, ID_FILENAME)->geometry(), QRect(10, 10, 400, 45));
    QCOMPARE(control<QWidget>(window, kIdFileBar)->geometry(), QRect(20, 115, 375, 20));
    auto* total = control<QWidget>(window, kIdTotalBar);
    QCOMPARE(total != nullptr, fileCount != 1);
    if (total) QCOMPARE(total->geometry(), QRect(20, 145, 375, 20));
    QCOMPARE(control<QWidget>(window, kIdStatus)->geometry(), QRect(40, 145 + e, 340, 25));
    QCOMPARE(control<QWidget>(window, kIdAutoCloseBox)->geometry(), QRect(10, 175 + e, 140, 25));
    QCOMPARE(control<QWidget>(window, kIdStopButton)->geometry(), QRect(320, 175 + e, 80, 25));
    QCOMPARE(control<QLabel>(window, kIdStatus)->text(), QStringLiteral("状态"));
    QCOMPARE(control<QPushButton>(window, kIdStopButton)->text(), QStringLiteral("终止"));
    QVERIFY(!window->close());  // no way out but its button
  }

  void transferBarsStopAtFull() {
    TransferWindowSetup spec;
    spec.fileCount = 2;
    auto* window = new TransferWindow(spec);
    auto* fileBar = control<QProgressBar>(window, kIdFileBar);
    auto* totalBar = control<QProgressBar>(window, kIdTotalBar);
    window->showFigures(TransferFigures{50, 25, {}});
    QCOMPARE(fileBar->value(), 50);
    QCOMPARE(totalBar->value(), 25);
    window->showFigures(TransferFigures{150, {}, {}});  // a bar without a value stays
    QCOMPARE(fileBar->value(), 100);
    QCOMPARE(totalBar->value(), 25);
    window->showFigures(TransferFigures{
        {}, 1 << 30, TransferTexts{"150 bytes", "100 bytes", "100 bytes/s", "10 s  2 m  "}});
    QCOMPARE(fileBar->value(), 100);
    QCOMPARE(totalBar->value(), 100);
    QCOMPARE(control<QLabel>(window, kIdFileSize)->text(), QStringLiteral("150 bytes"));
    QCOMPARE(control<QLabel>(window, kIdFileDone)->text(), QStringLiteral("100 bytes"));
    QCOMPARE(control<QLabel>(window, kIdSpeed)->text(), QStringLiteral("100 bytes/s"));
    QCOMPARE(control<QLabel>(window, kIdElapsed)->text(), QStringLiteral("10 s  2 m  "));
    delete window;
  }

  void verdictTurnsStopIntoClose() {
    int stops = 0;
    std::vector<bool> toggles;
    TransferWindowSetup spec;
    spec.fileCount = 4;
    spec.autoCloseTicked = true;
    spec.onStop = [&] { ++stops; };
    spec.onAutoCloseToggled = [&](bool on) { toggles.push_back(on); };
    auto* window = new TransferWindow(spec);
    window->show();
    const QPointer<TransferWindow> alive(window);
    auto* box = control<QCheckBox>(window, kIdAutoCloseBox);
    QVERIFY(box->isChecked());
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(toggles, std::vector<bool>{false});

    window->showVerdict(TransferVerdict{true, "传送完毕！", true, false});
    QCOMPARE(control<QLabel>(window, kIdStatus)->text(), QStringLiteral("传送完毕！"));
    QCOMPARE(control<QLabel>(window, kIdSpeed)->text(), QStringLiteral("0"));
    QCOMPARE(control<QPushButton>(window, kIdStopButton)->text(), QStringLiteral("关闭"));
    QVERIFY(!control<QWidget>(window, kIdFileBar)->isVisible());
    QVERIFY(control<QWidget>(window, kIdTotalBar)->isVisible());
    QVERIFY(alive);
    // Over: the button only closes.
    QTest::mouseClick(control<QPushButton>(window, kIdStopButton), Qt::LeftButton);
    QCOMPARE(stops, 0);
    QTRY_VERIFY(!alive);
  }

  void completeTransferClosesItselfWhenAsked() {
    auto* window = new TransferWindow(TransferWindowSetup{});
    window->show();
    const QPointer<TransferWindow> alive(window);
    window->showVerdict(TransferVerdict{true, "传送完毕！", false, true});
    QTRY_VERIFY(!alive);
  }

  // The code stands out in its own paragraph; a name the peer chose shows as it is, markup
  // and all, and adds nothing to the dialog.
  void codeDialogShowsTheCodeAndTheNameAsItIs() {
    const std::unique_ptr<QMessageBox> dialog(createCodeDialog(
        CodeComparison{"042917", "<b>甲</b><img src=x>", "10.0.0.2", "AAAA", "BBBB"}));
    auto* label = dialog->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    QTextDocument shown;
    shown.setHtml(label->text());
    QVERIFY2(
        shown.toPlainText().contains(QStringLiteral("第一次连接 <b>甲</b><img src=x>（10.0.0.2）")),
        qPrintable(shown.toPlainText()));
    QVERIFY(shown.toPlainText().endsWith(QStringLiteral("042 917")));
    QCOMPARE(shown.lastBlock().begin().fragment().charFormat().fontWeight(), int(QFont::Bold));
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::WindowsTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "windows_test.moc"
