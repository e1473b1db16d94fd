#include "secure/tls_stream.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "secure/identity.h"
#include "secure/tls_transport.h"

namespace brisk {

namespace {

using Clock = std::chrono::steady_clock;

// One SSL_write takes at most this much: OpenSSL cuts it into records of 16 KiB and goes
// on while the socket takes them, and the mutex is never held long for the reading side.
constexpr std::size_t kSendChunk = 256 * 1024;

constexpr char kDataKeyLabel[] = "EXPORTER-brisk-data-connection";

bool isWant(int sslError) {
  return sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE;
}

}  // namespace

TlsStream::TlsStream(Socket socket, TlsStage stage)
    : socket_(std::move(socket)),
      stage_(stage),
      transport_(std::make_unique<TlsTransport>(socket_.fd())) {
  // The handshake and the session's lines are small flights, each sent whole and waiting
  // for its answer: held back for the acknowledgement of the one before (against the
  // peer's delayed acknowledgement), each would cost 40 ms.
  const int on = 1;
  (void)::setsockopt(socket_.fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

TlsStream::~TlsStream() {
  // An alert may wait in the transport; whatever the socket takes now goes.
  if (ssl_) (void)transport_->flush();
  SSL_free(ssl_);
}

TlsFailure TlsStream::handshake(const TlsContext& context, TlsRole role,
                                std::chrono::milliseconds limit, const DataKey* key) {
  const auto deadline = Clock::now() + limit;
  if (key) key_ = *key;
  ssl_ = context.newConnection(&key_);
  BIO* bio = ssl_ ? transport_->newBio() : nullptr;
  const int flags = ::fcntl(socket_.fd(), F_GETFL);
  if (!bio || flags < 0 || ::fcntl(socket_.fd(), F_SETFL, flags | O_NONBLOCK) != 0) {
    BIO_free(bio);
    return takeTlsFailure(SSL_ERROR_SSL, 0, stage_);
  }
  SSL_set_bio(ssl_, bio, bio);
  if (role == TlsRole::Connecting) {
    SSL_set_connect_state(ssl_);
  } else {
    SSL_set_accept_state(ssl_);
  }
  for (;;) {
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_);
    const int systemError = errno;
    if (result == 1) break;
    const int sslError = SSL_get_error(ssl_, result);
    if (!isWant(sslError)) return takeTlsFailure(sslError, systemError, stage_);
    if (!waitForSocket(eventsFor(sslError), deadline)) return handshakeTimedOut();
  }
  const int flushed = flushOutput(deadline);
  if (flushed < 0) return failure_;
  if (flushed == 0) return handshakeTimedOut();
  if (stage_ == TlsStage::DataHandshake) {
    // The handshake could only have succeeded with the key, but that is what this
    // connection is for, so it is checked rather than assumed.
    if (SSL_session_reused(ssl_) != 1) {
      return TlsFailure{TlsFailure::Kind::WrongKey, "数据连接没有用本次会话的密钥建立。"};
    }
    OPENSSL_cleanse(key_.bytes.data(), key_.bytes.size());
  } else {
    peerFingerprint_ = fingerprintOf(SSL_get0_peer_certificate(ssl_));
    if (!peerFingerprint_) {
      return TlsFailure{TlsFailure::Kind::NoCertificate, "对方没有出示证书，无法确认它的身份。"};
    }
  }
  stage_ = TlsStage::Session;
  return {};
}

short TlsStream::eventsFor(int sslError) const {
  short events = sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
  // What the reading side made OpenSSL write (an alert, a key update) leaves as soon as the
  // socket takes it.
  if (transport_->hasOutput()) events |= POLLOUT;
  return events;
}

Clock::time_point TlsStream::idleDeadline() const {
  return idleLimit_.count() > 0 ? Clock::now() + idleLimit_ : Clock::time_point::max();
}

TlsFailure TlsStream::handshakeTimedOut() {
  ERR_clear_error();
  return TlsFailure{TlsFailure::Kind::TimedOut, "对方没有在限定时间内完成加密握手，连接已断开。"};
}

int TlsStream::flushOutput(Clock::time_point deadline) {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      const int flushed = transport_->flush();
      if (flushed > 0) return 1;
      if (flushed < 0) {
        fail(SSL_ERROR_SYSCALL, errno);
        return -1;
      }
    }
    if (!waitForSocket(POLLOUT, deadline)) return 0;
  }
}

