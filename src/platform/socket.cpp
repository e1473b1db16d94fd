#include "platform/socket.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/system_error.h"

namespace brisk {

namespace {

sockaddr_in socketAddress(Ipv4Address address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(address.value);
  return sa;
}

SocketResult failure(const char* call, int error) {
  SocketResult result;
  result.failedCall = call;
  result.error = error;
  return result;
}

bool setBlocking(int fd, bool blocking) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return ::fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}

}  // namespace

std::optional<Ipv4Address> Ipv4Address::parseDotted(std::string_view text) {
  std::uint32_t value = 0;
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (p == end || *p != '.') return std::nullopt;
      ++p;
    }
    if (p == end || *p < '0' || *p > '9') return std::nullopt;
    unsigned octet = 0;
    const auto [next, ec] = std::from_chars(p, end, octet);
    if (ec != std::errc() || octet > 255 || next - p > 3) return std::nullopt;
    p = next;
    value = (value << 8) | octet;
  }
  if (p != end) return std::nullopt;
  return Ipv4Address{value};
}

std::string Ipv4Address::dotted() const {
  return std::to_string(value >> 24) + '.' + std::to_string((value >> 16) & 0xFF) + '.' +
         std::to_string((value >> 8) & 0xFF) + '.' + std::to_string(value & 0xFF);
}

ssize_t Socket::sendAll(std::string_view data) const {
  return sendAllOn(fd(), data);
}

ssize_t sendAllOn(int fd, std::string_view data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    // MSG_NOSIGNAL: a peer that went away must give EPIPE, not kill the program.
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    sent += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(sent);
}

ssize_t Socket::receive(char* buffer, std::size_t capacity) const {
  for (;;) {
    const ssize_t n = ::recv(fd(), buffer, capacity, 0);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool SocketInterrupter::arm(int fd) {
  std::lock_guard lock(mutex_);
  if (interrupted_) return false;
  fd_ = fd;
  return true;
}

void SocketInterrupter::disarm() {
  std::lock_guard lock(mutex_);
  fd_ = -1;
}

void SocketInterrupter::interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    // Under the lock, so the owner cannot close (and the system reuse) the number meanwhile.
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
  }
  interruptedChanged_.notify_all();
}

bool SocketInterrupter::waitForInterrupt(std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return interruptedChanged_.wait_for(lock, limit, [this] { return interrupted_; });
}

bool SocketInterrupter::interrupted() const {
  std::lock_guard lock(mutex_);
  return interrupted_;
}

SocketResult listenTcp(std::uint16_t port, int backlog) {
  Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket.isOpen()) return failure("socket", errno);
  const int yes = 1;
  ::setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const sockaddr_in sa = socketAddress(Ipv4Address{INADDR_ANY}, port);
  if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    return failure("bind", errno);
  }
  if (::listen(socket.fd(), backlog) != 0) return failure("listen", errno);
  SocketResult result;
  result.socket = std::move(socket);
  return result;
}

SocketResult acceptTcp(const Socket& listener, const SocketInterrupter& interrupter,
                       std::optional<Ipv4Address> onlyFrom,
                       std::optional<std::chrono::milliseconds> limit) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = limit ? Clock::now() + *limit : Clock::time_point::max();
  for (;;) {
    int timeout = -1;
    if (limit) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return failure("accept", ETIMEDOUT);
      timeout = static_cast<int>(left.count());
    }
    pollfd pfd{listener.fd(), POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return failure("accept", errno);
    }
    if (interrupter.interrupted()) return failure("accept", ECONNABORTED);
    if (ready == 0) continue;  // the deadline test above ends the wait
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    Socket accepted(
        ::accept4(listener.fd(), reinterpret_cast<sockaddr*>(&from), &fromLength, SOCK_CLOEXEC));
    if (!accepted.isOpen()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return failure("accept", errno);
    }
    if (onlyFrom && ntohl(from.sin_addr.s_addr) != onlyFrom->value) continue;  // closed by ~Socket
    SocketResult result;
    result.socket = std::move(accepted);
    return result;
  }
}

