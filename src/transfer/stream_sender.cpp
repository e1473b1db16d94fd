#include "transfer/stream_sender.h"

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "common/file_queue.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "transfer/content_hash.h"
#include "transfer/data_records.h"
#include "transfer/stream_io.h"

namespace brisk {

namespace {

// Manifest records go out once a frame holds this much, so that the receiving side can
// settle its questions while this side still walks the folders.
constexpr std::size_t kManifestChunk = 64 * 1024;
// Files up to this size (of what is still to send) are read whole and leave queued with
// their frames; larger ones are sent from the file as they are read.
constexpr std::uint64_t kSmallFile = 128 * 1024;

// What tells that a file changed while it was read: its size and last write time.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t seconds = 0;
  long nanoseconds = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

std::optional<FileStamp> stampOf(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::nullopt;
  return FileStamp{static_cast<std::uint64_t>(status.st_size), status.st_mtim.tv_sec,
                   status.st_mtim.tv_nsec};
}

class StreamSender {
 public:
  explicit StreamSender(const TransferSession& session)
      : session_(session),
        record_(session.record),
        channel_(session.channel),
        io_(session),
        check_(contentKeyOf(session.channel)) {}

  void run() {
    if (!sendManifest() || !receivePlan() || !sendFiles() || !io_.send(FrameKind::End)) return;
    if (!awaitDone()) return;
    record_.protocolFinished = !skipped_ && failedFiles_ == 0 && confirmed_ == filesSettled_;
  }

 private:
  struct Level {
    Directory directory;
    DirectoryReader reader;
  };

  // A file of the manifest as it was when it was listed, to find it changed later.
  struct Listed {
    std::uint64_t size = 0;
    std::uint64_t lastWriteTime = 0;
  };

  // --- The manifest -------------------------------------------------------------------

  bool sendManifest() {
    while (!record_.fileQueue.empty()) {
      const std::filesystem::path itemFolder = record_.fileQueue.front().folder;
      std::string name;
      FileAttributeData attributes;
      (void)fileQueuePop(record_.fileQueue, name, attributes);
      const std::filesystem::path folderPath = itemFolder.empty() ? session_.basePath : itemFolder;
      if (attributes.isDirectory()) {
        topFolders_.push_back(folderPath);
        if (!add(ManifestEntry::Kind::Folder, name, attributes) || !listFolder(folderPath / name)) {
          return false;
        }
        continue;
      }
      // The attribute block is the one taken when the item was offered; the size is the
      // file's own, as it is now.
      FileAttributeData now;
      if (const int error = readAttributeData(folderPath / name, now)) {
        if (!skipUnreadable(folderPath / name, error)) return false;
        continue;
      }
      attributes.size = now.size;
      topFolders_.push_back(folderPath);
      if (!addFile(name, attributes, now)) return false;
    }
    return flushManifest() && io_.send(FrameKind::ManifestEnd);
  }

  // The entries below an offered folder, depth first, each folder closed by an upward
  // step. A folder that cannot be listed is sent as empty.
  bool listFolder(const std::filesystem::path& folderPath) {
    std::vector<Level> levels(1);
    if (Directory::open(folderPath, levels.back().directory) == 0) {
      (void)DirectoryReader::open(levels.back().directory, levels.back().reader);
    }
    std::filesystem::path levelPath = folderPath;
    while (!levels.empty()) {
      const std::optional<DirectoryEntry> entry = levels.back().reader.next();
      if (!entry) {
        levels.pop_back();
        levelPath = levelPath.parent_path();
        if (!add(ManifestEntry::Kind::Upward, {}, {})) return false;
        continue;
      }
      const int folderFd = levels.back().directory.fd();
      FileAttributeData attributes;
      if (entry->isFolder) {
        if (levels.size() >= kMaxFolderDepth) {
          io_.giveUp(kTooDeepLine + (levelPath / entry->name).string());
          return false;
        }
        attributes.attributes = kAttributeDirectory;
        if (const int error = readAttributeDataAt(folderFd, entry->name, false, attributes)) {
          session_.errorNotice(kGetFileAttributesExFailed2, error);
        }
        if (!add(ManifestEntry::Kind::Folder, entry->name, attributes)) return false;
        Level sub;
        if (levels.back().directory.openFolder(entry->name, sub.directory) == 0) {
          (void)DirectoryReader::open(sub.directory, sub.reader);
        }
        levels.push_back(std::move(sub));
        levelPath /= entry->name;
      } else if (const int error = readAttributeDataAt(folderFd, entry->name, true, attributes)) {
        session_.errorNotice(kGetFileAttributesExFailed3, error);
        if (!skipUnreadable(levelPath / entry->name, error)) return false;
      } else if (!addFile(entry->name, attributes, attributes)) {
        return false;
      }
    }
    return true;
  }

