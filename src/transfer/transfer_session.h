#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "common/transfer_record.h"
#include "platform/directory.h"
#include "transfer/data_channel.h"
#include "transfer/transfer_context.h"

namespace brisk {

// What one side of the protocol works with once the data connection is up and the
// transfer's folder has been checked. Used on the transfer thread only.
struct TransferSession {
  const TransferContext& context;
  TransferRecord& record;
  DataChannel& channel;
  const Directory& base;           // the offer folder or the save folder
  std::filesystem::path basePath;  // the same, for the texts the person sees

  // The notices of a running transfer. None is shown once this side was asked to stop:
  // the failures that follow are the stop's doing, and the person asked for them.
  void notice(const std::string& text) const;
  void joinedNotice(const std::string& first, const std::string& second) const;
  void errorNotice(const std::string& text, int code) const;
  // The notice of a send or receive that failed (the call's place in `place`); the peer
  // closing where an answer or record was due counts as a failure too. A wait that passed
  // its limit says so instead (idleNotice).
  void channelNotice(const std::string& place, DataChannel::Status status) const;
  // The notice of a failed send or receive that did not time out.
  void failureNotice(const std::string& place) const;
  // The same for a send of the channel that failed.
  void sendNotice(const std::string& place) const;
  // The notice of a transfer given up because nothing moved on its connection for as long
  // as the channel's limit allowed.
  void idleNotice() const;

  // The receiving side's refusal (an error line), as the person reads it; notes whether
  // the peer stopped the transfer or failed.
  void showRefusal(std::string_view answer) const;

  // A file of the offer that cannot be opened (`error`): the person may skip it (true) or
  // end the transfer; `line` then holds the error line that tells the peer why (empty
  // after a stop, when nothing is asked).
  bool skipUnreadable(const std::filesystem::path& fullPath, int error, std::string& line) const;

  // Shows `path` as the file being transferred, when there is a window to show it in.
  void showFileName(const std::filesystem::path& path) const;
  // The file shown last continues the `offset` bytes the receiving side had.
  void showResumed(std::uint64_t offset) const;
};

}  // namespace brisk
