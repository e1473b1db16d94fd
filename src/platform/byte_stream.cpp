#include "platform/byte_stream.h"

#include <cerrno>

#include <poll.h>
#include <sys/socket.h>

#include "platform/system_error.h"

namespace brisk {

ssize_t SocketStream::fail() {
  const int error = errno;
  int none = 0;
  error_.compare_exchange_strong(none, error);
  errno = error;
  return -1;
}

ssize_t SocketStream::receive(char* buffer, std::size_t capacity) {
  const ssize_t n = socket_.receive(buffer, capacity);
  return n < 0 ? fail() : n;
}

ssize_t SocketStream::sendAll(std::string_view bytes) {
  const ssize_t n = socket_.sendAll(bytes);
  return n < 0 ? fail() : n;
}

bool SocketStream::waitReadable(std::chrono::milliseconds limit) {
  pollfd pfd{socket_.fd(), POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&pfd, 1, static_cast<int>(limit.count()));
    if (ready < 0 && errno == EINTR) continue;
    return ready != 0;
  }
}

int SocketStream::finishSending() {
  if (::shutdown(socket_.fd(), SHUT_WR) == 0) return 0;
  fail();
  return -1;
}

std::string SocketStream::failureText() const {
  const int error = error_.load();
  return error == 0 ? std::string() : systemErrorMessage(error);
}

}  // namespace brisk
