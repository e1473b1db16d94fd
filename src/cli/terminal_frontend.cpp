#include "cli/terminal_frontend.h"

#include <utility>

#include "common/text_excerpt.h"

namespace brisk {

namespace {

// The first line of an offer body up to its first tab: the name of the first item.
std::string firstItemName(const std::string& body) {
  return body.substr(0, body.find_first_of("\t\r\n"));
}

// How much of a control message or an offer the terminal shows: a stranger's offer may
// hold thousands of lines, which would bury everything else in an inbox's journal. Chat is
// shown whole.
constexpr TextBounds kShownBounds{40, 300, 4000};

std::string shownStart(const std::string& text) {
  const Excerpt excerpt = excerptOf(text, kShownBounds);
  if (!excerpt.shortened()) return text;
  std::string shown = excerpt.text;
  if (!shown.empty() && shown.back() != '\n') shown += "\r\n";
  return shown + "……（另有 " + std::to_string(excerpt.charsLeftOut) + " 个字符未显示）\r\n";
}

std::string indented(const std::string& text) {
  std::string out = "  ";
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text.compare(at, 2, "\r\n") == 0) {
      out += "\n";
      ++at;
      if (at + 1 < text.size()) out += "  ";
    } else if (text[at] == '\n') {
      out += "\n";
      if (at + 1 < text.size()) out += "  ";
    } else {
      out += text[at];
    }
  }
  return out;
}

RunOutcome outcomeOf(const TransferEnd& end) {
  if (end.complete) return RunOutcome::Complete;
  switch (end.cause) {
    case TransferCause::StoppedByPeer:
      return RunOutcome::StoppedByPeer;
    case TransferCause::ConnectionLost:
      return RunOutcome::NetworkFailure;
    case TransferCause::LocalDisk:
      return RunOutcome::LocalDisk;
    default:
      return RunOutcome::Incomplete;
  }
}

}  // namespace

// Counts an open prompt or question in the status while it lives.
class TerminalFrontend::Counted {
 public:
  Counted(TerminalFrontend& frontend, int FrontendStatus::*field)
      : frontend_(frontend), field_(field) {
    frontend_.changeStatus([this](FrontendStatus& status) { ++(status.*field_); });
  }
  ~Counted() {
    frontend_.changeStatus([this](FrontendStatus& status) { --(status.*field_); });
  }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;

 private:
  TerminalFrontend& frontend_;
  int FrontendStatus::*field_;
};

TerminalFrontend::TerminalFrontend(Console& console, AnswerPolicy policy, JsonEvents* json)
    : console_(console),
      json_(json),
      desk_(console),
      answers_(std::move(policy), console, desk_),
      transfers_(console) {}

FrontendStatus TerminalFrontend::status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

void TerminalFrontend::startNewLink() {
  changeStatus([](FrontendStatus& status) {
    status.everConnected = false;
    status.everListened = false;
    status.linkEnded = false;
  });
}

