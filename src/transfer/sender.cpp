#include "transfer/sender.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "common/file_queue.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "transfer/data_records.h"

namespace brisk {

namespace {

// The longest answer taken in one piece; answers are short, this is the receive size the
// protocol's peers use.
constexpr std::size_t kAnswerCapacity = 61440;

// Where in the walk a send or receive happens; each place has its own notice.
struct Places {
  const char* header;
  const char* headerAnswer;
  const char* openFailureLine;
  const char* dataAnswer;
};
constexpr Places kTopLevelPlaces{kSendFailed8, kRecvFailed6, kSendFailed7, kRecvFailed7};
constexpr Places kInFolderPlaces{kSendFailed5, kRecvFailed3, kSendFailed4, kRecvFailed4};

// The length of an answer that begins `pending`. Answers are not pipelined, so an answer
// is all that one receive brings, except that a fixed record is waited for whole and an
// error line up to its NUL or the end of the connection (the peer closes right after it).
std::optional<std::size_t> answerLength(std::string_view pending) {
  switch (pending.front()) {
    case kErrorMarker:
      if (pending.find('\0') == std::string_view::npos) return std::nullopt;
      return pending.size();
    case kSkipMarker:
      if (pending.size() < kFixedRecordSize) return std::nullopt;
      return pending.size();
    default:
      return pending.size();
  }
}

// The peer's error line without its "| ", as the person reads it.
std::string peerText(std::string_view answer) {
  const std::string_view text = recordText(answer);
  return fromWire(text.substr(std::min<std::size_t>(2, text.size())));
}

class Sender {
 public:
  explicit Sender(const TransferSession& session)
      : session_(session), record_(session.record), channel_(session.channel) {}

  void run() {
    bool ok = true;
    // The transfer is complete only when every offered item went through whole; an item
    // skipped (here, or by the peer) leaves it incomplete, whatever the bytes say.
    bool everyItemWhole = true;
    while (ok && !record_.fileQueue.empty()) {
      // An item may lie in a folder of its own (a drop from several places); by default
      // it lies in the offer folder.
      const std::filesystem::path itemFolder = record_.fileQueue.front().folder;
      std::string name;
      FileAttributeData attributes;
      (void)fileQueuePop(record_.fileQueue, name, attributes);
      const std::filesystem::path folderPath = itemFolder.empty() ? session_.basePath : itemFolder;
      const std::filesystem::path fullPath = folderPath / name;
      skipped_ = false;
      if (attributes.isDirectory()) {
        ok = sendFolderRecord(name, attributes, kSendFailed2, kRecvFailed1) && walkFolder(fullPath);
      } else if (itemFolder.empty()) {
        ok = sendFile(session_.base, name, fullPath, &attributes, kTopLevelPlaces);
      } else {
        Directory folder;
        const int error = Directory::open(folderPath, folder);
        ok = error == 0 ? sendFile(folder, name, fullPath, &attributes, kTopLevelPlaces)
                        : skipUnopenedFile(fullPath, error, kTopLevelPlaces);
      }
      if (!attributes.isDirectory() && skipped_) everyItemWhole = false;
    }
    if (!ok) return;
    if (!channel_.send(fixedRecord(kEndText))) {
      sendFailure(kSendFailed9);
      return;
    }
    record_.protocolFinished = everyItemWhole;
  }

 private:
  // One open folder of the walk. Only its own name is kept, so memory grows with the
  // depth, not with its square; full paths are built for the texts the person reads.
  struct Level {
    Directory directory;
    DirectoryReader reader;
    std::string name;
  };

  // The full path of the innermost open folder; built once per folder entered or left,
  // not once per file.
  static std::filesystem::path pathOf(const std::filesystem::path& top,
                                      const std::vector<Level>& levels) {
    std::filesystem::path path = top;
    for (std::size_t at = 1; at < levels.size(); ++at) path /= levels[at].name;
    return path;
  }

  void sendFailure(const char* place) { session_.sendNotice(place); }

  // Receives the answer to what was just sent. False after a failure, which is shown.
  bool receiveAnswer(const char* place, std::string& answer) {
    channel_.discardPending();
    const DataChannel::Status status = channel_.readMessage(answerLength, kAnswerCapacity, answer,
                                                            session_.context.timing.idleDataLimit);
    if (status == DataChannel::Status::Ok) return true;
    session_.channelNotice(place, status);
    return false;
  }

  // Receives an acknowledgement, which is anything but an error line.
  bool receiveAcknowledgement(const char* place) {
    std::string answer;
    if (!receiveAnswer(place, answer)) return false;
    if (answer.front() != kErrorMarker) return true;
    session_.joinedNotice(peerText(answer), "对方");
    return false;
  }

  bool sendFolderRecord(const std::string& name, const FileAttributeData& attributes,
                        const char* sendPlace, const char* answerPlace) {
    if (!channel_.send(folderRecord(toWire(name), attributes))) {
      sendFailure(sendPlace);
      return false;
    }
    return receiveAcknowledgement(answerPlace);
  }

