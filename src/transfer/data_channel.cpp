#include "transfer/data_channel.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/mapped_file.h"

namespace brisk {

namespace {

// sendfile moves this much per call: large enough to cost little, small enough that the
// progress figures move smoothly.
constexpr std::size_t kSendFileBlock = 1 << 20;
// File data is received in blocks of at most this size: large enough that a fast
// connection is not slowed by the number of calls, small enough to keep memory low.
constexpr std::size_t kReceiveBlock = 1 << 20;
// File data of an encrypted connection, which passes through this process, moves in
// blocks of this size: each is read, checked and encrypted (or decrypted, written and
// checked) while it is still in the core's cache. Blocks of 1 MiB, as large as that cache
// here, took 8 % longer.
constexpr std::size_t kEncryptedBlock = 256 * 1024;
// Below this, the rest of a file is copied through user space: two splices through a pipe
// cost more than a receive and a write of a few pages.
constexpr std::size_t kSpliceAtLeast = 64 * 1024;
// The block of the plain read-and-send path, the size the protocol's peers use.
constexpr std::size_t kReadBlock = 57488;
// From this size on an encrypted file is read through mapped pages (see MappedFileReader):
// below it, mapping and unmapping cost more than the copy they save.
constexpr std::uint64_t kMapAtLeast = 1 << 20;

// Errors of sendfile that come from the socket rather than from reading the file.
bool isSocketError(int error) {
  switch (error) {
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
    case ENOTSOCK:
    case EBADF:
      return true;
    default:
      return false;
  }
}

}  // namespace

// sendfile has no MSG_NOSIGNAL: a peer that went away (or a stop, which shuts the socket
// down) would raise SIGPIPE and end the program. SIGPIPE is held back on the transfer's
// thread for as long as its channel lives (the channel is made and ended on that thread),
// and one raised meanwhile is taken off again: two signal-mask changes per transfer
// instead of several system calls around every file.
class DataChannel::SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~SigpipeGuard() {
    if (!wasPending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        const timespec now{0, 0};
        sigtimedwait(&pipe_, nullptr, &now);
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t pipe_;
  sigset_t previous_;
  bool wasPending_ = false;
};

DataChannel::DataChannel(Socket socket, SocketInterrupter& interrupter,
                         std::function<bool()> stopping, const Timing& timing)
    : sigpipeGuard_(std::make_unique<SigpipeGuard>()),
      socket_(std::move(socket)),
      interrupter_(interrupter),
      stopping_(std::move(stopping)),
      timing_(timing) {
  // Every record goes out in one send and waits for its answer, so nothing is gained by
  // holding a small segment back, and a record that follows a file's last bytes must not
  // wait for their acknowledgement.
  const int on = 1;
  (void)::setsockopt(socket_.fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // Every blocking send and receive, sendfile and splice included, gives up once nothing
  // has moved for the idle limit; a call that moved something returns what it moved.
  const auto limit = timing_.idleDataLimit;
  if (limit.count() > 0) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
    const auto micro = std::chrono::duration_cast<std::chrono::microseconds>(limit - seconds);
    const timeval time{static_cast<time_t>(seconds.count()),
                       static_cast<suseconds_t>(micro.count())};
    (void)::setsockopt(socket_.fd(), SOL_SOCKET, SO_RCVTIMEO, &time, sizeof time);
    (void)::setsockopt(socket_.fd(), SOL_SOCKET, SO_SNDTIMEO, &time, sizeof time);
  }
}

DataChannel::DataChannel(std::unique_ptr<ByteStream> encrypted, SocketInterrupter& interrupter,
                         std::function<bool()> stopping, const Timing& timing)
    : sigpipeGuard_(std::make_unique<SigpipeGuard>()),
      encrypted_(std::move(encrypted)),
      interrupter_(interrupter),
      stopping_(std::move(stopping)),
      timing_(timing) {
  const int on = 1;
  (void)::setsockopt(encrypted_->fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

DataChannel::~DataChannel() {
  close();
}

bool DataChannel::arm() {
  armed_ = interrupter_.arm(fd());
  return armed_ && !stopRequested();
}

void DataChannel::finish() {
  if (encrypted_ && !stopRequested() && encrypted_->finishSending() == 0) {
    // The peer's end of the session, or whatever else comes first, ends the wait.
    const auto deadline = std::chrono::steady_clock::now() + timing_.closeDrainWait;
    char drop[4096];
    for (;;) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !encrypted_->waitReadable(left)) break;
      if (encrypted_->receive(drop, sizeof drop) <= 0) break;
    }
  }
  if (!encrypted_ && socket_.isOpen() && !stopRequested() &&
      ::shutdown(socket_.fd(), SHUT_WR) == 0) {
    const auto deadline = std::chrono::steady_clock::now() + timing_.closeDrainWait;
    for (;;) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd pfd{socket_.fd(), POLLIN, 0};
      const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      char drop[4096];
      const ssize_t n = ::recv(socket_.fd(), drop, sizeof drop, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
    }
  }
  close();
}

void DataChannel::close() {
  if (armed_) {
    interrupter_.disarm();
    armed_ = false;
  }
  encrypted_.reset();
  socket_.close();
}

bool DataChannel::stopRequested() const {
  return interrupter_.interrupted() || (stopping_ && stopping_());
}

bool DataChannel::stopFollows() const {
  return stopRequested() || interrupter_.waitForInterrupt(timing_.peerStopWait);
}

bool DataChannel::peerGone() const {
  pollfd pfd{fd(), POLLIN | POLLRDHUP, 0};
  for (;;) {
    const int ready = ::poll(&pfd, 1, 0);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && (pfd.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
  }
}

bool DataChannel::failedWith(int error) {
  error_ = error;
  // A blocking socket says EAGAIN only when its send or receive time-out has passed.
  if (error != EAGAIN && error != EWOULDBLOCK) return false;
  timedOutAfter_ = timing_.idleDataLimit;
  return true;
}

bool DataChannel::sendBlock(const char* data, std::size_t size) {
  if (encrypted_) {
    if (encrypted_->sendAll(std::string_view(data, size)) >= 0) return true;
    (void)failedWith(errno);
    return false;
  }
  std::size_t sent = 0;
  while (sent < size) {
    // MSG_NOSIGNAL: a peer that went away must give EPIPE, not end the program.
    const ssize_t n = ::send(socket_.fd(), data + sent, size - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      (void)failedWith(errno);
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool DataChannel::send(std::string_view bytes) {
  return sendBlock(bytes.data(), bytes.size());
}

DataChannel::Status DataChannel::receiveEncrypted(std::size_t limit,
                                                  std::chrono::milliseconds wait) {
  if (!encrypted_->waitReadable(wait)) return Status::TimedOut;
  if (limit > receiveCapacity_) {
    receiveBuffer_ = std::make_unique_for_overwrite<char[]>(limit);
    receiveCapacity_ = limit;
  }
  const ssize_t n = encrypted_->receive(receiveBuffer_.get(), limit);
  if (n > 0) {
    pending_.append(receiveBuffer_.get(), static_cast<std::size_t>(n));
    return Status::Ok;
  }
  if (n == 0) return Status::Closed;
  return failedWith(errno) ? Status::TimedOut : Status::Failed;
}

DataChannel::Status DataChannel::receiveMore(std::size_t limit, std::chrono::milliseconds wait) {
  if (encrypted_) return receiveEncrypted(limit, wait);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd pfd{socket_.fd(), POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return Status::Failed;
    }
    if (ready == 0) return Status::TimedOut;
    // Received into a buffer kept for the channel's life and appended from there: growing
    // `pending_` by `limit` first would fill that many bytes with zeros on every receive,
    // which costs more than everything else a small file takes.
    if (limit > receiveCapacity_) {
      receiveBuffer_ = std::make_unique_for_overwrite<char[]>(limit);
      receiveCapacity_ = limit;
    }
    const ssize_t n = ::recv(socket_.fd(), receiveBuffer_.get(), limit, 0);
    if (n > 0) {
      pending_.append(receiveBuffer_.get(), static_cast<std::size_t>(n));
      return Status::Ok;
    }
    if (n == 0) return Status::Closed;
    if (errno == EINTR) continue;
    return failedWith(errno) ? Status::TimedOut : Status::Failed;
  }
}

DataChannel::Status DataChannel::readMessage(
    const std::function<std::optional<std::size_t>(std::string_view)>& complete, std::size_t cap,
    std::string& message, std::chrono::milliseconds firstByteLimit) {
  for (;;) {
    if (!pending_.empty()) {
      const std::optional<std::size_t> length = complete(pending_.view());
      if (length || pending_.size() >= cap) {
        const std::size_t taken = length ? *length : pending_.size();
        message.assign(pending_.data(), taken);
        pending_.consume(taken);
        return Status::Ok;
      }
    }
    const bool started = !pending_.empty();
    const std::size_t room = cap - pending_.size();
    const Status status = receiveMore(room, started ? timing_.recordRestWait : firstByteLimit);
    if (status == Status::Ok) continue;
    if (started && (status == Status::Closed || status == Status::TimedOut)) {
      // The rest is not coming: the message is what came.
      message = pending_.takeAll();
      return Status::Ok;
    }
    if (status == Status::TimedOut) timedOutAfter_ = firstByteLimit;
    return status;
  }
}

bool DataChannel::waitReadable(std::chrono::milliseconds wait) {
  if (!pending_.empty()) return true;
  if (encrypted_) return encrypted_->waitReadable(wait);
  pollfd pfd{socket_.fd(), POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&pfd, 1, static_cast<int>(wait.count()));
    if (ready < 0 && errno == EINTR) continue;
    return ready != 0;
  }
}

bool DataChannel::writeAt(int fileFd, const char* data, std::size_t count, std::uint64_t position) {
  std::size_t written = 0;
  while (written < count) {
    const ssize_t n =
        ::pwrite(fileFd, data + written, count - written, static_cast<off_t>(position + written));
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  return true;
}

DataChannel::FileReceiveStatus DataChannel::receiveIntoFile(int fileFd, std::uint64_t position,
                                                            std::uint64_t count, std::size_t& moved,
                                                            ContentCheck* check) {
  moved = 0;
  if (!pending_.empty()) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, pending_.size()));
    if (!writeAt(fileFd, pending_.data(), n, position)) return FileReceiveStatus::WriteFailed;
    if (check) check->update(pending_.data(), n);
    pending_.consume(n);
    moved = n;
    return FileReceiveStatus::Ok;
  }
  const auto block = static_cast<std::size_t>(
      std::min<std::uint64_t>(count, encrypted_ ? kEncryptedBlock : kReceiveBlock));
  if (block < kSpliceAtLeast || encrypted_ || check) {
    return copyIntoFile(fileFd, position, block, moved, check);
  }
  if (!spliceTried_) {
    spliceTried_ = true;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) == 0) {
      pipeRead_ = FileDescriptor(ends[0]);
      pipeWrite_ = FileDescriptor(ends[1]);
      // A larger pipe moves more per call; the system may refuse, which costs only speed.
      (void)::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(kReceiveBlock));
    }
  }
  if (pipeWrite_.isOpen()) {
    const FileReceiveStatus status = spliceIntoFile(fileFd, position, block, moved);
    if (pipeWrite_.isOpen()) return status;
  }
  return copyIntoFile(fileFd, position, block, moved, nullptr);
}

