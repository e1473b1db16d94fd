// Moves a large file and a tree of many small files between two transfer threads over
// loopback, and the same bytes through a plain TCP stream (socat; tar through socat for
// the tree), and prints the throughput of each, their ratio and the peak resident memory.
//
//   transfer_bench WORK_FOLDER [FILE_MIB] [TREE_FILES]
//
// The work folder receives the test data (FILE_MIB MiB plus TREE_FILES files of 4 KiB,
// twice over); it is emptied at the start and at the end.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "bench/quiet_frontend.h"
#include "common/notices.h"
#include "platform/file_system.h"
#include "transfer/transfer_thread.h"

namespace fs = std::filesystem;
using brisk::bench::QuietFrontend;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void makeFile(const fs::path& path, std::uint64_t bytes) {
  std::mt19937_64 random(42);
  std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
  std::ofstream out(path, std::ios::binary);
  for (std::uint64_t written = 0; written < bytes;) {
    for (auto& word : block) word = random();
    const std::uint64_t size = std::min<std::uint64_t>(bytes - written, block.size() * 8);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(size));
    written += size;
  }
}

void makeTree(const fs::path& root, int files) {
  std::string content(4096, '\0');
  std::mt19937 random(7);
  for (int i = 0; i < files; ++i) {
    const fs::path folder = root / ("d" + std::to_string(i / 100));
    fs::create_directories(folder);
    for (char& c : content) c = static_cast<char>(random());
    std::ofstream(folder / ("f" + std::to_string(i) + ".bin"), std::ios::binary)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
  }
}

int freePort() {
  static int next = 41000 + static_cast<int>(::getpid() % 1000) * 10;
  next += 5;
  return next;
}

// One transfer between two transfer threads in this process; returns the seconds it took.
// `streamed`: as between two peers that agreed on streamed, checked transfers; an
// existing file is then resumed (its part on disk checked) rather than sent again.
double transferBetweenThreads(const fs::path& item, const fs::path& saveFolder, int fileCount,
                              bool streamed = false) {
  QuietFrontend frontend;
  if (streamed) frontend.existsAnswer = brisk::FileExistsAnswer::Resume;
  brisk::Timing timing;
  const brisk::Notices notices(frontend, timing);
  brisk::TransferContext context{frontend, notices, timing, {}};
  context.streamed = streamed;
  const int port = freePort();

  auto sender = std::make_shared<brisk::TransferRecord>();
  brisk::FileAttributeData attributes;
  if (brisk::readAttributeData(item, attributes) != 0) std::abort();
  brisk::fileQueuePush(sender->fileQueue, item.filename().string(), attributes);
  sender->pathBuffer = item.parent_path();
  sender->isSender = true;
  sender->isConnector = false;
  sender->fileCount = fileCount;
  sender->dataPort = port;
  sender->peerAddress = brisk::IpAddress::fromIpv4(0x7F000001);

  auto receiver = std::make_shared<brisk::TransferRecord>();
  receiver->pathBuffer = saveFolder;
  receiver->isConnector = true;
  receiver->fileCount = fileCount;
  receiver->dataPort = port;
  receiver->peerAddress = brisk::IpAddress::fromIpv4(0x7F000001);

  const auto start = Clock::now();
  std::thread sending([&] { brisk::transferThread(context, sender); });
  std::thread receiving([&] { brisk::transferThread(context, receiver); });
  sending.join();
  receiving.join();
  return secondsSince(start);
}

double runShell(const std::string& command) {
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return secondsSince(start);
}

// The same bytes through a plain TCP stream: a socat listener writing to `target`, a socat
// sender reading from `source` (both socat addresses), with large blocks.
double plainStream(const std::string& source, const std::string& target) {
  const int port = freePort();
  const std::string receiver = "socat -u -b 1048576 TCP-LISTEN:" + std::to_string(port) +
                               ",reuseaddr,bind=127.0.0.1 " + target;
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/bin/sh", "sh", "-c", receiver.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  // socat retries the connect until the listener is up.
  runShell("socat -u -b 1048576 " + source + " TCP:127.0.0.1:" + std::to_string(port) +
           ",retry=100,interval=0.01");
  int status = 0;
  ::waitpid(child, &status, 0);
  return secondsSince(start);
}

long peakResidentKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void report(const char* what, double bytes, double ours, double plain) {
  std::printf("%-28s brisk %8.1f MiB/s   plain %8.1f MiB/s   ratio %.2f\n", what,
              bytes / ours / (1 << 20), bytes / plain / (1 << 20), plain / ours);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: transfer_bench WORK_FOLDER [FILE_MIB] [TREE_FILES]\n");
    return 2;
  }
  const fs::path work = argv[1];
  const std::uint64_t fileMiB = argc > 2 ? std::stoull(argv[2]) : 2048;
  const int treeFiles = argc > 3 ? std::stoi(argv[3]) : 10000;
  fs::remove_all(work);
  fs::create_directories(work / "source");

  const fs::path big = work / "source" / "big.bin";
  makeFile(big, fileMiB << 20);
  makeTree(work / "source" / "tree", treeFiles);
  // Read both once so that every run starts from the page cache.
  runShell("cat '" + big.string() + "' > /dev/null; tar cf - -C '" + (work / "source").string() +
           "' tree > /dev/null");

  const double bigBytes = static_cast<double>(fileMiB << 20);
  fs::create_directories(work / "brisk");
  const double oursBig = transferBetweenThreads(big, work / "brisk", 1);
  const double plainBig = plainStream("OPEN:'" + big.string() + "'",
                                      "OPEN:'" + (work / "plain.bin").string() + "',creat,trunc");
  if (fs::file_size(work / "brisk" / "big.bin") != fileMiB << 20) {
    std::fprintf(stderr, "the large file did not arrive whole\n");
    return 1;
  }
  fs::remove(work / "plain.bin");
  // The file is whole on disk now: a resume of it checks every byte on both sides and
  // moves none, which is what resuming a large partial file costs before any data.
  const double resumeCheck = transferBetweenThreads(big, work / "brisk", 1, true);
  fs::remove(work / "brisk" / "big.bin");
  const double streamedBig = transferBetweenThreads(big, work / "brisk", 1, true);
  fs::remove(work / "brisk" / "big.bin");

  const double treeBytes = static_cast<double>(treeFiles) * 4096;
  const double oursTree = transferBetweenThreads(work / "source" / "tree", work / "brisk", -1);
  fs::create_directories(work / "streamed");
  const double streamedTree =
      transferBetweenThreads(work / "source" / "tree", work / "streamed", -1, true);
  fs::create_directories(work / "plain-tree");
  const double plainTree =
      plainStream("SYSTEM:'tar cf - -C " + (work / "source").string() + " tree'",
                  "SYSTEM:'tar xf - -C " + (work / "plain-tree").string() + "'");

  std::printf("large file: %llu MiB, tree: %d files of 4 KiB\n",
              static_cast<unsigned long long>(fileMiB), treeFiles);
  report("large file", bigBytes, oursBig, plainBig);
  report("tree of small files", treeBytes, oursTree, plainTree);
  report("large file, streamed+checked", bigBytes, streamedBig, plainBig);
  report("tree, streamed+checked", treeBytes, streamedTree, plainTree);
  std::printf("streamed+checked large file against plain brisk: %.2f\n", oursBig / streamedBig);
  std::printf("resume check of the whole large file (both sides hash it): %.2f s\n", resumeCheck);
  std::printf("peak resident memory of both transfer threads: %.1f MiB\n",
              static_cast<double>(peakResidentKiB()) / 1024);
  fs::remove_all(work);
  return 0;
}
