#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/timing.h"
#include "platform/byte_stream.h"
#include "platform/file_descriptor.h"
#include "platform/socket.h"
#include "transfer/content_hash.h"
#include "transfer/pending_bytes.h"

namespace brisk {

// The connected data socket of one transfer, seen as a byte stream: what has been
// received but not yet used waits in `pending`, so that a record that arrives in pieces
// is put back together and bytes after it are kept for what follows. The socket is a
// blocking one (as connectTcp and acceptTcp give it), so no call on it ever would block
// and return instead: each waits until it can go on, fails, or is interrupted.
//
// Limits: every wait for the peer ends after timing.idleDataLimit without a byte moving
// (the system's send and receive time-outs of the socket carry it into the file data
// calls), and a record's first byte is waited for no longer than its caller says. A wait
// that ended so makes the call fail with timedOutAfter() set.
//
// Stopping: the socket is armed in the record's SocketInterrupter for as long as it is
// open, so that another thread (Stop, a STOP message, shutdown) can break any send or
// receive at any moment. Once a stop was requested, every failure is the expected result
// of it and is shown nowhere.
class DataChannel {
 public:
  enum class Status {
    Ok,
    Closed,    // the peer closed the connection before anything came
    Failed,    // error() tells why
    TimedOut,  // nothing came within the wait
  };

  DataChannel(Socket socket, SocketInterrupter& interrupter, std::function<bool()> stopping,
              const Timing& timing);
  // The same over an encrypted data connection. Its bytes are not the socket's, so they
  // are copied through memory instead of spliced; its waits end after
  // timing.idleDataLimit as the socket's do (the stream's maker sets that limit).
  DataChannel(std::unique_ptr<ByteStream> encrypted, SocketInterrupter& interrupter,
              std::function<bool()> stopping, const Timing& timing);
  // Construct and destroy it on the thread that uses it: it holds SIGPIPE back there.
  ~DataChannel();
  DataChannel(const DataChannel&) = delete;
  DataChannel& operator=(const DataChannel&) = delete;

  // Arms the interrupter, then looks whether a stop came first. False: give up at once.
  // The order matters: a stop after the arm shuts the socket down, one before it is seen
  // here, so no stop can slip in between.
  [[nodiscard]] bool arm();
  // Ends the connection so that the last line sent survives: shuts the sending direction
  // down, then drops what still comes until the peer closes too (at most
  // timing.closeDrainWait). Closing at once with unread bytes would reset the
  // connection, and a reset can destroy a line the peer has not read yet. After a stop
  // the connection is simply closed.
  void finish();
  // Disarms and closes the socket. Idempotent.
  void close();

  bool stopRequested() const;
  // After the peer closed the connection early: whether a stop follows within
  // timing.peerStopWait. A peer that stops a transfer closes its end at once and sends
  // its STOP on the control connection, so the close usually comes first.
  bool stopFollows() const;
  int error() const { return error_; }
  // Why an encrypted connection failed (a record changed on the way, a cut without the
  // session's end), for the person; empty for a plain one or when nothing failed so.
  std::string failureText() const { return encrypted_ ? encrypted_->failureText() : ""; }
  // Bytes derived from an encrypted connection's secrets (see ByteStream); nothing for a
  // plain one.
  std::optional<std::vector<std::uint8_t>> sessionSecret(std::string_view label,
                                                         std::size_t length) const {
    return encrypted_ ? encrypted_->sessionSecret(label, length) : std::nullopt;
  }
  // The limit that passed when a call failed because nothing moved within it; nothing
  // for every other failure.
  std::optional<std::chrono::milliseconds> timedOutAfter() const { return timedOutAfter_; }
  // Whether the peer has ended its sending direction, or the connection has failed:
  // nothing it might still send can come. Takes nothing from the stream, never waits.
  [[nodiscard]] bool peerGone() const;

  // Sends all of `bytes` (with one send as far as the system allows). False on failure.
  [[nodiscard]] bool send(std::string_view bytes);

