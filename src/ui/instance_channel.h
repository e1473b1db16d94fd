#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

namespace brisk {

// One Brisk per settings folder: the first one started listens on a local socket named
// from that folder, and a later start (`brisk`, `brisk --send PATH...`) hands its paths to
// it and ends, so two programs never share one settings file. Only the person's own
// processes can reach the socket. GUI thread only.
class InstanceChannel : public QObject {
  Q_OBJECT

 public:
  explicit InstanceChannel(QObject* parent = nullptr);
  ~InstanceChannel() override;

  // The socket for the settings file `settingsFile`: in $XDG_RUNTIME_DIR where there is
  // one, else a name of the person's own in the temporary folder.
  static QString serverName(const QString& settingsFile);

  // Hands `paths` (full paths; none just brings the window forward) to the Brisk that
  // listens under `name`. True once it has taken them; false when none listens.
  static bool handOver(const QString& name, const QStringList& paths, int timeoutMs = 5000);

  // Listens under `name`. False when another Brisk already does (or the socket cannot be
  // made); a socket left behind by a Brisk that died is replaced.
  bool listen(const QString& name);

 Q_SIGNALS:
  // Another start handed these paths over.
  void received(const QStringList& paths);

 private:
  void takeConnection();

  QLocalServer* server_ = nullptr;
};

}  // namespace brisk
