#include "cli/terminal_frontend.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "platform/file_system.h"

namespace brisk {

namespace {

constexpr int kAccept = 1001;
constexpr int kRefuse = 1002;
constexpr int kResume = 1003;

// The offering side learns that its offer ended without a transfer only from these
// notices (the peer refused it, or could not choose where to save it).
constexpr std::string_view kPeerRefusedNotice = "对方不同意接收文件。";
constexpr std::string_view kPeerFailedNotice = "对方接收文件出错。";
// The receiving side's answer to an offer, echoed once it has gone out. Any answer but
// yes ends the offer; until it has gone out the program must not end, or the peer would
// wait for it for ever.
constexpr std::string_view kReplySent = "TRANSFILE:REPLY:";
constexpr std::string_view kYesReplySent = "TRANSFILE:REPLY:YES";

// The name of a single offered file, for chooseResumeFile, which is not given it: the
// engine asks on the thread that showed the offer, right after the prompt.
thread_local std::string tOfferedName;

// The first line of an offer body up to its first tab: the name of the first item.
std::string firstItemName(const std::string& body) {
  return body.substr(0, body.find_first_of("\t\r\n"));
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

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A typed number from 1 to `count`, or nothing.
std::optional<int> choiceNumber(const std::string& text, int count) {
  if (text.size() != 1 || text[0] < '1' || text[0] > '0' + count) return std::nullopt;
  return text[0] - '0';
}

bool isFolder(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

bool isRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error));
}

std::filesystem::path typedPath(const std::string& text) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(text, error);
  return error ? std::filesystem::path(text) : path.lexically_normal();
}

std::filesystem::path currentFolder() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::current_path(error);
  return error ? std::filesystem::path(".") : folder;
}

std::string existsAnswerText(int answer) {
  switch (answer) {
    case kAnswerResume:
      return "断点续传";
    case kAnswerTransferAgain:
      return "重新传输";
    case kAnswerSkip:
      return "忽略跳过";
    default:
      return "终止";
  }
}

}  // namespace

AnswerPolicy answerPolicyFor(const PeerOptions& options, bool inputIsTerminal) {
  AnswerPolicy policy;
  if (options.saveTo) {
    policy.offers = AnswerPolicy::Offers::Accept;
    policy.saveTo = *options.saveTo;
  } else if (options.refuse) {
    policy.offers = AnswerPolicy::Offers::Refuse;
  }
  policy.resume = options.resume;
  policy.exists = options.existsAnswer;
  policy.interactive = inputIsTerminal;
  return policy;
}

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

TerminalFrontend::TerminalFrontend(Console& console, AnswerPolicy policy)
    : console_(console), policy_(std::move(policy)) {}

bool TerminalFrontend::takeAnswer(const std::string& line) {
  std::lock_guard lock(questionMutex_);
  if (!questionOpen_ || answer_) return false;
  answer_ = line;
  questionChanged_.notify_all();
  return true;
}

void TerminalFrontend::closeInput() {
  std::lock_guard lock(questionMutex_);
  inputClosed_ = true;
  questionChanged_.notify_all();
}

void TerminalFrontend::stop() {
  std::lock_guard lock(questionMutex_);
  inputClosed_ = true;
  stopping_ = true;
  questionChanged_.notify_all();
}

FrontendStatus TerminalFrontend::status() const {
  std::lock_guard lock(stateMutex_);
  return status_;
}

void TerminalFrontend::setStatusListener(std::function<void()> listener) {
  std::lock_guard lock(stateMutex_);
  listener_ = std::move(listener);
}

void TerminalFrontend::changeStatus(const std::function<void(FrontendStatus&)>& change) {
  std::function<void()> listener;
  {
    std::lock_guard lock(stateMutex_);
    change(status_);
    listener = listener_;
  }
  if (listener) listener();
}

void TerminalFrontend::offerEnded() {
  changeStatus([](FrontendStatus& status) {
    if (!status.firstOutcome) status.firstOutcome = false;
  });
}

// --- Main window

void TerminalFrontend::appendLog(const std::string& text, Rgb colour) {
  // Blue is this side's own text, which the person typed or asked for.
  if (colour == kBlue) {
    if (text.starts_with(kReplySent) && !text.starts_with(kYesReplySent)) offerEnded();
    return;
  }
  console_.print(text);
}

void TerminalFrontend::showLinkState(LinkState state) {
  if (state == LinkState::Listening) console_.printLine("正在监听...");
  if (state == LinkState::Connecting) console_.printLine("正在连接...");
  changeStatus([state](FrontendStatus& status) {
    if (state == LinkState::Connected) status.everConnected = true;
    if (state == LinkState::Idle && status.linkState != LinkState::Idle) status.linkEnded = true;
    status.linkState = state;
  });
}

