#include "secure/tls_transport.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>

#include <openssl/bio.h>

namespace brisk {

namespace {

// Sixteen full records with their framing and tags, so that one SSL_write of 256 KiB (see
// TlsStream) leaves in one send.
constexpr std::size_t kOutCapacity = 16 * (16384 + 256);
// As much as one receive takes.
constexpr std::size_t kInCapacity = 256 * 1024;

BIO_METHOD* makeMethod(int (*write)(BIO*, const char*, std::size_t, std::size_t*),
                       int (*read)(BIO*, char*, std::size_t, std::size_t*),
                       long (*control)(BIO*, int, long, void*)) {
  BIO_METHOD* method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "brisk socket");
  if (method) {
    BIO_meth_set_write_ex(method, write);
    BIO_meth_set_read_ex(method, read);
    BIO_meth_set_ctrl(method, control);
  }
  return method;
}

}  // namespace

TlsTransport::TlsTransport(int fd)
    : fd_(fd),
      out_(std::make_unique_for_overwrite<char[]>(kOutCapacity)),
      in_(std::make_unique_for_overwrite<char[]>(kInCapacity)) {}

BIO* TlsTransport::newBio() {
  static BIO_METHOD* const method = makeMethod(write, read, control);
  BIO* bio = method ? BIO_new(method) : nullptr;
  if (bio) {
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
  }
  return bio;
}

int TlsTransport::flush() {
  while (outBegin_ < outEnd_) {
    const ssize_t n = ::send(fd_, out_.get() + outBegin_, outEnd_ - outBegin_, MSG_NOSIGNAL);
    if (n > 0) {
      outBegin_ += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return -1;
  }
  outBegin_ = outEnd_ = 0;
  return 1;
}

int TlsTransport::write(BIO* bio, const char* data, std::size_t length, std::size_t* done) {
  auto* transport = static_cast<TlsTransport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  if (kOutCapacity - transport->outEnd_ < length) {
    const int flushed = transport->flush();
    if (flushed < 0) return 0;
    // Move what is left to the front, so the room behind it can be used.
    const std::size_t left = transport->outEnd_ - transport->outBegin_;
    std::memmove(transport->out_.get(), transport->out_.get() + transport->outBegin_, left);
    transport->outBegin_ = 0;
    transport->outEnd_ = left;
  }
  const std::size_t room = kOutCapacity - transport->outEnd_;
  if (room == 0) {
    BIO_set_retry_write(bio);
    return 0;
  }
  const std::size_t taken = length < room ? length : room;
  std::memcpy(transport->out_.get() + transport->outEnd_, data, taken);
  transport->outEnd_ += taken;
  *done = taken;
  return 1;
}

int TlsTransport::read(BIO* bio, char* data, std::size_t length, std::size_t* done) {
  auto* transport = static_cast<TlsTransport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  while (transport->inBegin_ == transport->inEnd_) {
    const ssize_t n = ::recv(transport->fd_, transport->in_.get(), kInCapacity, 0);
    if (n > 0) {
      transport->receivedAny_ = true;
      transport->inBegin_ = 0;
      transport->inEnd_ = static_cast<std::size_t>(n);
      break;
    }
    if (n == 0) {
      transport->ended_ = true;
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(bio);
    return 0;
  }
  const std::size_t held = transport->inEnd_ - transport->inBegin_;
  const std::size_t taken = length < held ? length : held;
  std::memcpy(data, transport->in_.get() + transport->inBegin_, taken);
  transport->inBegin_ += taken;
  *done = taken;
  return 1;
}

long TlsTransport::control(BIO* bio, int command, long, void*) {
  auto* transport = static_cast<TlsTransport*>(BIO_get_data(bio));
  switch (command) {
    case BIO_CTRL_FLUSH: {
      BIO_clear_retry_flags(bio);
      const int flushed = transport->flush();
      if (flushed == 0) BIO_set_retry_write(bio);
      return flushed > 0 ? 1 : 0;
    }
    // Lets OpenSSL tell a TCP close without close_notify from a read that must wait.
    case BIO_CTRL_EOF:
      return transport->ended_ ? 1 : 0;
    case BIO_CTRL_PENDING:
      return static_cast<long>(transport->inEnd_ - transport->inBegin_);
    case BIO_CTRL_WPENDING:
      return static_cast<long>(transport->outEnd_ - transport->outBegin_);
    default:
      return 0;
  }
}

}  // namespace brisk