  bool addFile(const std::string& name, const FileAttributeData& sent,
               const FileAttributeData& now) {
    listed_.push_back(Listed{now.size, now.lastWriteTime});
    return add(ManifestEntry::Kind::File, name, sent);
  }

  bool add(ManifestEntry::Kind kind, const std::string& name, const FileAttributeData& data) {
    ManifestEntry entry{kind, toWire(name), data.size, data};
    chunk_ += manifestRecord(entry);
    entries_.push_back(std::move(entry));
    return chunk_.size() < kManifestChunk || flushManifest();
  }

  bool flushManifest() {
    if (chunk_.empty()) return true;
    const bool sent = io_.send(FrameKind::Manifest, chunk_);
    chunk_.clear();
    return sent;
  }

  // A file that cannot be read: the person may leave it out or end the transfer, which
  // tells the peer why.
  bool skipUnreadable(const std::filesystem::path& fullPath, int error) {
    std::string line;
    if (session_.skipUnreadable(fullPath, error, line)) {
      skipped_ = true;
      return true;
    }
    if (!line.empty()) (void)io_.send(FrameKind::Abort, toWire(line));
    return false;
  }

  // --- The plan -----------------------------------------------------------------------

  bool receivePlan() {
    for (;;) {
      const std::optional<Frame> frame = io_.read(session_.context.timing.idleDataLimit);
      if (!frame) return false;
      if (frame->kind == FrameKind::PlanEnd) break;
      const auto entries =
          frame->kind == FrameKind::Plan ? parsePlan(frame->payload) : std::nullopt;
      if (!entries) {
        io_.refuseUnexpected(*frame);
        return false;
      }
      plan_.insert(plan_.end(), entries->begin(), entries->end());
    }
    if (plan_.size() == listed_.size()) return true;
    io_.giveUp(std::string(kMalformedLine) + "plan");
    return false;
  }

  // --- The data -----------------------------------------------------------------------

  // Walks the manifest again, opening each folder as it is entered, and sends every file
  // the plan asks for.
  bool sendFiles() {
    std::vector<Directory> folders;
    std::filesystem::path folderPath;
    std::size_t top = 0;
    std::uint32_t file = 0;
    for (const ManifestEntry& entry : entries_) {
      const std::string name = fromWire(entry.wireName);
      switch (entry.kind) {
        case ManifestEntry::Kind::Folder: {
          Directory opened;
          if (folders.empty()) {
            folderPath = topFolders_[top++] / name;
            (void)Directory::open(folderPath, opened);
          } else {
            folderPath /= name;
            if (folders.back().isOpen()) (void)folders.back().openFolder(name, opened);
          }
          folders.push_back(std::move(opened));
          break;
        }
        case ManifestEntry::Kind::Upward:
          folders.pop_back();
          folderPath = folderPath.parent_path();
          break;
        case ManifestEntry::Kind::File: {
          const std::uint32_t number = file++;
          if (plan_[number].skip) {
            skipped_ = true;
            break;
          }
          if (!drainAnswers()) return false;
          bool sent = false;
          if (folders.empty()) {
            const std::filesystem::path itemFolder = topFolders_[top++];
            Directory opened;
            const int error = Directory::open(itemFolder, opened);
            sent = sendFile(number, opened, error, name, itemFolder / name, entry);
          } else {
            sent = sendFile(number, folders.back(), folders.back().isOpen() ? 0 : ENOENT, name,
                            folderPath / name, entry);
          }
          if (!sent) return false;
          break;
        }
      }
    }
    return true;
  }

