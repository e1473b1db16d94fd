// The main window: its size and states across runs, its layout, the link-state looks and
// the chat log's colours.

#include <thread>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

#include "ui/control_ids.h"
#include "ui/outer_size.h"
#include "ui_test_support.h"

namespace brisk::test {

class MainWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() { clearSettings(); }

  void firstStartUsesDefaultsSilently() {
    BoxAnswerer boxes;
    Program program;
    MainWindow& window = program.window;
    window.start();
    QCOMPARE(window.objectName(), QStringLiteral("FileTransferWnd"));
    QCOMPARE(window.windowTitle(), QStringLiteral("File Transfer   "));
    QCOMPARE(window.frameGeometry().size(), QSize(400, 460));
    QVERIFY(!window.isMaximized());
    QVERIFY(!(window.windowFlags() & Qt::WindowStaysOnTopHint));
    QCOMPARE(control<QComboBox>(&window, kIdAddressBox)->currentText(),
             QStringLiteral("对方IP地址"));
    QCOMPARE(control<QComboBox>(&window, kIdAddressBox)->count(), 0);
    QCOMPARE(control<QLineEdit>(&window, kIdPortBox)->text(), QStringLiteral("6000"));
    QVERIFY(!program.peer.autoClose());
    QVERIFY(!window.findChild<QLabel*>(kStatusLabelName)->isVisible());
    QCOMPARE(control<QPushButton>(&window, kIdDisconnect)->text(), QStringLiteral("取消"));
    QCOMPARE(window.palette().color(QPalette::Window), QColor(241, 244, 251));
    QCOMPARE(window.font().pixelSize(), 15);
    QTRY_VERIFY(control<QTextEdit>(&window, kIdChatLog)
                    ->toPlainText()
                    .startsWith(QStringLiteral("本机IP地址：")));
    QVERIFY(boxes.texts().isEmpty());
    QVERIFY(!QFile::exists(settingsFile()));  // nothing is written before the exit
  }

  void layoutFollowsTheClientArea() {
    Program program;
    MainWindow& window = program.window;
    window.start();
    window.resize(500, 400);
    QCOMPARE(control<QWidget>(&window, kIdSend)->geometry(), QRect(45, 365, 80, 30));
    QCOMPARE(control<QWidget>(&window, kIdSendFile)->geometry(), QRect(245, 365, 80, 30));
    QCOMPARE(control<QWidget>(&window, kIdInputBox)->geometry(), QRect(10, 290, 480, 65));
    QCOMPARE(control<QWidget>(&window, kIdChatLog)->geometry(), QRect(10, 90, 480, 190));
    const QRect address = control<QWidget>(&window, kIdAddressBox)->geometry();
    QCOMPARE(address.topLeft(), QPoint(20, 15));
    QCOMPARE(address.width(), 460);
    // The top row keeps its creation rectangles at every size.
    for (QSize size : {QSize(500, 400), QSize(900, 700), QSize(170, 120)}) {
      window.resize(size);
      QCOMPARE(control<QWidget>(&window, kIdPortBox)->geometry(), QRect(20, 50, 70, 25));
      QCOMPARE(control<QWidget>(&window, kIdListen)->geometry(), QRect(110, 50, 80, 30));
      QCOMPARE(control<QWidget>(&window, kIdConnect)->geometry(), QRect(210, 50, 80, 30));
      QCOMPARE(control<QWidget>(&window, kIdDisconnect)->geometry(), QRect(310, 50, 50, 30));
      QCOMPARE(window.findChild<QWidget*>(kStatusLabelName)->geometry(), QRect(110, 55, 180, 25));
    }
    // The window gets no smaller than the size at which the top row and the bottom row
    // would meet, with room for two lines of chat log.
    window.resize(30, 150);
    QCOMPARE(window.size(), QSize(370, 250));
    QCOMPARE(control<QWidget>(&window, kIdChatLog)->height(), 40);
    const QRect disconnect = control<QWidget>(&window, kIdDisconnect)->geometry();
    QVERIFY(disconnect.right() < window.width());
    QVERIFY(control<QWidget>(&window, kIdSendFile)->geometry().right() < window.width());
    QVERIFY(control<QWidget>(&window, kIdChatLog)->geometry().top() > disconnect.bottom());

    // A window system may deliver a size it reported before the window's latest resize
    // (a window manager rounding the first size at a fractional scale): the bottom row
    // still fits the window as it is.
    window.resize(398, 446);
    QResizeEvent stale(QSize(400, 459), window.size());
    QApplication::sendEvent(&window, &stale);
    QCOMPARE(control<QWidget>(&window, kIdSend)->geometry().bottom(), 446 - 35 + 29);
  }

