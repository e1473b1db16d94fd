#pragma once

#include <filesystem>
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

  // The answer for the existing file at `fullPath` (None when the dialog was closed
  // without one).
  FileExistsAnswer decide(const std::filesystem::path& fullPath);

 private:
  Frontend& frontend_;
  std::optional<FileExistsAnswer> always_;
};

}  // namespace brisk
