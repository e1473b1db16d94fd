#include "transfer/receiver.h"

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "platform/file_system.h"
#include "platform/space_reservation.h"
#include "platform/text_codec.h"
#include "transfer/data_records.h"
#include "transfer/file_exists.h"

namespace brisk {

namespace {

const std::string kClosedEarlyText = "传送文件连接中断：\r\n对方在传送结束前关闭了连接。";
const std::string kLeftWhileAskedText =
    "传送文件连接中断：\r\n对方没有等到回答就关闭了连接，文件保持原样：\r\n";

class Receiver {
 public:
  explicit Receiver(const TransferSession& session)
      : session_(session),
        record_(session.record),
        channel_(session.channel),
        decision_(session.context.frontend),
        folderPath_(session.basePath) {}

  void run() {
    // A peer that connects and then sends nothing must not hold the transfer (and its
    // Index): the first record is due within the accept limit, every later one within the
    // idle limit.
    std::chrono::milliseconds limit = session_.context.timing.acceptLimit;
    for (;;) {
      std::string received;
      const DataChannel::Status status =
          channel_.readMessage(completeRecordLength, kMaxRecordSize, received, limit);
      limit = session_.context.timing.idleDataLimit;
      if (status == DataChannel::Status::Closed) {
        reportEarlyClose();  // the end record would have ended the loop
        return;
      }
      if (status != DataChannel::Status::Ok) {
        session_.channelNotice(kRecvFailed8, status);
        return;
      }
      bool goOn = false;
      switch (received.front()) {
        case kErrorMarker:
          showPeerError(received);
          return;
        case kFolderMarker:
          goOn = enterFolder(received);
          break;
        case kUpwardMarker:
          goOn = leaveFolder();
          break;
        case kFileMarker:
          goOn = receiveFile(received);
          break;
        default:
          refuseMalformed(received);
          return;
      }
      if (!goOn) return;
    }
  }

 private:
  // A folder received and entered: its attribute block is applied when it is complete,
  // since every entry created in it changes its times. Only its own name is kept, so
  // memory grows with the depth, not with its square.
  struct OpenFolder {
    Directory directory;
    FileAttributeData attributes;
    std::string name;
  };

  // Whether what arrived is what was offered: as many items whole at the top of the save
  // folder as the offer counts (a single file must be a file, a single folder a folder).
  // A sender that sends its end record at once has delivered nothing of its offer.
  bool offeredItemsArrived() const {
    return itemsWhole_ == (record_.fileCount == -1 ? 1 : record_.fileCount);
  }

  const Directory& currentFolder() const {
    return folders_.empty() ? session_.base : folders_.back().directory;
  }
  // The full path of `name` in the current folder, for the texts the person reads.
  std::filesystem::path pathOf(const std::string& name) const { return folderPath_ / name; }
  // Builds the current folder's path once per folder entered or left, not once per file.
  void refreshFolderPath() {
    folderPath_ = session_.basePath;
    for (const OpenFolder& folder : folders_) folderPath_ /= folder.name;
  }

  // Sends `bytes`; a failure shows the place's notice.
  bool send(std::string_view bytes, const char* place) {
    if (channel_.send(bytes)) return true;
    session_.sendNotice(place);
    return false;
  }

  // The sending side closed the connection before its end record: the transfer is cut
  // off, which the verdict shows; the notice says why, unless the peer stopped it.
  void reportEarlyClose() {
    if (channel_.stopFollows()) return;
    record_.noteCause(TransferCause::ConnectionLost);
    session_.notice(kClosedEarlyText);
  }

  // Gives up on the transfer with an error line to the peer and the same text here.
  void giveUp(const std::string& line, const char* place, const std::string& localPrefix) {
    (void)send(toWire(line), place);
    if (localPrefix.empty()) {
      session_.notice(line.substr(2));
    } else {
      session_.joinedNotice(localPrefix, line.substr(2));
    }
  }

