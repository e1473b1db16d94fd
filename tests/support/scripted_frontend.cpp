#include "support/scripted_frontend.h"

namespace brisk::test {

PromptAnswer ScriptedFrontend::waitUntilClosed(PromptHandle& handle) {
  std::mutex mutex;
  std::condition_variable closed;
  bool done = false;
  handle.setCloseHook([&] {
    std::lock_guard lock(mutex);
    done = true;
    closed.notify_all();
  });
  {
    std::unique_lock lock(mutex);
    closed.wait(lock, [&] { return done; });
  }
  handle.clearCloseHook();
  return PromptAnswer::None;
}

void ScriptedFrontend::changed() {
  changed_.notify_all();
}

void ScriptedFrontend::appendLog(const std::string& text, Rgb colour) {
  std::lock_guard lock(mutex_);
  log_.push_back({text, colour});
  changed();
}

void ScriptedFrontend::showLinkState(LinkState state) {
  std::lock_guard lock(mutex_);
  linkState_ = state;
  changed();
}

void ScriptedFrontend::showPortListening() {
  std::lock_guard lock(mutex_);
  ++portListenings_;
  changed();
}

void ScriptedFrontend::setAddressText(const std::string& text) {
  std::lock_guard lock(mutex_);
  addressText_ = text;
  changed();
}

void ScriptedFrontend::beep() {
  std::lock_guard lock(mutex_);
  ++beeps_;
  changed();
}

void ScriptedFrontend::showNotice(const std::string& text) {
  std::lock_guard lock(mutex_);
  notices_.push_back(text);
  changed();
}

void ScriptedFrontend::showNoticeModal(const std::string& text) {
  showNotice(text);
}

bool ScriptedFrontend::askYesNo(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    questions_.push_back(text);
    changed();
  }
  return onYesNo(text);
}

CodeAnswer ScriptedFrontend::compareCode(PromptHandle& handle, const CodeComparison& comparison) {
  {
    std::lock_guard lock(mutex_);
    comparisons_.push_back(comparison);
    changed();
  }
  if (onCompareCode) return onCompareCode(handle, comparison);
  (void)waitUntilClosed(handle);
  return CodeAnswer::None;
}

std::vector<CodeComparison> ScriptedFrontend::codeComparisons() const {
  std::lock_guard lock(mutex_);
  return comparisons_;
}

PromptAnswer ScriptedFrontend::showPrompt(PromptHandle& handle, const PromptRequest& request) {
  std::size_t shown = 0;
  {
    std::lock_guard lock(mutex_);
    shown = prompts_.size();
    prompts_.push_back({request, PromptAnswer::None});
    changed();
  }
  const PromptAnswer result = onPrompt ? onPrompt(handle, request) : waitUntilClosed(handle);
  std::lock_guard lock(mutex_);
  prompts_[shown].result = result;
  changed();
  return result;
}

std::vector<std::filesystem::path> ScriptedFrontend::chooseFilesToOffer() {
  return onChooseFilesToOffer();
}

std::optional<std::filesystem::path> ScriptedFrontend::chooseSaveFile(
    const std::string& suggestedName, const std::string& defaultSuffix) {
  return onChooseSaveFile(suggestedName, defaultSuffix);
}

std::optional<std::filesystem::path> ScriptedFrontend::chooseResumeFile(
    const std::string& suggestedName) {
  return onChooseResumeFile(suggestedName);
}

std::optional<std::filesystem::path> ScriptedFrontend::chooseFolder() {
  return onChooseFolder();
}

FileExistsReply ScriptedFrontend::askFileExists(const std::filesystem::path& path) {
  {
    std::lock_guard lock(mutex_);
    questions_.push_back(path.string());
    changed();
  }
  return onFileExists(path);
}

TransferWindowId ScriptedFrontend::openTransferWindow(const TransferWindowSetup& setup) {
  std::lock_guard lock(mutex_);
  const TransferWindowId id = nextWindow_++;
  windows_[id].setup = setup;
  changed();
  return id;
}

void ScriptedFrontend::setTransferFileName(TransferWindowId window, const std::string& name) {
  if (onTransferFileName) onTransferFileName(name);
  std::lock_guard lock(mutex_);
  windows_[window].fileNames.push_back(name);
  changed();
}

