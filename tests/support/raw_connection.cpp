#include "support/raw_connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace brisk::test {

namespace {

// Waits until the socket is readable; false when the deadline passed first.
bool readable(int fd, std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd pfd{fd, POLLIN, 0};
  return ::poll(&pfd, 1, static_cast<int>(left.count())) > 0;
}

}  // namespace

RawConnection RawConnection::connectTo(int port) {
  SocketInterrupter interrupter;
  SocketResult result =
      connectTcp(Ipv4Address{0x7F000001}, static_cast<std::uint16_t>(port), interrupter);
  if (result.ok()) {
    const int on = 1;  // send test bytes at once, so splits happen where the test puts them
    ::setsockopt(result.socket.fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  return RawConnection(std::move(result.socket));
}

RawConnection RawConnection::acceptFrom(const Socket& listener) {
  SocketInterrupter interrupter;
  SocketResult result = acceptTcp(listener, interrupter, std::nullopt, std::chrono::seconds(10));
  return RawConnection(std::move(result.socket));
}

bool RawConnection::send(const std::string& bytes) const {
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
  char buffer[4096];
  while (readable(socket_.fd(), deadline)) {
    if (socket_.receive(buffer, sizeof buffer) <= 0) return true;
  }
  return false;
}

}  // namespace brisk::test
