#include <clocale>
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

int main(int argc, char* argv[]) {
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
