#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QSessionManager>

#include "discovery/avahi_discovery.h"
#include "link/peer.h"
#include "link/program_end.h"
#include "ui/main_window.h"
#include "ui/program_icon.h"
#include "ui/qt_frontend.h"
#include "ui/qt_translations.h"
#include "ui/quit_signals.h"
#include "ui/secure_start.h"

namespace {

constexpr const char* kUsage =
    "Usage: brisk [--help] [--version] [Qt options such as -platform NAME]\n"
    "\n"
    "Brisk connects two computers directly over TCP: chat, and send each other files and\n"
    "whole folders. The window program; brisk-peer does the same from a terminal.\n"
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

  brisk::QtFrontend frontend;
  brisk::Peer peer(frontend);
  brisk::startSecureSessions(peer);
  brisk::ProgramEnd end(peer, frontend);
  brisk::MainWindow window(peer, frontend, end, std::make_unique<brisk::AvahiDiscovery>());
  QObject::connect(&window, &brisk::MainWindow::closed, &app, &QApplication::quit);
  // Being terminated, interrupted or logged out closes the window as its close box does,
  // without the question about running transfers, so the settings are saved.
  brisk::QuitSignals quitSignals;
  QObject::connect(&quitSignals, &brisk::QuitSignals::received, &window,
                   &brisk::MainWindow::closeWithoutAsking);
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                   &brisk::MainWindow::closeWithoutAsking);
  window.start();
  const int code = QApplication::exec();
  // Normally the window's close ran it already; whatever else ended the loop, no engine
  // thread may go on waiting for an answer from it.
  end.run();
  return code;
}
