#include "transfer/transfer_fixture.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "offer/file_queue.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "transfer/transfer_thread.h"

namespace brisk::test {

namespace {

sockaddr_in loopback(int port, const char* address = "127.0.0.1") {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, address, &sa.sin_addr);
  return sa;
}

bool waitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd pfd{fd, POLLIN, 0};
  return ::poll(&pfd, 1, static_cast<int>(left.count())) > 0;
}

}  // namespace

RawPeer& RawPeer::operator=(RawPeer&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

RawPeer RawPeer::connectTo(int port, const char* fromAddress) {
  const auto deadline = std::chrono::steady_clock::now() + kWireLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fromAddress) {
      const sockaddr_in from = loopback(0, fromAddress);
      if (::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
        ::close(fd);
        return RawPeer();
      }
    }
    const sockaddr_in to = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return RawPeer(fd);
    ::close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return RawPeer();
}

RawPeer RawPeer::listenOn(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const sockaddr_in sa = loopback(port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 2) != 0) {
    ::close(fd);
    return RawPeer();
  }
  return RawPeer(fd);
}

RawPeer RawPeer::accept() {
  if (!waitReadable(fd_, std::chrono::steady_clock::now() + kWireLimit)) return RawPeer();
  return RawPeer(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
}

void RawPeer::send(std::string_view bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

std::string RawPeer::read(std::size_t count, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string bytes;
  while (bytes.size() < count && waitReadable(fd_, deadline)) {
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

std::string RawPeer::readToEnd(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string bytes;
  while (waitReadable(fd_, deadline)) {
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

bool RawPeer::closedByPeer(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (waitReadable(fd_, deadline)) {
    char buffer[65536];
    if (::recv(fd_, buffer, sizeof buffer, 0) <= 0) return true;
  }
  return false;
}

void RawPeer::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

TransferSide::TransferSide() : notices_(std::make_unique<Notices>(frontend, timing)) {
  record->peerAddress = *Ipv4Address::parseDotted("127.0.0.1");
  record->window = frontend.openTransferWindow(TransferWindowSpec{});
}

void TransferSide::offer(const std::filesystem::path& folder, const std::vector<std::string>& names,
                         int port, bool connects) {
  record->isSender = true;
  record->isConnector = connects;
  record->dataPort = port;
  record->pathBuffer = folder;
  record->fileCount = names.size() == 1 ? (attributesOf(folder / names[0]).isDirectory() ? -1 : 1)
                                        : static_cast<int>(names.size());
  std::uint64_t total = 0;
  for (const auto& name : names) {
    const FileAttributeData data = attributesOf(folder / name);
    total += data.isDirectory() ? folderSize(folder / name) : data.size;
    fileQueuePush(record->fileQueue, name, data);
  }
  record->totalSize = total;
}

void TransferSide::accept(const std::filesystem::path& folder, int fileCount,
                          std::uint64_t totalSize, int port, bool connects) {
  record->isSender = false;
  record->isConnector = connects;
  record->dataPort = port;
  record->pathBuffer = folder;
  record->fileCount = fileCount;
  record->totalSize = totalSize;
}

void TransferSide::start() {
  thread_ = std::thread([this] {
    const TransferContext context{frontend, *notices_, timing, [this] { return stopping.load(); }};
    result_ = transferThread(context, record);
  });
}

bool TransferSide::join(std::chrono::milliseconds limit) {
  if (!thread_.joinable()) return true;
  if (!waitFor([this] { return record->transferEnded.load(); }, limit)) {
    // Do not leave a thread blocked on the network behind.
    record->dataSocket.interrupt();
    thread_.join();
    return false;
  }
  thread_.join();
  return true;
}

std::vector<std::string> TransferSide::fileNames() const {
  return frontend.transferWindow(record->window).fileNames;
}

FileAttributeData attributesOf(const std::filesystem::path& path) {
  FileAttributeData data;
  EXPECT_EQ(readAttributeData(path, data), 0) << path;
  return data;
}

std::int64_t lastWriteNanoseconds(const std::filesystem::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return -1;
  return static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
}

void setLastWrite(const std::filesystem::path& path, std::int64_t seconds) {
  const timespec times[2] = {{seconds - 100, 0}, {seconds, 123456700}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

bool isOwnerWritable(const std::filesystem::path& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && (status.st_mode & S_IWUSR) != 0;
}

std::string gbk(std::string_view utf8) {
  return toWire(utf8);
}

}  // namespace brisk::test

namespace brisk::test {

bool waitUntilListening(int port) {
  // A listening socket on every address shows in the kernel's table as 00000000:port in
  // state 0A.
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "00000000:%04X", port);
  return waitFor([&wanted] {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (local == wanted && state == "0A") return true;
    }
    return false;
  });
}

}  // namespace brisk::test
