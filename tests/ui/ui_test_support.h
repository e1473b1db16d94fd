#pragma once

#include <map>
#include <memory>

#include <QApplication>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVariant>

#include "link/peer.h"
#include "link/program_end.h"
#include "support/test_support.h"
#include "ui/control_ids.h"
#include "ui/main_window.h"
#include "ui/qt_frontend.h"

namespace brisk::test {

// Runs a Qt Test object with a settings folder of its own, so no real settings are touched.
// The folder is fixed for the whole process: Qt reads XDG_CONFIG_HOME once.
int runUiTest(int argc, char** argv, QObject& test);

// The settings file of the program.
QString settingsFile();
// Removes the settings file: the next start is a first start.
void clearSettings();
// Writes all seven settings, the defaults unless given in `values` (a null QVariant leaves
// that value out).
void writeSettings(const std::map<QString, QVariant>& values = {});
// One stored value, or a null QVariant.
QVariant storedSetting(const QString& name);

// The program as main() builds it: front end, Peer (with short pauses), its end and the
// main window.
struct Program {
  QtFrontend frontend;
  Peer peer;
  ProgramEnd end;
  MainWindow window;

  Program() : peer(frontend, fastTiming()), end(peer, frontend), window(peer, frontend, end) {}
};

// While it lives, answers every message box that appears with its first button (or OK),
// and keeps their texts.
class BoxAnswerer : public QObject {
 public:
  BoxAnswerer();
  QStringList texts() const { return texts_; }

 private:
  void answerOpenBoxes();

  QTimer timer_;
  QStringList texts_;
};

// Starts two programs and links them by clicking Listen in one (on a free port) and
// Connect (127.0.0.1) in the other; true once both show the link.
bool startAndLink(Program& listener, Program& connector);

// Drops `urls` on `target` as a file manager does: enter, move, drop. Returns whether the
// drop was taken.
bool dropUrls(QWidget* target, const QList<QUrl>& urls);

// A transfer window's description with only its Index, and a verdict with its status text.
inline TransferWindowSetup transferSpec(int index) {
  TransferWindowSetup spec;
  spec.index = index;
  return spec;
}

inline TransferVerdict verdictOf(bool complete, const std::string& status) {
  TransferVerdict verdict;
  verdict.complete = complete;
  verdict.status = status;
  return verdict;
}

// Finds a child control of `window` by its number.
template <typename Control>
Control* control(const QWidget* window, int id) {
  return window->findChild<Control*>(controlName(id));
}

// The open top-level windows of a class.
template <typename Window>
QList<Window*> openWindows() {
  QList<Window*> found;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* window = qobject_cast<Window*>(widget); window && window->isVisible()) {
      found.append(window);
    }
  }
  return found;
}

}  // namespace brisk::test
