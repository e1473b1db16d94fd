#include "ui/instance_channel.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

namespace brisk {

namespace {

// Tells a hand-over from anything else that may knock.
constexpr quint32 kMagic = 0x4252534b;  // "BRSK"
constexpr quint32 kVersion = 1;
// Far more than any list of paths a file manager hands over; a larger message is no
// hand-over.
constexpr quint32 kMaxMessageBytes = 16 * 1024 * 1024;
constexpr char kTaken = 'k';

bool someoneListens(const QString& name) {
  QLocalSocket socket;
  socket.connectToServer(name);
  return socket.waitForConnected(1000);
}

}  // namespace

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {}

InstanceChannel::~InstanceChannel() = default;

QString InstanceChannel::serverName(const QString& settingsFile) {
  const QString folder = QFileInfo(settingsFile).absolutePath();
  const QString hash = QString::fromLatin1(
      QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) {
    return runtime + QStringLiteral("/brisk-") + hash;
  }
  return QStringLiteral("brisk-%1-%2").arg(::getuid()).arg(hash);
}

bool InstanceChannel::handOver(const QString& name, const QStringList& paths, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(timeoutMs)) return false;
  QByteArray message;
  QDataStream stream(&message, QIODevice::WriteOnly);
  stream << kMagic << kVersion << paths;
  QByteArray framed;
  QDataStream frame(&framed, QIODevice::WriteOnly);
  frame << message;
  socket.write(framed);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  while (socket.bytesAvailable() == 0) {
    if (!socket.waitForReadyRead(timeoutMs)) return false;
  }
  char answer = 0;
  return socket.getChar(&answer) && answer == kTaken;
}

bool InstanceChannel::listen(const QString& name) {
  // Listening replaces whatever socket has the name, a live one too; only one that
  // nobody answers on (left behind by a Brisk that died) may go.
  if (someoneListens(name)) return false;
  auto* server = new QLocalServer(this);
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(name)) {
    delete server;
    return false;
  }
  server_ = server;
  connect(server_, &QLocalServer::newConnection, this, &InstanceChannel::takeConnection);
  return true;
}

void InstanceChannel::takeConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      // The message is a length and its bytes; it may come in several reads. A length
      // beyond any hand-over is a stranger's bytes, not worth waiting for.
      if (socket->bytesAvailable() < 4) return;
      const QByteArray length = socket->peek(4);
      const quint32 announced = quint32(quint8(length[0])) << 24 |
                                quint32(quint8(length[1])) << 16 | quint32(quint8(length[2])) << 8 |
                                quint32(quint8(length[3]));
      if (announced > kMaxMessageBytes) {
        socket->abort();
        return;
      }
      QDataStream framed(socket);
      framed.startTransaction();
      QByteArray message;
      framed >> message;
      if (!framed.commitTransaction()) return;
      QDataStream stream(message);
      quint32 magic = 0;
      quint32 version = 0;
      QStringList paths;
      stream >> magic >> version >> paths;
      if (stream.status() != QDataStream::Ok || magic != kMagic || version != kVersion) {
        socket->abort();
        return;
      }
      socket->putChar(kTaken);
      socket->flush();
      Q_EMIT received(paths);
    });
  }
}

}  // namespace brisk
