#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "cli/answer_policy.h"
#include "cli/console.h"
#include "cli/json_events.h"
#include "cli/question_desk.h"
#include "cli/transfer_lines.h"
#include "common/frontend.h"

namespace brisk {

// How the offer a --once run is judged by ended.
enum class RunOutcome {
  Complete,
  Incomplete,  // cancelled, failed, or a transfer that fell short for another reason
  Refused,
  StoppedByPeer,
  NetworkFailure,
  LocalDisk,
};

// What the run loop needs to know to decide when brisk-peer is done.
struct FrontendStatus {
  LinkState linkState = LinkState::Idle;
  bool portListening = false;  // Listening, and the port is bound
  bool everConnected = false;
  // The port listened at some point: a link that ended without a connection then turned
  // a peer away (not verified, a failed first contact) rather than failing to listen.
  bool everListened = false;
  bool linkEnded = false;  // back to idle after listening or connecting: failed or closed
  int openPrompts = 0;     // offers, ours or the peer's, that wait for an answer
  int openQuestions = 0;   // save locations, existing files and the like being decided
  int openTransfers = 0;   // transfers begun and not yet ended
  // How the first offer of the judged side ended (see judgeOwnOffers): as its transfer
  // did, or without a transfer (refused, cancelled or failed).
  std::optional<RunOutcome> firstOutcome;
};

// The engine's front end for a terminal. Everything received and every notice goes to
// the console; offers, save locations and existing files are answered by the policy or,
// on an interactive terminal, by the person typing a line. Any thread may call it.
class TerminalFrontend : public Frontend {
 public:
  // With `json`, every event is also written there, as one JSON object.
  TerminalFrontend(Console& console, AnswerPolicy policy, JsonEvents* json = nullptr);
  TerminalFrontend(const TerminalFrontend&) = delete;
  TerminalFrontend& operator=(const TerminalFrontend&) = delete;

  // A line typed by the person. When a question waits for an answer the line answers
  // it and true is returned; otherwise the line is not used and false is returned.
  bool takeAnswer(const std::string& line) { return desk_.takeAnswer(line); }
  // No more lines will come: questions asked now or later get no answer and take the
  // cautious way (refuse, cancel, stop, no).
  void closeInput() { desk_.closeInput(); }

  FrontendStatus status() const;
  // Whose offers decide the first outcome: this side's own (a run that offers something)
  // or the peer's (a run that only receives). The others, crossing or unrelated, are left
  // out. The peer's, unless told otherwise.
  void judgeOwnOffers(bool own);
  // Forgets the link that ended, before listening again for the next peer.
  void startNewLink();
  // Called after every change of the status, on the thread that changed it.
  void setStatusListener(std::function<void()> listener);

  // --- Frontend
  void appendLog(const std::string& text, Rgb colour) override;
  void showLinkState(LinkState state) override;
  void showPortListening() override;
  void setAddressText(const std::string& text) override;
  void bringToFront() override {}
  void beep() override {}
  void showNotice(const std::string& text) override;
  void showNoticeModal(const std::string& text) override;
  bool askYesNo(const std::string& text) override;
  PromptAnswer showPrompt(PromptHandle& handle, const PromptRequest& request) override;
  CodeAnswer compareCode(PromptHandle& handle, const CodeComparison& comparison) override;
  std::vector<std::filesystem::path> chooseFilesToOffer() override { return {}; }
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
  // Wakes the run loop, which then asks the Peer whether its work is done.
  void engineIdle() override;
  // Every open prompt and question returns at once, and later ones do not wait.
  void beginShutdown() override { desk_.stop(); }
  void transferEnded(const TransferEnd& end) override;

 private:
  class Counted;

  void changeStatus(const std::function<void(FrontendStatus&)>& change);

  Console& console_;
  JsonEvents* const json_;
  QuestionDesk desk_;
  PolicyAnswers answers_;
  TransferLines transfers_;

  mutable std::mutex mutex_;
  FrontendStatus status_;
  bool judgeOwn_ = false;
  std::function<void()> listener_;
};

}  // namespace brisk
