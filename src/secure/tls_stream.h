#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/types.h>

#include "platform/byte_stream.h"
#include "platform/socket.h"
#include "secure/fingerprint.h"
#include "secure/tls_context.h"
#include "secure/tls_failure.h"

namespace brisk {

// Which end of the TCP connection this side is: the one that connected is TLS's client.
enum class TlsRole { Connecting, Accepting };

// What a finished handshake agreed on, for the log and the tests.
struct TlsParameters {
  std::string version;   // "TLSv1.3"
  std::string cipher;    // "TLS_AES_128_GCM_SHA256"
  std::string exchange;  // the group of the key exchange, "X25519"; empty when there was none
  bool preSharedKey = false;
};

struct TlsStart;
class TlsTransport;

// An established TLS 1.3 session over a TCP connection, as a ByteStream. It owns the
// socket (made non-blocking) and closes it when destroyed.
//
// One thread may receive while another sends: OpenSSL's object for the connection is used
// under a mutex, one call at a time, and no call waits for the network while holding it
// (the socket is polled outside). A failure ends the stream for good: nothing that arrives
// after a record that failed its check is ever delivered. Breaking a blocked call: arm a
// SocketInterrupter with fd(), as for any socket.
class TlsStream final : public ByteStream {
 public:
  ~TlsStream() override;
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  int fd() const override { return socket_.fd(); }
  int rawSocket() const override { return -1; }
  // Fills as much of `buffer` as has arrived, waiting only for the first bytes. 0 only when
  // the peer ended the session in order (close_notify); a connection cut without it is a
  // failure (TlsFailure::Kind::Cut), since whatever was still to come is lost.
  ssize_t receive(char* buffer, std::size_t capacity) override;
  ssize_t sendAll(std::string_view bytes) override;
  bool waitReadable(std::chrono::milliseconds limit) override;
  // Sends close_notify and shuts the socket's sending direction down.
  int finishSending() override;
  // The same, giving up after `limit` (a peer that reads nothing fills the socket): for
  // ending a session from a thread that must not wait long. Any thread.
  int finishSendingWithin(std::chrono::milliseconds limit);
  std::string failureText() const override;
  std::optional<std::vector<std::uint8_t>> sessionSecret(std::string_view label,
                                                         std::size_t length) const override {
    return exportKeyingMaterial(label, {}, length);
  }

  // The failure that ended the stream (Kind::None while it works). Any thread.
  TlsFailure failure() const;
  // The fingerprint of the certificate the peer presented (control sessions only).
  const std::optional<Fingerprint>& peerFingerprint() const { return peerFingerprint_; }
  // `length` bytes derived from this session's secrets (the TLS exporter, RFC 8446 7.5):
  // the two ends get the same bytes for the same label and context, and nobody else can
  // compute them; a man in the middle has two sessions with two different values. Labels
  // begin with "EXPORTER-". Nothing on failure. Any thread.
  std::optional<std::vector<std::uint8_t>> exportKeyingMaterial(
      std::string_view label, std::span<const std::uint8_t> context, std::size_t length) const;
  TlsParameters parameters() const;
  // From now on a receive, send or end that waits this long without the socket becoming
  // ready fails with EAGAIN, as a blocking socket's time-out does (zero: no limit). For
  // data connections, which give up on a silent peer. Before the stream is shared.
  void setIdleLimit(std::chrono::milliseconds limit) { idleLimit_ = limit; }

 private:
  friend TlsStart startControlSession(const TlsContext&, Socket, TlsRole,
                                      std::chrono::milliseconds);
  friend TlsStart startDataSession(const TlsContext&, Socket, TlsRole, const DataKey&,
                                   std::chrono::milliseconds);

  TlsStream(Socket socket, TlsStage stage);
  TlsFailure handshake(const TlsContext& context, TlsRole role, std::chrono::milliseconds limit,
                       const DataKey* key);
  // Records the failure that the last OpenSSL call reported; -1 with errno set.
  ssize_t fail(int sslError, int systemError);
  ssize_t failedAgain() const;
  // What to wait for on the socket when OpenSSL asked for `sslError`. Under the mutex.
  short eventsFor(int sslError) const;
  // Waits until the socket is ready for `events` (poll's) or has failed or closed. False
  // when `deadline` passed first.
  bool waitForSocket(short events, std::chrono::steady_clock::time_point deadline) const;
  // Sends everything the transport gathered: 1 once sent, 0 when `deadline` passed first,
  // -1 on failure (recorded).
  int flushOutput(std::chrono::steady_clock::time_point deadline);
  static TlsFailure handshakeTimedOut();
  // When a wait that begins now gives up (see setIdleLimit).
  std::chrono::steady_clock::time_point idleDeadline() const;
  int finishSendingBy(std::chrono::steady_clock::time_point deadline);

  Socket socket_;
  TlsStage stage_;
  std::unique_ptr<TlsTransport> transport_;  // under mutex_ once the handshake is done
  DataKey key_;
  std::optional<Fingerprint> peerFingerprint_;
  mutable std::mutex mutex_;  // guards ssl_ and everything below
  SSL* ssl_ = nullptr;
  TlsFailure failure_;
  bool sendingFinished_ = false;
  std::chrono::milliseconds idleLimit_{0};
};

// The result of starting a session: the stream, or why there is none.
struct TlsStart {
  std::unique_ptr<TlsStream> stream;
  TlsFailure failure;
  // Whether any byte came from the peer before the failure: a port that accepts and then
  // closes without a word (a relay in front of nothing) is told apart from a peer that
  // answered.
  bool peerSpoke = false;
  bool ok() const { return stream != nullptr; }
};

// Runs the handshake of a control session on a connected socket, waiting at most `limit`
// for it (a peer that connects and says nothing fails then). On success the peer
// presented a certificate and proved it holds its key; its fingerprint is the stream's
// peerFingerprint(), which the caller checks against the trusted peers. Another thread
// can break the handshake through a SocketInterrupter armed with the socket's descriptor.
// Note that the connecting side finishes before the accepting side has checked its
// certificate: a refusal reaches it as a failure of its first receive.
TlsStart startControlSession(const TlsContext& context, Socket socket, TlsRole role,
                             std::chrono::milliseconds limit);
// The same for a data connection, with its key (see DataKey).
TlsStart startDataSession(const TlsContext& context, Socket socket, TlsRole role,
                          const DataKey& key, std::chrono::milliseconds limit);

// The key of the data connections of transfer `index` in this control session: both
// ends of the session derive the same 32 bytes, no one else can. Nothing on failure.
std::optional<DataKey> dataKeyFor(const TlsStream& control, std::uint32_t index);

}  // namespace brisk
