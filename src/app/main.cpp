#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QFileInfo>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QUrl>

#include "common/settings_store.h"
#include "discovery/avahi_discovery.h"
#include "link/peer.h"
#include "link/program_end.h"
#include "ui/instance_channel.h"
#include "ui/main_window.h"
#include "ui/outside_sends.h"
#include "ui/program_icon.h"
#include "ui/qt_frontend.h"
#include "ui/qt_translations.h"
#include "ui/quit_signals.h"
#include "ui/secure_start.h"
#include "ui/stall_report.h"
#include "ui/tray_icon.h"

namespace {

constexpr const char* kUsage =
    "Usage: brisk [--hidden] [--send PATH...] [--help] [--version]\n"
    "             [Qt options such as -platform NAME]\n"
    "\n"
    "Brisk connects two computers directly over TCP: chat, and send each other files and\n"
    "whole folders. The window program; brisk-peer does the same from a terminal.\n"
    "\n"
    "  --hidden        start in the tray (where the desktop has one)\n"
    "  --send PATH...  offer these files and folders once connected, through the Brisk\n"
    "                  already running for this settings folder (started if none is)\n"
    "\n"
    "See man brisk.\n";

// Answered before anything needs a display, so that they work in a terminal without one.
int answerInformationOptions(int argc, char* argv[]) {
  for (int at = 1; at < argc; ++at) {
    if (std::strcmp(argv[at], "--help") == 0 || std::strcmp(argv[at], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[at], "--version") == 0) {
      std::printf("brisk %s\n", BRISK_PROGRAM_VERSION);
      return 0;
    }
  }
  return -1;
}

// What the command line asks for beyond Qt's own options.
struct Request {
  bool hidden = false;
  QStringList paths;  // full paths to send
  bool valid = true;
};

Request readRequest(const QStringList& arguments) {
  Request request;
  bool sending = false;
  for (qsizetype at = 1; at < arguments.size(); ++at) {
    const QString& argument = arguments[at];
    if (!sending && argument == QStringLiteral("--hidden")) {
      request.hidden = true;
    } else if (!sending && argument == QStringLiteral("--send")) {
      sending = true;
    } else if (sending) {
      // A file manager may hand over URLs of local files.
      const QUrl url(argument);
      const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
      const QFileInfo item(path);
      if (!item.exists() && !item.isSymLink()) {
        std::fprintf(stderr, "brisk: %s: no such file or folder\n", qPrintable(argument));
        request.valid = false;
        continue;
      }
      request.paths.append(item.absoluteFilePath());
    } else {
      std::fprintf(stderr, "brisk: unknown option %s (see brisk --help)\n", qPrintable(argument));
      request.valid = false;
    }
  }
  return request;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (const int answered = answerInformationOptions(argc, argv); answered >= 0) return answered;
  // System error texts in notices follow the person's language, as the system's own do.
  // The wire text codec does not depend on the C locale.
  std::setlocale(LC_ALL, "");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brisk"));
  // Ties the windows to the desktop entry (task bar grouping, Wayland's app id).
  QGuiApplication::setDesktopFileName(QStringLiteral("org.brisk.Brisk"));
  QApplication::setWindowIcon(brisk::programIcon());
  // The interface is Chinese, so Qt's own texts (file dialogs, edit menus) are too.
  brisk::installQtChineseTexts(app);

  const Request request = readRequest(QCoreApplication::arguments());
  // Nothing is sent unless every path is there: the person corrects the command first.
  if (!request.valid) return 2;
  // One program per settings folder: a later start hands its paths to the first.
  const QString channelName =
      brisk::InstanceChannel::serverName(QString::fromStdString(brisk::SettingsStore::fileName()));
  if (brisk::InstanceChannel::handOver(channelName, request.paths)) return 0;
  brisk::InstanceChannel channel;
  if (!channel.listen(channelName) &&
      brisk::InstanceChannel::handOver(channelName, request.paths)) {
    return 0;
  }
  // The window hides in the tray; other windows closing must not end the program.
  QApplication::setQuitOnLastWindowClosed(false);

  brisk::QtFrontend frontend;
  brisk::Peer peer(frontend);
  brisk::startSecureSessions(peer);
  brisk::ProgramEnd end(peer, frontend);
  brisk::MainWindow window(peer, frontend, end, std::make_unique<brisk::AvahiDiscovery>());
  QObject::connect(&window, &brisk::MainWindow::closed, &app, &QApplication::quit);
  std::unique_ptr<brisk::TrayIcon> tray;
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray = std::make_unique<brisk::TrayIcon>(window, frontend, peer);
  }
  brisk::OutsideSends sends(window, frontend, peer);
  QObject::connect(&channel, &brisk::InstanceChannel::received, &sends, &brisk::OutsideSends::take);
  // Being terminated, interrupted or logged out closes the window as its close box does,
  // without the question about running transfers, so the settings are saved.
  brisk::QuitSignals quitSignals;
  QObject::connect(&quitSignals, &brisk::QuitSignals::received, &window,
                   &brisk::MainWindow::closeWithoutAsking);
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                   &brisk::MainWindow::closeWithoutAsking);
  // A developer's measure of how long the window's thread is kept from its events.
  std::unique_ptr<brisk::StallReport> stallReport;
  if (const QString path = qEnvironmentVariable("BRISK_REPORT_STALLS"); !path.isEmpty()) {
    stallReport = std::make_unique<brisk::StallReport>(path);
  }
  window.start(request.hidden);
  if (!request.paths.isEmpty()) sends.take(request.paths);
  const int code = QApplication::exec();
  // Normally the window's close ran it already; whatever else ended the loop, no engine
  // thread may go on waiting for an answer from it.
  end.run();
  return code;
}