  void showPeerError(std::string_view received) {
    // The end record and the sender's own failures show nothing here: the sender has
    // shown them already.
    const std::string_view text = recordText(received);
    if (text == kEndText) record_.protocolFinished = offeredItemsArrived();
    if (text != kEndText) record_.noteCause(TransferCause::PeerFailed);
    if (text.find(kCreateFileFailedKey) == std::string_view::npos) return;
    session_.joinedNotice("对方打开文件失败：",
                          fromWire(text.substr(std::min<std::size_t>(2, text.size()))));
  }

  // A record that is not one, or that names something that must not be created here.
  void refuseMalformed(std::string_view received) {
    const std::string_view text = recordText(received);
    std::string wire = toWire(kMalformedLine);
    wire += text;
    (void)send(wire, kSendFailed13);
    session_.notice(std::string(kMalformedLine).substr(2) + fromWire(text));
  }

  bool enterFolder(std::string_view received) {
    const std::optional<FolderRecord> folder = parseFolderRecord(received);
    if (!folder) {
      session_.joinedNotice("Can not find \\r\\nFileAttr:\r\n", fromWire(recordText(received)));
      return false;
    }
    if (!isValidReceivedWireName(folder->wireName)) {
      refuseMalformed(received);
      return false;
    }
    const std::string name = fromWire(folder->wireName);
    if (folders_.size() >= kMaxFolderDepth) {
      giveUp(kTooDeepLine + name, kSendFailed10, "本地创建打开目录失败：");
      return false;
    }
    OpenFolder opened;
    opened.name = name;
    opened.attributes = folder->attributes;
    int error = currentFolder().createFolder(name);
    if (error == 0 || error == EEXIST) {
      // A folder that is already there (an interrupted folder transfer sent again) is
      // entered, so that its files meet the existing-file question. A file or a symbolic
      // link of that name is never entered and keeps the "exists" error.
      const int opening = currentFolder().openFolder(name, opened.directory);
      if (opening != 0 && error == 0) error = opening;
      if (opening == 0) error = 0;
    }
    if (error != 0) {
      std::string line = kCreateDirectoryFailedLine + pathOf(name).string();
      appendErrorText(error, line);
      giveUp(line, kSendFailed10, "本地创建打开目录失败：");
      return false;
    }
    folders_.push_back(std::move(opened));
    refreshFolderPath();
    return send(kAcknowledgement, kSendFailed11);
  }

  bool leaveFolder() {
    // An offered folder is whole once its upward record comes (what is missing inside it
    // shows in the bytes).
    if (folders_.size() == 1 && record_.fileCount != 1) ++itemsWhole_;
    if (!folders_.empty()) {
      const OpenFolder& folder = folders_.back();
      // Only the times: the read-only bit of a folder marks a customised folder on the
      // systems the protocol comes from, not write protection, so folders stay writable.
      if (applyFileTimes(folder.directory.fd(), folder.attributes) != 0) {
        session_.notice(kSetFileTimeFailed);
      }
      folders_.pop_back();
      refreshFolderPath();
    }
    return send(kAcknowledgement, kSendFailed12);
  }

  void applyAttributes(int fd, const FileAttributeData& attributes) {
    if (applyFileTimes(fd, attributes) != 0) session_.notice(kSetFileTimeFailed);
    if (applyReadOnly(fd, attributes) != 0) session_.notice(kSetFileAttributesFailed);
  }

  // One file: its header, the file opened here (or skipped), its data and the
  // acknowledgement after it. False when the transfer ends.
  bool receiveFile(std::string_view received) {
    std::string name;
    const std::optional<FileHeader> header = takeHeader(received, name);
    if (!header) return false;
    const std::filesystem::path fullPath = pathOf(name);
    session_.showFileName(fullPath);
    FileDescriptor file;
    std::uint64_t offset = 0;
    switch (openTarget(name, fullPath, file, offset)) {
      case Target::Opened:
        break;
      case Target::Skipped:
        return true;
      case Target::End:
        return false;
    }
    if (offset > header->size) return refuseLongerFile(file, fullPath, offset, header->size);
    const bool topLevel = folders_.empty();
    if (!receiveContents(file, offset, *header)) return false;
    if (topLevel && record_.fileCount != -1) ++itemsWhole_;
    return true;
  }

