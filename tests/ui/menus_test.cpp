// The main window's menus, its Help and About dialogs, stay-on-top and the input box's drop.

#include <functional>

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QUrl>

#include "ui/control_ids.h"
#include "ui/edit_menu.h"
#include "ui/help_dialogs.h"
#include "ui/main_menu.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

// The menu's items as "text=command", separators as "-".
QStringList describe(const QMenu& menu) {
  QStringList items;
  for (const QAction* action : menu.actions()) {
    items.append(action->isSeparator()
                     ? QStringLiteral("-")
                     : action->text() + u'=' + QString::number(action->data().toInt()));
  }
  return items;
}

const QStringList kEditMenu = {
    QStringLiteral("复制 (&C)=3031"), QStringLiteral("剪切 (&X)=3032"),
    QStringLiteral("粘贴 (&V)=3033"), QStringLiteral("-"),
    QStringLiteral("全选 (&A)=3034"), QStringLiteral("-"),
    QStringLiteral("撤销 (&Z)=3035"), QStringLiteral("重做 (&Y)=3036"),
};
const QStringList kMainMenu = {
    QStringLiteral("窗口始终前端显示 (&A)=70"),
    QStringLiteral("使用方法 (&H)=71"),
    QStringLiteral("关于 (&A)=72"),
    QStringLiteral("-"),
    QStringLiteral("监听时在局域网上公布本机 (&P)=73"),
    QStringLiteral("显示局域网上找到的计算机 (&F)=74"),
    QStringLiteral("本机显示名称... (&N)=75"),
    QStringLiteral("-"),
    QStringLiteral("只使用加密连接 (&E)=80"),
    QStringLiteral("已信任的计算机... (&K)=79"),
    QStringLiteral("-"),
    QStringLiteral("发送文件夹... (&D)=76"),
    QStringLiteral("-"),
    QStringLiteral("登录时启动 (&L)=77"),
};

// Sends a right click to `target` and returns the items of the menu that opened (closed
// again without a choice), or nothing when no menu opened.
QStringList menuOpenedBy(QWidget* target) {
  QStringList seen;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      seen = describe(*menu);
      menu->close();
    }
  });
  closer.start(10);
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                          target->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(target, &event);
  return seen;
}

}  // namespace

class MenusTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() { writeSettings(); }

  void rightClicksOpenTheRightMenu() {
    Program program;
    MainWindow& window = program.window;
    window.start();
    QCOMPARE(menuOpenedBy(control<QWidget>(&window, kIdChatLog)
                              ->findChild<QWidget*>(QStringLiteral("qt_scrollarea_viewport"))),
             kEditMenu);
    QCOMPARE(menuOpenedBy(control<QWidget>(&window, kIdInputBox)
                              ->findChild<QWidget*>(QStringLiteral("qt_scrollarea_viewport"))),
             kEditMenu);
    QCOMPARE(menuOpenedBy(&window), kMainMenu);
    QCOMPARE(menuOpenedBy(control<QWidget>(&window, kIdSendFile)), kMainMenu);
    program.frontend.showLinkState(LinkState::Connecting);
    QTRY_VERIFY(window.findChild<QLabel*>(kStatusLabelName)->isVisible());
    QCOMPARE(menuOpenedBy(window.findChild<QLabel*>(kStatusLabelName)), kMainMenu);
  }

  void stayOnTopIsTickedAndToggled() {
    Program program;
    MainWindow& window = program.window;
    window.start();
    const auto ticked = [&] {
      std::unique_ptr<QMenu> menu(createMainMenu(window.stayOnTop(), nullptr));
      return menu->actions().constFirst()->isChecked();
    };
    QVERIFY(!ticked());
    window.command(kCmdStayOnTop);
    QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(window.isVisible());
    QVERIFY(ticked());
    window.command(kCmdStayOnTop);
    QVERIFY(!(window.windowFlags() & Qt::WindowStaysOnTopHint));
    QVERIFY(window.isVisible());
    QVERIFY(!ticked());
    window.command(kCmdStayOnTop);
    window.close();
    QCOMPARE(storedSetting(QStringLiteral("StayOnTop")).toInt(), 1);
  }

  // Only Copy and Select all act on the log; above all, undo must not take back what the
  // log was given.
  void chatLogTakesOnlyCopyAndSelectAll() {
    Program program;
    program.window.start();
    auto* log = control<QTextEdit>(&program.window, kIdChatLog);
    program.frontend.appendLog("你好\r\n", kBlack);
    program.frontend.appendLog("sent\r\n", kBlue);
    QTRY_VERIFY(log->toPlainText().contains(QStringLiteral("sent")));
    const QString before = log->toPlainText();
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    std::unique_ptr<QMenu> menu(createEditMenu(log, nullptr));
    const auto run = [&](int command) {
      for (QAction* action : menu->actions()) {
        if (action->data().toInt() == command) action->trigger();
      }
    };
    for (int command : {kCmdUndo, kCmdPaste, kCmdRedo, kCmdSelectAll, kCmdCut}) run(command);
    QCOMPARE(log->toPlainText(), before);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("pasted"));
    run(kCmdCopy);
    QCOMPARE(QApplication::clipboard()->text(), before);
  }

  // Without a connection a drop of files is refused with the offer's notice; a drop that
  // holds no local files, or one on the chat log, is no offer at all.
  void dropOnTheInputBoxIsAnOffer() {
    Program program;
    program.window.start();
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("照片"));
    QVERIFY(QDir().mkpath(folder));
    auto* input = control<QWidget>(&program.window, kIdInputBox)
                      ->findChild<QWidget*>(QStringLiteral("qt_scrollarea_viewport"));
    auto* log = control<QWidget>(&program.window, kIdChatLog)
                    ->findChild<QWidget*>(QStringLiteral("qt_scrollarea_viewport"));
    const auto notices = [] {
      QStringList texts;
      for (QMessageBox* box : openWindows<QMessageBox>()) texts.append(box->text());
      return texts;
    };

    QVERIFY(!dropUrls(log, {QUrl::fromLocalFile(folder)}));
    // Any other link is dropped as text, which an offer never is.
    const QString link = QStringLiteral("https://example.com/a.txt");
    QVERIFY(dropUrls(input, {QUrl(link)}));
    QCOMPARE(control<QTextEdit>(&program.window, kIdInputBox)->toPlainText(), link);

    QVERIFY(dropUrls(input, {QUrl::fromLocalFile(folder + u'/')}));
    QTRY_COMPARE(notices(), QStringList{QStringLiteral("未连接或连接已断开！")});
    QVERIFY(!control<QTextEdit>(&program.window, kIdChatLog)->toPlainText().contains(folder));
  }

  void helpAndAboutCloseOnlyThroughOk() {
    HelpDialog help(nullptr);
    AboutDialog about(nullptr);
    QCOMPARE(help.windowTitle(), QStringLiteral("帮助"));
    QCOMPARE(about.windowTitle(), QStringLiteral("About Brisk"));
    QStringList helpTexts;
    for (const QLabel* label : help.findChildren<QLabel*>()) helpTexts.append(label->text());
    QCOMPARE(helpTexts.size(), 3);
    QVERIFY(helpTexts[0].startsWith(QStringLiteral("软件介绍：\n    小巧而强大")));
    QVERIFY(helpTexts[1].startsWith(QStringLiteral("使用方法：  首先是连接")));
    QVERIFY(helpTexts[1].endsWith(QStringLiteral("然后等待对方接收")));
    QVERIFY(helpTexts[2].endsWith(QStringLiteral("即都没有公网的IP地址。")));
    QStringList aboutTexts;
    for (const QLabel* label : about.findChildren<QLabel*>()) aboutTexts.append(label->text());
    QCOMPARE(aboutTexts.size(), 2);
    QVERIFY(aboutTexts[0].startsWith(QStringLiteral("Brisk 1.")));
    // With an identity, its fingerprint is shown whole above the button.
    const QString fingerprint = QStringLiteral("3F7A 91C2 ").repeated(8).trimmed();
    AboutDialog withKey(nullptr, fingerprint);
    const QList<QLabel*> keyLabels = withKey.findChildren<QLabel*>();
    QCOMPARE(keyLabels.size(), 3);
    const QString line = QStringLiteral("3F7A 91C2 ").repeated(4).trimmed();
    QCOMPARE(keyLabels[2]->text(), QStringLiteral("本机指纹：\n") + line + u'\n' + line);
    const auto* ok = withKey.findChild<QPushButton*>(QStringLiteral("okButton"));
    QVERIFY(keyLabels[2]->geometry().bottom() < ok->geometry().top());
    QVERIFY(keyLabels[2]->heightForWidth(keyLabels[2]->width()) <= keyLabels[2]->height());

    for (QDialog* dialog : std::initializer_list<QDialog*>{&help, &about}) {
      dialog->show();
      QTest::keyClick(dialog, Qt::Key_Escape);
      QVERIFY(dialog->isVisible());
      QVERIFY(!dialog->close());
      QVERIFY(dialog->isVisible());
      QCOMPARE(dialog->findChild<QPushButton*>()->text(), QStringLiteral("确定"));
      QTest::keyClick(dialog, Qt::Key_Return);
      QVERIFY(!dialog->isVisible());
      QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::MenusTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "menus_test.moc"