void TerminalFrontend::setStatusListener(std::function<void()> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void TerminalFrontend::changeStatus(const std::function<void(FrontendStatus&)>& change) {
  std::function<void()> listener;
  {
    std::lock_guard lock(mutex_);
    change(status_);
    listener = listener_;
  }
  if (listener) listener();
}

// --- Main window

void TerminalFrontend::appendLog(const std::string& text, Rgb colour) {
  // Blue is this side's own text, which the person typed or asked for.
  if (colour == kBlue) return;
  if (json_) json_->log(text, colour);
  console_.print(text.starts_with("TRANSFILE:") ? shownStart(text) : text);
}

void TerminalFrontend::showLinkState(LinkState state) {
  if (state == LinkState::Listening) console_.printLine("正在监听...");
  if (state == LinkState::Connecting) console_.printLine("正在连接...");
  if (json_) json_->link(state);
  changeStatus([state](FrontendStatus& status) {
    if (state == LinkState::Connected) status.everConnected = true;
    if (state == LinkState::Idle && status.linkState != LinkState::Idle) status.linkEnded = true;
    status.linkState = state;
    status.portListening = false;
  });
}

void TerminalFrontend::showPortListening() {
  changeStatus([](FrontendStatus& status) {
    status.portListening = true;
    status.everListened = true;
  });
}

void TerminalFrontend::setAddressText(const std::string& text) {
  console_.printLine("对方IP地址：" + text);
}

// --- Notices and prompts

void TerminalFrontend::showNotice(const std::string& text) {
  if (json_) json_->notice(text);
  console_.printLine("[提示信息] " + text);
}

void TerminalFrontend::showNoticeModal(const std::string& text) {
  showNotice(text);
}

bool TerminalFrontend::askYesNo(const std::string& text) {
  Counted counted(*this, &FrontendStatus::openQuestions);
  if (json_) json_->question(text);
  console_.printLine("[提示信息] " + text);
  return answers_.yesNo();
}

PromptAnswer TerminalFrontend::showPrompt(PromptHandle& handle, const PromptRequest& request) {
  Counted counted(*this, &FrontendStatus::openPrompts);
  if (json_) json_->offer(request);
  console_.printLine(request.line);
  console_.printLine(indented(shownStart(request.text)));
  // This side's own offer waits for the peer, who closes the prompt by answering.
  if (request.kind == PromptKind::OwnOfferWaiting) {
    desk_.waitUntilClosed(handle);
    return PromptAnswer::None;
  }
  return answers_.offer(handle, request, firstItemName(request.text));
}

CodeAnswer TerminalFrontend::compareCode(PromptHandle& handle, const CodeComparison& comparison) {
  Counted counted(*this, &FrontendStatus::openQuestions);
  console_.printLine("首次连接 " + comparison.peerName + "（" + comparison.peerAddress +
                     "）。请和对方核对验证码：" + comparison.code);
  console_.printLine("  对方的指纹：" + comparison.peerFingerprint);
  console_.printLine("  本机的指纹：" + comparison.ownFingerprint);
  return answers_.codeMatch(handle);
}

// --- Where to save

std::optional<std::filesystem::path> TerminalFrontend::chooseSaveFile(
    const std::string& suggestedName, const std::string& /*defaultSuffix*/) {
  Counted counted(*this, &FrontendStatus::openQuestions);
  return answers_.saveFile(suggestedName);
}

std::optional<std::filesystem::path> TerminalFrontend::chooseResumeFile(
    const std::string& suggestedName) {
  Counted counted(*this, &FrontendStatus::openQuestions);
  return answers_.resumeFile(suggestedName);
}

std::optional<std::filesystem::path> TerminalFrontend::chooseFolder() {
  Counted counted(*this, &FrontendStatus::openQuestions);
  return answers_.folder();
}

FileExistsReply TerminalFrontend::askFileExists(const std::filesystem::path& path) {
  Counted counted(*this, &FrontendStatus::openQuestions);
  if (json_) json_->question("文件已经存在：" + path.string());
  console_.printLine("文件已经存在：" + path.string() + "\r\n你要：");
  return answers_.fileExists(path);
}

// --- Transfers

TransferWindowId TerminalFrontend::openTransferWindow(const TransferWindowSetup& setup) {
  const TransferWindowId id = transfers_.open(setup);
  if (json_) json_->openTransfer(id, setup);
  changeStatus([](FrontendStatus& status) { ++status.openTransfers; });
  return id;
}

void TerminalFrontend::setTransferFileName(TransferWindowId window, const std::string& name) {
  if (json_) json_->fileName(window, name);
  transfers_.setFileName(window, name);
}

void TerminalFrontend::setTransferStatus(TransferWindowId window, const std::string& status) {
  transfers_.setStatus(window, status);
}

void TerminalFrontend::showTransferResumed(TransferWindowId window, std::uint64_t offset) {
  if (json_) json_->resumed(window, offset);
  transfers_.setStatus(window, "已有的 " + std::to_string(offset) + " 字节核对无误，接着传送");
}

void TerminalFrontend::showTransferFigures(TransferWindowId window,
                                           const TransferFigures& figures) {
  if (json_) json_->figures(window, figures);
  transfers_.showFigures(window, figures);
}

void TerminalFrontend::showTransferVerdict(TransferWindowId window,
                                           const TransferVerdict& verdict) {
  transfers_.showVerdict(window, verdict);
}

// --- Events

void TerminalFrontend::judgeOwnOffers(bool own) {
  std::lock_guard lock(mutex_);
  judgeOwn_ = own;
}

void TerminalFrontend::offerEnded(const OfferEnd& end) {
  if (json_) json_->offerEnded(end);
  // An accepted offer's outcome is its transfer's.
  if (end.outcome == OfferOutcome::Accepted) return;
  changeStatus([this, &end](FrontendStatus& status) {
    if (end.ownOffer != judgeOwn_ || status.firstOutcome) return;
    status.firstOutcome =
        end.outcome == OfferOutcome::Refused ? RunOutcome::Refused : RunOutcome::Incomplete;
  });
}

void TerminalFrontend::engineIdle() {
  changeStatus([](FrontendStatus&) {});
}

void TerminalFrontend::transferEnded(const TransferEnd& end) {
  if (json_) json_->transferEnded(end);
  // This side sends what it offered.
  changeStatus([this, &end](FrontendStatus& status) {
    --status.openTransfers;
    if (end.isSender == judgeOwn_ && !status.firstOutcome) status.firstOutcome = outcomeOf(end);
  });
}

}  // namespace brisk