bool TlsStream::waitForSocket(short events, Clock::time_point deadline) const {
  for (;;) {
    int timeout = -1;
    if (deadline != Clock::time_point::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      timeout = static_cast<int>(left.count());
    }
    pollfd pfd{socket_.fd(), events, 0};
    const int ready = ::poll(&pfd, 1, timeout);
    if (ready < 0 && errno == EINTR) continue;
    // Ready, closed or in error: the next OpenSSL call finds out which.
    if (ready != 0) return true;
  }
}

ssize_t TlsStream::fail(int sslError, int systemError) {
  failure_ = takeTlsFailure(sslError, systemError, TlsStage::Session);
  return failedAgain();
}

ssize_t TlsStream::failedAgain() const {
  errno = errnoFor(failure_.kind);
  return -1;
}

ssize_t TlsStream::receive(char* buffer, std::size_t capacity) {
  if (capacity == 0) return 0;
  std::size_t taken = 0;
  for (;;) {
    int sslError = SSL_ERROR_NONE;
    short events = 0;
    {
      std::lock_guard lock(mutex_);
      if (failure_) return taken > 0 ? static_cast<ssize_t>(taken) : failedAgain();
      ERR_clear_error();
      std::size_t n = 0;
      const int result = SSL_read_ex(ssl_, buffer + taken, capacity - taken, &n);
      const int systemError = errno;
      if (transport_->hasOutput()) (void)transport_->flush();
      if (result == 1) {
        taken += n;
        // More may have arrived already: take it too, so that a large transfer is not
        // handed on one record at a time.
        if (taken < capacity) continue;
        return static_cast<ssize_t>(taken);
      }
      sslError = SSL_get_error(ssl_, result);
      if (taken > 0 && (isWant(sslError) || sslError == SSL_ERROR_ZERO_RETURN)) {
        return static_cast<ssize_t>(taken);
      }
      if (sslError == SSL_ERROR_ZERO_RETURN) return 0;
      if (!isWant(sslError)) {
        const ssize_t failed = fail(sslError, systemError);
        // What came before the failure is good and is delivered; nothing after it.
        return taken > 0 ? static_cast<ssize_t>(taken) : failed;
      }
      events = eventsFor(sslError);
    }
    if (!waitForSocket(events, idleDeadline())) {
      if (taken > 0) return static_cast<ssize_t>(taken);
      errno = EAGAIN;
      return -1;
    }
  }
}

ssize_t TlsStream::sendAll(std::string_view bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    short events = 0;
    {
      std::lock_guard lock(mutex_);
      if (failure_) return failedAgain();
      if (sendingFinished_) {
        errno = EPIPE;
        return -1;
      }
      ERR_clear_error();
      // After a wait the same chunk is offered again, as OpenSSL requires.
      const std::size_t chunk = std::min(bytes.size() - sent, kSendChunk);
      std::size_t n = 0;
      const int result = SSL_write_ex(ssl_, bytes.data() + sent, chunk, &n);
      const int systemError = errno;
      if (result == 1) {
        sent += n;
        continue;
      }
      const int sslError = SSL_get_error(ssl_, result);
      if (!isWant(sslError)) return fail(sslError, systemError);
      events = eventsFor(sslError);
    }
    if (!waitForSocket(events, idleDeadline())) {
      errno = EAGAIN;
      return -1;
    }
  }
  // The records are gathered in the transport: they must be on their way before the
  // caller takes the bytes as sent.
  const int flushed = flushOutput(idleDeadline());
  if (flushed <= 0) {
    if (flushed == 0) errno = EAGAIN;
    return -1;
  }
  return static_cast<ssize_t>(sent);
}

bool TlsStream::waitReadable(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    short events = 0;
    {
      std::lock_guard lock(mutex_);
      if (failure_ || SSL_pending(ssl_) > 0) return true;
      // A peek reads and checks what the socket holds without taking it, so that a
      // partial record does not count as something to receive.
      ERR_clear_error();
      char byte = 0;
      std::size_t n = 0;
      const int result = SSL_peek_ex(ssl_, &byte, 1, &n);
      const int systemError = errno;
      if (transport_->hasOutput()) (void)transport_->flush();
      if (result == 1) return true;
      const int sslError = SSL_get_error(ssl_, result);
      if (sslError == SSL_ERROR_ZERO_RETURN) return true;
      if (!isWant(sslError)) {
        fail(sslError, systemError);
        return true;
      }
      events = eventsFor(sslError);
    }
    if (!waitForSocket(events, deadline)) return false;
  }
}

int TlsStream::finishSending() {
  return finishSendingBy(idleDeadline());
}

