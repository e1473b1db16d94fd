#include "secure/tls_fixture.h"

#include <cerrno>
#include <future>
#include <string>

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <openssl/ssl.h>

namespace brisk::test {

namespace {

bool sendAllRaw(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

const Identity& madeOnce(int which) {
  static const std::shared_ptr<const Identity> identities[] = {
      Identity::generate(), Identity::generate(), Identity::generate()};
  return *identities[which];
}

// write() on a connection the peer has closed raises SIGPIPE, which OpenSSL's own socket
// transport does not hold back: the foreign client holds it back on its thread.
class SigpipeHeldBack {
 public:
  SigpipeHeldBack() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~SigpipeHeldBack() {
    const timespec now{0, 0};
    while (sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }

 private:
  sigset_t pipe_;
  sigset_t previous_;
};

}  // namespace

std::pair<Socket, Socket> socketPair() {
  int fds[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return {};
  return {Socket(fds[0]), Socket(fds[1])};
}

const Identity& aliceIdentity() {
  return madeOnce(0);
}
const Identity& bobIdentity() {
  return madeOnce(1);
}
const Identity& malloryIdentity() {
  return madeOnce(2);
}

std::shared_ptr<const TlsContext> controlContext(const Identity& identity) {
  std::string error;
  auto context = TlsContext::forControl(identity, error);
  EXPECT_TRUE(context) << error;
  return context;
}

std::shared_ptr<const TlsContext> dataContext() {
  std::string error;
  auto context = TlsContext::forData(error);
  EXPECT_TRUE(context) << error;
  return context;
}

StartedPair startControlPair(const Identity& connecting, const Identity& accepting,
                             Socket connectingSocket, Socket acceptingSocket,
                             std::chrono::milliseconds limit) {
  const auto connectingContext = controlContext(connecting);
  const auto acceptingContext = controlContext(accepting);
  auto acceptingSide = std::async(std::launch::async, [&] {
    return startControlSession(*acceptingContext, std::move(acceptingSocket), TlsRole::Accepting,
                               limit);
  });
  StartedPair pair;
  pair.connecting = startControlSession(*connectingContext, std::move(connectingSocket),
                                        TlsRole::Connecting, limit);
  pair.accepting = acceptingSide.get();
  return pair;
}

StartedPair startControlPair(const Identity& connecting, const Identity& accepting) {
  auto [a, b] = socketPair();
  return startControlPair(connecting, accepting, std::move(a), std::move(b));
}

StartedPair startDataPair(const DataKey& connectingKey, const DataKey& acceptingKey) {
  const auto context = dataContext();
  auto [a, b] = socketPair();
  auto acceptingSide = std::async(std::launch::async, [&, socket = std::move(b)]() mutable {
    return startDataSession(*context, std::move(socket), TlsRole::Accepting, acceptingKey,
                            std::chrono::seconds(10));
  });
  StartedPair pair;
  pair.connecting = startDataSession(*context, std::move(a), TlsRole::Connecting, connectingKey,
                                     std::chrono::seconds(10));
  pair.accepting = acceptingSide.get();
  return pair;
}

DataKey keyOf(std::uint8_t fill) {
  DataKey key;
  key.bytes.fill(fill);
  return key;
}

Relay::Relay(Socket left, Socket right)
    : left_(std::move(left)),
      right_(std::move(right)),
      stop_(::eventfd(0, EFD_CLOEXEC)),
      thread_([this] { run(); }) {}

Relay::~Relay() {
  const std::uint64_t one = 1;
  (void)::write(stop_.get(), &one, sizeof one);
  thread_.join();
}

void Relay::run() {
  std::string rightward;  // bytes from the left that do not make a whole record yet
  bool leftOpen = true;
  bool rightOpen = true;
  while (leftOpen || rightOpen) {
    pollfd fds[3] = {{stop_.get(), POLLIN, 0},
                     {leftOpen ? left_.fd() : -1, POLLIN, 0},
                     {rightOpen ? right_.fd() : -1, POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    char buffer[65536];
    if (fds[2].revents != 0) {
      const ssize_t n = ::recv(right_.fd(), buffer, sizeof buffer, 0);
      if (n <= 0 || !sendAllRaw(left_.fd(), buffer, static_cast<std::size_t>(n))) {
        rightOpen = false;
        ::shutdown(left_.fd(), SHUT_WR);
      }
    }
    if (fds[1].revents != 0) {
      const ssize_t n = ::recv(left_.fd(), buffer, sizeof buffer, 0);
      if (n <= 0) {
        leftOpen = false;
        ::shutdown(right_.fd(), SHUT_WR);
        continue;
      }
      rightward.append(buffer, static_cast<std::size_t>(n));
      // A record: type, version (2 bytes), length (2 bytes), body.
      while (rightward.size() >= 5) {
        const std::size_t length = static_cast<unsigned char>(rightward[3]) << 8 |
                                   static_cast<unsigned char>(rightward[4]);
        if (rightward.size() < 5 + length) break;
        std::string record = rightward.substr(0, 5 + length);
        rightward.erase(0, 5 + length);
        if (length > 0 && tamper_.exchange(false)) record[5 + length / 2] ^= 0x01;
        if (cut_.exchange(false)) {
          sendAllRaw(right_.fd(), record.data(), record.size() / 2);
          ::shutdown(right_.fd(), SHUT_WR);
          leftOpen = false;
          break;
        }
        sendAllRaw(right_.fd(), record.data(), record.size());
        ++records_;
      }
    }
  }
}

bool foreignClientGetsThrough(Socket socket, const std::function<void(SSL_CTX*)>& configure) {
  const SigpipeHeldBack heldBack;
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  configure(context);
  SSL* ssl = SSL_new(context);
  SSL_set_fd(ssl, socket.fd());
  char byte = 0;
  const bool through = SSL_connect(ssl) == 1 && SSL_read(ssl, &byte, 1) == 1;
  SSL_free(ssl);
  SSL_CTX_free(context);
  return through;
}

}  // namespace brisk::test
