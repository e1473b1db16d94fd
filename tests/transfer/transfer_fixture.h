#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "common/notices.h"
#include "common/transfer_record.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"
#include "transfer/transfer_context.h"

namespace brisk::test {

// One side of a transfer: its front end, notices, record and transfer thread.
class TransferSide {
 public:
  TransferSide();
  ~TransferSide() { join(); }

  ScriptedFrontend frontend;
  Timing timing = fastTiming();
  std::atomic<bool> stopping{false};
  bool streamed = false;  // both peers agreed on streamed transfers
  std::shared_ptr<TransferRecord> record = std::make_shared<TransferRecord>();
  // Set for the data connection of an encrypted session.
  DataSessionStart secureData;

  // Prepares the record for sending `names` (items of `folder`) or for receiving into
  // `folder`. The data connection goes to or from 127.0.0.1:`port`.
  void offer(const std::filesystem::path& folder, const std::vector<std::string>& names, int port,
             bool connects);
  void accept(const std::filesystem::path& folder, int fileCount, std::uint64_t totalSize, int port,
              bool connects);

  void start();
  // Waits for the transfer thread to end; false when it did not within the limit.
  bool join(std::chrono::milliseconds limit = std::chrono::seconds(20));
  int result() const { return result_; }
  // Names shown as the file being transferred.
  std::vector<std::string> fileNames() const;

 private:
  std::unique_ptr<Notices> notices_;
  std::thread thread_;
  std::atomic<int> result_{-2};
};

// Every file and folder below `from` is below `to` with the same content, last write time
// and writability; symbolic links are not sent at all.
void expectSameTree(const std::filesystem::path& from, const std::filesystem::path& to);
// The attribute block of one file or folder as the offer stores it.
FileAttributeData attributesOf(const std::filesystem::path& path);
// The Unix last write time of a path, in nanoseconds.
std::int64_t lastWriteNanoseconds(const std::filesystem::path& path);
void setLastWrite(const std::filesystem::path& path, std::int64_t seconds);
bool isOwnerWritable(const std::filesystem::path& path);
// The GBK bytes of a UTF-8 text, for comparing wire bytes.
std::string gbk(std::string_view utf8);

}  // namespace brisk::test

namespace brisk::test {
// Waits until something listens on `port` (of every address), so that a connecting side
// started next does not come too early.
bool waitUntilListening(int port);
}  // namespace brisk::test
