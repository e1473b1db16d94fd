#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/frontend.h"

namespace brisk::test {

// A Frontend for tests: answers every question from a script and records everything that
// would be shown, so the engine can be driven and checked without any window. Thread-safe.
class ScriptedFrontend : public Frontend {
 public:
  struct LogLine {
    std::string text;
    Rgb colour;
  };
  struct PromptShown {
    PromptRequest request;
    PromptAnswer result = PromptAnswer::None;
  };
  struct TransferWindowRecord {
    TransferWindowSetup setup;
    std::vector<std::string> fileNames;
    std::vector<std::string> statuses;
    std::vector<std::uint64_t> resumedAt;  // offsets of files that continued a part on disk
    std::vector<TransferFigures> figures;
    std::optional<TransferVerdict> verdict;
  };

  // --- Scripts: set them before the engine asks. They run on the asking thread.
  std::function<bool(const std::string&)> onYesNo = [](const std::string&) { return false; };
  // By default a prompt stays open until another thread closes it (no answer).
  std::function<PromptAnswer(PromptHandle&, const PromptRequest&)> onPrompt;
  std::function<std::vector<std::filesystem::path>()> onChooseFilesToOffer = [] {
    return std::vector<std::filesystem::path>{};
  };
  std::function<std::optional<std::filesystem::path>(const std::string&, const std::string&)>
      onChooseSaveFile = [](const std::string&, const std::string&) { return std::nullopt; };
  std::function<std::optional<std::filesystem::path>(const std::string&)> onChooseResumeFile =
      [](const std::string&) { return std::nullopt; };
  std::function<std::optional<std::filesystem::path>()> onChooseFolder = [] {
    return std::nullopt;
  };
  // The answer to a first-contact code; by default it stays open until closed (None).
  std::function<CodeAnswer(PromptHandle&, const CodeComparison&)> onCompareCode;
  std::function<FileExistsReply(const std::filesystem::path&)> onFileExists =
      [](const std::filesystem::path&) { return FileExistsReply{}; };
  // Runs on the transfer thread each time it names the file being transferred.
  std::function<void(const std::string&)> onTransferFileName;

  // Blocks the calling thread until `handle` is closed from elsewhere; returns None.
  static PromptAnswer waitUntilClosed(PromptHandle& handle);

  // --- Frontend
  void appendLog(const std::string& text, Rgb colour) override;
  void showLinkState(LinkState state) override;
  void showPortListening() override;
  void setAddressText(const std::string& text) override;
  void bringToFront() override {}
  void beep() override;
  void showNotice(const std::string& text) override;
  void showNoticeModal(const std::string& text) override;
  bool askYesNo(const std::string& text) override;
  PromptAnswer showPrompt(PromptHandle& handle, const PromptRequest& request) override;
  CodeAnswer compareCode(PromptHandle& handle, const CodeComparison& comparison) override;
  std::vector<std::filesystem::path> chooseFilesToOffer() override;
  std::optional<std::filesystem::path> chooseSaveFile(const std::string& suggestedName,
                                                      const std::string& defaultSuffix) override;
  std::optional<std::filesystem::path> chooseResumeFile(const std::string& suggestedName) override;
  std::optional<std::filesystem::path> chooseFolder() override;
  FileExistsReply askFileExists(const std::filesystem::path& path) override;
  TransferWindowId openTransferWindow(const TransferWindowSetup& setup) override;
  void setTransferFileName(TransferWindowId window, const std::string& name) override;
  void setTransferStatus(TransferWindowId window, const std::string& status) override;
  void showTransferResumed(TransferWindowId window, std::uint64_t offset) override;
  void showTransferFigures(TransferWindowId window, const TransferFigures& figures) override;
  void showTransferVerdict(TransferWindowId window, const TransferVerdict& verdict) override;
  void offerEnded(const OfferEnd& end) override;
  void transferEnded(const TransferEnd& end) override;

  // --- What was shown
  std::vector<LogLine> log() const;
  std::string logText() const;                 // every log line, concatenated
  std::vector<std::string> notices() const;    // plain and modal, in order
  std::vector<std::string> questions() const;  // yes/no questions and existing files' paths
  std::vector<PromptShown> prompts() const;
  std::vector<CodeComparison> codeComparisons() const;
  LinkState linkState() const;
  // How often the port was reported listening.
  int portListenings() const;
  std::string addressText() const;
  int beeps() const;
  std::vector<TransferWindowId> transferWindows() const;
  TransferWindowRecord transferWindow(TransferWindowId window) const;
  std::vector<OfferEnd> offerEnds() const;  // in the order they were reported
  std::vector<TransferEnd> transferEnds() const;

  // --- Waiting, with a deadline
  bool waitFor(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  bool waitForLog(const std::string& part,
                  std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  bool waitForNotice(const std::string& part,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  bool waitForLinkState(LinkState state,
                        std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

 private:
  void changed();

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<LogLine> log_;
  std::vector<std::string> notices_;
  std::vector<std::string> questions_;
  std::vector<PromptShown> prompts_;
  std::vector<CodeComparison> comparisons_;
  LinkState linkState_ = LinkState::Idle;
  int portListenings_ = 0;
  std::string addressText_;
  int beeps_ = 0;
  std::map<TransferWindowId, TransferWindowRecord> windows_;
  TransferWindowId nextWindow_ = 1;
  std::vector<OfferEnd> offerEnds_;
  std::vector<TransferEnd> transferEnds_;
};

}  // namespace brisk::test
