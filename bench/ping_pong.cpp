// Measures a TCP round trip between two processes: one byte there, one byte back, as the
// transfer protocol does for every record and its answer. Prints the median round trip in
// microseconds, so that a tree's protocol-bound time (two round trips per file) can be set
// beside Brisk's.
//
//   ping_pong [ROUND_TRIPS]                      both ends on loopback, in two processes
//   ping_pong serve ADDRESS PORT                 answers one connection, then exits
//   ping_pong connect ADDRESS PORT [ROUND_TRIPS] prints the median, the fastest and the
//                                                slowest round trip
//
// The last two measure the round trip of a path between two places, such as the delaying
// relay between two network namespaces of the benchmark.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

void noDelay(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool addressOf(const char* text, const char* port, sockaddr_in& address) {
  address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(port)));
  return ::inet_pton(AF_INET, text, &address.sin_addr) == 1;
}

// Sends one byte back for each byte that comes, until the connection ends.
void answer(int connection) {
  noDelay(connection);
  char byte = 0;
  while (::recv(connection, &byte, 1, 0) == 1) {
    if (::send(connection, &byte, 1, 0) != 1) break;
  }
}

// Times ROUNDS round trips on CONNECTION; every trip's time in microseconds, sorted.
std::vector<double> measure(int connection, int rounds) {
  noDelay(connection);
  std::vector<double> trips;
  trips.reserve(static_cast<std::size_t>(rounds));
  char byte = 'x';
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    if (::send(connection, &byte, 1, 0) != 1 || ::recv(connection, &byte, 1, 0) != 1) {
      std::perror("ping_pong: round trip");
      std::exit(1);
    }
    trips.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(trips.begin(), trips.end());
  return trips;
}

int serve(const char* host, const char* port) {
  sockaddr_in address{};
  if (!addressOf(host, port, address)) {
    std::fprintf(stderr, "ping_pong: bad address %s\n", host);
    return 2;
  }
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1) != 0) {
    std::perror("ping_pong: listen");
    return 1;
  }
  const int connection = ::accept(listener, nullptr, nullptr);
  if (connection < 0) {
    std::perror("ping_pong: accept");
    return 1;
  }
  ::close(listener);
  answer(connection);
  ::close(connection);
  return 0;
}

int connectTo(const char* host, const char* port, int rounds) {
  sockaddr_in address{};
  if (!addressOf(host, port, address) || rounds < 1) {
    std::fprintf(stderr, "ping_pong: bad address %s or count\n", host);
    return 2;
  }
  int connection = -1;
  // The other end may not listen yet: try again for a few seconds.
  for (int attempt = 0;; ++attempt) {
    connection = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      break;
    }
    if (errno != ECONNREFUSED || attempt == 500) {
      std::perror("ping_pong: connect");
      return 1;
    }
    ::close(connection);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The first trip also waits for the path's own connection to be made: not counted.
  measure(connection, 1);
  const std::vector<double> trips = measure(connection, rounds);
  ::close(connection);
  std::printf("%.2f %.2f %.2f\n", trips[trips.size() / 2], trips.front(), trips.back());
  return 0;
}

int loopbackPair(int rounds) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("ping_pong: listen");
    return 1;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    const int connection = ::accept(listener, nullptr, nullptr);
    answer(connection);
    std::_Exit(0);
  }
  ::close(listener);
  const int connection = ::socket(AF_INET, SOCK_STREAM, 0);
  if (::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    std::perror("ping_pong: connect");
    return 1;
  }
  const std::vector<double> trips = measure(connection, rounds);
  ::close(connection);
  int status = 0;
  ::waitpid(child, &status, 0);
  std::printf("%.2f\n", trips[trips.size() / 2]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "serve" && argc == 4) return serve(argv[2], argv[3]);
  if (mode == "connect" && (argc == 4 || argc == 5)) {
    return connectTo(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : 1000);
  }
  if (argc <= 2 && mode != "serve" && mode != "connect") {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (rounds >= 1) return loopbackPair(rounds);
  }
  std::fprintf(stderr,
               "usage: ping_pong [ROUND_TRIPS] | serve ADDRESS PORT | connect ADDRESS PORT "
               "[ROUND_TRIPS]\n");
  return 2;
}
