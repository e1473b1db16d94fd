#include "transfer/transfer_fixture.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>

#include "common/file_queue.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "transfer/transfer_thread.h"

namespace brisk::test {

TransferSide::TransferSide() : notices_(std::make_unique<Notices>(frontend, timing)) {
  record->peerAddress = *IpAddress::parseDotted("127.0.0.1");
  record->window = frontend.openTransferWindow(TransferWindowSetup{});
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
    TransferContext context{frontend, *notices_, timing, [this] { return stopping.load(); }};
    context.streamed = streamed;
    context.secureData = secureData;
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

// Every file and folder below `from` is below `to` with the same content and last write
// time; symbolic links are not sent at all.
void expectSameTree(const std::filesystem::path& from, const std::filesystem::path& to) {
  namespace fs = std::filesystem;
  for (auto it = fs::recursive_directory_iterator(from); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path copy = to / fs::relative(it->path(), from);
    SCOPED_TRACE(copy);
    if (it->is_symlink()) {
      EXPECT_FALSE(fs::exists(fs::symlink_status(copy)));
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    ASSERT_TRUE(fs::exists(copy));
    EXPECT_EQ(it->is_directory(), fs::is_directory(copy));
    if (!it->is_directory()) {
      EXPECT_EQ(readFile(copy), readFile(it->path()));
    }
    EXPECT_EQ(lastWriteNanoseconds(copy) / 100, lastWriteNanoseconds(it->path()) / 100);
    EXPECT_EQ(isOwnerWritable(copy), isOwnerWritable(it->path()));
  }
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

bool waitUntilListening(int port) {
  return waitFor([port] { return isListening(port); });
}

}  // namespace brisk::test