DataChannel::FileReceiveStatus DataChannel::spliceIntoFile(int fileFd, std::uint64_t position,
                                                           std::size_t count, std::size_t& moved) {
  ssize_t in = 0;
  for (;;) {
    in = ::splice(socket_.fd(), nullptr, pipeWrite_.get(), nullptr, count, SPLICE_F_MOVE);
    if (in > 0) break;
    if (in == 0) return FileReceiveStatus::Closed;
    if (errno == EINTR) continue;
    if (errno == EINVAL || errno == ENOSYS) {
      // Nothing was taken from the socket: the caller copies instead, now and later.
      pipeRead_.close();
      pipeWrite_.close();
      return FileReceiveStatus::Ok;
    }
    return failedWith(errno) ? FileReceiveStatus::TimedOut : FileReceiveStatus::ReceiveFailed;
  }
  auto offset = static_cast<loff_t>(position);
  auto left = static_cast<std::size_t>(in);
  while (left > 0) {
    const ssize_t out = ::splice(pipeRead_.get(), nullptr, fileFd, &offset, left, SPLICE_F_MOVE);
    if (out < 0 && errno == EINTR) continue;
    if (out <= 0) {
      error_ = out < 0 ? errno : EIO;
      // The pipe still holds bytes that are lost now; the transfer ends with this failure.
      moved = static_cast<std::size_t>(in) - left;
      return FileReceiveStatus::WriteFailed;
    }
    left -= static_cast<std::size_t>(out);
  }
  moved = static_cast<std::size_t>(in);
  return FileReceiveStatus::Ok;
}