  // The existing file to resume is longer than the offered one, so it cannot be its
  // beginning: resuming would move no data and report two different files as the same.
  // It stays as it is and the file counts as skipped, which the peer is told.
  bool refuseLongerFile(FileDescriptor& file, const std::filesystem::path& fullPath,
                        std::uint64_t localSize, std::uint64_t offeredSize) {
    file.close();
    if (!send(fixedRecord(kSkipText), kSendFailed14)) return false;
    session_.notice("本地文件比对方的文件大，不能续传，已跳过：\r\n" + fullPath.string() +
                    "\r\n本地文件 " + std::to_string(localSize) + " 字节，对方的文件 " +
                    std::to_string(offeredSize) + " 字节。");
    return true;
  }

  // Reads a file header and the name to save it under; nothing when the header is refused
  // (shown, and the peer told where the protocol says so).
  std::optional<FileHeader> takeHeader(std::string_view received, std::string& name) {
    const FileHeader header = parseFileHeader(received);
    switch (header.problem) {
      case FileHeader::Problem::None:
        break;
      case FileHeader::Problem::NoFileSize:
        session_.notice("Can not find \\r\\nFileSize.");
        return std::nullopt;
      case FileHeader::Problem::NoFileAttr:
        session_.notice("Can not find \\r\\nFileAttr.");
        return std::nullopt;
      case FileHeader::Problem::BadSize:
        refuseMalformed(received);
        return std::nullopt;
    }
    bool nameValid = false;
    if (record_.fileCount == 1 && record_.saveAsName) {
      // Only the one file of a single-file offer takes the name chosen when accepting it
      // (its name as offered was checked before the person was asked).
      name = *record_.saveAsName;
      record_.saveAsName.reset();
      nameValid = isValidReceivedName(name);
    } else {
      nameValid = isValidReceivedWireName(header.wireName);
      name = fromWire(header.wireName);
    }
    if (!nameValid) {
      refuseMalformed(received);
      return std::nullopt;
    }
    record_.fileSize = header.size;
    // A single-file offer carries no total; the file is the whole transfer.
    if (record_.fileCount == 1 && record_.totalSize == 0) record_.totalSize = header.size;
    return header;
  }

  enum class Target { Opened, Skipped, End };

  // Opens the file `name` of the current folder to receive into. A new one is created;
  // one that is there already (found by the create failing, which costs no look-up per
  // file) is resumed from its end, written anew, skipped or ends the transfer, as the
  // person decides. Opened: `file` is open and `offset` is where the data starts.
  // Skipped: the sender was told. End: shown here and told to the sender where that
  // is due.
  Target openTarget(const std::string& name, const std::filesystem::path& fullPath,
                    FileDescriptor& file, std::uint64_t& offset) {
    const Directory& folder = currentFolder();
    if (record_.fileCount == 1 && record_.openMode == kOpenModeResume &&
        !resumeTargetExists(name, fullPath)) {
      return Target::End;
    }
    OpenMode mode = OpenMode::New;
    bool asked = false;
    for (;;) {
      const int error = folder.openFile(name, mode, file, offset);
      if (error == 0) return Target::Opened;
      if (error == EEXIST && mode == OpenMode::New && !asked) {
        asked = true;
        switch (decision_.decide(fullPath)) {
          case FileExistsAnswer::Resume:
            mode = OpenMode::Resume;
            break;
          case FileExistsAnswer::TransferAgain:
            mode = OpenMode::Overwrite;
            break;
          case FileExistsAnswer::Skip:
            return send(fixedRecord(kSkipText), kSendFailed14) ? Target::Skipped : Target::End;
          case FileExistsAnswer::Stop:
            (void)send(fixedRecord(kStopText), kSendFailed15);
            return Target::End;
          case FileExistsAnswer::None:
            break;  // opening it as new fails once more, and says why
        }
        // A stop while the person was asked: leave the file exactly as it is. The same when
        // the peer left meanwhile, by its own Stop (whose message may still be on its way)
        // or because it gave up waiting for the answer: no data can come any more.
        if (channel_.stopRequested()) return Target::End;
        if (mode != OpenMode::New && channel_.peerGone()) {
          if (channel_.stopFollows()) return Target::End;
          record_.noteCause(TransferCause::ConnectionLost);
          session_.notice(kLeftWhileAskedText + fullPath.string());
          return Target::End;
        }
        continue;
      }
      refuseToCreate(fullPath, error);
      return Target::End;
    }
  }

