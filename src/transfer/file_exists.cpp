#include "transfer/file_exists.h"

namespace brisk {

FileExistsAnswer FileExistsDecision::decide(const std::filesystem::path& fullPath) {
  if (always_) return *always_;
  const FileExistsReply reply = frontend_.askFileExists(fullPath);
  // A dialog closed without a button leaves nothing to remember, ticked box or not.
  if (reply.alwaysTicked && reply.answer != FileExistsAnswer::None) always_ = reply.answer;
  return reply.answer;
}

}  // namespace brisk
