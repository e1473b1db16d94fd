// The QtFrontend's crossing of threads: workers wait for answers given in windows, the GUI
// thread asks without deadlocking itself, the shutdown lets every waiting worker go, and
// what the main window shows arrives on the GUI thread in the order it was reported.

#include <atomic>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <thread>

#include <unistd.h>

#include <QAbstractButton>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "ui/control_ids.h"
#include "ui/file_exists_dialog.h"
#include "ui/prompt_window.h"
#include "ui/transfer_window.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

// Whether thread `tid` of this process sleeps, waiting for something.
bool threadSleeps(pid_t tid) {
  std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The state follows the name, which is in parentheses and may hold any character.
  const std::size_t nameEnd = stat.rfind(')');
  return nameEnd != std::string::npos && nameEnd + 2 < stat.size() && stat[nameEnd + 2] == 'S';
}

template <typename T>
bool ready(const std::future<T>& future) {
  return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// While it lives, handles each file dialog that opens with `act`.
class DialogActor {
 public:
  explicit DialogActor(std::function<void(QFileDialog&)> act) {
    QObject::connect(&timer_, &QTimer::timeout, [act = std::move(act)] {
      if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
        act(*dialog);
    });
    timer_.start(10);
  }

 private:
  QTimer timer_;
};

std::filesystem::path pathOf(const QString& name) {
  return std::filesystem::path(QFile::encodeName(name).toStdString());
}

QMessageBox* openBox() {
  const QList<QMessageBox*> boxes = openWindows<QMessageBox>();
  return boxes.isEmpty() ? nullptr : boxes.constLast();
}

}  // namespace

class QtFrontendTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void cleanup() {
    // Windows a test left open must not answer the next test's questions.
    for (QWidget* widget : QApplication::topLevelWidgets()) delete widget;
  }

  void noticesDoNotWaitAndCanStack() {
    QtFrontend frontend;
    std::thread([&] {
      frontend.showNotice("first\r\nline");
      frontend.showNotice("second");
    }).join();
    QTRY_COMPARE(openWindows<QMessageBox>().size(), 2);
    for (QMessageBox* box : openWindows<QMessageBox>()) {
      QCOMPARE(box->windowTitle(), QStringLiteral("提示信息"));
      QCOMPARE(box->icon(), QMessageBox::NoIcon);
      QCOMPARE(box->windowModality(), Qt::NonModal);
      QCOMPARE(box->buttons().size(), 1);
      QCOMPARE(box->buttons().constFirst()->text(), QStringLiteral("确定"));
    }
    QStringList texts;
    for (QMessageBox* box : openWindows<QMessageBox>()) texts.append(box->text());
    texts.sort();
    QCOMPARE(texts, (QStringList{QStringLiteral("first\nline"), QStringLiteral("second")}));
  }

  void workerWaitsUntilTheModalNoticeIsClosed() {
    QtFrontend frontend;
    std::atomic<pid_t> worker{0};
    std::atomic<bool> closing{false};
    std::atomic<bool> returnedEarly{false};
    auto done = std::async(std::launch::async, [&] {
      worker = ::gettid();
      frontend.showNoticeModal("wait for me");
      returnedEarly = !closing;
    });
    QTRY_VERIFY(openBox() != nullptr);
    QCOMPARE(openBox()->text(), QStringLiteral("wait for me"));
    // The worker has had its chance to return once it sleeps in the kernel.
    QTRY_VERIFY(ready(done) || threadSleeps(worker));
    QVERIFY(!ready(done));
    closing = true;
    openBox()->buttons().constFirst()->click();
    QTRY_VERIFY(ready(done));
    QVERIFY(!returnedEarly);
  }

  // On the GUI thread the question runs its own event loop instead of waiting for itself.
  void guiThreadAsksWithoutDeadlock() {
    QtFrontend frontend;
    BoxAnswerer boxes;
    frontend.showNoticeModal("from the GUI thread");
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("from the GUI thread")});
  }

  void shutdownLetsEveryWaitingWorkerGo() {
    QtFrontend frontend;
    PromptHandle handle("text");
    auto notice = std::async(std::launch::async, [&] { frontend.showNoticeModal("n"); });
    auto yesNo = std::async(std::launch::async, [&] { return frontend.askYesNo("q"); });
    auto prompt = std::async(std::launch::async, [&] {
      return frontend.showPrompt(handle, PromptRequest{"line", "text", {"接收", "拒绝"}});
    });
    auto exists = std::async(std::launch::async, [&] { return frontend.askFileExists("/f"); });
    QTRY_COMPARE(openWindows<QMessageBox>().size(), 2);
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 1);
    QTRY_COMPARE(openWindows<FileExistsDialog>().size(), 1);

    frontend.beginShutdown();
    QTRY_VERIFY(ready(notice) && ready(yesNo) && ready(prompt) && ready(exists));
    QCOMPARE(yesNo.get(), false);
    QCOMPARE(prompt.get(), PromptAnswer::None);
    QCOMPARE(exists.get().answer, FileExistsAnswer::None);
    QTRY_VERIFY(openWindows<QWidget>().isEmpty());

    // Later questions from workers are not even shown.
    auto late = std::async(std::launch::async, [&] { return frontend.askYesNo("late"); });
    QVERIFY(late.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
    QCOMPARE(late.get(), false);
  }

  // The engine reports from its link thread and, for Listen and Connect, from the GUI
  // thread itself; the window must hear every report in the order it was made, or it
  // would show a state the link has already left.
  void mainWindowEventsKeepTheirOrderAcrossThreads() {
    QtFrontend frontend;
    QStringList heard;
    QStringList offGuiThread;
    const auto hear = [&](const QString& event) {
      if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        offGuiThread.append(event);
      }
      heard.append(event);
    };
    // Connected directly, so each handler runs on the thread that emits.
    connect(
        &frontend, &QtFrontend::logAppended, this,
        [&](const QString& text, const QColor& colour) {
          hear(QStringLiteral("log %1 %2").arg(text, colour.name()));
        },
        Qt::DirectConnection);
    connect(
        &frontend, &QtFrontend::linkStateChanged, this,
        [&](LinkState state) { hear(QStringLiteral("state %1").arg(int(state))); },
        Qt::DirectConnection);
    connect(
        &frontend, &QtFrontend::portListening, this,
        [&] { hear(QStringLiteral("port listening")); }, Qt::DirectConnection);
    connect(
        &frontend, &QtFrontend::addressTextChanged, this,
        [&](const QString& text) { hear(QStringLiteral("address %1").arg(text)); },
        Qt::DirectConnection);
    connect(
        &frontend, &QtFrontend::frontRequested, this, [&] { hear(QStringLiteral("front")); },
        Qt::DirectConnection);

    struct Report {
      bool fromGuiThread;
      std::function<void()> call;
      QString heard;
    };
    const Report reports[] = {
        {false, [&] { frontend.appendLog("本机IP地址：127.0.0.1\r\n", kBlack); },
         QStringLiteral("log 本机IP地址：127.0.0.1\n #000000")},
        {true, [&] { frontend.showLinkState(LinkState::Listening); }, QStringLiteral("state 1")},
        {false, [&] { frontend.showPortListening(); }, QStringLiteral("port listening")},
        {false, [&] { frontend.setAddressText("127.0.0.1"); }, QStringLiteral("address 127.0.0.1")},
        {false, [&] { frontend.bringToFront(); }, QStringLiteral("front")},
        {false, [&] { frontend.showLinkState(LinkState::Connected); }, QStringLiteral("state 3")},
        {false, [&] { frontend.appendLog("你好\r", kBlue); }, QStringLiteral("log 你好\n #0000ff")},
        {false, [&] { frontend.showLinkState(LinkState::Idle); }, QStringLiteral("state 0")},
        {true, [&] { frontend.showLinkState(LinkState::Connecting); }, QStringLiteral("state 2")},
        {false, [&] { frontend.appendLog("\r\n连接中断\r\n", kRed); },
         QStringLiteral("log \n连接中断\n #ff0000")},
        {false, [&] { frontend.showLinkState(LinkState::Idle); }, QStringLiteral("state 0")},
    };
    QStringList expected;
    for (const Report& report : reports) {
      // Each report is made after the one before it returned, on the thread it names.
      if (report.fromGuiThread) {
        report.call();
      } else {
        std::thread(report.call).join();
      }
      expected.append(report.heard);
    }
    QTRY_COMPARE(heard, expected);
    QCOMPARE(offGuiThread, QStringList());
  }

  void promptAnswersWithTheButtonPressed() {
    QtFrontend frontend;
    PromptHandle handle("body");
    auto result = std::async(std::launch::async, [&] {
      return frontend.showPrompt(handle, PromptRequest{"对方要发送文件给你，你要接收吗？",
                                                       "body",
                                                       {"接收", "拒绝", "续传已有文件"},
                                                       PromptKind::PeerSingleFileOffer});
    });
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 1);
    PromptWindow* window = openWindows<PromptWindow>().constFirst();
    QCOMPARE(control<QPushButton>(window, 1003)->text(), QStringLiteral("续传已有文件"));
    QTest::mouseClick(control<QPushButton>(window, 1002), Qt::LeftButton);
    QTRY_VERIFY(ready(result));
    QCOMPARE(result.get(), PromptAnswer::Refuse);
    QTRY_VERIFY(openWindows<PromptWindow>().isEmpty());
    handle.close();  // too late to matter, and harmless
    QCoreApplication::processEvents();
  }

  void promptClosedFromAnotherThreadAnswersZero() {
    QtFrontend frontend;
    PromptHandle handle("body");
    auto result = std::async(std::launch::async, [&] {
      return frontend.showPrompt(
          handle, PromptRequest{"等待对方接收...", "body", {"取消"}, PromptKind::OwnOfferWaiting});
    });
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 1);
    std::thread([&] { handle.close(); }).join();
    QTRY_VERIFY(ready(result));
    QCOMPARE(result.get(), PromptAnswer::None);
    QTRY_VERIFY(openWindows<PromptWindow>().isEmpty());

    // Closed before it could even appear: it never shows.
    PromptHandle early("body");
    early.close();
    std::thread([&] {
      QCOMPARE(frontend.showPrompt(early, PromptRequest{"line", "body", {"取消"}}),
               PromptAnswer::None);
    }).join();
    QCoreApplication::processEvents();
    QVERIFY(openWindows<PromptWindow>().isEmpty());
  }

  void promptsAreIndependent() {
    QtFrontend frontend;
    PromptHandle first("one");
    PromptHandle second("two");
    auto a = std::async(std::launch::async, [&] {
      return frontend.showPrompt(first,
                                 PromptRequest{"a", "one", {"取消"}, PromptKind::OwnOfferWaiting});
    });
    auto b = std::async(std::launch::async, [&] {
      return frontend.showPrompt(second,
                                 PromptRequest{"b", "two", {"取消"}, PromptKind::OwnOfferWaiting});
    });
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 2);
    std::thread([&] { second.close(); }).join();
    QTRY_VERIFY(ready(b));
    QCOMPARE(b.get(), PromptAnswer::None);
    QVERIFY(!ready(a));
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 1);
    QTest::mouseClick(control<QPushButton>(openWindows<PromptWindow>().constFirst(), 1001),
                      Qt::LeftButton);
    QTRY_VERIFY(ready(a));
    QCOMPARE(a.get(), PromptAnswer::Cancel);
  }

  void fileExistsAnswerCarriesTheAlwaysBox() {
    QtFrontend frontend;
    for (bool tick : {false, true}) {
      auto reply =
          std::async(std::launch::async, [&] { return frontend.askFileExists("/tmp/a.txt"); });
      QTRY_COMPARE(openWindows<FileExistsDialog>().size(), 1);
      FileExistsDialog* dialog = openWindows<FileExistsDialog>().constFirst();
      // The question names the file as the dialog always has.
      QCOMPARE(control<QLabel>(dialog, kIdPromptText)->text(),
               QStringLiteral("文件已经存在：/tmp/a.txt\n你要："));
      if (tick) QTest::mouseClick(control<QAbstractButton>(dialog, kIdAlwaysBox), Qt::LeftButton);
      QTest::mouseClick(control<QPushButton>(dialog, tick ? 1004 : 1003), Qt::LeftButton);
      QTRY_VERIFY(ready(reply));
      const FileExistsReply answer = reply.get();
      QCOMPARE(answer.answer, tick ? FileExistsAnswer::Stop : FileExistsAnswer::Skip);
      QCOMPARE(answer.alwaysTicked, tick);
      QTRY_VERIFY(openWindows<FileExistsDialog>().isEmpty());
    }
  }

  void saveDialogProposesTheOfferedName() {
    QtFrontend frontend;
    QTemporaryDir dir;
    QString proposed;
    QString suffix;
    DialogActor actor([&](QFileDialog& dialog) {
      proposed = QFileInfo(dialog.selectedFiles().value(0)).fileName();
      suffix = dialog.defaultSuffix();
      dialog.setDirectory(dir.path());
      dialog.selectFile(QStringLiteral("报告"));  // typed without its suffix
      static_cast<QDialog&>(dialog).accept();     // as the Save or Open button does
    });
    auto chosen =
        std::async(std::launch::async, [&] { return frontend.chooseSaveFile("报告.txt", "txt"); });
    QTRY_VERIFY(ready(chosen));
    QCOMPARE(proposed, QStringLiteral("报告.txt"));
    QCOMPARE(suffix, QStringLiteral("txt"));
    const std::optional<std::filesystem::path> path = chosen.get();
    QVERIFY(path);
    QCOMPARE(*path, pathOf(dir.filePath(QStringLiteral("报告.txt"))));
  }

  void cancelledDialogsChooseNothing() {
    QtFrontend frontend;
    DialogActor actor([](QFileDialog& dialog) { dialog.reject(); });
    auto save = std::async(std::launch::async, [&] { return frontend.chooseSaveFile("a", ""); });
    QTRY_VERIFY(ready(save));
    QVERIFY(!save.get());
    auto resume = std::async(std::launch::async, [&] { return frontend.chooseResumeFile("a"); });
    QTRY_VERIFY(ready(resume));
    QVERIFY(!resume.get());
    auto folder = std::async(std::launch::async, [&] { return frontend.chooseFolder(); });
    QTRY_VERIFY(ready(folder));
    QVERIFY(!folder.get());
    auto files = std::async(std::launch::async, [&] { return frontend.chooseFilesToOffer(); });
    QTRY_VERIFY(ready(files));
    QVERIFY(files.get().empty());
  }

  void offerDialogTakesSeveralFiles() {
    QtFrontend frontend;
    QTemporaryDir dir;
    for (const char* name : {"一.txt", "two.bin"}) {
      QFile file(dir.filePath(QString::fromUtf8(name)));
      QVERIFY(file.open(QIODevice::WriteOnly));
    }
    DialogActor actor([&](QFileDialog& dialog) {
      dialog.setDirectory(dir.path());
      dialog.selectFile(QStringLiteral("\"一.txt\" \"two.bin\""));
      static_cast<QDialog&>(dialog).accept();  // as the Save or Open button does
    });
    auto files = std::async(std::launch::async, [&] { return frontend.chooseFilesToOffer(); });
    QTRY_VERIFY(ready(files));
    const std::vector<std::filesystem::path> expected = {
        pathOf(dir.filePath(QStringLiteral("一.txt"))),
        pathOf(dir.filePath(QStringLiteral("two.bin")))};
    QCOMPARE(files.get(), expected);
  }

  void transferWindowFollowsItsTransfer() {
    QtFrontend frontend;
    std::atomic<int> stops = 0;
    TransferWindowSetup spec;
    spec.index = 7;
    spec.isSender = true;
    spec.fileCount = 3;
    spec.onStop = [&] { ++stops; };
    auto opened = std::async(std::launch::async, [&] { return frontend.openTransferWindow(spec); });
    QTRY_VERIFY(ready(opened));
    const TransferWindowId id = opened.get();
    QVERIFY(id != 0);
    TransferWindow* window = frontend.transferWindow(id);
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("发送文件 Index: 7"));

    std::thread([&] {
      frontend.setTransferFileName(id, "/home/a/照片/1.jpg");
      frontend.showTransferFigures(
          id, TransferFigures{50, 250, TransferTexts{"1.0 MB", "512 KB", "100 KB/s", "7 s  "}});
      frontend.setTransferStatus(id, "正在传送文件");
    }).join();
    QTRY_COMPARE(control<QLabel>(window, kIdStatus)->text(), QStringLiteral("正在传送文件"));
    QCOMPARE(control<QPlainTextEdit>(window, ID_FILENAME)->toPlainText(),
             QStringLiteral("/home/a/照片/1.jpg"));
    QCOMPARE(control<QProgressBar>(window, kIdFileBar)->value(), 50);
    QCOMPARE(control<QProgressBar>(window, kIdTotalBar)->value(), 100);
    QCOMPARE(control<QLabel>(window, kIdElapsed)->text(), QStringLiteral("7 s  "));

    QTest::mouseClick(control<QPushButton>(window, kIdStopButton), Qt::LeftButton);
    QCOMPARE(stops.load(), 1);
    QTRY_VERIFY(frontend.transferWindow(id) == nullptr);
    // Figures for a closed window go nowhere.
    frontend.showTransferFigures(id, TransferFigures{10, {}, {}});
    QCoreApplication::processEvents();
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::QtFrontendTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "qt_frontend_test.moc"
