#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

#include "platform/socket.h"

namespace brisk {

// A connected, reliable byte stream in both directions: a plain TCP socket, or an encrypted
// session over one. Whoever reads or writes a connection sees it through this, so the same
// protocol code runs over either.
//
// Threads: one thread may receive (and wait) while another sends; two threads must not
// both receive or both send. Another thread breaks a blocked call by arming a
// SocketInterrupter with fd() and interrupting it (the descriptor is shut down, never
// closed under the owner); the call then fails at once, and so does every later one.
class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // The descriptor underneath, for a SocketInterrupter. Nobody else reads or writes it.
  virtual int fd() const = 0;
  // The descriptor when the stream's bytes are the socket's own (so that sendfile and
  // splice may move them), otherwise -1.
  virtual int rawSocket() const = 0;

  // Waits for bytes and takes at most `capacity` of them: their count; 0 once the peer has
  // ended the stream in order and everything before that end has been taken; -1 on
  // failure, with errno set and failureText() telling why.
  virtual ssize_t receive(char* buffer, std::size_t capacity) = 0;
  // Sends all of `bytes`: their count, or -1 with errno set and failureText() telling why.
  virtual ssize_t sendAll(std::string_view bytes) = 0;
  // Whether receive would return at once (bytes, the end or a failure), waiting at most
  // `limit` for it. On the receiving thread.
  virtual bool waitReadable(std::chrono::milliseconds limit) = 0;
  // Ends the sending direction in order: the peer's receive gives 0 once it has taken
  // everything sent before. Receiving goes on. 0, or -1 with errno set.
  virtual int finishSending() = 0;
  // Why the stream failed, for the person (empty while nothing failed). Any thread.
  virtual std::string failureText() const = 0;
  // `length` bytes derived from the session's secrets under `label`: the same at both
  // ends and known to nobody else. Nothing for a stream without secrets (a plain socket).
  virtual std::optional<std::vector<std::uint8_t>> sessionSecret(std::string_view label,
                                                                 std::size_t length) const {
    (void)label;
    (void)length;
    return std::nullopt;
  }
};

// A plain TCP connection as a ByteStream. Owns the socket and closes it when destroyed.
class SocketStream final : public ByteStream {
 public:
  explicit SocketStream(Socket socket) : socket_(std::move(socket)) {}

  int fd() const override { return socket_.fd(); }
  int rawSocket() const override { return socket_.fd(); }
  ssize_t receive(char* buffer, std::size_t capacity) override;
  ssize_t sendAll(std::string_view bytes) override;
  bool waitReadable(std::chrono::milliseconds limit) override;
  int finishSending() override;
  std::string failureText() const override;

 private:
  // Keeps the first error number, which is what the person needs to see.
  ssize_t fail();

  Socket socket_;
  std::atomic<int> error_{0};
};

}  // namespace brisk