  // Receives until `complete` tells the length of the message that begins `pending`,
  // then takes that message out into `message`. A message cut short by the peer closing,
  // by `cap` pending bytes, or by `timing.recordRestWait` without a further byte is
  // taken as it is. The first byte is waited for at most `firstByteLimit` (TimedOut).
  [[nodiscard]] Status readMessage(
      const std::function<std::optional<std::size_t>(std::string_view)>& complete, std::size_t cap,
      std::string& message, std::chrono::milliseconds firstByteLimit);

  // Moves at most `count` bytes of the stream (pending bytes first) into the open file
  // `fileFd` at `position`; `moved` tells how many. The bytes go from the socket to the
  // file through a pipe (splice), so they are copied once; where the system cannot do
  // that, through a bounded buffer.
  enum class FileReceiveStatus { Ok, Closed, ReceiveFailed, WriteFailed, TimedOut };
  // With `check`, the bytes written are also fed to it (and never spliced, which would
  // keep them from this process).
  [[nodiscard]] FileReceiveStatus receiveIntoFile(int fileFd, std::uint64_t position,
                                                  std::uint64_t count, std::size_t& moved,
                                                  ContentCheck* check = nullptr);

  // Sends `count` bytes of the open file `fileFd` from `offset`, calling `progress` with
  // the bytes sent so far after every block. With `check`, the bytes sent are also fed to
  // it (so they are read through this process, never sent from the file directly).
  enum class FileSendStatus { Done, FileShrank, ReadFailed, SendFailed, TimedOut };
  [[nodiscard]] FileSendStatus sendFile(int fileFd, std::uint64_t offset, std::uint64_t count,
                                        const std::function<void(std::uint64_t)>& progress,
                                        ContentCheck* check = nullptr);

  // Whether bytes are there to read (or the peer closed) within `wait`.
  [[nodiscard]] bool waitReadable(std::chrono::milliseconds wait);

  // Drops whatever was received and not yet used.
  void discardPending() { pending_.clear(); }

 private:
  class SigpipeGuard;

  // One receive appended to pending_, waiting at most `wait` for it to begin (TimedOut).
  Status receiveMore(std::size_t limit, std::chrono::milliseconds wait);
  FileSendStatus sendFileByReading(int fileFd, std::uint64_t offset, std::uint64_t count,
                                   const std::function<void(std::uint64_t)>& progress,
                                   ContentCheck* check);
  bool sendBlock(const char* data, std::size_t size);
  FileReceiveStatus spliceIntoFile(int fileFd, std::uint64_t position, std::size_t count,
                                   std::size_t& moved);
  FileReceiveStatus copyIntoFile(int fileFd, std::uint64_t position, std::size_t count,
                                 std::size_t& moved, ContentCheck* check);
  bool writeAt(int fileFd, const char* data, std::size_t count, std::uint64_t position);
  // Takes the errno of a failed send or receive; true when it only says that the socket's
  // time-out passed, which is then remembered as the idle limit.
  bool failedWith(int error);
  int fd() const { return encrypted_ ? encrypted_->fd() : socket_.fd(); }
  Status receiveEncrypted(std::size_t limit, std::chrono::milliseconds wait);

  std::unique_ptr<SigpipeGuard> sigpipeGuard_;
  Socket socket_;
  std::unique_ptr<ByteStream> encrypted_;  // owns the socket instead of socket_ when set
  SocketInterrupter& interrupter_;
  std::function<bool()> stopping_;
  const Timing& timing_;
  bool armed_ = false;
  PendingBytes pending_;
  std::unique_ptr<char[]> receiveBuffer_;  // what one receive brings, before pending_
  std::size_t receiveCapacity_ = 0;
  int error_ = 0;
  std::optional<std::chrono::milliseconds> timedOutAfter_;
  // The pipe that file data passes through on its way from the socket to the file;
  // closed when splicing is not possible here.
  FileDescriptor pipeRead_;
  FileDescriptor pipeWrite_;
  bool spliceTried_ = false;
  std::unique_ptr<char[]> buffer_;  // for the way without splice
};

}  // namespace brisk
