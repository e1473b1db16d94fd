#pragma once

#include <cstdio>

#include "common/silent_frontend.h"

namespace brisk::bench {

// A front end for benchmarks: it answers nothing, shows nothing but notices (on stderr,
// since a notice during a measurement means the figure is worthless), and transfers every
// existing file again.
class QuietFrontend : public SilentFrontend {
 public:
  void showNotice(const std::string& text) override {
    std::fprintf(stderr, "notice: %s\n", text.c_str());
  }
  void showNoticeModal(const std::string& text) override { showNotice(text); }
  FileExistsReply askFileExists(const std::filesystem::path&) override {
    return {existsAnswer, true};
  }

  FileExistsAnswer existsAnswer = FileExistsAnswer::TransferAgain;
};

}  // namespace brisk::bench