DataChannel::FileReceiveStatus DataChannel::copyIntoFile(int fileFd, std::uint64_t position,
                                                         std::size_t count, std::size_t& moved,
                                                         ContentCheck* check) {
  // An encrypted connection never asks for more than its block (see receiveIntoFile).
  if (!buffer_) buffer_ = std::make_unique<char[]>(encrypted_ ? kEncryptedBlock : kReceiveBlock);
  for (;;) {
    const ssize_t n = encrypted_ ? encrypted_->receive(buffer_.get(), count)
                                 : ::recv(socket_.fd(), buffer_.get(), count, 0);
    if (n > 0) {
      // Checked first, while the bytes just received are in the core's cache; a failed
      // write ends the file anyway.
      if (check) check->update(buffer_.get(), static_cast<std::size_t>(n));
      if (!writeAt(fileFd, buffer_.get(), static_cast<std::size_t>(n), position)) {
        return FileReceiveStatus::WriteFailed;
      }
      moved = static_cast<std::size_t>(n);
      return FileReceiveStatus::Ok;
    }
    if (n == 0) return FileReceiveStatus::Closed;
    if (errno == EINTR) continue;
    return failedWith(errno) ? FileReceiveStatus::TimedOut : FileReceiveStatus::ReceiveFailed;
  }
}

