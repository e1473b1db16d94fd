// Brisk on a Linux desktop: Qt's own dialogs in Chinese, the program's icon, where save
// dialogs open, the question before closing over running transfers, cascaded windows, and
// the settings saved when the program is terminated.

#include <csignal>

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "ui/program_icon.h"
#include "ui/qt_translations.h"
#include "ui/save_folder.h"
#include "ui/transfer_window.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

QStringList buttonTexts(const QDialogButtonBox& buttons) {
  QStringList texts;
  for (const QAbstractButton* button : buttons.buttons()) texts.append(button->text());
  return texts;
}

// While it lives, answers every question box that appears with `answer` and keeps its text.
class QuestionAnswerer : public QObject {
 public:
  explicit QuestionAnswerer(QMessageBox::StandardButton answer) {
    connect(&timer_, &QTimer::timeout, this, [this, answer] {
      for (QMessageBox* box : openWindows<QMessageBox>()) {
        if (box->property("answered").toBool()) continue;
        box->setProperty("answered", true);
        texts.append(box->text());
        box->button(answer)->click();
      }
    });
    timer_.start(10);
  }
  QStringList texts;

 private:
  QTimer timer_;
};

// While it lives, answers each file dialog that opens: notes the folder it opened in, then
// picks `choice` (a folder is entered and taken, a file name typed).
class FileDialogAnswerer : public QObject {
 public:
  explicit FileDialogAnswerer(QString choice) {
    connect(&timer_, &QTimer::timeout, this, [this, choice] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog || dialog->property("answered").toBool()) return;
      dialog->setProperty("answered", true);
      openedIn.append(QDir::cleanPath(dialog->directory().absolutePath()));
      if (dialog->fileMode() == QFileDialog::Directory) {
        dialog->setDirectory(choice);
      } else {
        dialog->selectFile(choice);
      }
      static_cast<QDialog*>(dialog)->accept();  // as the Save or Open button does
    });
    timer_.start(10);
  }
  QStringList openedIn;

 private:
  QTimer timer_;
};

// The bits of the signals a process catches, from /proc.
bool catchesSignal(qint64 pid, int signalNumber) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (!line.startsWith("SigCgt:")) continue;
    const qulonglong caught = line.mid(7).trimmed().toULongLong(nullptr, 16);
    return (caught >> (signalNumber - 1)) & 1U;
  }
  return false;
}

}  // namespace

class DesktopTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() { writeSettings(); }
  void cleanup() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (!qobject_cast<MainWindow*>(widget)) delete widget;
    }
  }

  // Qt's file dialog (its own, as on desktops without a native one) reads in Chinese.
  void qtDialogsSpeakChinese() {
    QVERIFY(installQtChineseTexts(*QCoreApplication::instance()));
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    const QStringList texts = buttonTexts(*dialog.findChild<QDialogButtonBox*>());
    QVERIFY2(texts.contains(QStringLiteral("保存(&S)")), qPrintable(texts.join(u'|')));
    QVERIFY2(texts.contains(QStringLiteral("取消")), qPrintable(texts.join(u'|')));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"))->text(),
             QStringLiteral("查找范围："));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QVERIFY(
        buttonTexts(*dialog.findChild<QDialogButtonBox*>()).contains(QStringLiteral("打开(&O)")));
  }

  void iconIsDrawnAtEverySize() {
    const QIcon icon = programIcon();
    QVERIFY(!icon.isNull());
    for (const int side : {16, 48, 256}) {
      const QImage image = icon.pixmap(side).toImage();
      QCOMPARE(image.size(), QSize(side, side));
      // Opaque inside, transparent in the rounded corner.
      QCOMPARE(image.pixelColor(side / 2, side / 8).alpha(), 255);
      QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    }
  }

  // First in the Downloads folder of the XDG user dirs, then where the person saved last;
  // a settings file from before the value existed loads without a notice.
  void saveDialogsOpenWhereFilesGo() {
    QTemporaryDir home;
    const QString downloads = home.filePath(QStringLiteral("下载"));
    const QString chosen = home.filePath(QStringLiteral("received"));
    QVERIFY(QDir().mkpath(downloads) && QDir().mkpath(chosen));
    const QString userDirs =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/user-dirs.dirs");
    QFile dirs(userDirs);
    QVERIFY(dirs.open(QIODevice::WriteOnly));
    dirs.write(QStringLiteral("XDG_DOWNLOAD_DIR=\"%1\"\n").arg(downloads).toUtf8());
    dirs.close();

    BoxAnswerer notices;
    Program program;
    program.window.start();
    {
      FileDialogAnswerer answerer(chosen);
      QCOMPARE(program.frontend.chooseFolder(),
               std::optional(std::filesystem::path(QFile::encodeName(chosen).toStdString())));
      QCOMPARE(answerer.openedIn, QStringList{downloads});
    }
    QCOMPARE(storedSetting(QString::fromLatin1(kSaveFolderSetting)).toString(), chosen);
    {
      FileDialogAnswerer answerer(QStringLiteral("photo.jpg"));
      const auto file = program.frontend.chooseSaveFile("photo.jpg", "jpg");
      QCOMPARE(answerer.openedIn, QStringList{chosen});
      QCOMPARE(file, std::optional(std::filesystem::path(
                         QFile::encodeName(chosen + QStringLiteral("/photo.jpg")).toStdString())));
    }
    // A remembered folder that is gone falls back to Downloads.
    QVERIFY(QDir(chosen).removeRecursively());
    QCOMPARE(saveDialogFolder(program.window.settingsStore()), downloads);
    QVERIFY(notices.texts().isEmpty());
    program.window.close();
    QFile::remove(userDirs);
  }

  // Closing over running transfers asks first; No keeps the window, Yes closes it. A
  // finished transfer does not count.
  void closingAsksWhileTransfersRun() {
    Program program;
    program.window.start();
    QSignalSpy closed(&program.window, &MainWindow::closed);
    const TransferWindowId first = program.frontend.openTransferWindow(transferSpec(3));
    program.frontend.openTransferWindow(transferSpec(4));
    const TransferWindowId done = program.frontend.openTransferWindow(transferSpec(5));
    program.frontend.showTransferVerdict(done, verdictOf(true, "传送完毕！"));
    QTRY_COMPARE(program.frontend.runningTransfers(), 2);
    {
      QuestionAnswerer no(QMessageBox::No);
      QVERIFY(!program.window.close());
      QCOMPARE(no.texts, QStringList{QStringLiteral("有 2 个传送正在进行，确定退出吗？")});
      QVERIFY(program.window.isVisible());
      QCOMPARE(closed.count(), 0);
    }
    program.frontend.showTransferVerdict(first, verdictOf(false, "传送中止！"));
    QTRY_COMPARE(program.frontend.runningTransfers(), 1);
    {
      QuestionAnswerer yes(QMessageBox::Yes);
      QVERIFY(program.window.close());
      QCOMPARE(yes.texts, QStringList{QStringLiteral("有 1 个传送正在进行，确定退出吗？")});
      QCOMPARE(closed.count(), 1);
    }
  }

  void terminationClosesWithoutAsking() {
    Program program;
    program.window.start();
    program.frontend.openTransferWindow(transferSpec(3));
    QuestionAnswerer no(QMessageBox::No);
    QSignalSpy closed(&program.window, &MainWindow::closed);
    program.window.closeWithoutAsking();
    QCOMPARE(closed.count(), 1);
    QVERIFY(no.texts.isEmpty());
  }

  // New windows step down and right from the main window instead of piling up at one place.
  void windowsOpenCascadedNearTheMainWindow() {
    Program program;
    program.window.move(200, 150);
    program.window.start();
    const QPoint main = program.window.frameGeometry().topLeft();
    const TransferWindowId first = program.frontend.openTransferWindow(transferSpec(3));
    const TransferWindowId second = program.frontend.openTransferWindow(transferSpec(4));
    const QPoint a = program.frontend.transferWindow(first)->frameGeometry().topLeft();
    const QPoint b = program.frontend.transferWindow(second)->frameGeometry().topLeft();
    QCOMPARE(a, main + QPoint(30, 30));
    QCOMPARE(b, main + QPoint(60, 60));
    program.window.closeWithoutAsking();
  }

  // --help and --version answer in a terminal without any display.
  void informationOptionsNeedNoDisplay_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("expected");
    QTest::newRow("--help") << QStringLiteral("--help") << QStringLiteral("Usage: brisk");
    QTest::newRow("-h") << QStringLiteral("-h") << QStringLiteral("Usage: brisk");
    QTest::newRow("--version") << QStringLiteral("--version") << QStringLiteral("brisk 1.");
  }

  void informationOptionsNeedNoDisplay() {
    QFETCH(QString, option);
    QFETCH(QString, expected);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
      environment.remove(QString::fromLatin1(name));
    }
    QProcess brisk;
    brisk.setProcessEnvironment(environment);
    brisk.start(QStringLiteral(BRISK_PROGRAM), {option});
    QVERIFY(brisk.waitForFinished(10000));
    QCOMPARE(brisk.exitStatus(), QProcess::NormalExit);
    QCOMPARE(brisk.exitCode(), 0);
    QVERIFY(QString::fromUtf8(brisk.readAllStandardOutput()).startsWith(expected));
  }

  // One program runs per settings folder: a later start with paths hands them over and
  // ends at once; paths that are not there are named and nothing starts.
  void aLaterStartHandsItsPathsOver() {
    QTemporaryDir config;
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const auto run = [&](QProcess& brisk, const QStringList& arguments) {
      brisk.setProcessEnvironment(environment);
      brisk.start(QStringLiteral(BRISK_PROGRAM), arguments);
    };
    QProcess first;
    run(first, {});
    QVERIFY(QTest::qWaitFor([&] { return !QDir(runtime.path()).isEmpty(QDir::System); }));

    QProcess missing;
    run(missing, {QStringLiteral("--send"), config.filePath(QStringLiteral("nothing"))});
    QVERIFY(missing.waitForFinished(10000));
    QCOMPARE(missing.exitCode(), 2);
    QVERIFY(missing.readAllStandardError().contains("nothing: no such file or folder"));

    QProcess second;
    run(second, {QStringLiteral("--send"), config.path()});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    QVERIFY(first.waitForFinished(20000));
    QCOMPARE(first.exitCode(), 0);
  }

  // SIGTERM, SIGINT and SIGHUP close the window the normal way: the settings are written.
  void signalsSaveTheSettings_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
  }

  void signalsSaveTheSettings() {
    QFETCH(int, signalNumber);
    QTemporaryDir config;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess brisk;
    brisk.setProcessEnvironment(environment);
    brisk.start(QStringLiteral(BRISK_PROGRAM), {});
    QVERIFY(brisk.waitForStarted());
    // Once the handler is in place the signal is caught, not fatal.
    QVERIFY(QTest::qWaitFor([&] { return catchesSignal(brisk.processId(), signalNumber); }));
    ::kill(static_cast<pid_t>(brisk.processId()), signalNumber);
    QVERIFY(brisk.waitForFinished(20000));
    QCOMPARE(brisk.exitStatus(), QProcess::NormalExit);
    QCOMPARE(brisk.exitCode(), 0);
    const QSettings saved(config.filePath(QStringLiteral("Software/socket.ini")),
                          QSettings::IniFormat);
    for (const char* name :
         {"ipa", "port", "autoclose", "zoomed", "width", "height", "StayOnTop"}) {
      QVERIFY2(saved.contains(QString::fromLatin1(name)), name);
    }
    QCOMPARE(saved.value(QStringLiteral("port")).toInt(), 6000);
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::DesktopTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "desktop_test.moc"
