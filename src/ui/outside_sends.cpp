#include "ui/outside_sends.h"

#include <QFile>

#include "link/peer.h"
#include "ui/main_window.h"
#include "ui/qt_frontend.h"

namespace brisk {

namespace {

// The chat log's own notes, apart from what was received or sent.
constexpr Rgb kNoteColour{128, 128, 128};

}  // namespace

OutsideSends::OutsideSends(MainWindow& window, QtFrontend& frontend, Peer& peer)
    : window_(window), frontend_(frontend), peer_(peer) {
  connect(&frontend_, &QtFrontend::linkStateChanged, this, [this](LinkState state) {
    state_ = state;
    if (state_ == LinkState::Connected) sendWaiting();
  });
}

void OutsideSends::take(const QStringList& paths) {
  window_.showFromOutside();
  if (paths.isEmpty()) return;
  std::vector<std::filesystem::path> items;
  for (const QString& path : paths) items.emplace_back(QFile::encodeName(path).toStdString());
  waiting_.push_back(std::move(items));
  if (state_ == LinkState::Connected) {
    sendWaiting();
    return;
  }
  const QString first = paths.constFirst().section(QLatin1Char('/'), -1);
  const QString what =
      paths.size() == 1 ? first : QStringLiteral("%1 等 %2 项").arg(first).arg(paths.size());
  frontend_.appendLog(QStringLiteral("（连接后发送：%1）\r\n").arg(what).toStdString(),
                      kNoteColour);
}

void OutsideSends::sendWaiting() {
  std::vector<std::vector<std::filesystem::path>> waiting;
  waiting.swap(waiting_);
  for (const auto& items : waiting) peer_.offerFiles(items);
}

}  // namespace brisk
