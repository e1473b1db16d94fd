#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "cli/console.h"
#include "cli/options.h"
#include "common/frontend.h"

namespace brisk {

// How the terminal answers what the engine asks.
struct AnswerPolicy {
  enum class Offers { Ask, Accept, Refuse };
  Offers offers = Offers::Ask;
  std::filesystem::path saveTo;  // where Accept puts everything
  bool resume = false;           // Accept takes a single file as a resumption if it can
  std::optional<int> exists;     // the answer to every existing file; nothing: ask or stop
  bool interactive = false;      // questions may be asked on the terminal
};

AnswerPolicy answerPolicyFor(const PeerOptions& options, bool inputIsTerminal);

// What the run loop needs to know to decide when brisk-peer is done.
struct FrontendStatus {
  LinkState linkState = LinkState::Idle;
  bool everConnected = false;
  bool linkEnded = false;  // back to idle after listening or connecting: failed or closed
  int openPrompts = 0;     // offers, ours or the peer's, that wait for an answer
  int openQuestions = 0;   // save locations, existing files and the like being decided
  int openTransfers = 0;   // transfers without a verdict
  // How the first offer ended: a transfer's verdict (complete or not), or false for an
  // offer that was refused (once the answer has gone out), withdrawn or failed before
  // any transfer.
  std::optional<bool> firstOutcome;
};

// The engine's front end for a terminal. Everything received and every notice goes to
// the console; offers, save locations and existing files are answered by the policy or,
// on an interactive terminal, by the person typing a line. Any thread may call it.
class TerminalFrontend : public Frontend {
 public:
  TerminalFrontend(Console& console, AnswerPolicy policy);
  TerminalFrontend(const TerminalFrontend&) = delete;
  TerminalFrontend& operator=(const TerminalFrontend&) = delete;

  // A line typed by the person. When a question waits for an answer the line answers
  // it and true is returned; otherwise the line is not used and false is returned.
  bool takeAnswer(const std::string& line);
  // No more lines will come: questions asked now or later get no answer and take the
  // cautious way (refuse, cancel, stop, no).
  void closeInput();
  // The program is ending: every open prompt and question returns at once, and later
  // ones do not wait.
  void stop();

  FrontendStatus status() const;
  // Called after every change of the status, on the thread that changed it.
  void setStatusListener(std::function<void()> listener);

  // --- Frontend
  void appendLog(const std::string& text, Rgb colour) override;
  void showLinkState(LinkState state) override;
  void setAddressText(const std::string& text) override;
  void bringToFront() override {}
  void beep() override;
  void showNotice(const std::string& text) override;
  void showNoticeModal(const std::string& text) override;
  bool askYesNo(const std::string& text) override;
  int showPrompt(PromptHandle& handle, const PromptRequest& request) override;
  std::vector<std::filesystem::path> chooseFilesToOffer() override { return {}; }
  std::optional<std::filesystem::path> chooseSaveFile(const std::string& suggestedName,
                                                      const std::string& defaultSuffix) override;
  std::optional<std::filesystem::path> chooseResumeFile() override;
  std::optional<std::filesystem::path> chooseFolder() override;
  FileExistsReply askFileExists(const std::string& text) override;
  TransferWindowId openTransferWindow(const TransferWindowSetup& spec) override;
  void setTransferFileName(TransferWindowId window, const std::string& name) override;
  void setTransferStatus(TransferWindowId window, const std::string& status) override;
  void showTransferFigures(TransferWindowId window, const TransferFigures& figures) override;
  void showTransferVerdict(TransferWindowId window, const TransferVerdict& verdict) override;

 private:
  struct TransferView {
    std::string title;
    bool twoBars = false;
    std::string fileName;
    int fileBar = 0;
    int totalBar = 0;
    std::optional<TransferTexts> texts;
  };
  class Counted;

  int waitForPeersAnswer(PromptHandle& handle, const PromptRequest& request);
  int answerOffer(PromptHandle& handle, const PromptRequest& request);
  int askAboutOffer(PromptHandle& handle, const PromptRequest& request);
  // Asks one question and waits for the typed answer; nothing when input has closed or
  // `withdrawn` says the question no longer matters. One question is open at a time.
  std::optional<std::string> ask(const std::string& question,
                                 const std::function<bool()>& withdrawn = {});
  void offerEnded();  // an offer ended without a transfer
  // Whether the file-exists question `text` is about a file accepted as a resumption
  // (which is then forgotten).
  bool takeResumedFile(const std::string& text);
  void changeStatus(const std::function<void(FrontendStatus&)>& change);
  void showLiveLine();  // with stateMutex_ held
  static std::string progressText(const TransferView& view);

  Console& console_;
  const AnswerPolicy policy_;

  mutable std::mutex stateMutex_;
  FrontendStatus status_;
  std::function<void()> listener_;
  std::map<TransferWindowId, TransferView> transfers_;
  TransferWindowId nextWindow_ = 1;
  std::set<std::string> resumedFiles_;  // full paths chosen by chooseResumeFile

  std::mutex questionMutex_;
  std::condition_variable questionChanged_;
  bool questionOpen_ = false;
  bool inputClosed_ = false;
  bool stopping_ = false;
  std::optional<std::string> answer_;
};

}  // namespace brisk
