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

// A socket address of either family, and its length for bind, connect and the like.
struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

SocketAddress socketAddress(const IpAddress& address, std::uint16_t port) {
  SocketAddress result;
  if (address.isIpv6()) {
    auto& sa = reinterpret_cast<sockaddr_in6&>(result.storage);
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(port);
    std::memcpy(&sa.sin6_addr, address.ipv6Bytes().data(), 16);
    sa.sin6_scope_id = address.scope();
    result.length = sizeof sa;
  } else {
    auto& sa = reinterpret_cast<sockaddr_in&>(result.storage);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address.ipv4());
    result.length = sizeof sa;
  }
  return result;
}

// The address in a socket address of either family; nothing for another family.
std::optional<IpAddress> addressOf(const sockaddr* sa) {
  if (sa->sa_family == AF_INET) {
    return IpAddress::fromIpv4(ntohl(reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr));
  }
  if (sa->sa_family != AF_INET6) return std::nullopt;
  const auto* sa6 = reinterpret_cast<const sockaddr_in6*>(sa);
  std::array<std::uint8_t, 16> bytes{};
  std::memcpy(bytes.data(), &sa6->sin6_addr, 16);
  if (IN6_IS_ADDR_V4MAPPED(&sa6->sin6_addr)) {
    return IpAddress::fromIpv4(std::uint32_t{bytes[12]} << 24 | std::uint32_t{bytes[13]} << 16 |
                               std::uint32_t{bytes[14]} << 8 | bytes[15]);
  }
  return IpAddress::fromIpv6(bytes, sa6->sin6_scope_id);
}