  void storedSizeThresholds_data() {
    QTest::addColumn<int>("storedWidth");
    QTest::addColumn<int>("storedHeight");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("at the thresholds") << 160 << 100 << QSize(400, 460);
    // Taken as stored, then held at the window's minimum client size of 370 x 250 (the
    // offscreen platform draws a frame of 2 pixels around it).
    QTest::newRow("just above") << 161 << 101 << QSize(374, 254);
    QTest::newRow("negative") << -500 << -1 << QSize(400, 460);
    QTest::newRow("large") << 1000 << 800 << QSize(1000, 800);
  }

  void storedSizeThresholds() {
    QFETCH(int, storedWidth);
    QFETCH(int, storedHeight);
    QFETCH(QSize, expected);
    writeSettings(
        {{QStringLiteral("width"), storedWidth}, {QStringLiteral("height"), storedHeight}});
    {
      Program program;
      program.window.start();
      QCOMPARE(program.window.frameGeometry().size(), expected);
      program.window.close();
    }
    QCOMPARE(storedSetting(QStringLiteral("width")).toInt(), expected.width());
    QCOMPARE(storedSetting(QStringLiteral("height")).toInt(), expected.height());
    QCOMPARE(storedSetting(QStringLiteral("zoomed")).toInt(), 0);
  }

  // Five starts in a row at each scale, through the roundings between the stored outer
  // size and the device size: Qt rounds each frame margin and the client size, and the
  // window manager fits the device size to steps of the scale's rounded pixel, counted
  // from the minimum size. The stored size comes back unchanged every time.
  void storedSizeSurvivesRestartsAtEveryScale() {
    struct Frame {
      int before, after;  // device pixels: left and right, or title bar and bottom edge
    };
    const auto restart = [](int stored, int minimumClient, Frame frame, qreal scale) {
      const int margins = qRound(frame.before / scale) + qRound(frame.after / scale);
      int device = qRound((stored - margins) * scale);
      device -= (device - qRound(minimumClient * scale)) % qRound(scale);
      return qRound(device / scale) + margins;
    };
    for (const qreal scale : {1.0, 1.25, 1.5, 1.75, 2.0}) {
      for (const Frame frame : {Frame{1, 5}, Frame{20, 5}, Frame{37, 0}, Frame{4, 4}}) {
        for (int size = 380; size <= 1200; ++size) {
          int stored = size;
          for (int start = 0; start < 5; ++start) {
            const int measured = restart(stored, 250, frame, scale);
            stored =
                settledOuterSize(QSize(stored, stored), QSize(measured, measured), scale).height();
          }
          QVERIFY2(
              stored == size,
              qPrintable(QStringLiteral("%1 became %2 at %3").arg(size).arg(stored).arg(scale)));
        }
      }
    }
    // What a person does to the window is kept, also by a single pixel at scale 1.
    QCOMPARE(settledOuterSize(QSize(400, 460), QSize(400, 458), 1.5), QSize(400, 458));
    QCOMPARE(settledOuterSize(QSize(400, 460), QSize(401, 459), 1.0), QSize(401, 459));
    QCOMPARE(settledOuterSize(QSize(400, 460), QSize(401, 459), 1.25), QSize(400, 460));
  }

