#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include <openssl/types.h>

#include "platform/file_descriptor.h"
#include "platform/socket.h"
#include "secure/identity.h"
#include "secure/tls_context.h"
#include "secure/tls_stream.h"

namespace brisk::test {

// Two connected stream sockets (a socketpair): the connection of a test never leaves the
// process.
std::pair<Socket, Socket> socketPair();

// Identities made once per test program (making keys costs time), and their contexts.
const Identity& aliceIdentity();
const Identity& bobIdentity();
const Identity& malloryIdentity();
std::shared_ptr<const TlsContext> controlContext(const Identity& identity);
std::shared_ptr<const TlsContext> dataContext();

// Both ends of one session, each handshake on its own thread.
struct StartedPair {
  TlsStart connecting;
  TlsStart accepting;
  bool ok() const { return connecting.ok() && accepting.ok(); }
};
StartedPair startControlPair(const Identity& connecting, const Identity& accepting,
                             Socket connectingSocket, Socket acceptingSocket,
                             std::chrono::milliseconds limit = std::chrono::seconds(10));
StartedPair startControlPair(const Identity& connecting, const Identity& accepting);
StartedPair startDataPair(const DataKey& connectingKey, const DataKey& acceptingKey);

DataKey keyOf(std::uint8_t fill);

// Sits between the two ends of a connection and forwards what each sends, on a thread of
// its own. In the direction from `left` to `right` it forwards whole TLS records and can
// damage the next one on request, as someone on the network path could.
class Relay {
 public:
  Relay(Socket left, Socket right);
  ~Relay();

  // Flips one bit in the body of the next record going right.
  void tamperWithNextRecord() { tamper_ = true; }
  // Forwards half of the next record going right, then ends that direction of the
  // connection as a TCP close would, without anything TLS would send.
  void cutInsideNextRecord() { cut_ = true; }
  // How many records went right so far.
  int recordsForwarded() const { return records_; }

 private:
  void run();

  Socket left_;
  Socket right_;
  FileDescriptor stop_;
  std::atomic<bool> tamper_{false};
  std::atomic<bool> cut_{false};
  std::atomic<int> records_{0};
  std::thread thread_;
};

// An OpenSSL client of the test's own making (`configure` shapes its context), for peers
// that Brisk itself never is: an old TLS version, no certificate. Runs the handshake on the
// calling thread over a blocking socket, then tries one read. True when both succeed.
bool foreignClientGetsThrough(Socket socket, const std::function<void(SSL_CTX*)>& configure);

}  // namespace brisk::test
