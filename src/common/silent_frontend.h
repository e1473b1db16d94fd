#pragma once

#include "common/frontend.h"

namespace brisk {

// A Frontend that shows nothing and answers every question with "no answer": the base of
// the front ends of benchmarks, fuzzers and load drivers, which override only what they
// look at or answer.
class SilentFrontend : public Frontend {
 public:
  void appendLog(const std::string&, Rgb) override {}
  void showLinkState(LinkState) override {}
  void setAddressText(const std::string&) override {}
  void bringToFront() override {}
  void beep() override {}
  void showNotice(const std::string&) override {}
  void showNoticeModal(const std::string&) override {}
  bool askYesNo(const std::string&) override { return false; }
  PromptAnswer showPrompt(PromptHandle&, const PromptRequest&) override {
    return PromptAnswer::None;
  }
  std::vector<std::filesystem::path> chooseFilesToOffer() override { return {}; }
  std::optional<std::filesystem::path> chooseSaveFile(const std::string&,
                                                      const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::filesystem::path> chooseResumeFile(const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::filesystem::path> chooseFolder() override { return std::nullopt; }
  FileExistsReply askFileExists(const std::filesystem::path&) override { return {}; }
  TransferWindowId openTransferWindow(const TransferWindowSetup&) override { return 0; }
  void setTransferFileName(TransferWindowId, const std::string&) override {}
  void setTransferStatus(TransferWindowId, const std::string&) override {}
  void showTransferFigures(TransferWindowId, const TransferFigures&) override {}
  void showTransferVerdict(TransferWindowId, const TransferVerdict&) override {}
  void offerEnded(const OfferEnd&) override {}
  void transferEnded(const TransferEnd&) override {}
};

}  // namespace brisk
