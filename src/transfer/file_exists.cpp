#include "transfer/file_exists.h"

namespace brisk {

std::string fileExistsText(const std::string& fullPath) {
  return "文件已经存在：" + fullPath + "\r\n你要：";
}

int FileExistsDecision::decide(const std::string& fullPath) {
  if (always_) return *always_;
  const FileExistsReply reply = frontend_.askFileExists(fileExistsText(fullPath));
  // A dialog closed without a button leaves nothing to remember, ticked box or not.
  if (reply.alwaysTicked && reply.answer != kNoAnswer) always_ = reply.answer;
  return reply.answer;
}

}  // namespace brisk
