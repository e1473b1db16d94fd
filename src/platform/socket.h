#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "platform/file_descriptor.h"

namespace brisk {

// An IPv4 or an IPv6 address. An IPv4 peer seen through an IPv6 socket (::ffff:a.b.c.d)
// is kept as the IPv4 address it is, so that it reads and compares the same either way.
// An IPv6 address keeps its scope (the interface a link-local address belongs to), which
// connecting to it needs.
class IpAddress {
 public:
  IpAddress() = default;  // 0.0.0.0
  static IpAddress fromIpv4(std::uint32_t hostOrder);
  static IpAddress fromIpv6(const std::array<std::uint8_t, 16>& bytes, std::uint32_t scope = 0);

  // "a.b.c.d"; nothing else (no host names, no shortened forms).
  static std::optional<IpAddress> parseDotted(std::string_view text);

  bool isIpv6() const { return ipv6_; }
  std::uint32_t ipv4() const;  // host byte order; 0 for an IPv6 address
  const std::array<std::uint8_t, 16>& ipv6Bytes() const { return bytes_; }
  std::uint32_t scope() const { return scope_; }
  bool isLoopback() const;  // 127.0.0.0/8 or ::1

  // "192.168.1.20", "2001:db8::5", "fe80::1%eth0": text that resolveHost reads back.
  std::string text() const;

  friend bool operator==(const IpAddress&, const IpAddress&) = default;

 private:
  bool ipv6_ = false;
  std::array<std::uint8_t, 16> bytes_{};  // network order; IPv4 in the first four
  std::uint32_t scope_ = 0;
};

// Owns one socket descriptor and closes it. Only the owner closes; other threads break
// a blocking call through a SocketInterrupter instead.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) noexcept : descriptor_(fd) {}

  int fd() const { return descriptor_.get(); }
  bool isOpen() const { return descriptor_.isOpen(); }
  void close() noexcept { descriptor_.close(); }

  // Sends all of `data` (a short send is continued); returns its size, or -1 with errno set.
  ssize_t sendAll(std::string_view data) const;
  // One receive of at most `capacity` bytes: the count, 0 when the peer closed, -1 with errno.
  ssize_t receive(char* buffer, std::size_t capacity) const;

 private:
  FileDescriptor descriptor_;
};

// Lets any thread break the blocking call that the owner of a socket is making on it,
// without closing the descriptor under that thread: a closed number can be reused by an
// unrelated open at once, and the blocked call would then act on the wrong file.
class SocketInterrupter {
 public:
  // The owner registers the descriptor before it blocks on it. False when an interrupt
  // came first: the owner must then give up instead of blocking.
  [[nodiscard]] bool arm(int fd);
  // The owner withdraws the descriptor before it closes it.
  void disarm();
  // Any thread: shuts the armed socket down in both directions, which makes a pending or
  // later accept, connect, send or receive on it fail at once. Stays in force.
  void interrupt();
  bool interrupted() const;
  // Waits at most `limit` for an interrupt; true once there has been one.
  bool waitForInterrupt(std::chrono::milliseconds limit) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable interruptedChanged_;
  int fd_ = -1;
  bool interrupted_ = false;
};

// The result of setting up a connection: the socket, or the call that failed ("socket",
// "bind", "listen", "accept", "connect") with its errno.
struct SocketResult {
  Socket socket;
  const char* failedCall = nullptr;
  int error = 0;

  bool ok() const { return failedCall == nullptr; }
};

// Sends all of `data` on the descriptor (a short send is continued); returns its size, or
// -1 with errno set. For senders that share a socket they do not own.
ssize_t sendAllOn(int fd, std::string_view data);

// A listening TCP socket on every local address at `port`, IPv4 and IPv6 alike, with
// SO_REUSEADDR. On a system without IPv6 it listens on IPv4 alone.
SocketResult listenTcp(std::uint16_t port, int backlog);

// Waits for one connection on `listener`. The wait can be broken through `interrupter`
// (which must be armed with the listener by the caller). With `onlyFrom`, connections from
// any other address are closed and the wait goes on. With `limit`, the wait fails with
// ETIMEDOUT once the time is up.
SocketResult acceptTcp(const Socket& listener, const SocketInterrupter& interrupter,
                       std::optional<IpAddress> onlyFrom = std::nullopt,
                       std::optional<std::chrono::milliseconds> limit = std::nullopt);

// Connects to `address`:`port`. The socket is armed in `interrupter` while the connect is
// in progress, so that another thread can cancel it; it is disarmed before returning. With
// `limit`, a connect still unanswered when the time is up (a peer whose SYNs are dropped)
// fails with ETIMEDOUT instead of waiting for the system's own retries, about two minutes.
SocketResult connectTcp(const IpAddress& address, std::uint16_t port,
                        SocketInterrupter& interrupter,
                        std::optional<std::chrono::milliseconds> limit = std::nullopt);

// The address of a host name, or the text itself as an address ("192.168.1.20",
// "2001:db8::5", "[2001:db8::5]", "fe80::1%eth0"). A name with an IPv4 address gives its
// first one, so that peers listening on IPv4 alone are reached through it; a name with
// only IPv6 addresses gives the first of those. When the text is neither, the
// resolver's own code and reason (such as "Name or service not known").
struct HostLookup {
  std::optional<IpAddress> address;
  int errorCode = 0;
  std::string errorText;
};
HostLookup resolveHost(std::string_view text);

// The address of the peer of a connected socket.
std::optional<IpAddress> peerAddressOf(const Socket& socket);

// The first IPv4 address of this machine's host name; failure names the step that failed.
// Many systems map the host name to a loopback address (127.0.1.1), which no peer can
// reach, and some cannot look the name up at all: then the first address of an interface
// that is up and not loopback is taken. The lookup may wait for the resolver's time-out.
// A machine with no IPv4 address but the loopback one names an IPv6 address instead.
struct LocalAddressResult {
  std::optional<IpAddress> address;
  const char* failedCall = nullptr;  // "gethostname" or "gethostbyname"
};
LocalAddressResult localHostAddress();

}  // namespace brisk