DataChannel::FileSendStatus DataChannel::sendFile(
    int fileFd, std::uint64_t offset, std::uint64_t count,
    const std::function<void(std::uint64_t)>& progress, ContentCheck* check) {
  if (encrypted_ || check) return sendFileByReading(fileFd, offset, count, progress, check);
  std::uint64_t sent = 0;
  while (sent < count) {
    auto position = static_cast<off_t>(offset + sent);
    const auto block =
        static_cast<std::size_t>(std::min<std::uint64_t>(count - sent, kSendFileBlock));
    const ssize_t n = ::sendfile(socket_.fd(), fileFd, &position, block);
    if (n > 0) {
      sent += static_cast<std::uint64_t>(n);
      progress(sent);
      continue;
    }
    if (n == 0) return FileSendStatus::FileShrank;
    if (errno == EINTR) continue;
    if ((errno == EINVAL || errno == ENOSYS) && sent == 0) {
      // A file system that cannot feed sendfile: read and send instead.
      return sendFileByReading(fileFd, offset, count, progress, nullptr);
    }
    if (failedWith(errno)) return FileSendStatus::TimedOut;
    return isSocketError(error_) ? FileSendStatus::SendFailed : FileSendStatus::ReadFailed;
  }
  return FileSendStatus::Done;
}

DataChannel::FileSendStatus DataChannel::sendFileByReading(
    int fileFd, std::uint64_t offset, std::uint64_t count,
    const std::function<void(std::uint64_t)>& progress, ContentCheck* check) {
  const std::size_t readBlock = encrypted_ ? kEncryptedBlock : kReadBlock;
  std::uint64_t sent = 0;
  // Feeds one piece to the check, sends it and counts it; false when sending failed.
  const auto sendPiece = [&](const char* data, std::size_t size) {
    if (check) check->update(data, size);
    if (!sendBlock(data, size)) return false;
    sent += size;
    progress(sent);
    return true;
  };
  const auto sendFailure = [&] {
    return timedOutAfter_ ? FileSendStatus::TimedOut : FileSendStatus::SendFailed;
  };
  if (encrypted_ && count >= kMapAtLeast) {
    // Encrypted from the cached pages themselves: a copy into a buffer first costs as much
    // as a fifth of the sending side's time. A piece read while the file was cut still
    // went out whole (its end as zeros) and is counted.
    MappedFileReader reader(fileFd, offset, count);
    while (const std::optional<std::span<const char>> piece = reader.next(readBlock)) {
      if (!sendPiece(piece->data(), piece->size())) return sendFailure();
    }
    if (reader.shrank()) return FileSendStatus::FileShrank;
    if (!reader.failed()) return FileSendStatus::Done;
    // A file that cannot be mapped is read from where the mapping stopped.
  }
  std::vector<char> buffer(readBlock);
  while (sent < count) {
    const auto block = static_cast<std::size_t>(std::min<std::uint64_t>(count - sent, readBlock));
    const ssize_t n = ::pread(fileFd, buffer.data(), block, static_cast<off_t>(offset + sent));
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return FileSendStatus::ReadFailed;
    }
    if (n == 0) return FileSendStatus::FileShrank;
    if (!sendPiece(buffer.data(), static_cast<std::size_t>(n))) return sendFailure();
  }
  return FileSendStatus::Done;
}

}  // namespace brisk
