#pragma once

#include <optional>
#include <string>

#include "common/frontend.h"

namespace brisk {

// What the receiving side does with a file that already exists: asks the person, unless
// an earlier answer of the same transfer was given with "始终采取相同操作" ticked, which
// then stands for every later existing file of the transfer, stop included. One per
// transfer, used on the transfer thread only.
class FileExistsDecision {
 public:
  explicit FileExistsDecision(Frontend& frontend) : frontend_(frontend) {}

  // The answer for the existing file at `fullPath` (kAnswerResume, kAnswerTransferAgain,
  // kAnswerSkip, kAnswerStop, or kNoAnswer when the dialog was closed without one).
  int decide(const std::string& fullPath);

 private:
  Frontend& frontend_;
  std::optional<int> always_;
};

// The dialog's text for an existing file.
std::string fileExistsText(const std::string& fullPath);

}  // namespace brisk