  bool sendUpward() {
    if (!channel_.send(kUpwardRecord)) {
      sendFailure(kSendFailed6);
      return false;
    }
    return receiveAcknowledgement(kRecvFailed5);
  }

  // Walks the folder whose record has just been acknowledged, depth first, with an
  // upward record after each folder's entries. A folder that cannot be listed is sent
  // as empty; one deeper than kMaxFolderDepth ends the transfer with an error line.
  bool walkFolder(const std::filesystem::path& folderPath) {
    std::vector<Level> levels;
    Level top;
    // The offered folder itself may be reached through a link the person chose.
    if (Directory::open(folderPath, top.directory) == 0) {
      (void)DirectoryReader::open(top.directory, top.reader);
    }
    levels.push_back(std::move(top));
    std::filesystem::path levelPath = folderPath;
    while (!levels.empty()) {
      const std::optional<DirectoryEntry> entry = levels.back().reader.next();
      if (!entry) {
        levels.pop_back();
        levelPath = pathOf(folderPath, levels);
        if (!sendUpward()) return false;
        continue;
      }
      const Directory& folder = levels.back().directory;
      if (entry->isFolder) {
        if (levels.size() >= kMaxFolderDepth) {
          refuseTooDeep(levelPath / entry->name, entry->name);
          return false;
        }
        FileAttributeData attributes;
        attributes.attributes = kAttributeDirectory;
        if (const int error = readAttributeDataAt(folder.fd(), entry->name, false, attributes)) {
          session_.errorNotice(kGetFileAttributesExFailed2, error);
        }
        if (!sendFolderRecord(entry->name, attributes, kSendFailed3, kRecvFailed2)) {
          return false;
        }
        Level sub;
        sub.name = entry->name;
        if (folder.openFolder(entry->name, sub.directory) == 0) {
          (void)DirectoryReader::open(sub.directory, sub.reader);
        }
        levels.push_back(std::move(sub));
        levelPath /= entry->name;
      } else if (!sendFile(folder, entry->name, levelPath / entry->name, nullptr,
                           kInFolderPlaces)) {
        return false;
      }
    }
    return true;
  }

  // What the receiving side said to a file's header.
  enum class Reply { Send, Skip, End };
  // Where the data starts, and whether the acknowledgement that follows the data came
  // along with the answer already (nothing was due).
  struct GoAhead {
    std::uint64_t offset = 0;
    bool acknowledged = false;
  };

  // Sends one file: header, the receiving side's answer, the data from the agreed offset
  // and the acknowledgement after it. An item of the offer (`offered`) goes with the times
  // and attribute bits it was offered with; a file met in a folder's walk with those it has
  // now. True when the transfer goes on (the file was sent or skipped).
  bool sendFile(const Directory& folder, const std::string& name,
                const std::filesystem::path& fullPath, const FileAttributeData* offered,
                const Places& places) {
    session_.showFileName(fullPath);
    FileDescriptor file;
    FileAttributeData current;
    if (const int error = folder.openFileForReading(name, file, current)) {
      if (offered == nullptr) showUnreadableAttributes(folder, name);
      return skipUnopenedFile(fullPath, error, places);
    }
    // The header's size is always the file's own; an offered item's attribute block is
    // the one taken when it was offered, size included.
    const std::uint64_t size = current.size;
    record_.fileSize = size;
    GoAhead goAhead;
    switch (offerFile(name, size, offered != nullptr ? *offered : current, places, goAhead)) {
      case Reply::Send:
        break;
      case Reply::Skip:
        skipped_ = true;
        return true;
      case Reply::End:
        return false;
    }
    if (goAhead.offset > size) {
      refusePastEnd(name, fullPath, size, goAhead.offset);
      return false;
    }
    return sendContents(file, fullPath, size, goAhead, places);
  }

  // A file of a folder that could not be opened gets the diagnostic of its attributes
  // too when they cannot be read either (it went away since the folder was listed).
  void showUnreadableAttributes(const Directory& folder, const std::string& name) {
    FileAttributeData ignored;
    if (const int error = readAttributeDataAt(folder.fd(), name, true, ignored)) {
      session_.errorNotice(kGetFileAttributesExFailed3, error);
    }
  }

  // Sends the file's header and reads the answer: send from `goAhead`, skip the file, or
  // end the transfer (shown).
  Reply offerFile(const std::string& name, std::uint64_t size, const FileAttributeData& attributes,
                  const Places& places, GoAhead& goAhead) {
    if (!channel_.send(fileHeader(toWire(name), size, attributes))) {
      sendFailure(places.header);
      return Reply::End;
    }
    std::string answer;
    if (!receiveAnswer(places.headerAnswer, answer)) return Reply::End;
    switch (answer.front()) {
      case kErrorMarker:
        session_.showRefusal(answer);
        return Reply::End;
      case kSkipMarker:
        return Reply::Skip;
      case kGoAheadMarker:
        if (const auto parsed = parseGoAhead(answer)) {
          goAhead.offset = *parsed;
          goAhead.acknowledged = size > 0 && goAhead.offset >= size &&
                                 acknowledgementCameAlong(answer, size, goAhead.offset);
          return Reply::Send;
        }
        [[fallthrough]];
      default:
        session_.errorNotice(kNoGoAhead, 0);
        return Reply::End;
    }
  }

