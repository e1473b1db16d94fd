#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/data_channel.h"
#include "transfer/stream_frames.h"
#include "transfer/transfer_session.h"

namespace brisk {

// What the two sides of a streamed transfer share: sending and reading frames on the
// session's channel, with the notices of a failure, and the texts about one file.
class StreamIo {
 public:
  explicit StreamIo(const TransferSession& session) : session_(session) {}

  // Sends one frame, after the frames queued before it; false after a failure (shown).
  [[nodiscard]] bool send(FrameKind kind, std::string_view payload = {});
  // Adds a frame, or the contents that follow a FileStart, to what leaves with the next
  // send, read or flush: the two frames and the contents of many small files then leave
  // in one write (one system call, and full records in an encrypted session) rather than
  // three writes each. Sends by itself once kQueueLimit bytes wait.
  [[nodiscard]] bool queue(FrameKind kind, std::string_view payload = {});
  [[nodiscard]] bool queueContents(std::string_view bytes);
  [[nodiscard]] bool flush();
  // Sends what is queued, then reads the next frame, waiting at most `limit` for it to begin.
  // Nothing after a failure (shown), or when what came is not a frame (shown as a malformed record,
  // and told to the peer).
  std::optional<Frame> read(std::chrono::milliseconds limit);
  // Tells the peer why this side gives up (an error line of the plain protocol) and shows
  // the text here, after `localPrefix` when there is one.
  void giveUp(const std::string& line, const std::string& localPrefix = {});
  // A frame that has no place where it came: the peer is told and the transfer ends.
  void refuseUnexpected(const Frame& frame);
  // Shows the peer's Abort line as the person reads it, noting why the transfer ended.
  void showPeerAbort(std::string_view line) const;
  // The notice naming a file that did not arrive as it was sent.
  void showFileProblem(FileProblem problem, const std::filesystem::path& path) const;

  static constexpr std::size_t kQueueLimit = 256 * 1024;

 private:
  const TransferSession& session_;
  std::string queued_;
};

// Reads `length` bytes at `offset` into `into` (resized to `length`). Returns how many
// there were: fewer when the file ended early (the rest of `into` is zeros), -1 with
// errno set when reading failed.
long long readRange(int fd, std::uint64_t offset, std::uint64_t length, std::string& into);

// The path of file number `file` below the top of the manifest, as the person reads it.
std::filesystem::path manifestPathOf(const std::vector<ManifestEntry>& entries, std::uint32_t file);

// The key of the end-to-end check of every file sent on `channel`, derived from the
// connection's secrets; all zeros on a connection without them (a plain one), where the
// check still catches damage on the way between the two files, though not a forgery.
ContentKey contentKeyOf(const DataChannel& channel);

// The notice when the part of a file already on disk is not the start of the offered one.
std::string notTheStartText(const std::filesystem::path& path);

}  // namespace brisk
