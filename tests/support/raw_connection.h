#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/socket.h"

namespace brisk::test {

// A bare TCP connection that plays the other side of a wire exchange in tests: it sends
// exact bytes and collects exact bytes, with deadlines.
class RawConnection {
 public:
  // Connects to 127.0.0.1:port; check connected() afterwards.
  static RawConnection connectTo(int port);
  // Accepts one connection on a listening socket.
  static RawConnection acceptFrom(const Socket& listener);

  bool connected() const { return socket_.isOpen(); }
  bool send(const std::string& bytes) const;
  // Reads until `count` bytes have come (or the deadline or the peer's close); returns them.
  std::string receive(std::size_t count,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  // Reads whatever is there within `limit`, at least one byte if any arrive.
  std::string receiveSome(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  // True once the peer has closed (a read gives 0) within `limit`.
  bool waitForClose(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  void close() { socket_.close(); }

 private:
  explicit RawConnection(Socket socket) : socket_(std::move(socket)) {}
  Socket socket_;
};

}  // namespace brisk::test