std::uint16_t portOf(const sockaddr* sa) {
  return ntohs(sa->sa_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(sa)->sin6_port
                                         : reinterpret_cast<const sockaddr_in*>(sa)->sin_port);
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

IpAddress IpAddress::fromIpv4(std::uint32_t hostOrder) {
  IpAddress address;
  for (int i = 0; i < 4; ++i) {
    address.bytes_[static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>(hostOrder >> (24 - 8 * i));
  }
  return address;
}

IpAddress IpAddress::fromIpv6(const std::array<std::uint8_t, 16>& bytes, std::uint32_t scope) {
  IpAddress address;
  address.ipv6_ = true;
  address.bytes_ = bytes;
  address.scope_ = scope;
  return address;
}

std::optional<IpAddress> IpAddress::parseDotted(std::string_view text) {
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
  return fromIpv4(value);
}

std::uint32_t IpAddress::ipv4() const {
  if (ipv6_) return 0;
  return std::uint32_t{bytes_[0]} << 24 | std::uint32_t{bytes_[1]} << 16 |
         std::uint32_t{bytes_[2]} << 8 | bytes_[3];
}

bool IpAddress::isLoopback() const {
  if (!ipv6_) return bytes_[0] == 127;
  static constexpr std::array<std::uint8_t, 16> kLoopback{0, 0, 0, 0, 0, 0, 0, 0,
                                                          0, 0, 0, 0, 0, 0, 0, 1};
  return bytes_ == kLoopback;
}

std::string IpAddress::text() const {
  if (!ipv6_) {
    const std::uint32_t value = ipv4();
    return std::to_string(value >> 24) + '.' + std::to_string((value >> 16) & 0xFF) + '.' +
           std::to_string((value >> 8) & 0xFF) + '.' + std::to_string(value & 0xFF);
  }
  char buffer[INET6_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET6, bytes_.data(), buffer, sizeof buffer);
  std::string text = buffer;
  if (scope_ != 0) {
    // By the interface's name, as people write it; by number once the interface is gone.
    char name[IF_NAMESIZE] = {};
    text += '%';
    text += ::if_indextoname(scope_, name) ? std::string(name) : std::to_string(scope_);
  }
  return text;
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

namespace {

SocketResult listenOn(int family, std::uint16_t port, int backlog) {
  Socket socket(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket.isOpen()) return failure("socket", errno);
  const int yes = 1;
  ::setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  IpAddress any;
  if (family == AF_INET6) {
    // One socket for both families: IPv4 peers arrive as ::ffff:a.b.c.d. Set explicitly,
    // since the system's default (net.ipv6.bindv6only) may say otherwise.
    const int no = 0;
    ::setsockopt(socket.fd(), IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    any = IpAddress::fromIpv6({});
  }
  const SocketAddress sa = socketAddress(any, port);
  if (::bind(socket.fd(), sa.get(), sa.length) != 0) return failure("bind", errno);
  if (::listen(socket.fd(), backlog) != 0) return failure("listen", errno);
  SocketResult result;
  result.socket = std::move(socket);
  return result;
}

}  // namespace

SocketResult listenTcp(std::uint16_t port, int backlog) {
  SocketResult both = listenOn(AF_INET6, port, backlog);
  // A kernel without IPv6, or with it turned off: IPv4 alone, as before IPv6 existed.
  if (!both.ok() && (both.error == EAFNOSUPPORT || both.error == EADDRNOTAVAIL)) {
    return listenOn(AF_INET, port, backlog);
  }
  return both;
}

SocketResult acceptTcp(const Socket& listener, const SocketInterrupter& interrupter,
                       std::optional<IpAddress> onlyFrom,
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
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    Socket accepted(
        ::accept4(listener.fd(), reinterpret_cast<sockaddr*>(&from), &fromLength, SOCK_CLOEXEC));
    if (!accepted.isOpen()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return failure("accept", errno);
    }
    if (onlyFrom && addressOf(reinterpret_cast<const sockaddr*>(&from)) != onlyFrom) {
      continue;  // closed by ~Socket
    }
    SocketResult result;
    result.socket = std::move(accepted);
    return result;
  }
}

SocketResult connectTcp(const IpAddress& address, std::uint16_t port,
                        SocketInterrupter& interrupter,
                        std::optional<std::chrono::milliseconds> limit) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = limit ? Clock::now() + *limit : Clock::time_point::max();
  const SocketAddress sa = socketAddress(address, port);
  Socket socket(
      ::socket(sa.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
  if (!socket.isOpen()) return failure("socket", errno);
  // Non-blocking, so that the socket is armed while the connect is in progress; a shutdown
  // from another thread then aborts it and wakes the poll below.
  if (::connect(socket.fd(), sa.get(), sa.length) != 0 && errno != EINPROGRESS) {
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
  sockaddr_storage own{};
  socklen_t ownLength = sizeof own;
  const auto* ownAddress = reinterpret_cast<const sockaddr*>(&own);
  if (::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&own), &ownLength) == 0 &&
      portOf(ownAddress) == port && addressOf(ownAddress) == address) {
    return failure("connect", ECONNREFUSED);
  }
  if (!setBlocking(socket.fd(), true)) return failure("connect", errno);
  SocketResult result;
  result.socket = std::move(socket);
  return result;
}

HostLookup resolveHost(std::string_view text) {
  // An IPv6 address may come in brackets, as in a URL.
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  const std::string name(text);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status =
      name.empty() ? EAI_NONAME : ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  HostLookup lookup;
  if (status == 0) {
    for (const addrinfo* at = found; at; at = at->ai_next) {
      const std::optional<IpAddress> address = addressOf(at->ai_addr);
      if (address && (!lookup.address || (lookup.address->isIpv6() && !address->isIpv6()))) {
        lookup.address = address;
      }
    }
    ::freeaddrinfo(found);
    if (lookup.address) return lookup;
  }
  lookup.address = IpAddress::parseDotted(text);
  if (!lookup.address) {
    lookup.errorCode = status;
    lookup.errorText =
        status == EAI_SYSTEM ? systemErrorMessage(errno) : localeTextToUtf8(::gai_strerror(status));
  }
  return lookup;
}

std::optional<IpAddress> peerAddressOf(const Socket& socket) {
  sockaddr_storage sa{};
  socklen_t length = sizeof sa;
  if (::getpeername(socket.fd(), reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
    return std::nullopt;
  }
  return addressOf(reinterpret_cast<const sockaddr*>(&sa));
}

namespace {

// The first address of an interface that is up and not loopback: IPv4 before IPv6, and a
// link-local IPv6 address (reachable on its own link only) last.
std::optional<IpAddress> firstInterfaceAddress() {
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) return std::nullopt;
  const auto rank = [](const IpAddress& address) {
    if (!address.isIpv6()) return 0;
    const auto& bytes = address.ipv6Bytes();
    return bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80 ? 2 : 1;
  };
  std::optional<IpAddress> found;
  for (const ifaddrs* at = interfaces; at; at = at->ifa_next) {
    if (!at->ifa_addr || !(at->ifa_flags & IFF_UP)) continue;
    const std::optional<IpAddress> address = addressOf(at->ifa_addr);
    if (address && !address->isLoopback() && (!found || rank(*address) < rank(*found))) {
      found = address;
    }
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
  result.address = addressOf(found->ai_addr);
  ::freeaddrinfo(found);
  if (result.address->isLoopback()) {
    if (const auto reachable = firstInterfaceAddress()) result.address = reachable;
  }
  return result;
}

}  // namespace brisk
