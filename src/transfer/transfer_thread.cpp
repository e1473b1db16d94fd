#include "transfer/transfer_thread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "common/data_port.h"
#include "common/diagnostics.h"
#include "platform/directory.h"
#include "platform/text_codec.h"
#include "transfer/data_channel.h"
#include "transfer/receiver.h"
#include "transfer/sender.h"
#include "transfer/stream_receiver.h"
#include "transfer/stream_sender.h"
#include "transfer/transfer_session.h"

namespace brisk {

namespace {

// A data port waits for the one connection of its transfer; another is turned away.
constexpr int kDataBacklog = 2;

bool stopRequested(const TransferContext& context, const TransferRecord& record) {
  return record.dataSocket.interrupted() || (context.stopping && context.stopping());
}

// A failure to set up the connection; none is shown when this side was asked to stop.
void setupFailure(const TransferContext& context, TransferRecord& record, const std::string& call,
                  int error) {
  if (stopRequested(context, record)) return;
  record.noteCause(TransferCause::ConnectionLost);
  context.notices.showErrorNotice(callFailed(call), error);
}

// The encrypted data connection over a connected socket, or nothing after a notice.
std::unique_ptr<ByteStream> secureConnection(const TransferContext& context, TransferRecord& record,
                                             Socket socket, std::chrono::milliseconds limit) {
  // Armed for the handshake, so that Stop breaks it as it breaks a receive.
  if (!record.dataSocket.arm(socket.fd())) return nullptr;
  DataStreamStart started = context.secureData(std::move(socket), record.isConnector,
                                               std::max(limit, std::chrono::milliseconds(1)));
  record.dataSocket.disarm();
  if (!started.stream && !stopRequested(context, record)) {
    record.noteCause(TransferCause::ConnectionLost);
    context.notices.showNotice("传送文件的加密连接没有建立：\r\n" + started.failure);
  }
  return std::move(started.stream);
}

std::optional<Socket> connectToPeer(const TransferContext& context, TransferRecord& record,
                                    std::uint16_t port) {
  // Both sides start their transfer threads when the transfer is agreed, so the peer may
  // not be listening yet when this side first tries. It waits for us for acceptLimit;
  // a refused connection is tried again for as long.
  const auto deadline = std::chrono::steady_clock::now() + context.timing.acceptLimit;
  for (;;) {
    if (stopRequested(context, record)) return std::nullopt;
    // connectTcp arms the interrupter itself while the connect is under way. A peer that
    // never answers (its SYNs dropped) is given no longer than one that refuses.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    SocketResult connected = connectTcp(record.peerAddress, port, record.dataSocket,
                                        std::max(left, std::chrono::milliseconds(1)));
    if (connected.ok()) return std::move(connected.socket);
    if (connected.error != ECONNREFUSED || std::chrono::steady_clock::now() >= deadline) {
      setupFailure(context, record, connected.failedCall, connected.error);
      return std::nullopt;
    }
    std::this_thread::sleep_for(
        std::max(context.timing.connectRetryWait, std::chrono::milliseconds(1)));
  }
}

// A data connection as it was made: a plain socket, or an encrypted stream over one.
struct DataConnection {
  Socket socket;
  std::unique_ptr<ByteStream> encrypted;
};

std::optional<DataConnection> acceptPeer(const TransferContext& context, TransferRecord& record,
                                         std::uint16_t port) {
  SocketResult listening = listenTcp(port, kDataBacklog);
  record.markListening();
  if (!listening.ok()) {
    setupFailure(context, record, listening.failedCall, listening.error);
    return std::nullopt;
  }
  const auto deadline = std::chrono::steady_clock::now() + context.timing.acceptLimit;
  std::string refusedWhy;
  for (;;) {
    // Arm, then look for a stop: one that came before is seen here, one after it breaks
    // the wait.
    if (!record.dataSocket.arm(listening.socket.fd())) return std::nullopt;
    if (stopRequested(context, record)) {
      record.dataSocket.disarm();
      return std::nullopt;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    // Only the control connection's peer may connect; anyone else is turned away and the
    // wait goes on.
    SocketResult accepted = acceptTcp(listening.socket, record.dataSocket, record.peerAddress,
                                      std::max(left, std::chrono::milliseconds(0)));
    record.dataSocket.disarm();
    if (!accepted.ok()) {
      if (refusedWhy.empty() || accepted.error != ETIMEDOUT) {
        setupFailure(context, record, "accept", accepted.error);
      } else if (!stopRequested(context, record)) {
        // Someone came from the peer's address without the session's key, and the peer
        // itself never did: the person hears why the transfer could not start.
        record.noteCause(TransferCause::ConnectionLost);
        context.notices.showNotice("传送文件的加密连接没有建立：\r\n" + refusedWhy);
      }
      return std::nullopt;
    }
    if (!context.secureData) return DataConnection{std::move(accepted.socket), nullptr};
    if (!record.dataSocket.arm(accepted.socket.fd())) return std::nullopt;
    const auto handshakeLeft =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    DataStreamStart started = context.secureData(
        std::move(accepted.socket), false, std::max(handshakeLeft, std::chrono::milliseconds(1)));
    record.dataSocket.disarm();
    if (started.stream) return DataConnection{Socket(), std::move(started.stream)};
    if (stopRequested(context, record)) return std::nullopt;
    // Not the peer, or not with this session's key: the wait for the peer goes on.
    refusedWhy = started.failure;
  }
}

std::optional<DataConnection> openDataConnection(const TransferContext& context,
                                                 TransferRecord& record) {
  const std::uint16_t port = dataPortNumber(record.dataPort);
  if (port == 0) {
    setupFailure(context, record, record.isConnector ? "connect" : "bind", EINVAL);
    return std::nullopt;
  }
  if (!record.isConnector) return acceptPeer(context, record, port);
  const auto start = std::chrono::steady_clock::now();
  std::optional<Socket> socket = connectToPeer(context, record, port);
  if (!socket) return std::nullopt;
  if (!context.secureData) return DataConnection{std::move(*socket), nullptr};
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(
      start + context.timing.acceptLimit - std::chrono::steady_clock::now());
  std::unique_ptr<ByteStream> encrypted =
      secureConnection(context, record, std::move(*socket), left);
  if (!encrypted) return std::nullopt;
  return DataConnection{Socket(), std::move(encrypted)};
}

// The folder as the person reads it: without a trailing "/" (the root stays "/").
std::filesystem::path displayPath(const std::filesystem::path& folder) {
  std::string text = folder.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// Checks the transfer's folder, then runs this side of the protocol. Either side may find
// its folder missing; it then tells the peer and gives up.
void runProtocol(const TransferContext& context, TransferRecord& record, DataChannel& channel) {
  const std::filesystem::path folder = displayPath(*record.pathBuffer);
  Directory base;
  const int error = Directory::open(folder, base);
  TransferSession session{context, record, channel, base, folder};
  if (error != 0) {
    const std::string line =
        (error == ENOTDIR ? kNotADirectoryLine : kPathNotFoundLine) + folder.string();
    if (!channel.send(toWire(line))) session.sendNotice(kSendFailed0);
    session.notice(line.substr(2));
    return;
  }
  if (context.streamed && record.isSender) {
    runStreamSender(session);
  } else if (context.streamed) {
    runStreamReceiver(session);
  } else if (record.isSender) {
    runSender(session);
  } else {
    runReceiver(session);
  }
}

// What the record holds for the transfer is not needed once it has ended.
void releaseTransferData(TransferRecord& record) {
  fileQueueClear(record.fileQueue);
  record.pathBuffer.reset();
  record.saveAsName.reset();
}

}  // namespace

int transferThread(const TransferContext& context, std::shared_ptr<TransferRecord> record) {
  if (!record) {
    context.notices.showNotice(kPtsfNull);
    return -1;
  }
  // Declared first, so it runs last: the progress display takes this as the end.
  struct EndMark {
    TransferRecord& record;
    ~EndMark() { record.markTransferEnded(); }
  } endMark{*record};

  std::optional<DataConnection> connection = openDataConnection(context, *record);
  if (!connection) {
    releaseTransferData(*record);
    return -1;
  }
  DataChannel channel = connection->encrypted
                            ? DataChannel(std::move(connection->encrypted), record->dataSocket,
                                          context.stopping, context.timing)
                            : DataChannel(std::move(connection->socket), record->dataSocket,
                                          context.stopping, context.timing);
  record->totalDone = 0;
  if (!record->pathBuffer) {
    context.notices.showNotice(kPathnameNull);
    channel.close();
    releaseTransferData(*record);
    return -1;
  }
  if (channel.arm()) runProtocol(context, *record, channel);
  channel.finish();
  releaseTransferData(*record);
  context.frontend.beep();
  return 0;
}

}  // namespace brisk
