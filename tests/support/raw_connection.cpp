#include "support/raw_connection.h"

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include "support/test_support.h"

namespace brisk::test {

namespace {

sockaddr_in loopback(int port, const char* address = "127.0.0.1") {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, address, &sa.sin_addr);
  return sa;
}

// Waits until the socket is readable; false when the deadline passed first.
bool readable(int fd, std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd pfd{fd, POLLIN, 0};
  return ::poll(&pfd, 1, static_cast<int>(left.count())) > 0;
}

// Test bytes go out at once instead of waiting to be coalesced with what follows.
Socket withoutDelay(Socket socket) {
  if (socket.isOpen()) {
    const int on = 1;
    ::setsockopt(socket.fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  return socket;
}

// Whether a connection reached its own socket: a connect to a port nobody listens on yet
// that happens to get that very port as its own ephemeral port opens simultaneously with
// itself, and every byte sent comes back.
bool connectedToItself(int fd) {
  sockaddr_in local{};
  sockaddr_in remote{};
  socklen_t localSize = sizeof local;
  socklen_t remoteSize = sizeof remote;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
      ::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteSize) != 0) {
    return false;
  }
  return local.sin_port == remote.sin_port && local.sin_addr.s_addr == remote.sin_addr.s_addr;
}

}  // namespace

RawConnection RawConnection::connectTo(int port, const char* fromAddress) {
  Socket connected;
  // The side under test may start listening a little later, on its own thread.
  waitFor(
      [&] {
        Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (fromAddress) {
          const sockaddr_in from = loopback(0, fromAddress);
          // No later attempt could bind it either: give up at once.
          if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
            return true;
          }
        }
        const sockaddr_in to = loopback(port);
        if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 ||
            connectedToItself(socket.fd())) {
          return false;
        }
        connected = std::move(socket);
        return true;
      },
      kWireLimit);
  return RawConnection(withoutDelay(std::move(connected)));
}

RawConnection RawConnection::listenOn(int port) {
  Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int yes = 1;
  ::setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const sockaddr_in sa = loopback(port);
  if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(socket.fd(), 2) != 0) {
    return RawConnection();
  }
  return RawConnection(std::move(socket));
}

RawConnection RawConnection::accept(std::chrono::milliseconds limit) const {
  if (!readable(socket_.fd(), std::chrono::steady_clock::now() + limit)) return RawConnection();
  return RawConnection(
      withoutDelay(Socket(::accept4(socket_.fd(), nullptr, nullptr, SOCK_CLOEXEC))));
}

bool RawConnection::send(std::string_view bytes) const {
  return socket_.sendAll(bytes) == static_cast<ssize_t>(bytes.size());
}

std::string RawConnection::receive(std::size_t count, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string bytes;
  char buffer[65536];
  while (bytes.size() < count && readable(socket_.fd(), deadline)) {
    const ssize_t n = socket_.receive(buffer, std::min(sizeof buffer, count - bytes.size()));
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

std::string RawConnection::receiveSome(std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char buffer[65536];
  if (!readable(socket_.fd(), deadline)) return {};
  const ssize_t n = socket_.receive(buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool RawConnection::waitForClose(std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char buffer[65536];
  while (readable(socket_.fd(), deadline)) {
    if (socket_.receive(buffer, sizeof buffer) <= 0) return true;
  }
  return false;
}

bool RawConnection::endSending() const {
  return ::shutdown(socket_.fd(), SHUT_WR) == 0;
}

}  // namespace brisk::test
