#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "common/file_queue.h"
#include "common/frontend.h"
#include "platform/socket.h"

namespace brisk {

// How a receiving side opens a single offered file.
inline constexpr int kOpenModeNew = 1;     // save under the chosen name
inline constexpr int kOpenModeResume = 3;  // continue the chosen existing file

// One offer or transfer, known on both sides by its Index. Shared through shared_ptr by
// the slot table, the transfer thread and the progress thread; "releasing the record"
// means emptying its slot. Fields that several threads touch while the transfer runs are
// atomic; the others are filled before the threads that read them are started.
struct TransferRecord {
  // Progress: written by the transfer thread, read by the progress thread.
  std::atomic<std::uint64_t> fileSize{0};   // size of the file now being transferred
  std::atomic<std::uint64_t> fileDone{0};   // bytes of it done (restarts for each file)
  std::atomic<std::uint64_t> totalSize{0};  // bytes of the whole offer
  std::atomic<std::uint64_t> totalDone{0};  // bytes of finished files
  // Set by the transfer thread as its last step (markTransferEnded); the progress thread
  // then gives its verdict.
  std::atomic<bool> transferEnded{false};
  // Set by the transfer thread when this side's protocol ran to its end: the end record
  // sent after every file was acknowledged (sending side), or received after every file
  // got all the bytes its header announced (receiving side), with no error line, and
  // every offered item went through whole (none skipped, none missing). The counters
  // alone cannot tell: a transfer that never began has no bytes to miss.
  std::atomic<bool> protocolFinished{false};
  // Why the transfer fell short, when it did: the first cause noted stands, since what
  // follows a stop or a broken connection is its consequence. A stop still explains a
  // broken connection noted before it: the peer's STOP and the close of the data
  // connection travel on different connections and may arrive in either order.
  std::atomic<TransferCause> cause{TransferCause::Incomplete};
  void noteCause(TransferCause seen) {
    TransferCause expected = TransferCause::Incomplete;
    if (cause.compare_exchange_strong(expected, seen)) return;
    const bool stop = seen == TransferCause::StoppedHere || seen == TransferCause::StoppedByPeer;
    expected = TransferCause::ConnectionLost;
    if (stop) cause.compare_exchange_strong(expected, seen);
  }

  // Stands for the data connection towards other threads: Stop and a STOP message
  // interrupt it, which breaks the transfer thread's pending or next send or receive.
  SocketInterrupter dataSocket;

  int index = 0;
  IpAddress peerAddress;  // the address the control connection's peer has
  int dataPort = 0;
  TransferWindowId window = 0;
  // The offer folder (sending side) or the chosen save folder (receiving side).
  std::optional<std::filesystem::path> pathBuffer;
  FileQueue fileQueue;       // sending side: the top-level items still to send
  bool isConnector = false;  // this side connects the data connection; else it listens
  bool isSender = false;
  int fileCount = 0;                      // 1: one file; -1: one folder; 2 or more: that many items
  std::optional<std::string> saveAsName;  // receiving side, one file: the chosen name
  std::string itemName;  // the one file's or folder's name; empty for several items
  int openMode = 0;

  // The transfer thread's last step: sets transferEnded and wakes a waiting progress thread,
  // so that the verdict (and the slot's release) follows at once.
  void markTransferEnded() {
    {
      std::lock_guard lock(endMutex_);
      transferEnded = true;
    }
    endChanged_.notify_all();
  }
  // Waits at most `limit` for the transfer thread's end; true once it has ended.
  bool waitForTransferEnd(std::chrono::milliseconds limit) {
    std::unique_lock lock(endMutex_);
    return endChanged_.wait_for(lock, limit, [this] { return transferEnded.load(); });
  }

  // A listening transfer thread's data port listens (or could not be opened): the message
  // that names the port goes out only then, so the peer never knocks too early.
  void markListening() {
    {
      std::lock_guard lock(endMutex_);
      listening_ = true;
    }
    endChanged_.notify_all();
  }
  // Waits at most `limit` until the data port listens or the transfer thread has ended.
  void waitUntilListening(std::chrono::milliseconds limit) {
    std::unique_lock lock(endMutex_);
    endChanged_.wait_for(lock, limit, [this] { return listening_ || transferEnded.load(); });
  }

 private:
  std::mutex endMutex_;
  std::condition_variable endChanged_;
  bool listening_ = false;
};

}  // namespace brisk
