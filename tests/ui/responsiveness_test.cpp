// The window's thread never waits for the network: a peer that stops reading the control
// connection leaves the window answering within 100 ms while the person chats, presses
// Disconnect or closes the window.

#include <algorithm>
#include <filesystem>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include "support/raw_connection.h"
#include "support/test_support.h"
#include "ui/input_box.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

const QString kTooMuchWaiting = QStringLiteral("发送的消息太多，请稍后再试。");

// The program as main() builds it, with the real notice pause: a pause taken on the
// window's thread would show here as a late tick.
struct ProgramWithNoticePause {
  QtFrontend frontend;
  Peer peer;
  ProgramEnd end;
  MainWindow window;

  static Timing timing() {
    Timing timing = fastTiming();
    timing.noticePause = Timing{}.noticePause;
    return timing;
  }
  ProgramWithNoticePause()
      : peer(frontend, timing()), end(peer, frontend), window(peer, frontend, end) {}
  // As main() ends: no engine thread may wait for an answer from a window that is gone.
  ~ProgramWithNoticePause() { end.run(); }
};

// Ticks every 10 ms on the GUI thread and keeps the longest time between two ticks: how
// long the thread was kept from its events.
class LatencyProbe : public QObject {
 public:
  LatencyProbe() {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this,
            [this] { longest_ = std::max(longest_, clock_.restart()); });
    clock_.start();
    timer_.start();
  }
  // Milliseconds by which the latest tick came after its time.
  qint64 longestDelay() const { return std::max<qint64>(longest_ - timer_.interval(), 0); }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
};

QString statusOf(const MainWindow& window) {
  auto* label = window.findChild<QLabel*>(kStatusLabelName);
  return label->isVisible() ? label->text() : QString();
}

void typeAndSend(MainWindow& window, const QString& text) {
  control<InputBox>(&window, kIdInputBox)->setPlainText(text);
  QTest::mouseClick(control<QPushButton>(&window, kIdSend), Qt::LeftButton);
}

// Gives the program's end of the control connection to `port` the smallest send buffer, so
// that a few chat lines fill it: the log then has little to show, and the test measures
// the waiting rather than the drawing of long lines. Found among this process's sockets by
// its peer's port; false when there is none.
bool shrinkSendBufferOfConnectionTo(int port) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        peer.sin_family != AF_INET || ntohs(peer.sin_port) != port) {
      continue;
    }
    const int size = 4096;
    return ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) == 0;
  }
  return false;
}

// Connects the window to a raw peer that never reads, then sends chat lines until the
// kernel's buffers are full and the person's queue refuses more: from then on the peer is
// known to be stuck.
bool connectAndStall(ProgramWithNoticePause& program, const BoxAnswerer& answerer,
                     RawConnection& raw) {
  program.window.start();
  const int port = freePortRange();
  const RawConnection listener = RawConnection::listenOn(port);
  control<QComboBox>(&program.window, kIdAddressBox)->setEditText(QStringLiteral("127.0.0.1"));
  control<QLineEdit>(&program.window, kIdPortBox)->setText(QString::number(port));
  QTest::mouseClick(control<QPushButton>(&program.window, kIdConnect), Qt::LeftButton);
  raw = listener.accept();
  if (!raw.isOpen() ||
      !QTest::qWaitFor([&] { return statusOf(program.window) == QStringLiteral("已连接"); })) {
    return false;
  }
  if (!shrinkSendBufferOfConnectionTo(port)) return false;
  const QString line = QStringLiteral("stuck? ").repeated(500);
  // A notice shown again soon after carries its count below the text.
  const auto refused = [&] {
    const QStringList texts = answerer.texts();
    return std::any_of(texts.begin(), texts.end(),
                       [](const QString& text) { return text.startsWith(kTooMuchWaiting); });
  };
  for (int typed = 0; typed < 2000 && !refused(); ++typed) {
    typeAndSend(program.window, line);
    QCoreApplication::processEvents();
  }
  // Every notice and log line of the filling has been shown before anything is measured.
  return refused() || QTest::qWaitFor(refused);
}

}  // namespace

class ResponsivenessTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() { writeSettings(); }

  void chatAndDisconnectWithAPeerThatStoppedReading() {
    ProgramWithNoticePause program;
    BoxAnswerer answerer;
    RawConnection raw;
    QVERIFY(connectAndStall(program, answerer, raw));

    LatencyProbe probe;
    typeAndSend(program.window, QStringLiteral("还在吗？"));
    QTest::mouseClick(control<QPushButton>(&program.window, kIdDisconnect), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] {
      return !program.peer.connected() && statusOf(program.window).isEmpty() &&
             control<QTextEdit>(&program.window, kIdChatLog)
                 ->toPlainText()
                 .contains(QStringLiteral("连接中断"));
    }));
    // The blocked send was broken, and said so.
    QVERIFY(
        QTest::qWaitFor([&] { return answerer.texts().contains(QStringLiteral("send failed.")); }));
    qInfo("longest delay of the window's thread: %lld ms", probe.longestDelay());
    QVERIFY2(probe.longestDelay() <= 100, QByteArray::number(probe.longestDelay()));
  }

  void closingWithAPeerThatStoppedReadingReturnsPromptly() {
    ProgramWithNoticePause program;
    BoxAnswerer answerer;
    RawConnection raw;
    QVERIFY(connectAndStall(program, answerer, raw));

    LatencyProbe probe;
    QElapsedTimer closing;
    closing.start();
    QVERIFY(program.window.close());
    qInfo("closing took %lld ms", closing.elapsed());
    // Every engine thread was interrupted and joined within the close.
    QVERIFY2(closing.elapsed() <= 1000, QByteArray::number(closing.elapsed()));
    QVERIFY(program.peer.stopping());
    QVERIFY(!program.peer.connected());
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::ResponsivenessTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "responsiveness_test.moc"
