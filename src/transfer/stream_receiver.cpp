#include "transfer/stream_receiver.h"

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "common/diagnostics.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/space_reservation.h"
#include "platform/text_codec.h"
#include "transfer/content_hash.h"
#include "transfer/data_records.h"
#include "transfer/file_exists.h"
#include "transfer/stream_io.h"

namespace brisk {

namespace {

// Files are confirmed to the sending side in batches of this many (and at the end).
constexpr std::uint32_t kConfirmBatch = 64;
// Plan entries per frame.
constexpr std::size_t kPlanChunk = 8192;

// Opens the existing regular file `name` of `folder` for reading only, never through a
// symbolic link: a file that arrived whole before is read-only when its sender's was, and
// checking it (or resuming it with nothing left to add) needs no writing.
int openExisting(const Directory& folder, const std::string& name, FileDescriptor& out,
                 std::uint64_t& size) {
  FileDescriptor file(
      ::openat(folder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.isOpen()) return errno;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return errno;
  if (!S_ISREG(status.st_mode)) return S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
  size = static_cast<std::uint64_t>(status.st_size);
  out = std::move(file);
  return 0;
}

class StreamReceiver {
 public:
  explicit StreamReceiver(const TransferSession& session)
      : session_(session),
        record_(session.record),
        channel_(session.channel),
        io_(session),
        decision_(session.context.frontend),
        check_(contentKeyOf(session.channel)) {}

  void run() {
    if (!receiveManifest() || !settle() || !receiveFiles()) return;
    const std::optional<Frame> frame = io_.read(session_.context.timing.idleDataLimit);
    if (!frame) return;
    if (frame->kind != FrameKind::End) {
      io_.refuseUnexpected(*frame);
      return;
    }
    if (!io_.send(FrameKind::Confirm, fileNumberBytes({settled_, FileProblem::None})) ||
        !io_.send(FrameKind::Done)) {
      return;
    }
    const int offered = record_.fileCount == -1 ? 1 : record_.fileCount;
    record_.protocolFinished = !skipped_ && failed_ == 0 && itemsWhole_ == offered;
  }

 private:
  // What this side does with each file of the manifest, decided before any data.
  struct Target {
    OpenMode mode = OpenMode::New;
    std::uint64_t offset = 0;
    bool skip = false;
  };

  // --- The manifest -------------------------------------------------------------------

  bool receiveManifest() {
    std::chrono::milliseconds limit = session_.context.timing.acceptLimit;
    std::size_t depth = 0;
    for (;;) {
      const std::optional<Frame> frame = io_.read(limit);
      limit = session_.context.timing.idleDataLimit;
      if (!frame) return false;
      if (frame->kind == FrameKind::ManifestEnd && depth == 0) return true;
      if (frame->kind != FrameKind::Manifest) {
        io_.refuseUnexpected(*frame);
        return false;
      }
      ManifestChunk chunk = parseManifestChunk(frame->payload);
      if (chunk.badRecord) return refuseMalformed(*chunk.badRecord);
      for (ManifestEntry& entry : chunk.entries) {
        if (!accept(entry, depth)) return false;
        entries_.push_back(std::move(entry));
      }
    }
  }

  // Checks one entry before it is kept: names as for every received item, folders no
  // deeper than either side goes, upward steps only out of an entered folder.
  bool accept(const ManifestEntry& entry, std::size_t& depth) {
    if (entries_.size() >= kMaxManifestEntries) {
      io_.giveUp("| 一次发送的文件和文件夹太多，请分几次发送。");
      return false;
    }
    switch (entry.kind) {
      case ManifestEntry::Kind::Upward:
        if (depth == 0) return refuseMalformed(manifestRecord(entry));
        --depth;
        return true;
      case ManifestEntry::Kind::Folder:
        if (!isValidReceivedWireName(entry.wireName)) {
          return refuseMalformed(manifestRecord(entry));
        }
        if (depth >= kMaxFolderDepth) {
          io_.giveUp(kTooDeepLine + fromWire(entry.wireName), "本地创建打开目录失败：");
          return false;
        }
        ++depth;
        return true;
      case ManifestEntry::Kind::File:
        // Only the one file of a single-file offer takes the name chosen when accepting it.
        if (files_ == 0 && depth == 0 && record_.fileCount == 1 && record_.saveAsName) {
          saveAs_ = *record_.saveAsName;
          record_.saveAsName.reset();
          if (!isValidReceivedName(*saveAs_)) return refuseMalformed(manifestRecord(entry));
        } else if (!isValidReceivedWireName(entry.wireName)) {
          return refuseMalformed(manifestRecord(entry));
        }
        if (depth == 0 && record_.fileCount == 1 && record_.totalSize == 0) {
          record_.totalSize = entry.size;  // a single-file offer carries no total
        }
        ++files_;
        return true;
    }
    return false;
  }

  bool refuseMalformed(std::string_view record) {
    io_.giveUp(kMalformedLine + fromWire(recordText(record)));
    return false;
  }

  std::string nameOf(const ManifestEntry& entry, std::uint32_t file) const {
    return file == 0 && saveAs_ ? *saveAs_ : fromWire(entry.wireName);
  }

  // --- Every question before the data -------------------------------------------------

  // Walks the manifest over what is on disk (creating nothing), asks about each existing
  // file and sends the plan.
  bool settle() {
    // The folders of the walk; an empty one does not exist here yet, so nothing in it does.
    std::vector<Directory> folders;
    std::filesystem::path folderPath = session_.basePath;
    std::uint32_t file = 0;
    for (const ManifestEntry& entry : entries_) {
      const Directory& parent = folders.empty() ? session_.base : folders.back();
      switch (entry.kind) {
        case ManifestEntry::Kind::Folder: {
          const std::string name = fromWire(entry.wireName);
          folderPath /= name;
          Directory opened;
          if (parent.isOpen()) {
            const int error = parent.openFolder(name, opened);
            if (error != 0 && error != ENOENT) return refuseFolder(folderPath, error);
          }
          folders.push_back(std::move(opened));
          break;
        }
        case ManifestEntry::Kind::Upward:
          folders.pop_back();
          folderPath = folderPath.parent_path();
          break;
        case ManifestEntry::Kind::File: {
          const std::string name = nameOf(entry, file++);
          std::optional<Target> target = decide(parent, name, folderPath / name, entry.size);
          if (!target) return false;
          targets_.push_back(*target);
        }
      }
    }
    std::vector<PlanEntry> plan;
    for (std::size_t at = 0; at < targets_.size(); ++at) {
      plan.push_back(PlanEntry{targets_[at].skip, targets_[at].offset});
      if (plan.size() == kPlanChunk || at + 1 == targets_.size()) {
        if (!io_.send(FrameKind::Plan, planBytes(plan))) return false;
        plan.clear();
      }
    }
    return io_.send(FrameKind::PlanEnd);
  }

  // What to do with the file `name` of `folder` (not open: not there yet). Nothing when
  // the transfer ends (shown, and the sending side told).
  std::optional<Target> decide(const Directory& folder, const std::string& name,
                               const std::filesystem::path& fullPath, std::uint64_t size) {
    bool found = false;
    if (folder.isOpen()) {
      if (const int error = folder.exists(name, found)) {
        refuseFile(fullPath, error);
        return std::nullopt;
      }
    }
    if (record_.fileCount == 1 && record_.openMode == kOpenModeResume && !found) {
      io_.giveUp(kResumeTargetMissingText);
      return std::nullopt;
    }
    if (!found) return Target{};
    const FileExistsAnswer answer = decision_.decide(fullPath);
    // A stop while the person was asked: everything stays exactly as it is.
    if (channel_.stopRequested()) return std::nullopt;
    switch (answer) {
      case FileExistsAnswer::Resume:
        return resumeTarget(folder, name, fullPath, size);
      case FileExistsAnswer::TransferAgain:
        return Target{OpenMode::Overwrite, 0, false};
      case FileExistsAnswer::Skip:
        skipped_ = true;
        return Target{OpenMode::New, 0, true};
      case FileExistsAnswer::Stop:
        if (!io_.send(FrameKind::Abort, toWire(kStopText))) return std::nullopt;
        return std::nullopt;
      case FileExistsAnswer::None:
        break;
    }
    refuseFile(fullPath, EEXIST);
    return std::nullopt;
  }

  std::optional<Target> resumeTarget(const Directory& folder, const std::string& name,
                                     const std::filesystem::path& fullPath, std::uint64_t size) {
    FileDescriptor file;
    std::uint64_t have = 0;
    if (const int error = openExisting(folder, name, file, have)) {
      refuseFile(fullPath, error);
      return std::nullopt;
    }
    if (have <= size) return Target{OpenMode::Resume, have, false};
    // Longer than the offered file, so it cannot be its beginning: it stays as it is.
    skipped_ = true;
    session_.notice("本地文件比对方的文件大，不能续传，已跳过：\r\n" + fullPath.string() +
                    "\r\n本地文件 " + std::to_string(have) + " 字节，对方的文件 " +
                    std::to_string(size) + " 字节。");
    return Target{OpenMode::New, 0, true};
  }

  void refuseFile(const std::filesystem::path& fullPath, int error) {
    std::string line = kCreateFileFailedLine + fullPath.string();
    appendErrorText(error, line);
    record_.noteCause(TransferCause::LocalDisk);
    io_.giveUp(line, "本地创建打开文件失败：");
  }

  bool refuseFolder(const std::filesystem::path& fullPath, int error) {
    std::string line = kCreateDirectoryFailedLine + fullPath.string();
    appendErrorText(error, line);
    record_.noteCause(TransferCause::LocalDisk);
    io_.giveUp(line, "本地创建打开目录失败：");
    return false;
  }

  // --- The data -----------------------------------------------------------------------

  struct OpenFolder {
    Directory directory;
    FileAttributeData attributes;
  };

  bool receiveFiles() {
    std::vector<OpenFolder> folders;
    std::filesystem::path folderPath = session_.basePath;
    std::uint32_t file = 0;
    for (const ManifestEntry& entry : entries_) {
      const Directory& parent = folders.empty() ? session_.base : folders.back().directory;
      switch (entry.kind) {
        case ManifestEntry::Kind::Folder: {
          const std::string name = fromWire(entry.wireName);
          folderPath /= name;
          OpenFolder opened{{}, entry.attributes};
          int error = parent.createFolder(name);
          if (error == 0 || error == EEXIST) error = parent.openFolder(name, opened.directory);
          if (error != 0) return refuseFolder(folderPath, error);
          folders.push_back(std::move(opened));
          break;
        }
        case ManifestEntry::Kind::Upward:
          // Only the times: see the plain receiver for why folders stay writable.
          if (applyFileTimes(folders.back().directory.fd(), folders.back().attributes) != 0) {
            session_.notice(kSetFileTimeFailed);
          }
          folders.pop_back();
          folderPath = folderPath.parent_path();
          if (folders.empty()) ++itemsWhole_;
          break;
        case ManifestEntry::Kind::File: {
          const std::uint32_t number = file++;
          if (targets_[number].skip) break;
          const std::string name = nameOf(entry, number);
          const bool whole = receiveFile(number, parent, name, folderPath / name, entry);
          if (!whole && !goingOn_) return false;
          if (whole && folders.empty()) ++itemsWhole_;
          if (settled_ % kConfirmBatch == 0 &&
              !io_.send(FrameKind::Confirm, fileNumberBytes({settled_, FileProblem::None}))) {
            return false;
          }
          break;
        }
      }
    }
    return true;
  }

  // One file: the check of the part on disk, its start, data and end. True when it
  // arrived whole and checked; otherwise goingOn_ tells whether the transfer goes on.
  bool receiveFile(std::uint32_t number, const Directory& folder, const std::string& name,
                   const std::filesystem::path& fullPath, const ManifestEntry& entry) {
    goingOn_ = false;
    Target& target = targets_[number];
    FileDescriptor file;
    std::uint64_t have = 0;
    if (target.mode == OpenMode::Resume && target.offset > 0) {
      // The part on disk is hashed while the sending side hashes its own.
      if (const int error = openExisting(folder, name, file, have)) {
        refuseFile(fullPath, error);
        return false;
      }
      const std::optional<ContentDigest> prefix =
          have == target.offset ? hashFileRange(file.get(), 0, have) : std::nullopt;
      if (!prefix) {
        refuseFile(fullPath, EBUSY);
        return false;
      }
      if (!io_.send(FrameKind::Verify, verifyBytes({number, *prefix}))) return false;
    }
    session_.showFileName(fullPath);
    record_.fileSize = entry.size;
    record_.fileDone = 0;
    const std::optional<Frame> frame = io_.read(session_.context.timing.idleDataLimit);
    if (!frame) return false;
    if (frame->kind == FrameKind::FileNotSent) {
      const std::optional<FileNumber> notSent = parseFileNumber(frame->payload);
      if (!notSent || notSent->file != number) return refuse(*frame);
      return settle(notSent->problem, fullPath);
    }
    const std::optional<FileStart> start =
        frame->kind == FrameKind::FileStart ? parseFileStart(frame->payload) : std::nullopt;
    if (!start || start->file != number || (start->offset != target.offset && start->offset != 0)) {
      return refuse(*frame);
    }
    if (start->offset != target.offset) {
      session_.notice(notTheStartText(fullPath));
      target = Target{OpenMode::Overwrite, 0, false};
      file.close();
    } else if (target.offset > 0) {
      session_.showResumed(target.offset);
    }
    // A file to continue is opened for writing only when something is left to add.
    if (target.mode == OpenMode::Resume && target.offset < entry.size) file.close();
    if (!file.isOpen()) {
      if (const int error = folder.openFile(name, target.mode, file, have)) {
        refuseFile(fullPath, error);
        return false;
      }
    }
    if (!receiveData(number, file.get(), target.offset, entry.size, fullPath)) return false;
    const std::optional<Frame> endFrame = io_.read(session_.context.timing.idleDataLimit);
    if (!endFrame) return false;
    const std::optional<FileEnd> end =
        endFrame->kind == FrameKind::FileEnd ? parseFileEnd(endFrame->payload) : std::nullopt;
    if (!end || end->file != number) return refuse(*endFrame);
    FileProblem problem = end->problem;
    if (problem == FileProblem::None && ownTag_ != end->tag) {
      problem = FileProblem::Mismatch;
    }
    // Only a file that arrived as it was sent gets the sender's times and read-only state;
    // any other stays writable with its own times, and sending it again finds it out.
    if (problem == FileProblem::None) {
      if (applyFileTimes(file.get(), entry.attributes) != 0) session_.notice(kSetFileTimeFailed);
      if (applyReadOnly(file.get(), entry.attributes) != 0) {
        session_.notice(kSetFileAttributesFailed);
      }
    }
    file.close();
    if (record_.fileCount != 1) {
      record_.totalDone += entry.size;
      record_.fileDone = 0;
    }
    if (problem == FileProblem::Mismatch &&
        !io_.send(FrameKind::FileFailed, fileNumberBytes({number, problem}))) {
      return false;
    }
    return settle(problem, fullPath);
  }

  // Counts a file as settled; a problem is named to the person and fails the transfer,
  // which still goes on with the other files.
  bool settle(FileProblem problem, const std::filesystem::path& path) {
    ++settled_;
    goingOn_ = true;
    if (problem == FileProblem::None) return true;
    ++failed_;
    record_.noteCause(TransferCause::PeerFailed);
    io_.showFileProblem(problem, path);
    return false;
  }

  bool refuse(const Frame& frame) {
    io_.refuseUnexpected(frame);
    return false;
  }

  // Takes file `number`'s data from `offset` up to `size`, checked from the bytes it is
  // written from rather than read back.
  bool receiveData(std::uint32_t number, int file, std::uint64_t offset, std::uint64_t size,
                   const std::filesystem::path& fullPath) {
    check_.start(number);
    const SpaceReservation space(file, offset, size);
    std::uint64_t done = offset;
    record_.fileDone = done;
    while (done < size) {
      std::size_t moved = 0;
      const auto status = channel_.receiveIntoFile(file, done, size - done, moved, &check_);
      done += moved;
      record_.fileDone = done;
      if (status != DataChannel::FileReceiveStatus::Ok) {
        showReceiveFailure(status, fullPath);
        return false;
      }
    }
    ownTag_ = check_.finish();
    return true;
  }

  void showReceiveFailure(DataChannel::FileReceiveStatus status,
                          const std::filesystem::path& fullPath) {
    switch (status) {
      case DataChannel::FileReceiveStatus::Ok:
        return;
      case DataChannel::FileReceiveStatus::Closed:
        if (channel_.stopFollows()) return;
        record_.noteCause(TransferCause::ConnectionLost);
        session_.notice("传送文件连接中断：\r\n对方在传送结束前关闭了连接。");
        return;
      case DataChannel::FileReceiveStatus::ReceiveFailed:
        if (!channel_.stopRequested()) record_.noteCause(TransferCause::ConnectionLost);
        session_.errorNotice("传送文件连接中断：", channel_.error());
        return;
      case DataChannel::FileReceiveStatus::WriteFailed: {
        // The sending side is told, so that both say what happened: a full disk, most often.
        record_.noteCause(TransferCause::LocalDisk);
        std::string line = "| 写入文件失败：\r\n" + fullPath.string();
        appendErrorText(channel_.error(), line);
        io_.giveUp(line);
        return;
      }
      case DataChannel::FileReceiveStatus::TimedOut:
        session_.idleNotice();
        return;
    }
  }

  const TransferSession& session_;
  TransferRecord& record_;
  DataChannel& channel_;
  StreamIo io_;
  FileExistsDecision decision_;
  ContentCheck check_;  // of every file received
  std::vector<ManifestEntry> entries_;
  std::vector<Target> targets_;  // per file of the manifest
  std::optional<std::string> saveAs_;
  ContentTag ownTag_{};  // of the last file's data, as written here
  std::uint32_t files_ = 0;
  int itemsWhole_ = 0;
  std::uint32_t settled_ = 0;
  std::uint32_t failed_ = 0;
  bool skipped_ = false;
  bool goingOn_ = false;
};

}  // namespace

void runStreamReceiver(const TransferSession& session) {
  StreamReceiver(session).run();
}

}  // namespace brisk