void ScriptedFrontend::setTransferStatus(TransferWindowId window, const std::string& status) {
  std::lock_guard lock(mutex_);
  windows_[window].statuses.push_back(status);
  changed();
}

void ScriptedFrontend::showTransferResumed(TransferWindowId window, std::uint64_t offset) {
  std::lock_guard lock(mutex_);
  windows_[window].resumedAt.push_back(offset);
  changed();
}

void ScriptedFrontend::showTransferFigures(TransferWindowId window,
                                           const TransferFigures& figures) {
  std::lock_guard lock(mutex_);
  windows_[window].figures.push_back(figures);
  changed();
}

void ScriptedFrontend::showTransferVerdict(TransferWindowId window,
                                           const TransferVerdict& verdict) {
  std::lock_guard lock(mutex_);
  windows_[window].verdict = verdict;
  changed();
}

void ScriptedFrontend::offerEnded(const OfferEnd& end) {
  std::lock_guard lock(mutex_);
  offerEnds_.push_back(end);
  changed();
}

void ScriptedFrontend::transferEnded(const TransferEnd& end) {
  std::lock_guard lock(mutex_);
  transferEnds_.push_back(end);
  changed();
}

std::vector<OfferEnd> ScriptedFrontend::offerEnds() const {
  std::lock_guard lock(mutex_);
  return offerEnds_;
}

std::vector<TransferEnd> ScriptedFrontend::transferEnds() const {
  std::lock_guard lock(mutex_);
  return transferEnds_;
}

std::vector<ScriptedFrontend::LogLine> ScriptedFrontend::log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::string ScriptedFrontend::logText() const {
  std::lock_guard lock(mutex_);
  std::string text;
  for (const auto& line : log_) text += line.text;
  return text;
}

std::vector<std::string> ScriptedFrontend::notices() const {
  std::lock_guard lock(mutex_);
  return notices_;
}

std::vector<std::string> ScriptedFrontend::questions() const {
  std::lock_guard lock(mutex_);
  return questions_;
}

std::vector<ScriptedFrontend::PromptShown> ScriptedFrontend::prompts() const {
  std::lock_guard lock(mutex_);
  return prompts_;
}

LinkState ScriptedFrontend::linkState() const {
  std::lock_guard lock(mutex_);
  return linkState_;
}

int ScriptedFrontend::portListenings() const {
  std::lock_guard lock(mutex_);
  return portListenings_;
}

std::string ScriptedFrontend::addressText() const {
  std::lock_guard lock(mutex_);
  return addressText_;
}

int ScriptedFrontend::beeps() const {
  std::lock_guard lock(mutex_);
  return beeps_;
}

std::vector<TransferWindowId> ScriptedFrontend::transferWindows() const {
  std::lock_guard lock(mutex_);
  std::vector<TransferWindowId> ids;
  for (const auto& [id, record] : windows_) ids.push_back(id);
  return ids;
}

ScriptedFrontend::TransferWindowRecord ScriptedFrontend::transferWindow(
    TransferWindowId window) const {
  std::lock_guard lock(mutex_);
  const auto found = windows_.find(window);
  return found == windows_.end() ? TransferWindowRecord{} : found->second;
}

bool ScriptedFrontend::waitFor(const std::function<bool()>& condition,
                               std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock lock(mutex_);
  for (;;) {
    lock.unlock();
    const bool met = condition();
    lock.lock();
    if (met) return true;
    // Conditions may depend on state outside this object too: look again now and then.
    if (changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                         std::chrono::milliseconds(20))) ==
            std::cv_status::timeout &&
        std::chrono::steady_clock::now() >= deadline) {
      lock.unlock();
      return condition();
    }
  }
}

bool ScriptedFrontend::waitForLog(const std::string& part, std::chrono::milliseconds limit) const {
  return waitFor([&] { return logText().find(part) != std::string::npos; }, limit);
}

bool ScriptedFrontend::waitForNotice(const std::string& part,
                                     std::chrono::milliseconds limit) const {
  return waitFor(
      [&] {
        for (const auto& notice : notices()) {
          if (notice.find(part) != std::string::npos) return true;
        }
        return false;
      },
      limit);
}

bool ScriptedFrontend::waitForLinkState(LinkState state, std::chrono::milliseconds limit) const {
  return waitFor([&] { return linkState() == state; }, limit);
}

}  // namespace brisk::test