void TerminalFrontend::setAddressText(const std::string& text) {
  console_.printLine("对方IP地址：" + text);
}

void TerminalFrontend::beep() {}

// --- Notices

void TerminalFrontend::showNotice(const std::string& text) {
  console_.printLine("[提示信息] " + text);
  if (text.starts_with(kPeerRefusedNotice) || text.starts_with(kPeerFailedNotice)) offerEnded();
}

void TerminalFrontend::showNoticeModal(const std::string& text) {
  showNotice(text);
}

bool TerminalFrontend::askYesNo(const std::string& text) {
  Counted counted(*this, &FrontendStatus::openQuestions);
  console_.printLine("[提示信息] " + text);
  if (!policy_.interactive) {
    console_.printLine("→ 否");
    return false;
  }
  for (;;) {
    const std::optional<std::string> line = ask("请输入 y（是）或 n（否）：");
    if (!line) return false;
    const std::string word = trimmed(*line);
    if (word == "y" || word == "Y" || word == "yes" || word == "是") return true;
    if (word == "n" || word == "N" || word == "no" || word == "否") return false;
  }
}

// --- Prompts

int TerminalFrontend::showPrompt(PromptHandle& handle, const PromptRequest& request) {
  // Our own offer shows one button, "取消"; the peer's offer shows two or three.
  if (request.captions.size() <= 1) return waitForPeersAnswer(handle, request);
  return answerOffer(handle, request);
}

int TerminalFrontend::waitForPeersAnswer(PromptHandle& handle, const PromptRequest& request) {
  Counted counted(*this, &FrontendStatus::openPrompts);
  console_.printLine(request.line);
  console_.printLine(indented(request.text));
  handle.setCloseHook([this] {
    std::lock_guard lock(questionMutex_);
    questionChanged_.notify_all();
  });
  {
    std::unique_lock lock(questionMutex_);
    questionChanged_.wait(lock, [&] { return stopping_ || handle.closeRequested(); });
  }
  handle.clearCloseHook();
  return 0;
}

int TerminalFrontend::answerOffer(PromptHandle& handle, const PromptRequest& request) {
  Counted counted(*this, &FrontendStatus::openPrompts);
  const bool singleFile = request.captions.size() >= 3;
  tOfferedName = singleFile ? firstItemName(request.text) : std::string();
  console_.printLine(request.line);
  console_.printLine(indented(request.text));

  int result = kRefuse;
  switch (policy_.offers) {
    case AnswerPolicy::Offers::Accept:
      if (singleFile && !isValidReceivedName(tOfferedName)) {
        console_.printLine("→ 拒绝：文件名不能用于保存");
        result = kRefuse;
      } else if (singleFile && policy_.resume && isRegularFile(policy_.saveTo / tOfferedName)) {
        console_.printLine("→ 续传已有文件 " + (policy_.saveTo / tOfferedName).string());
        result = kResume;
      } else {
        console_.printLine("→ 接收到 " + policy_.saveTo.string());
        result = kAccept;
      }
      break;
    case AnswerPolicy::Offers::Refuse:
      console_.printLine("→ 拒绝");
      break;
    case AnswerPolicy::Offers::Ask:
      if (policy_.interactive) {
        result = askAboutOffer(handle, request);
      } else {
        console_.printLine("→ 拒绝（标准输入不是终端，无法询问）");
      }
      break;
  }
  // A prompt closed from outside: the peer withdrew the offer and nothing is answered.
  if (result == 0) offerEnded();
  return result;
}

int TerminalFrontend::askAboutOffer(PromptHandle& handle, const PromptRequest& request) {
  const int count = static_cast<int>(request.captions.size());
  std::string choices;
  for (int i = 0; i < count; ++i) {
    choices += (i ? "  " : "") + std::to_string(i + 1) + " " + request.captions[i];
  }
  handle.setCloseHook([this] {
    std::lock_guard lock(questionMutex_);
    questionChanged_.notify_all();
  });
  int result = 0;
  while (result == 0) {
    const std::optional<std::string> line =
        ask("请选择（" + choices + "）：", [&] { return handle.closeRequested(); });
    if (!line) {
      // Closed from outside (the peer cancelled): no answer. Input gone: the peer is
      // told no rather than left waiting.
      if (!handle.closeRequested()) result = kRefuse;
      break;
    }
    const std::string word = trimmed(*line);
    if (const auto number = choiceNumber(word, count)) result = 1000 + *number;
    for (int i = 0; i < count && result == 0; ++i) {
      if (word == request.captions[i]) result = 1001 + i;
    }
  }
  handle.clearCloseHook();
  return result;
}

