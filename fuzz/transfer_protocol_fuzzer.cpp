// One side of a data connection run for real against bytes a hostile peer sends: the
// receiving side (records and file data) or the sending side (answers), of the plain
// protocol or of a streamed transfer (manifest and data frames, or the plan, checks and
// confirmations). The peer's bytes
// wait in a socket pair, ended by a close, so a run is repeatable. Whatever comes, the
// receiving side creates nothing outside its save folder and writes nothing through the
// symbolic links placed in it.

#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/file_queue.h"
#include "common/notices.h"
#include "fuzz_frontend.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "transfer/data_channel.h"
#include "transfer/receiver.h"
#include "transfer/sender.h"
#include "transfer/stream_receiver.h"
#include "transfer/stream_sender.h"
#include "transfer/transfer_session.h"

namespace {

using namespace brisk;
namespace fs = std::filesystem;

void check(bool condition) {
  if (!condition) std::abort();
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The sandbox: save/ with links to outside/, outside/ with one file, offer/ with a file
// and a folder to send.
struct Sandbox {
  fs::path root = fuzz::scratchFolder("transfer_protocol_fuzzer");
  fs::path save = root / "save";
  fs::path outside = root / "outside";
  fs::path offer = root / "offer";

  Sandbox() {
    fs::create_directories(outside);
    writeFile(outside / "victim", "keep");
    fs::create_directories(offer / "dir");
    writeFile(offer / "a.txt", "0123456789");
    writeFile(offer / "dir/b.txt", "abcde");
    writeFile(offer / "dir/c", "");
    resetSaveFolder();
  }

  void resetSaveFolder() const {
    fs::remove_all(save);
    fs::create_directories(save);
    writeFile(save / "part.bin", "01234");
    fs::create_symlink(outside / "victim", save / "link");
    fs::create_symlink(outside, save / "linkdir");
    fs::create_symlink(root / "nothing", save / "dangling");
    fs::create_symlink("..", save / "up");
  }

  void checkOutsideUntouched() const {
    check(readFile(outside / "victim") == "keep");
    check(std::distance(fs::directory_iterator(outside), fs::directory_iterator()) == 1);
    check(std::distance(fs::directory_iterator(root), fs::directory_iterator()) == 3);
    check(!fs::exists(root / "nothing"));
  }
};

void queueOffer(const Sandbox& sandbox, TransferRecord& record) {
  for (const char* name : {"a.txt", "dir"}) {
    FileAttributeData data;
    check(readAttributeData(sandbox.offer / name, data) == 0);
    fileQueuePush(record.fileQueue, name, data);
  }
  record.isSender = true;
  record.fileCount = 2;
  record.totalSize = 15;
}

void prepareReceiving(fuzz::FuzzFrontend& answers, TransferRecord& record) {
  constexpr int kFileCounts[] = {1, -1, 2};
  record.fileCount = kFileCounts[answers.pick(3)];
  if (record.fileCount == 1) {
    const unsigned choice = answers.pick(3);
    if (choice == 1) record.saveAsName = "chosen.bin";
    if (choice == 2) {
      record.saveAsName = "part.bin";
      record.openMode = kOpenModeResume;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Sandbox sandbox;
  if (size == 0 || size > 65536) return -1;
  const bool sending = (data[0] & 1) != 0;
  const bool streamed = (data[0] & 2) != 0;
  const std::string_view peerBytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  int ends[2];
  check(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0);
  Socket peer(ends[0]);
  // Everything the peer says is there at once, then it closes its sending direction.
  check(peer.sendAll(peerBytes) == static_cast<ssize_t>(peerBytes.size()));
  ::shutdown(peer.fd(), SHUT_WR);

  fuzz::FuzzFrontend frontend(fuzz::seedOf(data, size));
  Timing timing;
  timing.noticePause = Timing::ms(0);
  const Notices notices(frontend, timing);
  TransferContext context{frontend, notices, timing, {}};
  context.streamed = streamed;
  TransferRecord record;
  record.window = 1;
  if (sending) {
    queueOffer(sandbox, record);
  } else {
    sandbox.resetSaveFolder();
    prepareReceiving(frontend, record);
  }
  const fs::path& folder = sending ? sandbox.offer : sandbox.save;
  Directory base;
  check(Directory::open(folder, base) == 0);
  DataChannel channel(Socket(ends[1]), record.dataSocket, {}, timing);
  const TransferSession session{context, record, channel, base, folder};
  if (channel.arm()) {
    if (sending && streamed) {
      runStreamSender(session);
    } else if (streamed) {
      runStreamReceiver(session);
    } else if (sending) {
      runSender(session);
    } else {
      runReceiver(session);
    }
  }
  channel.close();
  fileQueueClear(record.fileQueue);
  sandbox.checkOutsideUntouched();
  return 0;
}