  bool sendFile(std::uint32_t number, const Directory& folder, int folderError,
                const std::string& name, const std::filesystem::path& fullPath,
                const ManifestEntry& entry) {
    session_.showFileName(fullPath);
    record_.fileSize = entry.size;
    record_.fileDone = 0;
    FileDescriptor file;
    FileAttributeData current;
    int error = folderError;
    if (error == 0) error = folder.openFileForReading(name, file, current);
    if (error != 0) {
      if (!skipUnreadable(fullPath, error)) return false;
      ++filesSettled_;
      return io_.send(FrameKind::FileNotSent, fileNumberBytes({number, FileProblem::Unreadable}));
    }
    const std::optional<FileStamp> before = stampOf(file.get());
    const Listed& listed = listed_[number];
    if (!before || before->size != listed.size || current.lastWriteTime != listed.lastWriteTime) {
      return notSent(number, fullPath, FileProblem::Changed);
    }
    std::uint64_t offset = plan_[number].offset;
    if (offset > entry.size) {
      io_.giveUp(kResumePastEndLine + fullPath.string());
      return false;
    }
    if (offset > 0 && !keepsPrefix(number, file.get(), offset, fullPath)) offset = 0;
    if (offset > 0) session_.showResumed(offset);
    const std::uint64_t length = entry.size - offset;
    if (length <= kSmallFile)
      return sendSmallFile(number, file.get(), offset, *before, fullPath, entry.size);
    if (!io_.send(FrameKind::FileStart, fileStartBytes({number, offset}))) return false;

    FileEnd end{number, FileProblem::None, {}};
    std::uint64_t sent = 0;
    record_.fileDone = offset;
    check_.start(number);
    const auto status = channel_.sendFile(
        file.get(), offset, length,
        [&](std::uint64_t done) {
          sent = done;
          record_.fileDone = offset + done;
        },
        &check_);
    if (status == DataChannel::FileSendStatus::FileShrank) {
      // The peer waits for every announced byte: it gets zeros for the missing ones and
      // is told that the file changed.
      end.problem = FileProblem::Changed;
      if (!sendZeros(length - sent)) return false;
    } else if (status != DataChannel::FileSendStatus::Done) {
      showSendFailure(status);
      return false;
    }
    end.tag = check_.finish();
    if (stampOf(file.get()) != before) end.problem = FileProblem::Changed;
    return io_.send(FrameKind::FileEnd, fileEndBytes(end)) && settled(end, fullPath, entry.size);
  }

  // A small file is read whole, checked from memory and queued with its two frames, so
  // that many of them leave in one write.
  bool sendSmallFile(std::uint32_t number, int fd, std::uint64_t offset, const FileStamp& before,
                     const std::filesystem::path& fullPath, std::uint64_t size) {
    const long long got = readRange(fd, offset, size - offset, contents_);
    if (got < 0) {
      const int error = errno;
      record_.noteCause(TransferCause::LocalDisk);
      session_.errorNotice(kReadFileFailed, error);
      (void)io_.flush();
      return false;
    }
    FileEnd end{number, FileProblem::None, {}};
    if (static_cast<std::uint64_t>(got) == contents_.size()) {
      check_.start(number);
      check_.update(contents_.data(), contents_.size());
      end.tag = check_.finish();
    } else {
      // The peer waits for every announced byte: zeros stand for the missing ones.
      end.problem = FileProblem::Changed;
    }
    if (stampOf(fd) != before) end.problem = FileProblem::Changed;
    record_.fileDone = size;
    return io_.queue(FrameKind::FileStart, fileStartBytes({number, offset})) &&
           io_.queueContents(contents_) && io_.queue(FrameKind::FileEnd, fileEndBytes(end)) &&
           settled(end, fullPath, size);
  }

  bool settled(const FileEnd& end, const std::filesystem::path& fullPath, std::uint64_t size) {
    ++filesSettled_;
    if (end.problem != FileProblem::None) noteFailed(end.problem, fullPath);
    if (record_.fileCount != 1) {
      record_.totalDone += size;
      record_.fileDone = 0;
    }
    return true;
  }

  // A file that changed between its listing and its sending is not sent at all.
  bool notSent(std::uint32_t number, const std::filesystem::path& fullPath, FileProblem problem) {
    ++filesSettled_;
    noteFailed(problem, fullPath);
    return io_.send(FrameKind::FileNotSent, fileNumberBytes({number, problem}));
  }

  void noteFailed(FileProblem problem, const std::filesystem::path& fullPath) {
    ++failedFiles_;
    record_.noteCause(problem == FileProblem::Changed ? TransferCause::LocalDisk
                                                      : TransferCause::PeerFailed);
    io_.showFileProblem(problem, fullPath);
  }

  // Whether the `offset` bytes the receiving side holds are the start of this file: both
  // sides hash them at the same time, and the receiving side's digest comes to compare.
  bool keepsPrefix(std::uint32_t number, int fd, std::uint64_t offset,
                   const std::filesystem::path& fullPath) {
    const std::optional<ContentDigest> own = hashFileRange(fd, 0, offset);
    while (!verified_) {
      const std::optional<Frame> frame = io_.read(session_.context.timing.idleDataLimit);
      if (!frame || !takeAnswer(*frame)) return false;
    }
    const VerifyPrefix theirs = *verified_;
    verified_.reset();
    if (theirs.file != number) {
      io_.giveUp(std::string(kMalformedLine) + "verify");
      return false;
    }
    if (own && *own == theirs.digest) return true;
    session_.notice(notTheStartText(fullPath));
    return false;
  }

