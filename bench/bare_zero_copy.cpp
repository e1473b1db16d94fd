// The fastest a file can cross a loopback TCP connection without any protocol: the sender
// hands the file to the socket with sendfile, the receiver moves the socket's bytes into
// the file through a pipe with splice, so no byte is copied through user space. Brisk's
// large-file figures are measured against this.
//
//   bare_zero_copy receive PORT FILE     listens on 127.0.0.1:PORT, writes what comes to FILE
//   bare_zero_copy send PORT FILE        connects to 127.0.0.1:PORT, sends FILE, closes

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr std::size_t kBlock = 1 << 20;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "bare_zero_copy: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int receive(int port, const char* path) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in address = loopback(port);
  if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fail("bind");
  }
  if (::listen(listener, 1) != 0) fail("listen");
  const int connection = ::accept(listener, nullptr, nullptr);
  if (connection < 0) fail("accept");
  ::close(listener);
  const int file = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (file < 0) fail("open");
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) fail("pipe");
  (void)::fcntl(pipe[1], F_SETPIPE_SZ, static_cast<int>(kBlock));
  for (;;) {
    const ssize_t in = ::splice(connection, nullptr, pipe[1], nullptr, kBlock, SPLICE_F_MOVE);
    if (in < 0) fail("splice from the socket");
    if (in == 0) break;
    for (ssize_t left = in; left > 0;) {
      const ssize_t out =
          ::splice(pipe[0], nullptr, file, nullptr, static_cast<std::size_t>(left), SPLICE_F_MOVE);
      if (out <= 0) fail("splice into the file");
      left -= out;
    }
  }
  ::close(file);
  ::close(connection);
  return 0;
}

int send(int port, const char* path) {
  const int file = ::open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) fail("open");
  struct stat status {};
  if (::fstat(file, &status) != 0) fail("fstat");
  const sockaddr_in address = loopback(port);
  int connection = -1;
  // The receiver may not listen yet: try again for a few seconds.
  for (int attempt = 0;; ++attempt) {
    connection = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      break;
    }
    if (errno != ECONNREFUSED || attempt == 500) fail("connect");
    ::close(connection);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  off_t offset = 0;
  while (offset < status.st_size) {
    const auto left = static_cast<std::size_t>(status.st_size - offset);
    if (::sendfile(connection, file, &offset, left < kBlock ? left : kBlock) <= 0) {
      fail("sendfile");
    }
  }
  ::close(connection);
  ::close(file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bare_zero_copy receive|send PORT FILE\n");
    return 2;
  }
  const std::string mode = argv[1];
  const int port = std::atoi(argv[2]);
  if (mode == "receive") return receive(port, argv[3]);
  if (mode == "send") return send(port, argv[3]);
  std::fprintf(stderr, "usage: bare_zero_copy receive|send PORT FILE\n");
  return 2;
}