int TlsStream::finishSendingWithin(std::chrono::milliseconds limit) {
  return finishSendingBy(Clock::now() + limit);
}

int TlsStream::finishSendingBy(Clock::time_point deadline) {
  for (;;) {
    short events = 0;
    {
      std::lock_guard lock(mutex_);
      if (failure_) return static_cast<int>(failedAgain());
      if (sendingFinished_) return 0;
      ERR_clear_error();
      const int result = SSL_shutdown(ssl_);
      const int systemError = errno;
      if (result >= 0) {
        sendingFinished_ = true;
        break;
      }
      const int sslError = SSL_get_error(ssl_, result);
      if (!isWant(sslError)) return static_cast<int>(fail(sslError, systemError));
      events = eventsFor(sslError);
    }
    if (!waitForSocket(events, deadline)) {
      errno = EAGAIN;
      return -1;
    }
  }
  // close_notify first, then the TCP end.
  if (flushOutput(deadline) <= 0) return -1;
  ::shutdown(socket_.fd(), SHUT_WR);
  return 0;
}

TlsFailure TlsStream::failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

std::string TlsStream::failureText() const {
  return failure().text;
}

std::optional<std::vector<std::uint8_t>> TlsStream::exportKeyingMaterial(
    std::string_view label, std::span<const std::uint8_t> context, std::size_t length) const {
  std::vector<std::uint8_t> material(length);
  std::lock_guard lock(mutex_);
  if (SSL_export_keying_material(ssl_, material.data(), material.size(), label.data(), label.size(),
                                 context.data(), context.size(), 1) != 1) {
    ERR_clear_error();
    return std::nullopt;
  }
  return material;
}

TlsParameters TlsStream::parameters() const {
  std::lock_guard lock(mutex_);
  TlsParameters parameters;
  parameters.version = SSL_get_version(ssl_);
  if (const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl_)) {
    parameters.cipher = SSL_CIPHER_get_name(cipher);
  }
  const int group = static_cast<int>(SSL_get_negotiated_group(ssl_));
  if (group != 0) {
    if (const char* name = SSL_group_to_name(ssl_, group)) parameters.exchange = name;
  }
  parameters.preSharedKey = SSL_session_reused(ssl_) == 1;
  return parameters;
}

namespace {

TlsStart start(std::unique_ptr<TlsStream> stream, TlsFailure failure, bool peerSpoke) {
  TlsStart started;
  started.peerSpoke = peerSpoke;
  if (failure) {
    started.failure = std::move(failure);
  } else {
    started.stream = std::move(stream);
  }
  return started;
}

}  // namespace

TlsStart startControlSession(const TlsContext& context, Socket socket, TlsRole role,
                             std::chrono::milliseconds limit) {
  std::unique_ptr<TlsStream> stream(new TlsStream(std::move(socket), TlsStage::ControlHandshake));
  if (context.kind() != TlsContext::Kind::Control) {
    return start(nullptr, {TlsFailure::Kind::Failed, "加密连接的设置不是控制连接的。"}, false);
  }
  TlsFailure failure = stream->handshake(context, role, limit, nullptr);
  const bool spoke = stream->transport_->receivedAny();
  return start(std::move(stream), std::move(failure), spoke);
}

TlsStart startDataSession(const TlsContext& context, Socket socket, TlsRole role,
                          const DataKey& key, std::chrono::milliseconds limit) {
  std::unique_ptr<TlsStream> stream(new TlsStream(std::move(socket), TlsStage::DataHandshake));
  if (context.kind() != TlsContext::Kind::Data) {
    return start(nullptr, {TlsFailure::Kind::Failed, "加密连接的设置不是数据连接的。"}, false);
  }
  TlsFailure failure = stream->handshake(context, role, limit, &key);
  const bool spoke = stream->transport_->receivedAny();
  return start(std::move(stream), std::move(failure), spoke);
}

std::optional<DataKey> dataKeyFor(const TlsStream& control, std::uint32_t index) {
  const std::uint8_t context[] = {
      static_cast<std::uint8_t>(index >> 24), static_cast<std::uint8_t>(index >> 16),
      static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index)};
  auto material = control.exportKeyingMaterial(kDataKeyLabel, context, DataKey{}.bytes.size());
  if (!material) return std::nullopt;
  DataKey key;
  std::copy(material->begin(), material->end(), key.bytes.begin());
  OPENSSL_cleanse(material->data(), material->size());
  return key;
}

}  // namespace brisk
