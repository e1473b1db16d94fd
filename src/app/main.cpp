#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "link/peer.h"
#include "ui/main_window.h"
#include "ui/program_icon.h"
#include "ui/qt_frontend.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brisk"));
  // Ties the windows to the desktop entry (task bar grouping, Wayland's app id).
  QGuiApplication::setDesktopFileName(QStringLiteral("org.brisk.Brisk"));
  QApplication::setWindowIcon(brisk::programIcon());

  // The interface is Chinese, so Qt's own texts (edit menus of the address and port boxes,
  // file dialogs) are too.
  QTranslator qtTexts;
  if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                   QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&qtTexts);
  }

  brisk::QtFrontend frontend;
  brisk::Peer peer(frontend);
  brisk::MainWindow window(peer, frontend);
  QObject::connect(&window, &brisk::MainWindow::closed, &app, &QApplication::quit);
  window.start();
  const int code = QApplication::exec();
  // Normally the window's close did this already; whatever else ended the loop, no engine
  // thread may go on waiting for an answer from it.
  frontend.beginShutdown();
  peer.shutdown();
  return code;
}
