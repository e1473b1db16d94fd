// A stand-in for a network with a round trip of its own: forwards TCP connections, holding
// every chunk of bytes for a fixed delay in each direction before writing it on, without
// limiting bandwidth. These machines have no netem, so the benchmark puts this relay between
// two network namespaces to see what a real round trip costs each program.
//
//   delay_relay --delay-us MICROSECONDS --listen ADDRESS --target ADDRESS --ports LIST
//               [--max-queue BYTES] [--verbose]
//
// It listens on ADDRESS at every port of LIST (e.g. "47000,47002-47101") and, for each
// connection accepted there, connects to the same port on the target address, as the
// connection's first packet would reach it one delay later. Each direction is a queue of
// chunks stamped with the time they were read: a chunk is written on once its delay has
// passed, reading goes on while earlier chunks wait, so the delay costs a round trip and
// never bandwidth. A direction holds at most --max-queue bytes (64 MiB) before the relay
// stops reading it, as a full receive window would. An end of stream (one side's shutdown
// or close) is passed on after the data before it, once its delay has passed too; a reset
// or a refused connect is passed on as a reset. On SIGTERM or SIGINT it prints one line
// on standard output: how many connections and bytes it carried and how long each chunk
// was held past its delay (the time the relay adds to the delay asked for).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;

constexpr std::size_t kReadSize = 256 * 1024;
// Bytes read from one socket per readiness event, so that one busy connection cannot
// hold back the chunks of the others past their time.
constexpr std::size_t kReadBudget = 4 * 1024 * 1024;

struct Options {
  Micros delay{0};
  in_addr listen{};
  in_addr target{};
  std::vector<int> ports;
  std::size_t maxQueue = 64 * 1024 * 1024;
  bool verbose = false;
};

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr,
               "delay_relay: %s\nusage: delay_relay --delay-us MICROSECONDS --listen ADDRESS "
               "--target ADDRESS --ports LIST [--max-queue BYTES] [--verbose]\n",
               problem);
  std::exit(2);
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "delay_relay: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

long number(const std::string& text, long low, long high, const char* what) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) usage(what);
  return value;
}

// "47000,47002-47101": single ports and inclusive ranges.
std::vector<int> parsePorts(const std::string& list) {
  std::vector<int> ports;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string item = list.substr(start, comma - start);
    const std::size_t dash = item.find('-');
    const long first = number(item.substr(0, dash), 1, 65535, "bad port list");
    const long last = dash == std::string::npos
                          ? first
                          : number(item.substr(dash + 1), first, 65535, "bad port list");
    for (long port = first; port <= last; ++port) ports.push_back(static_cast<int>(port));
    start = comma + 1;
  }
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

Options parse(int argc, char** argv) {
  Options options;
  bool haveDelay = false, haveListen = false, haveTarget = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--verbose") {
      options.verbose = true;
      continue;
    }
    if (i + 1 >= argc) usage(("missing value after " + argument).c_str());
    const std::string value = argv[++i];
    if (argument == "--delay-us") {
      options.delay = Micros(number(value, 0, 10'000'000, "bad --delay-us"));
      haveDelay = true;
    } else if (argument == "--listen" || argument == "--target") {
      in_addr& address = argument == "--listen" ? options.listen : options.target;
      if (::inet_pton(AF_INET, value.c_str(), &address) != 1) usage("bad IPv4 address");
      (argument == "--listen" ? haveListen : haveTarget) = true;
    } else if (argument == "--ports") {
      options.ports = parsePorts(value);
    } else if (argument == "--max-queue") {
      options.maxQueue =
          static_cast<std::size_t>(number(value, 65536, 1L << 40, "bad --max-queue"));
    } else {
      usage(("unknown option " + argument).c_str());
    }
  }
  if (!haveDelay || !haveListen || !haveTarget || options.ports.empty()) {
    usage("--delay-us, --listen, --target and --ports are needed");
  }
  return options;
}