  bool sendZeros(std::uint64_t count) {
    const std::string zeros(64 * 1024, '\0');
    while (count > 0) {
      const std::size_t now = std::min<std::uint64_t>(count, zeros.size());
      if (!channel_.send(std::string_view(zeros).substr(0, now))) {
        showSendFailure(DataChannel::FileSendStatus::SendFailed);
        return false;
      }
      count -= now;
    }
    return true;
  }

  void showSendFailure(DataChannel::FileSendStatus status) {
    // The receiving side may have said why it stopped reading (a full disk): that is the
    // truth to show, rather than a broken connection.
    if (peerExplained()) return;
    switch (status) {
      case DataChannel::FileSendStatus::ReadFailed:
        record_.noteCause(TransferCause::LocalDisk);
        session_.errorNotice(kReadFileFailed, channel_.error());
        return;
      case DataChannel::FileSendStatus::TimedOut:
        session_.idleNotice();
        return;
      default:
        if (!channel_.stopRequested()) record_.noteCause(TransferCause::ConnectionLost);
        session_.errorNotice("传送文件连接中断：\r\n", channel_.error());
        return;
    }
  }

  bool peerExplained() {
    if (channel_.stopRequested() ||
        !channel_.waitReadable(session_.context.timing.recordRestWait)) {
      return false;
    }
    std::string raw;
    if (channel_.readMessage(completeFrameLength, kMaxFrameSize, raw,
                             session_.context.timing.recordRestWait) != DataChannel::Status::Ok) {
      return false;
    }
    const std::optional<Frame> frame = parseFrame(raw);
    if (!frame || frame->kind != FrameKind::Abort) return false;
    io_.showPeerAbort(frame->payload);
    return true;
  }

  // --- The receiving side's answers ---------------------------------------------------

  // Takes the answers that came meanwhile, without waiting, so that they never pile up
  // while this side sends.
  bool drainAnswers() {
    while (channel_.waitReadable(std::chrono::milliseconds(0))) {
      const std::optional<Frame> frame = io_.read(session_.context.timing.idleDataLimit);
      if (!frame || !takeAnswer(*frame)) return false;
    }
    return true;
  }

  bool takeAnswer(const Frame& frame) {
    if (frame.kind == FrameKind::Verify && !verified_) {
      // The digest of the part on disk of the file about to be sent; it may come before
      // this side looks for it.
      verified_ = parseVerify(frame.payload);
      if (verified_) return true;
    } else if (frame.kind == FrameKind::Confirm) {
      const std::optional<FileNumber> count = parseFileNumber(frame.payload);
      if (count && count->file <= filesSettled_) {
        confirmed_ = count->file;
        return true;
      }
    } else if (frame.kind == FrameKind::FileFailed) {
      const std::optional<FileNumber> failed = parseFileNumber(frame.payload);
      if (failed && failed->file < listed_.size()) {
        std::filesystem::path path = topFolders_.empty() ? session_.basePath : topFolders_[0];
        noteFailed(failed->problem, path / manifestPathOf(entries_, failed->file));
        return true;
      }
    }
    io_.refuseUnexpected(frame);
    return false;
  }

  bool awaitDone() {
    for (;;) {
      const std::optional<Frame> frame = io_.read(session_.context.timing.idleDataLimit);
      if (!frame) return false;
      if (frame->kind == FrameKind::Done) return true;
      if (!takeAnswer(*frame)) return false;
    }
  }

  const TransferSession& session_;
  TransferRecord& record_;
  DataChannel& channel_;
  StreamIo io_;
  ContentCheck check_;    // of every file sent
  std::string contents_;  // a small file's, kept for the next one
  std::vector<ManifestEntry> entries_;
  std::vector<Listed> listed_;                     // per file of the manifest
  std::vector<std::filesystem::path> topFolders_;  // per offered item: the folder it lies in
  std::vector<PlanEntry> plan_;
  std::optional<VerifyPrefix> verified_;  // the receiving side's digest, not yet compared
  std::string chunk_;
  bool skipped_ = false;
  std::uint32_t filesSettled_ = 0;  // files sent (or reported not sent) to the peer
  std::uint32_t confirmed_ = 0;
  std::uint32_t failedFiles_ = 0;
};

}  // namespace

void runStreamSender(const TransferSession& session) {
  StreamSender(session).run();
}

}  // namespace brisk
