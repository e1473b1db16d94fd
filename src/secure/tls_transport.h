#pragma once

#include <cstddef>
#include <memory>

#include <openssl/types.h>

namespace brisk {

// A non-blocking socket as OpenSSL's transport (a BIO), for TlsStream.
//  - It sends with MSG_NOSIGNAL: OpenSSL's own socket transport writes with write(), which
//    raises SIGPIPE when the peer has gone and would end the program.
//  - It gathers the records OpenSSL writes and sends them together, and receives as much
//    as has arrived at once and hands it to OpenSSL record by record: one system call for
//    some sixteen 16-KiB records instead of sixteen (thirty-two when receiving, a header
//    and a body each), which is most of what encryption would otherwise add to a large
//    transfer. OpenSSL flushes the output after each handshake flight and alert;
//    TlsStream flushes it after every write of its own. Input is only taken from the
//    socket when OpenSSL asks for more than is held, so that a wait for the socket after
//    OpenSSL asked for more is always a wait for the network.
// Used under TlsStream's mutex only.
class TlsTransport {
 public:
  explicit TlsTransport(int fd);

  // A new BIO over this transport, for SSL_set_bio; the transport must outlive it.
  BIO* newBio();

  // Sends what is gathered, as far as the socket takes it now: 1 when nothing is left,
  // 0 when the socket is full, -1 when sending failed (errno set).
  int flush();
  bool hasOutput() const { return outBegin_ < outEnd_; }
  // Whether any byte ever came from the peer.
  bool receivedAny() const { return receivedAny_; }

 private:
  static int write(BIO* bio, const char* data, std::size_t length, std::size_t* done);
  static int read(BIO* bio, char* data, std::size_t length, std::size_t* done);
  static long control(BIO* bio, int command, long number, void* pointer);

  int fd_;
  bool ended_ = false;  // the peer closed its direction of the TCP connection
  bool receivedAny_ = false;
  std::unique_ptr<char[]> out_;
  std::size_t outBegin_ = 0;
  std::size_t outEnd_ = 0;
  std::unique_ptr<char[]> in_;
  std::size_t inBegin_ = 0;
  std::size_t inEnd_ = 0;
};

}  // namespace brisk