void noDelay(int fd) {
  // Chunks leave when their time comes; the relay's own Nagle would hold them longer.
  const int on = 1;
  (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Closes with a reset rather than an orderly end, as a reset or a refusal arriving would.
void resetClose(int fd) {
  const linger abort{1, 0};
  (void)::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(fd);
}

// How long chunks were held past their delay: a histogram by microsecond up to 100 ms.
class Lateness {
 public:
  void add(Clock::duration late) {
    const auto us = std::chrono::duration_cast<Micros>(late).count();
    const std::size_t bucket = us < 0 ? 0 : std::min<std::size_t>(us, kBuckets - 1);
    ++counts_[bucket];
    ++total_;
    max_ = std::max<long long>(max_, us);
  }
  std::uint64_t total() const { return total_; }
  long long max() const { return max_; }
  // The whole microseconds within which `share` of the chunks were written, as text
  // (beyond the histogram's range, only a lower bound is known).
  std::string percentile(double share) const {
    const auto wanted = static_cast<std::uint64_t>(share * static_cast<double>(total_));
    std::uint64_t seen = 0;
    std::size_t us = 0;
    for (; us < kBuckets - 1; ++us) {
      seen += counts_[us];
      if (seen > wanted || seen == total_) break;
    }
    return (us == kBuckets - 1 ? "over " : "") + std::to_string(us);
  }

 private:
  static constexpr std::size_t kBuckets = 100'001;
  std::vector<std::uint64_t> counts_ = std::vector<std::uint64_t>(kBuckets, 0);
  std::uint64_t total_ = 0;
  long long max_ = 0;
};

struct Chunk {
  enum class Kind { Data, End };
  Kind kind;
  Clock::time_point due;
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
  std::size_t written = 0;
};

struct Connection;

// What an epoll event points at: a listener, the signals, or one end of a connection.
struct Source {
  enum class Kind { Listener, Signals, Endpoint };
  Kind kind;
  int fd = -1;
  int port = 0;
  Connection* connection = nullptr;
  int side = 0;
};

// The bytes read from one end and written to the other.
struct Direction {
  std::deque<Chunk> queue;
  std::size_t queued = 0;   // data bytes held
  bool sourceDone = false;  // end of stream or failure read: nothing more is read
  bool paused = false;      // reading stopped while the queue is full
  bool blocked = false;     // the last write would block: wait until the end is writable
  bool finished = false;    // end of stream passed on, or nothing more can be
  // When the source failed: the receiving end is reset at this time, with whatever data
  // it has not taken by then, as a reset overtakes the data a full window holds back.
  std::optional<Clock::time_point> resetDue;
  Clock::time_point unblockedAt{};  // when the receiving end last took bytes again
  std::uint64_t bytes = 0;
};

// Side 0 is the accepted end, side 1 the end connected to the target; direction i carries
// what side i sends to side 1 - i.
struct Connection {
  std::uint64_t id = 0;
  int port = 0;
  int fd[2] = {-1, -1};
  Source source[2];
  std::uint32_t registered[2] = {0, 0};
  Direction direction[2];
  Clock::time_point opened;
  Clock::time_point connectDue;
  bool connectStarted = false;
  bool connecting = false;
  bool connected = false;
  bool dead = false;
};

class Relay {
 public:
  explicit Relay(Options options) : options_(std::move(options)) {}

  int run() {
    raiseDescriptorLimit();
    // Timers fire within a microsecond of their time instead of the default 50 us slack.
    (void)::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) fail("epoll_create1");
    listenAll();
    watchSignals();
    std::fprintf(stderr, "delay_relay: %zu ports on %s, to %s, %lld us each way\n",
                 options_.ports.size(), text(options_.listen).c_str(),
                 text(options_.target).c_str(), static_cast<long long>(options_.delay.count()));
    std::vector<epoll_event> events(256);
    while (!stopping_) {
      const auto next = nextDue();
      timespec timeout{};
      timespec* wait = nullptr;
      if (next) {
        const auto left = std::max(Clock::duration::zero(), *next - Clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        wait = &timeout;
      }
      const int count =
          ::epoll_pwait2(epoll_, events.data(), static_cast<int>(events.size()), wait, nullptr);
      if (count < 0 && errno != EINTR) fail("epoll_pwait2");
      for (int i = 0; i < count; ++i) {
        handle(*static_cast<Source*>(events[static_cast<std::size_t>(i)].data.ptr),
               events[static_cast<std::size_t>(i)].events);
      }
      const auto now = Clock::now();
      for (auto it = connections_.begin(); it != connections_.end();) {
        Connection& connection = *it;
        if (!connection.connectStarted && connection.connectDue <= now) startConnect(connection);
        flush(connection, 0, now);
        flush(connection, 1, now);
        if (connection.dead ||
            (connection.direction[0].finished && connection.direction[1].finished)) {
          finish(connection);
          it = connections_.erase(it);
        } else {
          updateInterest(connection);
          ++it;
        }
      }
    }
    report();
    return 0;
  }

 private:
  static std::string text(in_addr address) {
    char buffer[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, buffer, sizeof buffer);
    return buffer;
  }

  static void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
      limit.rlim_cur = limit.rlim_max;
      (void)::setrlimit(RLIMIT_NOFILE, &limit);
    }
  }

  void watch(int fd, Source& source, std::uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.ptr = &source;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) fail("epoll_ctl");
  }

  void listenAll() {
    for (const int port : options_.ports) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (fd < 0) fail("socket");
      const int on = 1;
      (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr = options_.listen;
      address.sin_port = htons(static_cast<std::uint16_t>(port));
      if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "delay_relay: port %d: ", port);
        fail("bind");
      }
      if (::listen(fd, 128) != 0) fail("listen");
      listeners_.push_back(Source{Source::Kind::Listener, fd, port, nullptr, 0});
    }
    for (Source& listener : listeners_) watch(listener.fd, listener, EPOLLIN);
  }

  void watchSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    if (::sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) fail("sigprocmask");
    signals_.fd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals_.fd < 0) fail("signalfd");
    signals_.kind = Source::Kind::Signals;
    watch(signals_.fd, signals_, EPOLLIN);
    (void)::signal(SIGPIPE, SIG_IGN);
  }

  // The earliest moment something falls due: a connect to start, or the first chunk of a
  // direction whose receiving end can take it.
  std::optional<Clock::time_point> nextDue() const {
    std::optional<Clock::time_point> next;
    const auto consider = [&next](Clock::time_point when) {
      if (!next || when < *next) next = when;
    };
    for (const Connection& connection : connections_) {
      if (!connection.connectStarted) consider(connection.connectDue);
      for (int i = 0; i < 2; ++i) {
        const Direction& direction = connection.direction[i];
        if (!direction.queue.empty() && !direction.blocked && writable(connection, i)) {
          consider(direction.queue.front().due);
        }
        if (direction.resetDue) consider(*direction.resetDue);
      }
    }
    return next;
  }

  // Whether direction i has an end to write to yet.
  static bool writable(const Connection& connection, int i) {
    return connection.fd[1 - i] >= 0 && (i == 1 || connection.connected);
  }

  void handle(Source& source, std::uint32_t events) {
    switch (source.kind) {
      case Source::Kind::Signals:
        stopping_ = true;
        return;
      case Source::Kind::Listener:
        acceptAll(source);
        return;
      case Source::Kind::Endpoint:
        break;
    }
    Connection& connection = *source.connection;
    const int side = source.side;
    if (connection.dead || connection.fd[side] < 0) return;
    if (side == 1 && connection.connecting) {
      connectDone(connection);
      return;
    }
    Direction& outgoing = connection.direction[1 - side];
    if (outgoing.blocked && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) != 0) {
      outgoing.blocked = false;
      outgoing.unblockedAt = Clock::now();
    }
    Direction& incoming = connection.direction[side];
    if (!incoming.sourceDone && !incoming.paused &&
        (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0) {
      readSome(connection, side);
    }
  }

  void acceptAll(Source& listener) {
    for (;;) {
      const int fd = ::accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
          std::fprintf(stderr, "delay_relay: accept on port %d: %s\n", listener.port,
                       std::strerror(errno));
        }
        return;
      }
      noDelay(fd);
      Connection& connection = connections_.emplace_back();
      connection.id = ++accepted_;
      connection.port = listener.port;
      connection.fd[0] = fd;
      connection.opened = Clock::now();
      // The connection reaches the target one delay after it reached the relay.
      connection.connectDue = connection.opened + options_.delay;
      for (int side = 0; side < 2; ++side) {
        connection.source[side] = Source{Source::Kind::Endpoint, -1, 0, &connection, side};
      }
      updateInterest(connection);
    }
  }

  void startConnect(Connection& connection) {
    connection.connectStarted = true;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) fail("socket");
    noDelay(fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr = options_.target;
    address.sin_port = htons(static_cast<std::uint16_t>(connection.port));
    connection.fd[1] = fd;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      connection.connected = true;
    } else if (errno == EINPROGRESS) {
      connection.connecting = true;
    } else {
      refused(connection, errno);
      return;
    }
    updateInterest(connection);
  }

  void connectDone(Connection& connection) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(connection.fd[1], SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error == EINPROGRESS) return;
    connection.connecting = false;
    if (error != 0) {
      refused(connection, error);
      return;
    }
    connection.connected = true;
  }

  // The target refused (or could not be reached): the accepted end learns it one delay
  // later, as a reset.
  void refused(Connection& connection, int error) {
    ++refused_;
    if (options_.verbose) {
      std::fprintf(stderr, "delay_relay: connection %llu to port %d: %s\n",
                   static_cast<unsigned long long>(connection.id), connection.port,
                   std::strerror(error));
    }
    closeSide(connection, 1);
    connection.connecting = false;
    Direction& towardsTarget = connection.direction[0];
    towardsTarget.queue.clear();
    towardsTarget.queued = 0;
    towardsTarget.sourceDone = true;
    towardsTarget.finished = true;
    Direction& back = connection.direction[1];
    back.sourceDone = true;
    back.resetDue = Clock::now() + options_.delay;
  }

  void readSome(Connection& connection, int side) {
    Direction& direction = connection.direction[side];
    for (std::size_t taken = 0; taken < kReadBudget;) {
      // Read straight into a chunk of the size waiting, so that bytes are copied once.
      int waiting = 0;
      if (::ioctl(connection.fd[side], FIONREAD, &waiting) != 0 || waiting <= 0) waiting = 1;
      const std::size_t room = std::min<std::size_t>(static_cast<std::size_t>(waiting), kReadSize);
      auto bytes = std::make_unique_for_overwrite<char[]>(room);
      const ssize_t got = ::recv(connection.fd[side], bytes.get(), room, 0);
      const auto due = Clock::now() + options_.delay;
      if (got > 0) {
        const auto size = static_cast<std::size_t>(got);
        direction.queue.push_back(Chunk{Chunk::Kind::Data, due, std::move(bytes), size, 0});
        direction.queued += size;
        direction.bytes += size;
        taken += size;
        if (direction.queued >= options_.maxQueue) {
          direction.paused = true;
          return;
        }
        continue;
      }
      if (got == 0) {
        direction.sourceDone = true;
        direction.queue.push_back(Chunk{Chunk::Kind::End, due, nullptr, 0, 0});
        return;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if (errno == EINTR) continue;
      broken(connection, side);
      return;
    }
  }

  // One end failed (reset by its peer, or a write to it failed): the other end is reset
  // once the data already on its way and one delay have passed; nothing more reaches the
  // failed end.
  void broken(Connection& connection, int side) {
    ++reset_;
    Direction& fromBroken = connection.direction[side];
    fromBroken.sourceDone = true;
    if (!fromBroken.resetDue) fromBroken.resetDue = Clock::now() + options_.delay;
    Direction& toBroken = connection.direction[1 - side];
    toBroken.queue.clear();
    toBroken.queued = 0;
    toBroken.sourceDone = true;
    toBroken.finished = true;
    closeSide(connection, side);
  }

  void flush(Connection& connection, int i, Clock::time_point now) {
    Direction& direction = connection.direction[i];
    write(connection, i, now);
    if (!connection.dead && direction.resetDue && *direction.resetDue <= now) {
      // The end that would be reset may not be connected yet: then it is simply dropped.
      if (connection.fd[1 - i] >= 0) {
        resetClose(connection.fd[1 - i]);
        connection.fd[1 - i] = -1;
      }
      connection.dead = true;
    }
  }

  // Writes the chunks of direction i that are due, as far as the receiving end takes them.
  void write(Connection& connection, int i, Clock::time_point now) {
    Direction& direction = connection.direction[i];
    while (!connection.dead && !direction.queue.empty() && !direction.blocked &&
           writable(connection, i) && direction.queue.front().due <= now) {
      Chunk& chunk = direction.queue.front();
      const int to = connection.fd[1 - i];
      if (chunk.kind == Chunk::Kind::End) {
        (void)::shutdown(to, SHUT_WR);
        direction.finished = true;
        direction.queue.pop_front();
        continue;
      }
      const ssize_t sent =
          ::send(to, chunk.bytes.get() + chunk.written, chunk.size - chunk.written, MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          direction.blocked = true;
        } else if (errno != EINTR) {
          broken(connection, 1 - i);
        }
        return;
      }
      if (chunk.written == 0) {
        // A chunk that fell due while its receiver took nothing waited for the receiver,
        // not for the relay.
        if (chunk.due >= direction.unblockedAt) {
          lateness_.add(now - chunk.due);
        } else {
          ++pacedByReceiver_;
        }
      }
      chunk.written += static_cast<std::size_t>(sent);
      if (chunk.written < chunk.size) continue;
      direction.queued -= chunk.size;
      direction.queue.pop_front();
      if (direction.paused && direction.queued < options_.maxQueue / 2) direction.paused = false;
    }
  }

  // Asks epoll for exactly what each end waits for; an end that waits for nothing is
  // taken out, so that a hang-up it reports cannot wake the loop again and again.
  void updateInterest(Connection& connection) {
    for (int side = 0; side < 2; ++side) {
      const int fd = connection.fd[side];
      if (fd < 0) continue;
      std::uint32_t wanted = 0;
      if (side == 1 && connection.connecting) {
        wanted = EPOLLOUT;
      } else if (side == 0 || connection.connected) {
        const Direction& incoming = connection.direction[side];
        if (!incoming.sourceDone && !incoming.paused) wanted |= EPOLLIN;
        if (connection.direction[1 - side].blocked) wanted |= EPOLLOUT;
      }
      if (wanted == connection.registered[side]) continue;
      epoll_event event{};
      event.events = wanted;
      event.data.ptr = &connection.source[side];
      const int operation = wanted == 0                        ? EPOLL_CTL_DEL
                            : connection.registered[side] == 0 ? EPOLL_CTL_ADD
                                                               : EPOLL_CTL_MOD;
      if (::epoll_ctl(epoll_, operation, fd, &event) != 0) fail("epoll_ctl");
      connection.registered[side] = wanted;
    }
  }

  void closeSide(Connection& connection, int side) {
    if (connection.fd[side] < 0) return;
    ::close(connection.fd[side]);  // also leaves the epoll set
    connection.fd[side] = -1;
    connection.registered[side] = 0;
  }

  void finish(Connection& connection) {
    if (options_.verbose) {
      const double seconds =
          std::chrono::duration<double>(Clock::now() - connection.opened).count();
      std::fprintf(stderr,
                   "delay_relay: connection %llu port %d: %llu bytes to the target, %llu back, "
                   "%.3f s%s\n",
                   static_cast<unsigned long long>(connection.id), connection.port,
                   static_cast<unsigned long long>(connection.direction[0].bytes),
                   static_cast<unsigned long long>(connection.direction[1].bytes), seconds,
                   connection.dead ? ", reset" : "");
    }
    bytes_[0] += connection.direction[0].bytes;
    bytes_[1] += connection.direction[1].bytes;
    closeSide(connection, 0);
    closeSide(connection, 1);
  }

  void report() {
    for (Connection& connection : connections_) finish(connection);
    std::printf(
        "delay %lld us each way; %llu connections (%llu refused by the target, %llu reset); "
        "%llu bytes to the target, %llu back; %llu chunks held past their delay by "
        "median %s us, 99th percentile %s us, at most %lld us; %llu more waited for a "
        "receiver that took nothing\n",
        static_cast<long long>(options_.delay.count()), static_cast<unsigned long long>(accepted_),
        static_cast<unsigned long long>(refused_), static_cast<unsigned long long>(reset_),
        static_cast<unsigned long long>(bytes_[0]), static_cast<unsigned long long>(bytes_[1]),
        static_cast<unsigned long long>(lateness_.total()), lateness_.percentile(0.5).c_str(),
        lateness_.percentile(0.99).c_str(), lateness_.max(),
        static_cast<unsigned long long>(pacedByReceiver_));
    std::fflush(stdout);
  }

  Options options_;
  int epoll_ = -1;
  std::vector<Source> listeners_;
  Source signals_{};
  // A list, so that the Sources epoll points at never move.
  std::list<Connection> connections_;
  bool stopping_ = false;
  std::uint64_t accepted_ = 0;
  std::uint64_t refused_ = 0;
  std::uint64_t reset_ = 0;
  std::uint64_t pacedByReceiver_ = 0;
  std::uint64_t bytes_[2] = {0, 0};
  Lateness lateness_;
};

}  // namespace

int main(int argc, char** argv) {
  Relay relay(parse(argc, argv));
  return relay.run();
}