std::optional<std::string> TerminalFrontend::ask(const std::string& question,
                                                 const std::function<bool()>& withdrawn) {
  const auto gone = [&] { return inputClosed_ || (withdrawn && withdrawn()); };
  std::unique_lock lock(questionMutex_);
  questionChanged_.wait(lock, [&] { return !questionOpen_ || gone(); });
  if (gone()) return std::nullopt;
  questionOpen_ = true;
  answer_.reset();
  console_.printLine(question);
  questionChanged_.wait(lock, [&] { return answer_.has_value() || gone(); });
  questionOpen_ = false;
  std::optional<std::string> answer = std::exchange(answer_, std::nullopt);
  questionChanged_.notify_all();
  if (withdrawn && withdrawn()) return std::nullopt;
  return answer;
}

// --- Where to save

std::optional<std::filesystem::path> TerminalFrontend::chooseSaveFile(
    const std::string& suggestedName, const std::string& /*defaultSuffix*/) {
  Counted counted(*this, &FrontendStatus::openQuestions);
  const bool nameUsable = isValidReceivedName(suggestedName);
  std::optional<std::filesystem::path> chosen;
  if (policy_.offers == AnswerPolicy::Offers::Accept) {
    // The name comes from the peer: it must not lead out of the save folder.
    if (nameUsable) chosen = policy_.saveTo / suggestedName;
  } else if (policy_.interactive) {
    const std::filesystem::path fallback = currentFolder() / suggestedName;
    while (!chosen) {
      const std::optional<std::string> line =
          ask(nameUsable ? "保存为（直接回车：" + fallback.string() + "）：" : "保存为：");
      if (!line) break;
      const std::string text = trimmed(*line);
      if (text.empty()) {
        if (nameUsable) chosen = fallback;
        continue;
      }
      const std::filesystem::path path = typedPath(text);
      if (isFolder(path)) {
        if (nameUsable) chosen = path / suggestedName;
      } else if (path.has_filename() && isFolder(path.parent_path())) {
        chosen = path;
      } else {
        console_.printLine("没有这个文件夹：" + path.parent_path().string());
      }
    }
  }
  return chosen;
}

std::optional<std::filesystem::path> TerminalFrontend::chooseResumeFile() {
  Counted counted(*this, &FrontendStatus::openQuestions);
  const bool nameUsable = isValidReceivedName(tOfferedName);
  std::optional<std::filesystem::path> chosen;
  if (policy_.offers == AnswerPolicy::Offers::Accept) {
    if (nameUsable) chosen = policy_.saveTo / tOfferedName;
  } else if (policy_.interactive) {
    std::optional<std::filesystem::path> fallback;
    if (nameUsable && isRegularFile(currentFolder() / tOfferedName)) {
      fallback = currentFolder() / tOfferedName;
    }
    while (!chosen) {
      const std::optional<std::string> line =
          ask(fallback ? "要续传的文件（直接回车：" + fallback->string() + "）："
                       : "要续传的文件（直接回车则取消）：");
      if (!line) break;
      const std::string text = trimmed(*line);
      if (text.empty()) {
        if (!fallback) break;
        chosen = fallback;
      } else if (isRegularFile(typedPath(text))) {
        chosen = typedPath(text);
      } else {
        console_.printLine("没有这个文件：" + typedPath(text).string());
      }
    }
  }
  if (chosen) {
    std::lock_guard lock(stateMutex_);
    resumedFiles_.insert(chosen->string());
  }
  return chosen;
}

std::optional<std::filesystem::path> TerminalFrontend::chooseFolder() {
  Counted counted(*this, &FrontendStatus::openQuestions);
  std::optional<std::filesystem::path> chosen;
  if (policy_.offers == AnswerPolicy::Offers::Accept) {
    chosen = policy_.saveTo;
  } else if (policy_.interactive) {
    while (!chosen) {
      const std::optional<std::string> line =
          ask("保存到文件夹（直接回车：" + currentFolder().string() + "）：");
      if (!line) break;
      const std::string text = trimmed(*line);
      const std::filesystem::path folder = text.empty() ? currentFolder() : typedPath(text);
      if (isFolder(folder)) {
        chosen = folder;
      } else {
        console_.printLine("没有这个文件夹：" + folder.string());
      }
    }
  }
  return chosen;
}