  // Sends the data from `offset` on and waits for the acknowledgement that says the bytes
  // are on the receiving side's disk; only then does the file count as done.
  bool sendContents(FileDescriptor& file, const std::filesystem::path& fullPath, std::uint64_t size,
                    const GoAhead& goAhead, const Places& places) {
    record_.fileDone = goAhead.offset;
    const bool sent =
        goAhead.offset >= size || sendData(file.get(), fullPath, goAhead.offset, size);
    file.close();
    if (!sent) return false;
    if (size > 0 && !goAhead.acknowledged && !receiveAcknowledgement(places.dataAnswer)) {
      return false;
    }
    if (record_.fileCount != 1 && record_.fileDone == size) {
      record_.totalDone += size;
      record_.fileDone = 0;
    }
    return true;
  }

  // A receiving side that holds the whole file already answers "+N" and, with no data to
  // wait for, its acknowledgement "0" right after it; one receive may bring both as
  // "+N0". When the digits can be read both ways, the acknowledgement is waited for a
  // moment: if nothing comes, it was the last digit, and `offset` is corrected.
  bool acknowledgementCameAlong(std::string_view answer, std::uint64_t size,
                                std::uint64_t& offset) {
    const std::string_view text = recordText(answer);
    if (text.size() < 3 || text.back() != kAcknowledgement.front()) return false;
    const std::optional<std::uint64_t> shorter = parseGoAhead(text.substr(0, text.size() - 1));
    if (!shorter || *shorter < size) return false;
    if (channel_.waitReadable(session_.context.timing.acknowledgementWait)) return false;
    offset = *shorter;
    return true;
  }

  bool sendData(int file, const std::filesystem::path& fullPath, std::uint64_t offset,
                std::uint64_t size) {
    const auto status = channel_.sendFile(
        file, offset, size - offset, [&](std::uint64_t sent) { record_.fileDone = offset + sent; });
    switch (status) {
      case DataChannel::FileSendStatus::Done:
        return true;
      case DataChannel::FileSendStatus::FileShrank:
        record_.noteCause(TransferCause::LocalDisk);
        // The peer still waits for bytes that will never come; closing ends its side.
        session_.notice("读取文件失败：\r\n" + fullPath.string() +
                        "\r\n文件在发送过程中变短了，传送已中止。");
        return false;
      case DataChannel::FileSendStatus::ReadFailed:
        record_.noteCause(TransferCause::LocalDisk);
        session_.errorNotice(kReadFileFailed, channel_.error());
        return false;
      case DataChannel::FileSendStatus::SendFailed:
        if (!channel_.stopRequested()) record_.noteCause(TransferCause::ConnectionLost);
        session_.failureNotice("传送文件连接中断：\r\n");
        return false;
      case DataChannel::FileSendStatus::TimedOut:
        session_.idleNotice();
        return false;
    }
    return false;
  }

  // The peer asked for the data from beyond the file's end (its own copy is longer): no
  // byte of this file would be sent, yet both sides would count it as done. The peer is
  // told and the transfer ends.
  void refusePastEnd(const std::string& name, const std::filesystem::path& fullPath,
                     std::uint64_t size, std::uint64_t offset) {
    if (!channel_.send(toWire(kResumePastEndLine + name))) sendFailure(kSendFailed19);
    session_.notice(std::string(kResumePastEndLine).substr(2) + fullPath.string() +
                    "\r\n对方要求从第 " + std::to_string(offset) + " 字节续传，文件只有 " +
                    std::to_string(size) + " 字节。");
  }

  // A folder nested deeper than either side goes: the peer is told and the transfer ends.
  void refuseTooDeep(const std::filesystem::path& fullPath, const std::string& name) {
    if (!channel_.send(toWire(kTooDeepLine + name))) sendFailure(kSendFailed3);
    session_.notice(std::string(kTooDeepLine).substr(2) + fullPath.string());
  }

  // A file that cannot be opened: the person may skip it (nothing is sent for it) or end
  // the transfer, which tells the peer why.
  bool skipUnopenedFile(const std::filesystem::path& fullPath, int error, const Places& places) {
    std::string line;
    if (session_.skipUnreadable(fullPath, error, line)) {
      skipped_ = true;
      return true;
    }
    if (!line.empty() && !channel_.send(toWire(line))) sendFailure(places.openFailureLine);
    return false;
  }

  const TransferSession& session_;
  TransferRecord& record_;
  DataChannel& channel_;
  bool skipped_ = false;  // the last file was skipped, not sent
};

}  // namespace

void runSender(const TransferSession& session) {
  Sender(session).run();
}

}  // namespace brisk
