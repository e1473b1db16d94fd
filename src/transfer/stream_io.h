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

  // Sends one frame; false after a failure (shown).
  [[nodiscard]] bool send(FrameKind kind, std::string_view payload = {});
  // Reads the next frame, waiting at most `limit` for it to begin. Nothing after a failure
  // (shown), or when what came is not a frame (shown as a malformed record, and told to
  // the peer).
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

 private:
  const TransferSession& session_;
};

// The path of file number `file` below the top of the manifest, as the person reads it.
std::filesystem::path manifestPathOf(const std::vector<ManifestEntry>& entries, std::uint32_t file);

// The notice when the part of a file already on disk is not the start of the offered one.
std::string notTheStartText(const std::filesystem::path& path);

}  // namespace brisk