  void onlyExactlyOneTurnsFlagsOn_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("on");
    QTest::newRow("0") << 0 << false;
    QTest::newRow("1") << 1 << true;
    QTest::newRow("2") << 2 << false;
  }

  void onlyExactlyOneTurnsFlagsOn() {
    QFETCH(int, stored);
    QFETCH(bool, on);
    writeSettings({{QStringLiteral("StayOnTop"), stored},
                   {QStringLiteral("zoomed"), stored},
                   {QStringLiteral("autoclose"), stored}});
    {
      Program program;
      program.window.start();
      QCOMPARE(bool(program.window.windowFlags() & Qt::WindowStaysOnTopHint), on);
      QCOMPARE(program.window.stayOnTop(), on);
      QCOMPARE(program.window.isMaximized(), on);
      QCOMPARE(program.peer.autoClose(), on);
      QVERIFY(program.window.isVisible());
      program.window.close();
    }
    QCOMPARE(storedSetting(QStringLiteral("StayOnTop")).toInt(), on ? 1 : 0);
    QCOMPARE(storedSetting(QStringLiteral("zoomed")).toInt(), on ? 1 : 0);
    QCOMPARE(storedSetting(QStringLiteral("autoclose")).toInt(), on ? 1 : 0);
  }

  void maximisedExitKeepsTheLastNormalSize() {
    writeSettings({{QStringLiteral("width"), 520}, {QStringLiteral("height"), 380}});
    {
      Program program;
      program.window.start();
      program.window.showMaximized();
      program.window.close();
    }
    QCOMPARE(storedSetting(QStringLiteral("zoomed")).toInt(), 1);
    QCOMPARE(storedSetting(QStringLiteral("width")).toInt(), 520);
    QCOMPARE(storedSetting(QStringLiteral("height")).toInt(), 380);
  }

  // A maximised first exit leaves no size behind: each missing value is reported once,
  // modally, before the window shows, and the defaults apply.
  void missingSizeIsReportedAndDefaulted() {
    writeSettings({{QStringLiteral("width"), QVariant()}, {QStringLiteral("height"), QVariant()}});
    BoxAnswerer boxes;
    Program program;
    program.window.start();
    QCOMPARE(boxes.texts().size(), 2);
    for (const QString& text : boxes.texts()) {
      QVERIFY2(text.startsWith(QStringLiteral("RegOpenKeyEx failed\nError code: ")),
               qPrintable(text));
    }
    QCOMPARE(program.window.frameGeometry().size(), QSize(400, 460));
  }

  void connectionSettingsAreSavedFromTheBoxes() {
    writeSettings(
        {{QStringLiteral("ipa"), QStringLiteral("peer.example")}, {QStringLiteral("port"), 7123}});
    {
      Program program;
      program.window.start();
      QCOMPARE(control<QComboBox>(&program.window, kIdAddressBox)->currentText(),
               QStringLiteral("peer.example"));
      QCOMPARE(control<QLineEdit>(&program.window, kIdPortBox)->text(), QStringLiteral("7123"));
      control<QComboBox>(&program.window, kIdAddressBox)->setEditText(QString(90, u'a'));
      control<QLineEdit>(&program.window, kIdPortBox)->setText(QStringLiteral("12a"));
      program.peer.setAutoClose(true);
      program.window.close();
    }
    QCOMPARE(storedSetting(QStringLiteral("ipa")).toString(), QString(79, u'a'));
    QCOMPARE(storedSetting(QStringLiteral("port")).toInt(), 12);
    QCOMPARE(storedSetting(QStringLiteral("autoclose")).toInt(), 1);
  }

  void aPortBoxWithoutAPortIsRefused_data() {
    QTest::addColumn<QString>("portText");
    QTest::addColumn<int>("button");
    QTest::newRow("letters") << QStringLiteral("abc") << kIdListen;
    QTest::newRow("zero") << QStringLiteral("0") << kIdListen;
    QTest::newRow("empty") << QString() << kIdListen;
    QTest::newRow("spaces") << QStringLiteral("   ") << kIdConnect;
    QTest::newRow("above 65535") << QStringLiteral("65536") << kIdListen;
    QTest::newRow("negative") << QStringLiteral("-6000") << kIdConnect;
  }

  void aPortBoxWithoutAPortIsRefused() {
    QFETCH(QString, portText);
    QFETCH(int, button);
    writeSettings({{QStringLiteral("port"), 7123}});
    {
      BoxAnswerer boxes;
      Program program;
      program.window.start();
      control<QLineEdit>(&program.window, kIdPortBox)->setText(portText);
      QTest::mouseClick(control<QPushButton>(&program.window, button), Qt::LeftButton);
      QTRY_VERIFY(
          boxes.texts().contains(QStringLiteral("端口无效：请填写 1 到 65535 之间的端口号。")));
      QVERIFY(control<QPushButton>(&program.window, kIdListen)->isVisible());
      QVERIFY(!program.window.findChild<QLabel*>(kStatusLabelName)->isVisible());
      QVERIFY(!isListening(0));
      program.window.close();
    }
    QCOMPARE(storedSetting(QStringLiteral("port")).toInt(), 7123);  // nothing saved
  }

  void spacesAroundThePortAreIgnored() {
    const int port = freePortRange(1);
    {
      Program program;
      program.window.start();
      control<QLineEdit>(&program.window, kIdPortBox)->setText(u' ' + QString::number(port) + u' ');
      QTest::mouseClick(control<QPushButton>(&program.window, kIdListen), Qt::LeftButton);
      QTRY_VERIFY(isListening(port));
      program.window.close();
    }
    QCOMPARE(storedSetting(QStringLiteral("port")).toInt(), port);
  }

  void portBoxStopsTakingTextWhenFull() {
    Program program;
    program.window.start();
    auto* port = control<QLineEdit>(&program.window, kIdPortBox);
    port->clear();
    QTest::keyClicks(port, QStringLiteral("1234567890123456789012345"));
    QVERIFY(port->text().size() >= 5);
    QVERIFY2(port->text().size() < 25, qPrintable(port->text()));
    QVERIFY(port->fontMetrics().horizontalAdvance(port->text()) < port->width());
  }

  void linkStateLooks() {
    Program program;
    MainWindow& window = program.window;
    window.start();
    auto* listen = control<QPushButton>(&window, kIdListen);
    auto* connectButton = control<QPushButton>(&window, kIdConnect);
    auto* disconnect = control<QPushButton>(&window, kIdDisconnect);
    auto* label = window.findChild<QLabel*>(kStatusLabelName);
    QVERIFY(label->alignment() & Qt::AlignHCenter);

    struct Look {
      LinkState state;
      QString label;  // empty: Listen and Connect shown instead
      QString disconnect;
    };
    const Look looks[] = {
        {LinkState::Listening, QStringLiteral("正在监听..."), QStringLiteral("取消")},
        {LinkState::Connected, QStringLiteral("已连接"), QStringLiteral("断开")},
        {LinkState::Idle, QString(), QStringLiteral("取消")},
        {LinkState::Connecting, QStringLiteral("正在连接..."), QStringLiteral("取消")},
        {LinkState::Idle, QString(), QStringLiteral("取消")},
    };
    // What the person sees: the label (or nothing), whether Listen and Connect show, and
    // the Disconnect button's text.
    const auto seen = [&] {
      return (label->isVisible() ? label->text() : QString()) + u'|' +
             (listen->isVisible() ? u'L' : u'-') + (connectButton->isVisible() ? u'C' : u'-') +
             u'|' + disconnect->text();
    };
    for (const Look& look : looks) {
      // The engine reports states from its own threads.
      std::thread([&] { program.frontend.showLinkState(look.state); }).join();
      const QString buttons = look.label.isEmpty() ? QStringLiteral("LC") : QStringLiteral("--");
      QTRY_COMPARE(seen(), look.label + u'|' + buttons + u'|' + look.disconnect);
    }
  }

  // The address box's first text only says what goes there: clicking in and typing
  // replaces it. An address typed before is kept and edited where clicked.
  void firstAddressTextIsReplacedByTyping() {
    Program program;
    program.window.start();
    QVERIFY(QTest::qWaitForWindowActive(&program.window));
    auto* box = control<QComboBox>(&program.window, kIdAddressBox);
    program.window.findChild<QLineEdit*>(controlName(kIdPortBox))->setFocus();
    QTest::mouseClick(box->lineEdit(), Qt::LeftButton, {}, QPoint(20, 10));
    QTRY_COMPARE(box->lineEdit()->selectedText(), QStringLiteral("对方IP地址"));
    QTest::keyClicks(box->lineEdit(), QStringLiteral("127.0.0.1"));
    QCOMPARE(box->currentText(), QStringLiteral("127.0.0.1"));

    program.window.findChild<QLineEdit*>(controlName(kIdPortBox))->setFocus();
    QTest::mouseClick(box->lineEdit(), Qt::LeftButton, {}, QPoint(20, 10));
    QTest::qWait(20);
    QVERIFY(box->lineEdit()->selectedText().isEmpty());
  }

  void chatLogShowsColouredLinesFromAnyThread() {
    Program program;
    program.window.start();
    auto* log = control<QTextEdit>(&program.window, kIdChatLog);
    QTRY_VERIFY(log->toPlainText().contains(QStringLiteral("本机IP地址：")));
    log->clear();
    std::thread([&] {
      program.frontend.appendLog("你好\r\n", kBlack);
      program.frontend.appendLog("sent\r\n", kBlue);
      program.frontend.appendLog("\r\n连接中断\r\nError code: 104\r\n", kRed);
      program.frontend.appendLog(std::string("cut\0hidden", 10), kGreen);
    }).join();
    QTRY_VERIFY(log->toPlainText().endsWith(QStringLiteral("cut")));
    QCOMPARE(log->toPlainText(), QStringLiteral("你好\nsent\n\n连接中断\nError code: 104\ncut"));

    // Each text keeps its colour and the face; the size stays the log's own.
    const auto colourAt = [&](const QString& part) {
      QTextCursor cursor = log->document()->find(part);
      return cursor.charFormat().foreground().color();
    };
    QCOMPARE(colourAt(QStringLiteral("你好")), QColor(0, 0, 0));
    QCOMPARE(colourAt(QStringLiteral("sent")), QColor(0, 0, 255));
    QCOMPARE(colourAt(QStringLiteral("连接中断")), QColor(255, 0, 0));
    QCOMPARE(colourAt(QStringLiteral("cut")), QColor(0, 255, 0));
    QCOMPARE(
        log->document()->find(QStringLiteral("sent")).charFormat().fontFamilies().toStringList(),
        QStringList{QStringLiteral("宋体")});
  }

  void chatLogFollowsTheNewestLine() {
    Program program;
    program.window.start();
    auto* log = control<QTextEdit>(&program.window, kIdChatLog);
    for (int i = 0; i < 200; ++i) program.frontend.appendLog("line\r\n", kBlack);
    program.frontend.appendLog("last", kBlue);
    QTRY_VERIFY(log->toPlainText().endsWith(QStringLiteral("last")));
    QVERIFY(log->verticalScrollBar()->maximum() > 0);
    QCOMPARE(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::MainWindowTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "main_window_test.moc"