SocketResult connectTcp(Ipv4Address address, std::uint16_t port, SocketInterrupter& interrupter,
                        std::optional<std::chrono::milliseconds> limit) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = limit ? Clock::now() + *limit : Clock::time_point::max();
  Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
  if (!socket.isOpen()) return failure("socket", errno);
  const sockaddr_in sa = socketAddress(address, port);
  // Non-blocking, so that the socket is armed while the connect is in progress; a shutdown
  // from another thread then aborts it and wakes the poll below.
  if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 &&
      errno != EINPROGRESS) {
    return failure("connect", errno);
  }
  if (!interrupter.arm(socket.fd())) return failure("connect", ECONNABORTED);
  int error = 0;
  for (;;) {
    int timeout = -1;
    if (limit) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) {
        error = ETIMEDOUT;
        break;
      }
      timeout = static_cast<int>(left.count());
    }
    pollfd pfd{socket.fd(), POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      error = errno;
    }
    if (ready != 0) break;  // a time-out is caught by the deadline test above
  }
  interrupter.disarm();
  if (error != 0) return failure("connect", error);
  if (interrupter.interrupted()) return failure("connect", ECONNABORTED);
  socklen_t length = sizeof error;
  if (::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error != 0) return failure("connect", error);
  // Connecting to a port of this machine that nobody listens on can meet itself: when the
  // system picks that very port for this end, the connection is made with itself. Nobody
  // is there; taken as refused, so a caller that tries again does.
  sockaddr_in own{};
  socklen_t ownLength = sizeof own;
  if (::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&own), &ownLength) == 0 &&
      own.sin_port == sa.sin_port && own.sin_addr.s_addr == sa.sin_addr.s_addr) {
    return failure("connect", ECONNREFUSED);
  }
  if (!setBlocking(socket.fd(), true)) return failure("connect", errno);
  SocketResult result;
  result.socket = std::move(socket);
  return result;
}

HostLookup resolveHost(std::string_view text) {
  const std::string name(text);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status =
      name.empty() ? EAI_NONAME : ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  HostLookup lookup;
  if (status == 0 && found) {
    const auto* sa = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    lookup.address = Ipv4Address{ntohl(sa->sin_addr.s_addr)};
    ::freeaddrinfo(found);
    return lookup;
  }
  lookup.address = Ipv4Address::parseDotted(text);
  if (!lookup.address) {
    lookup.errorCode = status;
    lookup.errorText =
        status == EAI_SYSTEM ? systemErrorMessage(errno) : localeTextToUtf8(::gai_strerror(status));
  }
  return lookup;
}

std::optional<Ipv4Address> peerAddressOf(const Socket& socket) {
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  if (::getpeername(socket.fd(), reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
    return std::nullopt;
  }
  return Ipv4Address{ntohl(sa.sin_addr.s_addr)};
}

namespace {

// The first IPv4 address of an interface that is up and not loopback.
std::optional<Ipv4Address> firstInterfaceAddress() {
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) return std::nullopt;
  std::optional<Ipv4Address> found;
  for (const ifaddrs* at = interfaces; at && !found; at = at->ifa_next) {
    if (!at->ifa_addr || at->ifa_addr->sa_family != AF_INET || !(at->ifa_flags & IFF_UP)) continue;
    const Ipv4Address address{
        ntohl(reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr.s_addr)};
    if (!isLoopback(address)) found = address;
  }
  ::freeifaddrs(interfaces);
  return found;
}

}  // namespace

LocalAddressResult localHostAddress() {
  LocalAddressResult result;
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) {
    result.failedCall = "gethostname";
    return result;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) {
    // A host name in no hosts file, with no resolver that answers: the machine's own
    // interfaces still say where a peer can reach it.
    result.address = firstInterfaceAddress();
    if (!result.address) result.failedCall = "gethostbyname";
    return result;
  }
  result.address =
      Ipv4Address{ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr)};
  ::freeaddrinfo(found);
  if (isLoopback(*result.address)) {
    if (const auto reachable = firstInterfaceAddress()) result.address = reachable;
  }
  return result;
}

}  // namespace brisk