FileExistsReply TerminalFrontend::askFileExists(const std::string& text) {
  Counted counted(*this, &FrontendStatus::openQuestions);
  console_.printLine(text);
  // The file was accepted as a resumption a moment ago: that was the answer already.
  if (takeResumedFile(text)) {
    console_.printLine("→ " + existsAnswerText(kAnswerResume));
    return FileExistsReply{kAnswerResume, false};
  }
  // An answer from the command line holds for every file, so the transfer asks no more.
  if (policy_.exists || !policy_.interactive) {
    const int answer = policy_.exists.value_or(kAnswerStop);
    console_.printLine("→ " + existsAnswerText(answer));
    return FileExistsReply{answer, true};
  }
  for (;;) {
    const std::optional<std::string> line = ask(
        "请选择（1 断点续传  2 重新传输  3 忽略跳过  4 终止；加 a 则始终采取相同操作，如 1a）：");
    if (!line) return FileExistsReply{kAnswerStop, false};
    std::string word = trimmed(*line);
    const bool always = !word.empty() && (word.back() == 'a' || word.back() == 'A');
    if (always) word.pop_back();
    if (const auto number = choiceNumber(word, 4)) {
      return FileExistsReply{kAnswerResume + *number - 1, always};
    }
  }
}

bool TerminalFrontend::takeResumedFile(const std::string& text) {
  std::lock_guard lock(stateMutex_);
  for (auto file = resumedFiles_.begin(); file != resumedFiles_.end(); ++file) {
    // The question names the file as "文件已经存在：" + full path + "\r\n你要：".
    if (text.find("：" + *file + "\r\n") != std::string::npos) {
      resumedFiles_.erase(file);
      return true;
    }
  }
  return false;
}

// --- Transfers

TransferWindowId TerminalFrontend::openTransferWindow(const TransferWindowSetup& spec) {
  TransferWindowId id = 0;
  std::function<void()> listener;
  {
    std::lock_guard lock(stateMutex_);
    id = nextWindow_++;
    TransferView& view = transfers_[id];
    view.title =
        (spec.isSender ? "发送文件 Index: " : "接收文件 Index: ") + std::to_string(spec.index);
    view.twoBars = spec.fileCount != 1;
    console_.printLine(view.title + "  开始");
    ++status_.openTransfers;
    listener = listener_;
  }
  if (listener) listener();
  return id;
}

void TerminalFrontend::setTransferFileName(TransferWindowId window, const std::string& name) {
  std::lock_guard lock(stateMutex_);
  const auto view = transfers_.find(window);
  if (view == transfers_.end()) return;
  view->second.fileName = name;
  console_.printLine(view->second.title + "  文件名：" + name);
  showLiveLine();
}

void TerminalFrontend::setTransferStatus(TransferWindowId window, const std::string& status) {
  std::lock_guard lock(stateMutex_);
  const auto view = transfers_.find(window);
  if (view == transfers_.end()) return;
  console_.printLine(view->second.title + "  " + status);
}

void TerminalFrontend::showTransferFigures(TransferWindowId window,
                                           const TransferFigures& figures) {
  std::lock_guard lock(stateMutex_);
  const auto found = transfers_.find(window);
  if (found == transfers_.end()) return;
  TransferView& view = found->second;
  // A bar without a value stays where it was; a position past 100 is a full bar.
  if (figures.fileBar) view.fileBar = std::clamp(*figures.fileBar, 0, 100);
  if (figures.totalBar) view.totalBar = std::clamp(*figures.totalBar, 0, 100);
  if (figures.texts) view.texts = figures.texts;
  if (console_.terminal()) {
    showLiveLine();
  } else if (figures.texts) {
    console_.printLine(progressText(view));
  }
}

void TerminalFrontend::showTransferVerdict(TransferWindowId window,
                                           const TransferVerdict& verdict) {
  std::function<void()> listener;
  {
    std::lock_guard lock(stateMutex_);
    const auto found = transfers_.find(window);
    if (found == transfers_.end()) return;
    const std::string title = found->second.title;
    transfers_.erase(found);
    showLiveLine();
    console_.printLine(title + "  " + verdict.status);
    --status_.openTransfers;
    if (!status_.firstOutcome) status_.firstOutcome = verdict.complete;
    listener = listener_;
  }
  if (listener) listener();
}

void TerminalFrontend::showLiveLine() {
  if (!console_.terminal()) return;
  std::string line;
  for (const auto& [id, view] : transfers_) {
    if (!line.empty()) line += "  |  ";
    line += progressText(view);
  }
  console_.setLiveLine(line);
}

std::string TerminalFrontend::progressText(const TransferView& view) {
  std::string text = view.title;
  if (!view.fileName.empty()) {
    text += "  " + std::filesystem::path(view.fileName).filename().string();
  }
  text += "  " + std::to_string(view.fileBar) + "%";
  if (view.twoBars) text += "  总计 " + std::to_string(view.totalBar) + "%";
  if (view.texts) {
    text += "  已经传送：" + view.texts->fileDone + " / " + view.texts->fileSize;
    text += "  传送速度：" + view.texts->speed;
    text += "  已用时间：" + trimmed(view.texts->elapsed);
  }
  return text;
}

}  // namespace brisk
