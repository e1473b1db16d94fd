// Measures a loopback round trip between two processes: one byte there, one byte back,
// over TCP, as the transfer protocol does for every record and its answer. Prints the
// median round trip in microseconds, so that a tree's protocol-bound time (two round trips
// per file) can be set beside Brisk's.
//
//   ping_pong [ROUND_TRIPS]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void noDelay(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
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
    noDelay(connection);
    char byte = 0;
    while (::recv(connection, &byte, 1, 0) == 1) {
      if (::send(connection, &byte, 1, 0) != 1) break;
    }
    std::_Exit(0);
  }
  ::close(listener);
  const int connection = ::socket(AF_INET, SOCK_STREAM, 0);
  if (::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    std::perror("ping_pong: connect");
    return 1;
  }
  noDelay(connection);
  std::vector<double> trips;
  trips.reserve(static_cast<std::size_t>(rounds));
  char byte = 'x';
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    if (::send(connection, &byte, 1, 0) != 1 || ::recv(connection, &byte, 1, 0) != 1) {
      std::perror("ping_pong: round trip");
      return 1;
    }
    trips.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  ::close(connection);
  int status = 0;
  ::waitpid(child, &status, 0);
  std::nth_element(trips.begin(), trips.begin() + rounds / 2, trips.end());
  std::printf("%.2f\n", trips[static_cast<std::size_t>(rounds / 2)]);
  return 0;
}
