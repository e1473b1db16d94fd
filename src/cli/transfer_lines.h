#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "cli/console.h"
#include "common/frontend.h"

namespace brisk {

// The terminal's transfer windows: each transfer's start, file names, status and verdict
// as lines of their own, and its progress either in the console's live line (on a
// terminal, all running transfers side by side) or as a line once a second. Any thread.
class TransferLines {
 public:
  explicit TransferLines(Console& console) : console_(console) {}
  TransferLines(const TransferLines&) = delete;
  TransferLines& operator=(const TransferLines&) = delete;

  TransferWindowId open(const TransferWindowSetup& setup);
  void setFileName(TransferWindowId window, const std::string& name);
  void setStatus(TransferWindowId window, const std::string& status);
  void showFigures(TransferWindowId window, const TransferFigures& figures);
  void showVerdict(TransferWindowId window, const TransferVerdict& verdict);

 private:
  struct View {
    std::string title;
    bool twoBars = false;
    std::string fileName;
    int fileBar = 0;
    int totalBar = 0;
    std::optional<TransferTexts> texts;
  };

  void showLiveLine();  // with mutex_ held
  static std::string progressText(const View& view);

  Console& console_;
  std::mutex mutex_;
  std::map<TransferWindowId, View> views_;
  TransferWindowId nextWindow_ = 1;
};

}  // namespace brisk