  // A single-file offer accepted as a resumption needs the file to be there. False when
  // it is not, or cannot be looked up (both shown and told to the sender).
  bool resumeTargetExists(const std::string& name, const std::filesystem::path& fullPath) {
    bool exists = false;
    if (const int error = currentFolder().exists(name, exists)) {
      refuseToCreate(fullPath, error);
      return false;
    }
    if (exists) return true;
    (void)send(fixedRecord(toWire(kResumeTargetMissingText)), kSendFailed13_5);
    session_.notice("要续传的文件不存在。");
    return false;
  }

  // Gives up on a file that cannot be created or opened here.
  void refuseToCreate(const std::filesystem::path& fullPath, int error) {
    std::string line = kCreateFileFailedLine + fullPath.string();
    appendErrorText(error, line);
    record_.noteCause(TransferCause::LocalDisk);
    giveUp(line, kSendFailed16, "本地创建打开文件失败：");
  }

  // Tells the sender where to start, takes the data in and gives a complete file the
  // sender's times and read-only state. False when the transfer ends.
  bool receiveContents(FileDescriptor& file, std::uint64_t offset, const FileHeader& header) {
    record_.fileDone = offset;
    if (!send(goAhead(offset), kSendFailed17)) return false;
    const bool complete = receiveData(file.get(), offset, header.size);
    // Only a complete file gets the sender's state: a partial one stays writable and
    // keeps its own times, so that it can be resumed.
    if (complete) applyAttributes(file.get(), header.attributes);
    file.close();
    if (record_.fileCount != 1 && record_.fileDone == header.size) {
      record_.totalDone += header.size;
      record_.fileDone = 0;
    }
    if (!complete) return false;
    return header.size == 0 || send(kAcknowledgement, kSendFailed18);
  }

  // Receives the file's data from `offset` up to `size`, never taking more than is still
  // due, so that anything after the data is read as the next record.
  bool receiveData(int file, std::uint64_t offset, std::uint64_t size) {
    const SpaceReservation space(file, offset, size);
    std::uint64_t done = offset;
    while (done < size) {
      std::size_t moved = 0;
      const auto status = channel_.receiveIntoFile(file, done, size - done, moved);
      done += moved;
      record_.fileDone = done;
      switch (status) {
        case DataChannel::FileReceiveStatus::Ok:
          break;
        case DataChannel::FileReceiveStatus::Closed:
          reportEarlyClose();
          return false;
        case DataChannel::FileReceiveStatus::ReceiveFailed:
          if (!channel_.stopRequested()) record_.noteCause(TransferCause::ConnectionLost);
          session_.failureNotice("传送文件连接中断：");
          return false;
        case DataChannel::FileReceiveStatus::WriteFailed:
          record_.noteCause(TransferCause::LocalDisk);
          session_.errorNotice(kWriteFileFailed, channel_.error());
          return false;
        case DataChannel::FileReceiveStatus::TimedOut:
          session_.idleNotice();
          return false;
      }
    }
    return true;
  }

  const TransferSession& session_;
  TransferRecord& record_;
  DataChannel& channel_;
  FileExistsDecision decision_;
  std::vector<OpenFolder> folders_;
  std::filesystem::path folderPath_;  // the current folder's full path
  int itemsWhole_ = 0;                // offered items that arrived whole
};

}  // namespace

void runReceiver(const TransferSession& session) {
  Receiver(session).run();
}

}  // namespace brisk
