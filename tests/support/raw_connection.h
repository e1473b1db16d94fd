#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/socket.h"

namespace brisk::test {

// How long a raw connection waits for the other side unless a test says otherwise.
inline constexpr std::chrono::milliseconds kWireLimit = std::chrono::seconds(10);

// A bare TCP socket that plays the other side of a wire exchange in tests: it connects to
// or listens on loopback, sends exact bytes and collects exact byte counts, with deadlines.
// Connections send every piece at once, so that the other side sees the splits where the
// test puts them.
class RawConnection {
 public:
  // Not open; also what the calls below give when they fail.
  RawConnection() = default;

  // Connects to 127.0.0.1:`port`, retrying until something listens there or the limit
  // passes. With `fromAddress` (such as "127.0.0.2") the connection comes from that local
  // address; when it cannot be bound nothing is tried. Check isOpen() afterwards.
  static RawConnection connectTo(int port, const char* fromAddress = nullptr);
  // A listening socket on 127.0.0.1:`port`, for a side under test that connects.
  static RawConnection listenOn(int port);
  // Takes the next connection that comes to this listening socket within `limit`.
  RawConnection accept(std::chrono::milliseconds limit = kWireLimit) const;

  bool isOpen() const { return socket_.isOpen(); }
  // Sends all of `bytes`; false when the connection failed first.
  bool send(std::string_view bytes) const;
  // Reads until `count` bytes have come, the peer closed or the limit passed; returns them.
  std::string receive(std::size_t count, std::chrono::milliseconds limit = kWireLimit) const;
  // Reads what arrives first within the limit: at least one byte, if any come.
  std::string receiveSome(std::chrono::milliseconds limit = kWireLimit) const;
  // Reads everything until the peer closes (or the limit passes).
  std::string receiveToEnd(std::chrono::milliseconds limit = kWireLimit) const {
    return receive(std::string::npos, limit);
  }
  // True once the peer has closed within the limit; whatever still comes is dropped.
  bool waitForClose(std::chrono::milliseconds limit = kWireLimit) const;
  // Ends this side's sending, as a peer that leaves does, while reading goes on: the other
  // side gets every byte sent before, then the end.
  bool endSending() const;
  void close() { socket_.close(); }

 private:
  explicit RawConnection(Socket socket) : socket_(std::move(socket)) {}
  Socket socket_;
};

}  // namespace brisk::test
