#pragma once

#include <filesystem>
#include <vector>

#include <QObject>
#include <QStringList>

#include "common/frontend.h"

namespace brisk {

class MainWindow;
class Peer;
class QtFrontend;

// Paths another start handed over (`brisk --send`, a file manager's "Open With"): each
// hand-over becomes one offer, as a drop on the input box does, at once while connected
// and otherwise as soon as the link is up; the chat log says what waits. Each hand-over
// brings the main window forward. GUI thread only.
class OutsideSends : public QObject {
  Q_OBJECT

 public:
  OutsideSends(MainWindow& window, QtFrontend& frontend, Peer& peer);

  void take(const QStringList& paths);

  // Hand-overs that wait for the link.
  std::size_t waiting() const { return waiting_.size(); }

 private:
  void sendWaiting();

  MainWindow& window_;
  QtFrontend& frontend_;
  Peer& peer_;
  LinkState state_ = LinkState::Idle;
  std::vector<std::vector<std::filesystem::path>> waiting_;
};

}  // namespace brisk
